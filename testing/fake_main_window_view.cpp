#include "testing/fake_main_window_view.h"

#include "platform/code_page.h"
#include "platform/event_pump.h"

namespace qarvo {

namespace {

template <typename Map, typename Value>
Value lookup(const Map& map, std::string_view key, Value fallback) {
  auto it = map.find(key);
  return it == map.end() ? fallback : it->second;
}

}  // namespace

FakeMainWindowView::FakeMainWindowView() {
  captions_[std::string(control::kStartButton)] = gbk("开始查询");
  captions_[std::string(control::kAizhanRadio)] = "aizhan.com";
  captions_[std::string(control::kChinazRadio)] = "chinaz.com";
  contents_[std::string(control::kMaxPagesEdit)] = "50";
  contents_[std::string(control::kIntervalEdit)] = "0";
  checked_[std::string(control::kAizhanRadio)] = true;
  checked_[std::string(control::kChinazRadio)] = false;
  checked_[std::string(control::kBothRadio)] = false;
  contents_[std::string(control::kSkipDaysEdit)] = "7";
  checked_[std::string(control::kAutoSaveCheck)] = true;
  visible_[std::string(control::kBrowser)] = false;
}

Text FakeMainWindowView::caption(std::string_view control) const {
  return lookup(captions_, control, Text());
}
void FakeMainWindowView::setCaption(std::string_view control, const Text& caption) {
  captions_[std::string(control)] = caption;
}
Text FakeMainWindowView::content(std::string_view control) const {
  return lookup(contents_, control, Text());
}
void FakeMainWindowView::setContent(std::string_view control, const Text& content) {
  contents_[std::string(control)] = content;
}
Text FakeMainWindowView::tag(std::string_view control) const {
  return lookup(tags_, control, Text());
}
void FakeMainWindowView::setTag(std::string_view control, const Text& tag) {
  tags_[std::string(control)] = tag;
}
bool FakeMainWindowView::checked(std::string_view control) const {
  return lookup(checked_, control, false);
}
void FakeMainWindowView::setChecked(std::string_view control, bool checked) {
  checked_[std::string(control)] = checked;
}
bool FakeMainWindowView::visible(std::string_view control) const {
  return lookup(visible_, control, false);
}
void FakeMainWindowView::setVisible(std::string_view control, bool visible) {
  visible_[std::string(control)] = visible;
}
bool FakeMainWindowView::enabled(std::string_view control) const {
  return lookup(enabled_, control, true);
}
void FakeMainWindowView::setEnabled(std::string_view control, bool enabled) {
  enabled_[std::string(control)] = enabled;
}

int FakeMainWindowView::appendRow(const Text& firstColumn, int image) {
  Row row;
  row.cells.assign(static_cast<size_t>(columns), Text());
  if (!row.cells.empty())
    row.cells[0] = firstColumn;
  row.image = image;
  row.id = nextRowId_++;
  rows.push_back(std::move(row));
  return rowCount() - 1;
}

int FakeMainWindowView::rowOfId(long long id) const {
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].id == id)
      return static_cast<int>(i);
  }
  return -1;
}

Text FakeMainWindowView::cellText(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columns)
    return Text();
  return rows[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
}

void FakeMainWindowView::setCellText(int row, int column, const Text& text) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columns)
    return;
  rows[static_cast<size_t>(row)].cells[static_cast<size_t>(column)] = text;
  if (onSetCellText)
    onSetCellText(row, column, text);
}

int FakeMainWindowView::rowImage(int row) const {
  if (row < 0 || row >= rowCount())
    return -1;
  return rows[static_cast<size_t>(row)].image;
}

void FakeMainWindowView::setRowImage(int row, int image) {
  if (row < 0 || row >= rowCount())
    return;
  rows[static_cast<size_t>(row)].image = image;
}

Text FakeMainWindowView::rowNote(int row) const {
  if (row < 0 || row >= rowCount())
    return Text();
  return rows[static_cast<size_t>(row)].note;
}

void FakeMainWindowView::setRowNote(int row, const Text& note) {
  if (row >= 0 && row < rowCount())
    rows[static_cast<size_t>(row)].note = note;
}

bool FakeMainWindowView::browserNavigate(const std::string& url) {
  browserUrls.push_back(url);
  return browserAvailable;
}

Text FakeMainWindowView::browserCookieText() {
  return onBrowserCookieText ? onBrowserCookieText() : browserCookie;
}

int FakeMainWindowView::messageBox(const Text& text, const Text& title, unsigned style,
                                   bool ownerless) {
  messageBoxes.push_back({text, title, style, ownerless});
  return onMessageBox ? onMessageBox(messageBoxes.back()) : mb::kIdOk;
}

Text FakeMainWindowView::chooseFolder(const Text& initialPath, const Text& title, unsigned flags) {
  folderDialogs.push_back({initialPath, title, flags});
  return folderAnswer;
}

bool FakeMainWindowView::openFolder(const Text& folder) {
  openedFolders.push_back(folder);
  return launchSucceeds;
}

bool FakeMainWindowView::startProgram(const Text& path) {
  startedPrograms.push_back(path);
  return launchSucceeds;
}

void FakeMainWindowView::selectAizhan(bool aizhan) {
  setChecked(control::kAizhanRadio, aizhan);
  setChecked(control::kChinazRadio, !aizhan);
  setChecked(control::kBothRadio, false);
}

void FakeMainWindowView::setRows(const std::vector<std::vector<Text>>& table) {
  rows.clear();
  for (const auto& cells : table) {
    Row row;
    row.cells = cells;
    row.cells.resize(static_cast<size_t>(columns));
    // As a finished run leaves them: a tick with domains, a bar without.
    row.image = row.cells.size() > 1 && !row.cells[1].empty() ? 0 : 1;
    row.id = nextRowId_++;
    rows.push_back(std::move(row));
  }
}

std::vector<Text> FakeMainWindowView::columnTexts(int column) const {
  std::vector<Text> out;
  out.reserve(rows.size());
  for (int r = 0; r < rowCount(); ++r)
    out.push_back(cellText(r, column));
  return out;
}

namespace {

std::function<void()>& installedPump() {
  static std::function<void()> pump;
  return pump;
}
int pumpCalls = 0;
bool pumpRunning = false;
EventPump previousPump = nullptr;

void trampoline() {
  ++pumpCalls;
  if (pumpRunning || !installedPump())
    return;
  pumpRunning = true;
  installedPump()();
  pumpRunning = false;
}

}  // namespace

ScopedEventPump::ScopedEventPump(std::function<void()> pump) {
  installedPump() = std::move(pump);
  pumpCalls = 0;
  pumpRunning = false;
  previousPump = setEventPump(&trampoline);
}

ScopedEventPump::~ScopedEventPump() {
  setEventPump(previousPump);
  installedPump() = nullptr;
}

int ScopedEventPump::calls() const {
  return pumpCalls;
}

}  // namespace qarvo
