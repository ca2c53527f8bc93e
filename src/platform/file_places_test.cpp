// Where settings and results go: beside the program when that folder can be
// written, else the user's configuration and documents folders.
//
// The tests run as root in CI, and root writes into a folder without write
// permission. An unwritable place is therefore made as a path below a regular
// file, which nobody (root included) can create anything in; the mode-bit
// case runs in addition when the tests do not run as root.
#include "platform/file_places.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/code_page.h"
#include "platform/native_file.h"
#include "settings/scratch_folder.h"

namespace qarvo {
namespace {

// Sets (or unsets, with nullptr) an environment variable for one scope.
class EnvironmentValue {
 public:
  EnvironmentValue(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name))
      old_ = std::string(old);
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvironmentValue() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string utf8(const Text& gbkText) {
  return gbkToUtf8(gbkText);
}

// A scratch home with a program folder, a fresh environment pointing at it,
// and a regular file to put unwritable places under.
class FilePlacesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    root_ = scratch_.nativePath();
    std::filesystem::create_directories(root_ + "/home");
    std::filesystem::create_directories(root_ + "/program");
    std::ofstream(root_ + "/plain-file") << "x";
    setProgramDirectory(utf8ToGbk(root_ + "/program"));
  }
  void TearDown() override { setProgramDirectory(Text()); }

  // A folder nobody can create or write, root included.
  std::string unwritable(const std::string& name) const { return root_ + "/plain-file/" + name; }
  void programFolderUnwritable() { setProgramDirectory(utf8ToGbk(unwritable("bin"))); }

  ScratchFolder scratch_;
  std::string root_;
  EnvironmentValue home_{"HOME", (scratch_.nativePath() + "/home").c_str()};
  EnvironmentValue configHome_{"XDG_CONFIG_HOME", nullptr};
  EnvironmentValue cacheHome_{"XDG_CACHE_HOME", nullptr};
  EnvironmentValue dataHome_{"XDG_DATA_HOME", nullptr};
  EnvironmentValue documents_{"XDG_DOCUMENTS_DIR", nullptr};
};

TEST_F(FilePlacesTest, WritableFolderIsToldByTryingAndLeavesNothingBehind) {
  EXPECT_TRUE(folderWritable(utf8ToGbk(root_ + "/program")));
  EXPECT_TRUE(std::filesystem::is_empty(root_ + "/program"));
  EXPECT_FALSE(folderWritable(utf8ToGbk(root_ + "/missing")));
  EXPECT_FALSE(folderWritable(utf8ToGbk(unwritable("bin"))));
  EXPECT_FALSE(folderWritable(Text()));
}

TEST_F(FilePlacesTest, AWritableProgramFolderKeepsEverythingBesideTheProgram) {
  bool settingsWritable = false;
  bool resultsWritable = false;
  EXPECT_EQ(utf8(settingsFolder(&settingsWritable)), root_ + "/program");
  EXPECT_EQ(utf8(resultPlace(&resultsWritable)), root_ + "/program");
  EXPECT_EQ(utf8(defaultResultFolder()), root_ + "/program/查询结果");
  EXPECT_TRUE(settingsWritable);
  EXPECT_TRUE(resultsWritable);
  // The user's folders are left alone.
  EXPECT_FALSE(std::filesystem::exists(root_ + "/home/.config"));
}

TEST_F(FilePlacesTest, AReadOnlyProgramFolderSendsSettingsToTheConfigFolderCreatedWithParents) {
  programFolderUnwritable();
  bool writable = false;
  EXPECT_EQ(utf8(settingsFolder(&writable)), root_ + "/home/.config/qarvo-dorvane");
  EXPECT_TRUE(writable);
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/home/.config/qarvo-dorvane"));
}

