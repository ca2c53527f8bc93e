// The main window's operations on the list as a whole: sorting, saving, and
// the folder and browser actions.

#include "engine/address_text.h"
#include "engine/folder_actions.h"
#include "engine/lookup_engine.h"
#include "engine/report_sort.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/file_places.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

const Text& infoTitle() {
  static const Text text = gbk("信息：");
  return text;
}

}  // namespace

bool LookupEngine::onResultHeaderClick(int column) {
  // A look-up writes into its row between pumps, a save walks the rows: a
  // sort under either would move rows away from them.
  if (!allowed(UserAction::kSort))
    return false;
  sortAscending_ = !sortAscending_;
  sorting_ = true;
  sortReportList(view_, column, sortAscending_, false, column == 1 ? kSortInteger : kSortText);
  sorting_ = false;
  sortedColumn_ = column;
  return true;
}

Text LookupEngine::autoSaveFolder() const {
  Text folder = view_.tag(control::kAutoSaveFolderButton);
  return folder.empty() ? defaultResultFolder() : folder;
}

void LookupEngine::chooseAutoSaveFolder() {
  static const Text kTitle =
      gbk("选择一个在查询时自动保存到的文件夹（你也可以查询好后再保存查询结果）：");
  if (!allowed(UserAction::kChangeSettings))
    return;
  // The dialog opens where auto-save writes, so results are never split
  // between two default folders.
  Text initial = view_.tag(control::kAutoSaveFolderButton);
  if (initial.empty()) {
    initial = defaultResultFolder();
    createDirectory(initial);
  }
  Text chosen = chooseFolder(view_, initial, kTitle);
  if (!chosen.empty())
    view_.setTag(control::kAutoSaveFolderButton, chosen);
}

void LookupEngine::openAutoSaveFolder() {
  openInExplorer(view_, autoSaveFolder(),
                 {.newWindow = true, .pathIsFolder = true, .cutToFolder = false});
}

void LookupEngine::saveResults() {
  static const Text kTitle = gbk("选择保存文件夹：");
  static const Text kSaved = gbk("保存OK！");
  static const Text kUnsaved1 = gbk("有 ");
  static const Text kUnsaved2 = gbk(" 个结果文件未能保存到：");
  if (!allowed(UserAction::kSave))
    return;
  const Text folder = chooseFolder(view_, Text(), kTitle);
  if (folder.empty())
    return;
  struct Saving {
    bool& flag;
    explicit Saving(bool& f) : flag(f) { flag = true; }
    ~Saving() { flag = false; }
  } saving(saving_);
  // The rows by identity, taken before the first pump: a row a pumped event
  // moves is still saved once, one it removes is passed over.
  std::vector<long long> ids;
  for (int row = 0; row < view_.rowCount(); ++row)
    ids.push_back(view_.rowId(row));
  int unsaved = 0;
  for (long long id : ids) {
    processPendingEvents();
    const int row = view_.rowOfId(id);
    if (row < 0)
      continue;
    // Rows that did not complete hold no result to save (and must not
    // replace one saved earlier).
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
  const Service service =
      view_.checked(control::kAizhanRadio) ? Service::kAizhan : Service::kChinaz;
  openDocument(view_, resultPageUrl(services_.of(service), encodeAddress(view_.cellText(row, 0))));
}

void LookupEngine::openMakerPage() {
  openDocument(view_, endpoints_.makerPage);
}

void LookupEngine::openHomePage(const std::string& homePageUrl) {
  openDocument(view_, homePageUrl);
}

}  // namespace qarvo
