#include "engine/lookup_engine.h"

#include <string>

#include "engine/address_text.h"
#include "engine/folder_actions.h"
#include "engine/report_sort.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/file_places.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

const Text& idleCaption() {
  static const Text text = gbk("开始查询");
  return text;
}
const Text& infoTitle() {
  static const Text text = gbk("信息：");
  return text;
}

Text resultFilePath(const Text& folder, const Text& address) {
  return folder + kPathSeparator + address + ".txt";
}

Service selectedService(const MainWindowView& view) {
  return view.checked(control::kAizhanRadio) ? Service::kAizhan : Service::kChinaz;
}

}  // namespace

LookupEngine::LookupEngine(MainWindowView& view, ServiceEndpoints endpoints)
    : view_(view), endpoints_(std::move(endpoints)) {}

void LookupEngine::runQueries() {
  static const Text kRunning = gbk("停止查询");
  static const Text kStopping = gbk("正在停止..");
  static const Text kTotal = gbk("\r\n总 ");
  static const Text kDone = gbk(" 个，已查 ");
  static const Text kUnit = gbk(" 个");
  static const Text kFinished = gbk("查询完成！");

  if (view_.caption(control::kStartButton) != idleCaption()) {
    // A run is active further down this call stack; it sees the flag between
    // addresses and pages.
    queryStopFlag_ = true;
    view_.setCaption(control::kStartButton, kStopping);
    return;
  }
  queryStopFlag_ = false;
  view_.setCaption(control::kStartButton, kRunning);

  const Text clipboard = view_.clipboardText();
  const Text entered = view_.tag(control::kInputButton);
  std::vector<Text> addresses = splitAddressList(entered.empty() ? clipboard : entered);
  view_.deleteAllRows();
  const std::string total = std::to_string(addresses.size());

  for (Text& element : addresses) {
    if (queryStopFlag_)
      break;
    processPendingEvents();
    element = Text(trimBlanks(element));
    int row = view_.appendRow(element, 2);
    view_.ensureRowVisible(row);
    queryAddress(row);
    if (view_.checked(control::kAutoSaveCheck))
      autoSave(element, row);
    view_.setCaption(control::kStartButton,
                     kRunning + kTotal + total + kDone + std::to_string(view_.rowCount()) + kUnit);
  }

  view_.setCaption(control::kStartButton, idleCaption());
  view_.messageBox(kFinished, infoTitle(), mb::kOk | mb::kIconInformation | mb::kSystemModal,
                   false);
}

void LookupEngine::autoSave(const Text& address, int row) {
  // The file is named by the address the user typed: anything that is not a
  // plain file name could reach outside the folder, so it is skipped like any
  // other failed write. A nested run may have replaced the row meanwhile.
  if (!isPlainFileName(address))
    return;
  if (row >= view_.rowCount() || view_.cellText(row, 0) != address)
    return;
  Text folder = view_.tag(control::kAutoSaveFolderButton);
  if (folder.empty())
    folder = defaultResultFolder();
  const Text path = resultFilePath(folder, address);
  makeDirectoryPath(path);
  writeWholeFile(path, view_.cellText(row, 1));
}

void LookupEngine::onResultHeaderClick(int column) {
  if (view_.caption(control::kStartButton) != idleCaption())
    return;
  sortAscending_ = !sortAscending_;
  sortReportList(view_, column, sortAscending_, false, column == 1 ? kSortInteger : kSortText);
}

void LookupEngine::chooseAutoSaveFolder() {
  static const Text kDefaultFolderName = gbk("域名查询结果");
  static const Text kTitle =
      gbk("选择一个在查询时自动保存到的文件夹（你也可以查询好后再保存查询结果）：");
  Text initial = view_.tag(control::kAutoSaveFolderButton);
  if (initial.empty()) {
    initial = resultPlace() + kPathSeparator + kDefaultFolderName;
    createDirectory(initial);
  }
  Text chosen = chooseFolder(view_, initial, kTitle);
  if (!chosen.empty())
    view_.setTag(control::kAutoSaveFolderButton, chosen);
}

void LookupEngine::openAutoSaveFolder() {
  Text folder = view_.tag(control::kAutoSaveFolderButton);
  if (folder.empty())
    folder = defaultResultFolder();
  openInExplorer(view_, folder, {.newWindow = true, .pathIsFolder = true, .cutToFolder = false});
}

void LookupEngine::saveResults() {
  static const Text kTitle = gbk("选择保存文件夹：");
  static const Text kSaved = gbk("保存OK！");
  const Text folder = chooseFolder(view_, Text(), kTitle);
  if (folder.empty())
    return;
  const int rows = view_.rowCount();
  for (int row = 0; row < rows; ++row) {
    processPendingEvents();
    if (row >= view_.rowCount())
      break;  // emptied by a pumped event
    const Text address = view_.cellText(row, 0);
    if (!isPlainFileName(address))
      continue;
    writeWholeFile(resultFilePath(folder, address), view_.cellText(row, 1));
  }
  view_.messageBox(kSaved, infoTitle(), mb::kOk | mb::kTaskModal, false);
}

void LookupEngine::openResultPage() {
  const int row = view_.selectedRow();
  if (row < 0 || row >= view_.rowCount())
    return;
  openDocument(view_, serviceResultPageUrl(selectedService(view_), endpoints_,
                                           encodeAddress(view_.cellText(row, 0))));
}

void LookupEngine::openMakerPage() {
  openDocument(view_, endpoints_.makerPage);
}

void LookupEngine::openHomePage(const std::string& homePageUrl) {
  openDocument(view_, homePageUrl);
}

}  // namespace qarvo
