#include "cli/headless_window_view.h"

#include "platform/code_page.h"

namespace qarvo::cli {

Text HeadlessWindowView::read(const Values& values, std::string_view control) {
  auto it = values.find(control);
  return it == values.end() ? Text() : it->second;
}

bool HeadlessWindowView::read(const Flags& flags, std::string_view control, bool fallback) {
  auto it = flags.find(control);
  return it == flags.end() ? fallback : it->second;
}

void HeadlessWindowView::setCaption(std::string_view control, const Text& caption) {
  captions_[std::string(control)] = caption;
}

void HeadlessWindowView::setContent(std::string_view control, const Text& content) {
  contents_[std::string(control)] = content;
}

void HeadlessWindowView::setTag(std::string_view control, const Text& tag) {
  tags_[std::string(control)] = tag;
}

bool HeadlessWindowView::checked(std::string_view control) const {
  return read(checked_, control, false);
}

void HeadlessWindowView::setChecked(std::string_view control, bool checked) {
  checked_[std::string(control)] = checked;
}

// Controls that were never hidden count as shown (the browser is hidden
// until a sign-in would show it, and there is none here).
bool HeadlessWindowView::visible(std::string_view control) const {
  return read(visible_, control, control != control::kBrowser);
}

void HeadlessWindowView::setVisible(std::string_view control, bool visible) {
  visible_[std::string(control)] = visible;
}

bool HeadlessWindowView::enabled(std::string_view control) const {
  return read(enabled_, control, true);
}

void HeadlessWindowView::setEnabled(std::string_view control, bool enabled) {
  enabled_[std::string(control)] = enabled;
}

int HeadlessWindowView::appendRow(const Text& firstColumn, int image) {
  Row added;
  added.address = firstColumn;
  added.image = image;
  rows_.push_back(std::move(added));
  return static_cast<int>(rows_.size()) - 1;
}

HeadlessWindowView::Row* HeadlessWindowView::rowAt(int row) {
  return row >= 0 && row < rowCount() ? &rows_[static_cast<size_t>(row)] : nullptr;
}

const HeadlessWindowView::Row* HeadlessWindowView::rowAt(int row) const {
  return row >= 0 && row < rowCount() ? &rows_[static_cast<size_t>(row)] : nullptr;
}

Text HeadlessWindowView::cellText(int row, int column) const {
  const Row* r = rowAt(row);
  if (r == nullptr)
    return Text();
  return column == 0 ? r->address : column == 1 ? r->result : Text();
}

void HeadlessWindowView::setCellText(int row, int column, const Text& text) {
  Row* r = rowAt(row);
  if (r == nullptr)
    return;
  if (column == 0)
    r->address = text;
  else if (column == 1)
    r->result = text;
}

int HeadlessWindowView::rowImage(int row) const {
  const Row* r = rowAt(row);
  return r == nullptr ? -1 : r->image;
}

void HeadlessWindowView::setRowImage(int row, int image) {
  if (Row* r = rowAt(row))
    r->image = image;
}

Text HeadlessWindowView::rowNote(int row) const {
  const Row* r = rowAt(row);
  return r == nullptr ? Text() : r->note;
}

void HeadlessWindowView::setRowNote(int row, const Text& note) {
  if (Row* r = rowAt(row))
    r->note = note;
}

int HeadlessWindowView::messageBox(const Text& text, const Text& title, unsigned style,
                                   bool ownerless) {
  (void)title;
  (void)ownerless;
  if (messages_) {
    // The window's texts break lines with CR LF; a terminal wants LF.
    std::string utf8 = gbkToUtf8(text);
    std::erase(utf8, '\r');
    messages_(utf8);
  }
  // Questions (yes / no) get the cautious answer: nobody is there to say yes.
  return (style & mb::kYesNo) == mb::kYesNo ? mb::kIdNo : mb::kIdOk;
}

}  // namespace qarvo::cli
