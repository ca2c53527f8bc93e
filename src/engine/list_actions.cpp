// The main window's operations on the list as a whole: sorting, saving, and
// the folder and browser actions.

#include <ctime>
#include <string>

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
  static const Text kMissing1 = gbk("文件夹“");
  static const Text kMissing2 = gbk("”不存在。");
  static const Text kNoFileManager1 = gbk("无法打开文件夹“");
  static const Text kNoFileManager2 = gbk("”：桌面没有设置用来打开文件夹的文件管理器。");
  const Text folder = autoSaveFolder();
  // The default folder is where results go: it is there to be looked into
  // even before the first file.
  if (view_.tag(control::kAutoSaveFolderButton).empty())
    createDirectory(folder);
  if (openInExplorer(view_, folder,
                     {.newWindow = true, .pathIsFolder = true, .cutToFolder = false}))
    return;
  const Text message = pathExists(folder) ? kNoFileManager1 + folder + kNoFileManager2
                                          : kMissing1 + folder + kMissing2;
  view_.messageBox(message, infoTitle(), mb::kOk | mb::kIconInformation, false);
}

void LookupEngine::saveResults() {
  static const Text kTitle = gbk("选择保存文件夹：");
  static const Text kSaved = gbk("保存OK！");
  static const Text kWritten1 = gbk("\r\n已保存 ");
  static const Text kWritten2 = gbk(" 个结果文件");
  static const Text kSkipped1 = gbk("，跳过 ");
  static const Text kSkipped2 = gbk(" 行（未查询完成，没有结果可保存）");
  static const Text kEnd = gbk("。");
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
  int written = 0, skipped = 0, unsaved = 0;
  for (long long id : ids) {
    processPendingEvents();
    const int row = view_.rowOfId(id);
    if (row < 0)
      continue;
    // Rows that did not complete hold no result to save (and must not
    // replace one saved earlier).
    const int image = view_.rowImage(row);
    if (image != kImageFound && image != kImageNone) {
      ++skipped;
      continue;
    }
    ++(writeResultFile(folder, view_.cellText(row, 0), view_.cellText(row, 1)) ? written : unsaved);
  }
  Text counts = kWritten1 + std::to_string(written) + kWritten2;
  if (skipped > 0)
    counts += kSkipped1 + std::to_string(skipped) + kSkipped2;
  counts += kEnd;
  if (unsaved == 0) {
    view_.messageBox(kSaved + counts, infoTitle(), mb::kOk | mb::kTaskModal, false);
  } else {
    view_.messageBox(kUnsaved1 + std::to_string(unsaved) + kUnsaved2 + folder + counts, infoTitle(),
                     mb::kOk | mb::kTaskModal, false);
  }
}

namespace {

// One CSV field: quoted when it holds a separator, a quote or a line break.
void appendCsvField(std::string* line, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    line->append(field);
    return;
  }
  line->push_back('"');
  for (char c : field) {
    if (c == '"')
      line->push_back('"');
    line->push_back(c);
  }
  line->push_back('"');
}

}  // namespace

std::string resultTableCsv(const MainWindowView& view) {
  std::string csv = "\xEF\xBB\xBF邮箱,域名,结果,说明\r\n";
  auto line = [&csv](const std::string& address, std::string_view domain, std::string_view outcome,
                     const std::string& note) {
    appendCsvField(&csv, address);
    csv.push_back(',');
    appendCsvField(&csv, domain);
    csv.push_back(',');
    appendCsvField(&csv, outcome);
    csv.push_back(',');
    appendCsvField(&csv, note);
    csv += "\r\n";
  };
  for (int row = 0, rows = view.rowCount(); row < rows; ++row) {
    const int image = view.rowImage(row);
    const char* outcome = image == kImageFound     ? "找到"
                          : image == kImageNone    ? "无结果"
                          : image == kImagePending ? "未查询"
                                                   : "未完成";
    const std::string address = gbkToUtf8(view.cellText(row, 0));
    const Text note = view.rowNote(row);
    const std::string noteText = gbkToUtf8(note);
    // A row being looked up shows its progress, one that did not complete
    // without domains its note: neither is a domain.
    const Text cell = view.cellText(row, 1);
    const std::string domains =
        image == kImagePending || cell == note ? std::string() : gbkToUtf8(cell);
    size_t begin = 0;
    bool any = false;
    while (begin < domains.size()) {
      size_t end = domains.find("\r\n", begin);
      if (end == std::string::npos)
        end = domains.size();
      if (end > begin) {
        line(address, std::string_view(domains).substr(begin, end - begin), outcome, noteText);
        any = true;
      }
      begin = end + 2;
    }
    if (!any)
      line(address, {}, outcome, noteText);
  }
  return csv;
}

void LookupEngine::exportResultTable() {
  static const Text kTitle = gbk("导出全部结果为表格（CSV）：");
  static const Text kName1 = gbk("/查询结果-");
  static const Text kExported1 = gbk("已导出 ");
  static const Text kExported2 = gbk(" 个邮箱的结果到：\r\n");
  static const Text kFailed = gbk("表格未能保存到：\r\n");
  if (!allowed(UserAction::kSave))
    return;
  // Beside the text files, under a name of its own: an export never takes
  // the place of an earlier one unless the user says so in the dialog.
  const Text folder = autoSaveFolder();
  createDirectory(folder);
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const Text path = view_.chooseSaveFile(folder + kName1 + stamp + ".csv", kTitle);
  if (path.empty())
    return;
  // Read after the dialog, whose events may have changed the rows.
  const int rows = view_.rowCount();
  if (writeWholeFile(path, resultTableCsv(view_))) {
    view_.messageBox(kExported1 + std::to_string(rows) + kExported2 + path, infoTitle(),
                     mb::kOk | mb::kIconInformation, false);
  } else {
    view_.messageBox(kFailed + path, infoTitle(), mb::kOk | mb::kIconInformation, false);
  }
}

void LookupEngine::openResultPage() {
  const int row = view_.selectedRow();
  if (row < 0 || row >= view_.rowCount())
    return;
  // Both services asked: 爱站's page, as its domains come first.
  const Service service = view_.checked(control::kAizhanRadio) || view_.checked(control::kBothRadio)
                              ? Service::kAizhan
                              : Service::kChinaz;
  openDocument(view_, resultPageUrl(services_.of(service), encodeAddress(view_.cellText(row, 0))));
}

void LookupEngine::openMakerPage() {
  openDocument(view_, endpoints_.makerPage);
}

void LookupEngine::openHomePage(const std::string& homePageUrl) {
  openDocument(view_, homePageUrl);
}

}  // namespace qarvo
