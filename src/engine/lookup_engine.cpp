#include "engine/lookup_engine.h"

#include <string>

#include "engine/address_check.h"
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
  static const Text kNotCompleted1 = gbk("\r\n其中 ");
  static const Text kNotCompleted2 =
      gbk(" 个邮箱查询失败或未完成（见该行说明），右击该行可重新查询。");
  static const Text kUnsaved1 = gbk("\r\n有 ");
  static const Text kUnsaved2 = gbk(" 个结果文件未能保存到：");
  static const Text kClipboardAsk1 = gbk("剪贴板中有 ");
  static const Text kClipboardAsk2 = gbk(" 个邮箱地址，是否查询？");
  static const Text kClipboardEmpty =
      gbk("没有要查询的邮箱：请点击“邮箱”按钮输入邮箱列表（剪贴板中也没有邮箱地址）。");

  if (view_.caption(control::kStartButton) != idleCaption()) {
    // A run is active further down this call stack; it sees the flag between
    // addresses and pages, and the wait or fetch in flight ends at once.
    setQueryStopFlag(true);
    view_.setCaption(control::kStartButton, kStopping);
    return;
  }

  // The list entered, else the clipboard; the clipboard may hold anything
  // (a note, a URL), so only its e-mail addresses are taken, and only when
  // the user agrees.
  const Text entered = view_.tag(control::kInputButton);
  std::vector<Text> addresses;
  if (!entered.empty()) {
    for (const Text& element : splitAddressList(entered)) {
      Text address(trimBlanks(element));
      if (!address.empty())  // blank lines are no addresses
        addresses.push_back(std::move(address));
    }
  } else {
    for (const Text& element : splitAddressList(view_.clipboardText())) {
      Text address(trimBlanks(element));
      if (isEmailAddress(address))
        addresses.push_back(std::move(address));
    }
    if (addresses.empty()) {
      view_.messageBox(kClipboardEmpty, infoTitle(), mb::kOk | mb::kIconInformation, false);
      return;
    }
    const Text question = kClipboardAsk1 + std::to_string(addresses.size()) + kClipboardAsk2;
    if (view_.messageBox(question, infoTitle(), mb::kYesNo | mb::kIconInformation, false) !=
        mb::kIdYes) {
      return;
    }
    if (view_.caption(control::kStartButton) != idleCaption())
      return;  // a run started while the question was open
  }

  setQueryStopFlag(false);
  view_.setCaption(control::kStartButton, kRunning);
  struct RunScope {
    LookupEngine& engine;
    explicit RunScope(LookupEngine& e) : engine(e) {
      ++engine.activeLookups_;
      ++engine.runDepth_;
    }
    ~RunScope() {
      --engine.activeLookups_;
      --engine.runDepth_;
      engine.runIndex_ = 0;
      engine.runTotal_ = 0;
      engine.runRow_ = -1;
    }
  } scope(*this);

  view_.deleteAllRows();
  const std::string total = std::to_string(addresses.size());
  runTotal_ = static_cast<int>(addresses.size());
  runIndex_ = 0;
  runFound_ = runNone_ = runFailed_ = 0;
  LookupProgress progress;
  progress.ofRun = true;
  progress.stage = LookupProgress::Stage::kRunStarted;
  report(progress);
  int unsavedFiles = 0;
  Text unsavedFolder;

  for (const Text& address : addresses) {
    if (queryStopFlag_)
      break;
    processPendingEvents();
    if (queryStopFlag_)
      break;
    ++runIndex_;
    const int row = view_.appendRow(address, kImagePending);
    view_.ensureRowVisible(row);
    runRow_ = row;
    const LookupResult result = queryAddress(row);
    // Only a look-up that completed replaces a file: an earlier good result
    // must survive a run over a flaky network.
    if (result.completed() && view_.checked(control::kAutoSaveCheck)) {
      const Text folder = autoSaveFolder();
      if (!writeResultFile(folder, address, result.domains)) {
        ++unsavedFiles;
        unsavedFolder = folder;
      }
    }
    view_.setCaption(control::kStartButton,
                     kRunning + kTotal + total + kDone + std::to_string(view_.rowCount()) + kUnit);
  }
  // Addresses a stop left out never ran: they did not complete either.
  runFailed_ += runTotal_ - runIndex_;
  const int notCompleted = runFailed_;

  view_.setCaption(control::kStartButton, idleCaption());
  progress.stage = LookupProgress::Stage::kRunEnded;
  progress.unsavedFiles = unsavedFiles;
  if (view_.checked(control::kAutoSaveCheck))
    progress.folder = autoSaveFolder();
  report(progress);

  // All completed and saved: exactly the message it always was.
  Text message = kFinished;
  if (notCompleted > 0)
    message += kNotCompleted1 + std::to_string(notCompleted) + kNotCompleted2;
  if (unsavedFiles > 0)
    message += kUnsaved1 + std::to_string(unsavedFiles) + kUnsaved2 + unsavedFolder;
  view_.messageBox(message, infoTitle(), mb::kOk | mb::kIconInformation | mb::kSystemModal, false);
}

Text LookupEngine::autoSaveFolder() const {
  Text folder = view_.tag(control::kAutoSaveFolderButton);
  return folder.empty() ? defaultResultFolder() : folder;
}

bool writeResultFile(const Text& folder, const Text& address, const Text& text) {
  // The file is named by the address the user typed: anything that is not a
  // plain file name could reach outside the folder, so it is not written.
  if (!isPlainFileName(address))
    return false;
  const Text path = resultFilePath(folder, address);
  makeDirectoryPath(path);
  return writeWholeFile(path, text);
}

bool LookupEngine::onResultHeaderClick(int column) {
  // A look-up writes into its row between pumps; a sort under it would move
  // the row away from it.
  if (lookupActive() || sorting_ || view_.caption(control::kStartButton) != idleCaption())
    return false;
  sortAscending_ = !sortAscending_;
  sorting_ = true;
  sortReportList(view_, column, sortAscending_, false, column == 1 ? kSortInteger : kSortText);
  sorting_ = false;
  sortedColumn_ = column;
  return true;
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
  static const Text kUnsaved1 = gbk("有 ");
  static const Text kUnsaved2 = gbk(" 个结果文件未能保存到：");
  const Text folder = chooseFolder(view_, Text(), kTitle);
  if (folder.empty())
    return;
  int unsaved = 0;
  for (int row = 0; row < view_.rowCount(); ++row) {
    processPendingEvents();
    // Rows that did not complete hold no result to save (and must not
    // replace one saved earlier). A row a pumped event removed reads as
    // one without an image, so it is passed over too.
    const int image = view_.rowImage(row);
    if (image != kImageFound && image != kImageNone)
      continue;
    if (!writeResultFile(folder, view_.cellText(row, 0), view_.cellText(row, 1)))
      ++unsaved;
  }
  if (unsaved == 0) {
    view_.messageBox(kSaved, infoTitle(), mb::kOk | mb::kTaskModal, false);
  } else {
    view_.messageBox(kUnsaved1 + std::to_string(unsaved) + kUnsaved2 + folder, infoTitle(),
                     mb::kOk | mb::kTaskModal, false);
  }
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