// Mode bits only hold back an ordinary user; as root the check runs in a child
// that has given up root first.
TEST_F(FilePlacesTest, ModeBitsOfTheProgramFolderCountForAnOrdinaryUser) {
  const std::string readOnly = root_ + "/program";
  const std::string open = root_ + "/open";
  std::filesystem::create_directories(open);
  chmod(root_.c_str(), 0755);
  chmod(readOnly.c_str(), 0555);
  chmod(open.c_str(), 0777);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(2);
    const bool readOnlyWritable = folderWritable(utf8ToGbk(readOnly));
    const bool openWritable = folderWritable(utf8ToGbk(open));
    _exit(!readOnlyWritable && openWritable ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  chmod(readOnly.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 2) << "could not give up root";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a folder without write permission counted as writable";
}

TEST_F(FilePlacesTest, AnInstalledProgramUsesTheUserFoldersEvenWhereItCouldWrite) {
  // <prefix>/bin with <prefix>/lib/qarvo-dorvane: what `cmake --install`
  // makes, into ~/.local as much as into /usr.
  std::filesystem::create_directories(root_ + "/prefix/bin");
  setProgramDirectory(utf8ToGbk(root_ + "/prefix/bin"));
  EXPECT_FALSE(runsInstalled());
  EXPECT_EQ(utf8(settingsFolder()), root_ + "/prefix/bin");
  std::filesystem::create_directories(root_ + "/prefix/lib/qarvo-dorvane");
  EXPECT_TRUE(runsInstalled());
  bool writable = false;
  EXPECT_EQ(utf8(settingsFolder(&writable)), root_ + "/home/.config/qarvo-dorvane");
  EXPECT_TRUE(writable);
  EXPECT_EQ(utf8(defaultResultFolder()), root_ + "/home/查询结果");
  // Only a "bin" folder counts: a build or unpacked copy keeps its files.
  std::filesystem::create_directories(root_ + "/copy/lib/qarvo-dorvane");
  setProgramDirectory(utf8ToGbk(root_ + "/copy"));
  EXPECT_FALSE(runsInstalled());
}

TEST_F(FilePlacesTest, ConfigHomeIsHonouredUnlessRelative) {
  programFolderUnwritable();
  {
    EnvironmentValue configHome("XDG_CONFIG_HOME", (root_ + "/elsewhere/").c_str());
    EXPECT_EQ(utf8(userConfigFolder()), root_ + "/elsewhere/qarvo-dorvane");
    EXPECT_EQ(utf8(settingsFolder()), root_ + "/elsewhere/qarvo-dorvane");
    EXPECT_TRUE(std::filesystem::is_directory(root_ + "/elsewhere/qarvo-dorvane"));
  }
  {
    EnvironmentValue configHome("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(utf8(userConfigFolder()), root_ + "/home/.config/qarvo-dorvane");
  }
  {
    EnvironmentValue configHome("XDG_CONFIG_HOME", "");
    EXPECT_EQ(utf8(userConfigFolder()), root_ + "/home/.config/qarvo-dorvane");
  }
}

TEST_F(FilePlacesTest, CacheHomeIsHonouredUnlessUnsetEmptyOrRelative) {
  struct Case {
    const char* value;  // nullptr: unset
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, root_ + "/home/.cache/qarvo-dorvane"},
      {"", root_ + "/home/.cache/qarvo-dorvane"},
      {"relative/cache", root_ + "/home/.cache/qarvo-dorvane"},
      {"~/cache", root_ + "/home/.cache/qarvo-dorvane"},
      {"/srv/cache//", "/srv/cache/qarvo-dorvane"},
      {"/srv/缓存", "/srv/缓存/qarvo-dorvane"},
  };
  for (const Case& c : cases) {
    EnvironmentValue cacheHome("XDG_CACHE_HOME", c.value);
    EXPECT_EQ(utf8(userCacheFolder()), c.expected) << (c.value ? c.value : "(unset)");
  }
  // Asking does not create it.
  EXPECT_FALSE(std::filesystem::exists(root_ + "/home/.cache"));
}

TEST_F(FilePlacesTest, DataHomeIsHonouredUnlessUnsetEmptyOrRelative) {
  struct Case {
    const char* value;  // nullptr: unset
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, root_ + "/home/.local/share/qarvo-dorvane"},
      {"", root_ + "/home/.local/share/qarvo-dorvane"},
      {"relative/data", root_ + "/home/.local/share/qarvo-dorvane"},
      {"~/data", root_ + "/home/.local/share/qarvo-dorvane"},
      {"/srv/data//", "/srv/data/qarvo-dorvane"},
      {"/srv/数据", "/srv/数据/qarvo-dorvane"},
  };
  for (const Case& c : cases) {
    EnvironmentValue dataHome("XDG_DATA_HOME", c.value);
    EXPECT_EQ(utf8(userDataFolder()), c.expected) << (c.value ? c.value : "(unset)");
  }
  // Asking does not create it.
  EXPECT_FALSE(std::filesystem::exists(root_ + "/home/.local"));
}

