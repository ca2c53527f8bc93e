#include "engine/folder_actions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_test_support.h"
#include "engine/lookup_engine.h"
#include "platform/native_file.h"
#include "testing/fake_main_window_view.h"

namespace qarvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

TEST(MakeDirectoryPath, CreatesEveryFolderButNotTheFile) {
  TempDir dir;
  const Text file = dir.gbkPath("a/" + gbkToUtf8(gbk("结果")) + "/c/x.txt");
  EXPECT_TRUE(makeDirectoryPath(file));
  EXPECT_TRUE(fs::is_directory(dir.utf8Path() + "/a/结果/c"));
  EXPECT_FALSE(fs::exists(dir.utf8Path() + "/a/结果/c/x.txt"));
  EXPECT_TRUE(makeDirectoryPath(file));     // everything there already
  EXPECT_TRUE(makeDirectoryPath("x.txt"));  // no folder at all
}

TEST(MakeDirectoryPath, FailsWhereAFolderCannotBeMade) {
  TempDir dir;
  ASSERT_TRUE(writeWholeFile(dir.gbkPath("plain"), "x"));
  EXPECT_FALSE(makeDirectoryPath(dir.gbkPath("plain/sub/x.txt")));
  EXPECT_FALSE(fs::exists(dir.utf8Path() + "/plain/sub"));
}

TEST(OpenInExplorer, FoldersProgramsAndCutting) {
  FakeMainWindowView view;
  EXPECT_TRUE(openInExplorer(view, "/data/r", {.newWindow = true, .pathIsFolder = true}));
  EXPECT_TRUE(openInExplorer(view, "/data/r/a.txt", {.newWindow = true, .cutToFolder = true}));
  EXPECT_TRUE(openInExplorer(view, "/data/r/b.txt", {}));  // a file: its folder opens
  EXPECT_THAT(view.openedFolders, ElementsAre("/data/r", "/data/r", "/data/r"));
  EXPECT_TRUE(openInExplorer(view, "/opt/tool/Setup.EXE", {.pathIsFolder = true}));
  EXPECT_THAT(view.startedPrograms, ElementsAre("/opt/tool/Setup.EXE"));
  view.launchSucceeds = false;
  EXPECT_FALSE(openInExplorer(view, "/nowhere", {.pathIsFolder = true}));
}

TEST(ChooseFolder, DefaultTitleFlagsAndTrimming) {
  FakeMainWindowView view;
  view.folderAnswer = "  /home/u/out \xA1\xA1";
  EXPECT_EQ(chooseFolder(view, "/start"), "/home/u/out");
  ASSERT_EQ(view.folderDialogs.size(), 1u);
  EXPECT_EQ(view.folderDialogs[0].initialPath, "/start");
  EXPECT_EQ(view.folderDialogs[0].title, gbk("请选择一个文件夹"));
  EXPECT_EQ(view.folderDialogs[0].flags, 0x50u);
  view.folderAnswer.clear();
  EXPECT_EQ(chooseFolder(view, "", Text("t"), true, false, false), "");
  EXPECT_EQ(view.folderDialogs[1].flags, 0x4000u);
  EXPECT_EQ(view.folderDialogs[1].title, "t");
}

class FolderActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { setProgramDirectory(program.gbkPath()); }
  void TearDown() override { setProgramDirectory(""); }

  TempDir program;
  FakeMainWindowView view;
  LookupEngine engine{view};
};

TEST_F(FolderActionsTest, ChooseAutoSaveFolderStartsInTheFolderAutoSaveWritesTo) {
  // One default folder: the dialog opens where auto-save writes.
  view.folderAnswer = "/chosen";
  engine.chooseAutoSaveFolder();
  ASSERT_EQ(view.folderDialogs.size(), 1u);
  EXPECT_EQ(view.folderDialogs[0].initialPath, program.gbkPath("查询结果"));
  EXPECT_EQ(view.folderDialogs[0].title,
            gbk("选择一个在查询时自动保存到的文件夹（你也可以查询好后再保存查询结果）："));
  EXPECT_TRUE(fs::is_directory(program.utf8Path() + "/查询结果"));
  EXPECT_EQ(view.tag(control::kAutoSaveFolderButton), "/chosen");

  view.folderAnswer.clear();  // cancel: the tag stays, the dialog starts there
  engine.chooseAutoSaveFolder();
  EXPECT_EQ(view.folderDialogs[1].initialPath, "/chosen");
  EXPECT_EQ(view.tag(control::kAutoSaveFolderButton), "/chosen");
}

