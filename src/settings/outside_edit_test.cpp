// The settings file edited from outside while the program runs, and paths
// with characters GBK lacks.
//
// A text editor ignores the store's lock: it rewrites the file in place or
// saves a new file and renames it over the old one. The store's next write
// must land in what the file holds now, never mix the editor's bytes with
// its own copy of the old content, and never write into a file the editor
// already replaced.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/code_page.h"
#include "platform/native_file.h"
#include "settings/scratch_folder.h"
#include "settings/settings_store.h"

namespace qarvo {
namespace {

Text g(const std::string& utf8) {
  return utf8ToGbk(utf8);
}

class OutsideEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    path_ = folder_.file("Qarvo·Dorvane.ini");
    native_ = folder_.nativePath() + "/Qarvo·Dorvane.ini";
    ASSERT_TRUE(writeWholeFile(path_, "[a]\r\nx=1\r\ny=2"));
    ASSERT_TRUE(store_.openSettingsFile(path_));
    store_.useSection("a");
    ASSERT_TRUE(store_.writeText("x", "10"));
    ASSERT_EQ(disk(), "[a]\r\nx=10\r\ny=2");
  }
  std::string disk() const { return ScratchFolder::contents(path_); }

  // What an editor does on save: a new file beside the old one, renamed over
  // it.
  void editorSavesAs(const std::string& content) {
    const std::string temporary = native_ + "~";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    ASSERT_EQ(std::rename(temporary.c_str(), native_.c_str()), 0);
  }
  // An editor that writes into the file itself.
  void editorWritesInPlace(const std::string& content) {
    const int fd = ::open(native_.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
  }

  ScratchFolder folder_;
  Text path_;
  std::string native_;
  SettingsStore store_;
};

TEST_F(OutsideEditTest, AFileReplacedByAnEditorGetsTheChange) {
  editorSavesAs("[b]\r\nkept=yes\r\n[a]\r\ny=20");
  EXPECT_TRUE(store_.writeText("x", "11"));
  EXPECT_EQ(disk(), "[b]\r\nkept=yes\r\n[a]\r\ny=20\r\nx=11");
  EXPECT_EQ(store_.image(), disk());
  EXPECT_EQ(store_.readText("y", "-"), "20");
  // Later writes go on in the new file.
  EXPECT_TRUE(store_.writeText("y", "21"));
  EXPECT_EQ(disk(), "[b]\r\nkept=yes\r\n[a]\r\ny=21\r\nx=11");
}

TEST_F(OutsideEditTest, AnInPlaceEditIsReadBeforeTheNextWrite) {
  editorWritesInPlace("[a]\r\ny=2\r\nx=10\r\nz=edited by hand");
  EXPECT_TRUE(store_.writeText("y", "3"));
  EXPECT_EQ(disk(), "[a]\r\ny=3\r\nx=10\r\nz=edited by hand");
  EXPECT_EQ(store_.image(), disk());
}

TEST_F(OutsideEditTest, AnEditOfTheSameSizeIsToldByItsTime) {
  editorWritesInPlace("[a]\r\nx=10\r\ny=7");
  // Put the modification time well away from our own write's.
  const struct timespec times[2] = {{1000000, 0}, {1000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, native_.c_str(), times, 0), 0);
  EXPECT_TRUE(store_.writeText("x", "999"));
  EXPECT_EQ(disk(), "[a]\r\nx=999\r\ny=7");
}

TEST_F(OutsideEditTest, ARemovedFileIsMadeAgainWithTheChange) {
  ASSERT_EQ(::unlink(native_.c_str()), 0);
  EXPECT_TRUE(store_.writeText("x", "12"));
  EXPECT_EQ(disk(), "[a]\r\nx=12");
}

TEST_F(OutsideEditTest, OwnWritesAreNoEditFromOutside) {
  // Many writes in a row, each shifting the rest of the file: the store
  // never mistakes its own writes for an edit and loses nothing.
  for (int i = 0; i < 50; ++i)
    ASSERT_TRUE(store_.writeText("k" + std::to_string(i % 7), std::string(i % 13, 'v')));
  EXPECT_EQ(store_.image(), disk());
  EXPECT_EQ(store_.readText("y", "-"), "2");
}

// A side file is replaced by a new file, never rewritten where it lies: a
// reader that holds the old one still reads it whole.
TEST_F(OutsideEditTest, SideFilesAreReplacedWhole) {
  ASSERT_TRUE(store_.writeSideBytes("k", toBytes("old value")));
  const std::string side = folder_.nativePath() + "/inibin/a-k.ibn";
  const int reader = ::open(side.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(store_.writeSideBytes("k", toBytes("new")));
  char buffer[32] = {};
  const ssize_t n = ::pread(reader, buffer, sizeof buffer, 0);
  ::close(reader);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0), "old value");
  EXPECT_EQ(toText(store_.readSideBytes("k", {})), "new");
}

// A folder with characters GBK lacks, as the folder dialog hands it over,
// goes into the settings file and comes back whole, and a file written there
// lands in that very folder.
TEST(SettingsPaths, FoldersWithCharactersOutsideGbkSurvive) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string programFolder = folder.nativePath() + "/程序-ö";
  ASSERT_EQ(::mkdir(programFolder.c_str(), 0755), 0);
  const Text settings = settingsFilePath(utf8ToGbk(programFolder), g("Qarvo·Dorvane"));
  const std::string chosen = folder.nativePath() + "/jörg/结果-😀";
  ASSERT_EQ(::mkdir((folder.nativePath() + "/jörg").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(chosen.c_str(), 0755), 0);
  {
    SettingsStore store;
    ASSERT_TRUE(store.openSettingsFile(settings));
    store.useSection(g("主界面"));
    EXPECT_TRUE(store.writeText(g("按钮自动保存路径.标记"), utf8ToGbk(chosen)));
    EXPECT_TRUE(store.writeSideBytes("k", toBytes("x")));
  }
  EXPECT_EQ(::access((programFolder + "/Qarvo·Dorvane.ini").c_str(), F_OK), 0);
  EXPECT_EQ(::access((programFolder + "/inibin/主界面-k.ibn").c_str(), F_OK), 0);
  SettingsStore again;
  ASSERT_TRUE(again.openSettingsFile(settings));
  again.useSection(g("主界面"));
  const Text restored = again.readText(g("按钮自动保存路径.标记"), "");
  EXPECT_EQ(gbkToUtf8(restored), chosen);
  ASSERT_TRUE(writeWholeFile(restored + "/a@b.com.txt", "site.example"));
  EXPECT_EQ(ScratchFolder::contents(utf8ToGbk(chosen + "/a@b.com.txt")), "site.example");
}

}  // namespace
}  // namespace qarvo