TEST_F(FilePlacesTest, NeitherPlaceWritableIsReported) {
  programFolderUnwritable();
  EnvironmentValue configHome("XDG_CONFIG_HOME", unwritable("config").c_str());
  EnvironmentValue documents("XDG_DOCUMENTS_DIR", unwritable("Documents").c_str());
  bool writable = true;
  EXPECT_EQ(utf8(settingsFolder(&writable)), unwritable("config") + "/qarvo-dorvane");
  EXPECT_FALSE(writable);
  writable = true;
  EXPECT_EQ(utf8(resultPlace(&writable)), unwritable("Documents"));
  EXPECT_FALSE(writable);
}

TEST_F(FilePlacesTest, DocumentsFolderIsFoundAsXdgUserDirFindsIt) {
  programFolderUnwritable();
  // Nothing configured: the home folder.
  EXPECT_EQ(utf8(userDocumentsFolder()), root_ + "/home");
  EXPECT_EQ(utf8(defaultResultFolder()), root_ + "/home/查询结果");
  {
    EnvironmentValue documents("XDG_DOCUMENTS_DIR", (root_ + "/docs-from-env").c_str());
    EXPECT_EQ(utf8(userDocumentsFolder()), root_ + "/docs-from-env");
  }
  // The file written by xdg-user-dirs-update wins over the variable, and its
  // last line wins.
  std::filesystem::create_directories(root_ + "/home/.config");
  std::ofstream(root_ + "/home/.config/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                           "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                           "XDG_DOCUMENTS_DIR=\"$HOME/Old\"\n"
                                                           "XDG_DOCUMENTS_DIR=\"$HOME/文档\"\n";
  EnvironmentValue documents("XDG_DOCUMENTS_DIR", (root_ + "/docs-from-env").c_str());
  EXPECT_EQ(utf8(userDocumentsFolder()), root_ + "/home/文档");
  bool writable = false;
  EXPECT_EQ(utf8(resultPlace(&writable)), root_ + "/home/文档");
  EXPECT_TRUE(writable);  // created when missing
  EXPECT_EQ(utf8(defaultResultFolder()), root_ + "/home/文档/查询结果");

  std::ofstream(root_ + "/home/.config/user-dirs.dirs")
      << "XDG_DOCUMENTS_DIR=\"/srv/shared \\\"docs\\\"/\"\n";
  EXPECT_EQ(utf8(userDocumentsFolder()), "/srv/shared \"docs\"");
  // A value that is neither absolute nor under $HOME is not taken.
  std::ofstream(root_ + "/home/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"Documents\"\n";
  EXPECT_EQ(utf8(userDocumentsFolder()), root_ + "/docs-from-env");
  // "$HOMEWORK" is not under $HOME.
  std::ofstream(root_ + "/home/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOMEWORK\"\n";
  EXPECT_EQ(utf8(userDocumentsFolder()), root_ + "/docs-from-env");
}

TEST_F(FilePlacesTest, WithoutHomeThePasswordDatabaseGivesIt) {
  EnvironmentValue home("HOME", nullptr);
  const Text folder = homeFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(utf8(userConfigFolder()),
            (folder == "/" ? "" : utf8(folder)) + "/.config/qarvo-dorvane");
}

TEST_F(FilePlacesTest, AChineseHomeBecomesGbkText) {
  const std::string home = root_ + "/用户";
  EnvironmentValue homeValue("HOME", home.c_str());
  programFolderUnwritable();
  EXPECT_EQ(settingsFolder(), utf8ToGbk(home + "/.config/qarvo-dorvane"));
  EXPECT_TRUE(std::filesystem::is_directory(home + "/.config/qarvo-dorvane"));
}

}  // namespace
}  // namespace qarvo