TEST_F(FolderActionsTest, OpenAutoSaveFolderFallsBackToTheResultFolderAndSaysWhatFailed) {
  engine.openAutoSaveFolder();
  view.setTag(control::kAutoSaveFolderButton, "/mine");
  engine.openAutoSaveFolder();
  EXPECT_THAT(view.openedFolders, ElementsAre(program.gbkPath("查询结果"), "/mine"));
  // The default folder is made to be looked into; a chosen one is not.
  EXPECT_TRUE(fs::is_directory(program.utf8Path() + "/查询结果"));
  EXPECT_FALSE(fs::exists("/mine"));
  EXPECT_THAT(view.messageBoxes, IsEmpty());

  // No file manager, or a chosen folder that is gone: said, as the links do.
  view.launchSucceeds = false;
  engine.openAutoSaveFolder();
  view.setTag(control::kAutoSaveFolderButton, program.gbkPath());
  engine.openAutoSaveFolder();
  ASSERT_EQ(view.messageBoxes.size(), 2u);
  EXPECT_EQ(view.messageBoxes[0].text, gbk("文件夹“/mine”不存在。"));
  EXPECT_EQ(view.messageBoxes[1].text, gbk("无法打开文件夹“") + program.gbkPath() +
                                           gbk("”：桌面没有设置用来打开文件夹的文件管理器。"));
}

TEST_F(FolderActionsTest, SaveResultsWritesOneGbkFilePerRow) {
  TempDir out;
  view.folderAnswer = out.gbkPath();
  const Text chinese = gbk("张三@例子.中国");
  view.setRows({{"a@x.com", "one.com\r\ntwo.com"},
                {chinese, gbk("域名.中国")},
                {"empty@x.com", ""},
                {"a@x.com", "later.com"},
                {"../escape", "bad"},
                {"", "bad"},
                {"..", "bad"},
                {"sub/dir", "bad"}});
  engine.saveResults();
  EXPECT_EQ(fileBytes(out.gbkPath("a@x.com.txt")), "later.com");  // the later row wins
  EXPECT_EQ(fileBytes(out.gbkPath("张三@例子.中国.txt")), gbk("域名.中国"));
  EXPECT_EQ(fileBytes(out.gbkPath("empty@x.com.txt")), "");
  // Nothing outside the folder, no folders made, nothing for unsafe names.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(out.utf8Path())) {
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 3);
  EXPECT_FALSE(fs::exists(fs::path(out.utf8Path()).parent_path() / "escape.txt"));
  // The four rows that cannot be files are not passed over in silence.
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text,
            gbk("有 4 个结果文件未能保存到：") + out.gbkPath() + gbk("\r\n已保存 4 个结果文件。"));
  EXPECT_EQ(view.folderDialogs[0].title, gbk("选择保存文件夹："));
  EXPECT_EQ(view.folderDialogs[0].initialPath, "");
}

TEST_F(FolderActionsTest, SaveResultsOfCompletedRowsSaysSaveOk) {
  TempDir out;
  view.folderAnswer = out.gbkPath();
  view.setRows({{"a@x.com", "one.com"}, {"b@x.com", ""}});
  engine.saveResults();
  EXPECT_EQ(fileBytes(out.gbkPath("a@x.com.txt")), "one.com");
  EXPECT_EQ(fileBytes(out.gbkPath("b@x.com.txt")), "");
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text, gbk("保存OK！\r\n已保存 2 个结果文件。"));
  EXPECT_EQ(view.messageBoxes[0].title, gbk("信息："));
  EXPECT_EQ(view.messageBoxes[0].style, mb::kOk | mb::kTaskModal);
}

TEST_F(FolderActionsTest, SaveResultsCancelledOrEmpty) {
  view.setRows({{"a@x.com", "x"}});
  engine.saveResults();  // cancelled
  EXPECT_THAT(view.messageBoxes, IsEmpty());
  TempDir out;
  view.folderAnswer = out.gbkPath();
  view.rows.clear();
  engine.saveResults();
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text, gbk("保存OK！\r\n已保存 0 个结果文件。"));
}

TEST_F(FolderActionsTest, SaveResultsSkipsRowsThatDidNotCompleteAndKeepsTheirFiles) {
  TempDir out;
  view.folderAnswer = out.gbkPath();
  ASSERT_TRUE(writeWholeFile(out.gbkPath("b@x.com.txt"), "earlier.com"));
  view.setRows({{"a@x.com", "1"}, {"b@x.com", gbk("查询失败：超时")}, {"c@x.com", "3"}});
  view.setRowImage(1, kImageNotCompleted);
  view.setRowImage(2, kImagePending);  // still being looked up
  engine.saveResults();
  EXPECT_EQ(fileBytes(out.gbkPath("a@x.com.txt")), "1");
  EXPECT_EQ(fileBytes(out.gbkPath("b@x.com.txt")), "earlier.com");
  EXPECT_FALSE(fs::exists(out.utf8Path() + "/c@x.com.txt"));
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text,
            gbk("保存OK！\r\n已保存 1 个结果文件，跳过 2 行（未查询完成，没有结果可保存）。"));
}

TEST_F(FolderActionsTest, AFailedWriteIsReportedAndKeepsTheOldFile) {
  TempDir out;
  view.folderAnswer = out.gbkPath();
  // A folder where the file should go: the write cannot replace it.
  fs::create_directory(out.utf8Path() + "/b@x.com.txt");
  view.setRows({{"a@x.com", "1"}, {"b@x.com", "2"}});
  engine.saveResults();
  EXPECT_EQ(fileBytes(out.gbkPath("a@x.com.txt")), "1");
  EXPECT_TRUE(fs::is_directory(out.utf8Path() + "/b@x.com.txt"));
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text,
            gbk("有 1 个结果文件未能保存到：") + out.gbkPath() + gbk("\r\n已保存 1 个结果文件。"));
}

TEST_F(FolderActionsTest, ExportWritesEveryRowAsOneUtf8TableBesideTheTextFiles) {
  view.setRows({{"a@x.com", "one.com\r\ntwo.com"},
                {"none@x.com", ""},
                {gbk("张@例.cn"), gbk("第 2 页查询失败：超时")},
                {"part@x.com", "p1.com"},
                {"wait@x.com", gbk("查询中..")},
                {"cut@x.com", "c1.com"},
                {"q@x.com", "\"odd,name\""}});
  view.setRowImage(2, kImageNotCompleted);
  view.setRowNote(2, gbk("第 2 页查询失败：超时"));
  view.setRowImage(3, kImageNotCompleted);
  view.setRowNote(3, gbk("第 2 页查询失败：超时"));
  view.setRowImage(4, kImagePending);
  view.setRowNote(5, gbk("已查 1/13 页（页数上限）"));

  engine.exportResultTable();  // cancelled: nothing written
  ASSERT_EQ(view.saveFileDialogs.size(), 1u);
  const Text offered = view.saveFileDialogs[0].initialPath;
  EXPECT_EQ(offered.rfind(program.gbkPath("查询结果") + gbk("/查询结果-"), 0), 0u) << offered;
  EXPECT_EQ(offered.substr(offered.size() - 4), ".csv");
  EXPECT_THAT(view.messageBoxes, IsEmpty());

  TempDir out;
  view.saveFileAnswer = out.gbkPath("表.csv");
  engine.exportResultTable();
  EXPECT_EQ(fileBytes(out.gbkPath("表.csv")),
            "\xEF\xBB\xBF邮箱,域名,结果,说明\r\n"
            "a@x.com,one.com,找到,\r\n"
            "a@x.com,two.com,找到,\r\n"
            "none@x.com,,无结果,\r\n"
            "张@例.cn,,未完成,第 2 页查询失败：超时\r\n"
            "part@x.com,p1.com,未完成,第 2 页查询失败：超时\r\n"
            "wait@x.com,,未查询,\r\n"
            "cut@x.com,c1.com,找到,已查 1/13 页（页数上限）\r\n"
            "q@x.com,\"\"\"odd,name\"\"\",找到,\r\n");
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text,
            gbk("已导出 7 个邮箱的结果到：\r\n") + out.gbkPath("表.csv"));

  // A file that cannot be written is said, not passed over.
  view.saveFileAnswer = out.gbkPath("no/such/folder.csv");
  engine.exportResultTable();
  ASSERT_EQ(view.messageBoxes.size(), 2u);
  EXPECT_EQ(view.messageBoxes[1].text, gbk("表格未能保存到：\r\n") + view.saveFileAnswer);
}

TEST_F(FolderActionsTest, OpenResultPageOfTheSelectedRow) {
  view.setRows({{"a@x.com", ""}, {gbk("张@例.cn"), ""}});
  engine.openResultPage();  // no selection
  EXPECT_THAT(view.openedDocuments, IsEmpty());
  view.selection = 1;
  engine.openResultPage();
  view.selectAizhan(false);
  view.selection = 0;
  engine.openResultPage();
  EXPECT_THAT(
      view.openedDocuments,
      ElementsAre("https://whois.aizhan.com/reverse-whois?q=%E5%BC%A0%40%E4%BE%8B.cn&t=email",
                  "https://whois.chinaz.com/reverse?host=a%40x.com&ddlSearchMode=1&st="
                  "&startDay=&endDay=&wTimefilter=$wTimefilter&page="));
}

TEST_F(FolderActionsTest, HeaderLinks) {
  engine.openMakerPage();
  engine.openHomePage("http://home.example/");
  EXPECT_THAT(view.openedDocuments, ElementsAre("http://qarvo.example/", "http://home.example/"));
}

}  // namespace
}  // namespace qarvo
