// The program installed in a folder it cannot write: where start-up puts the
// settings file, what it tells the user when no place can be written, and
// where the browser module is found.
//
// An unwritable place is a path below a regular file: nobody, root included,
// creates anything there (the tests run as root in CI).
#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/embedded_browser.h"
#include "app/startup.h"
#include "platform/code_page.h"
#include "platform/native_file.h"
#include "settings/scratch_folder.h"

namespace qarvo {
namespace {

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string* value) : name_(name) {
    if (const char* old = std::getenv(name))
      old_ = std::string(old);
    if (value != nullptr)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnvironment() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class InstalledProgramTest : public ::testing::Test {
 protected:
  InstalledProgramTest() {
    std::filesystem::create_directories(home_);
    std::ofstream(root_ + "/plain-file") << "x";
  }
  ~InstalledProgramTest() override { setProgramDirectory(Text()); }

  void installedIn(const std::string& folder) { setProgramDirectory(utf8ToGbk(folder)); }
  std::string unwritable(const std::string& name) const { return root_ + "/plain-file/" + name; }

  ScratchFolder scratch_;
  std::string root_ = scratch_.nativePath();
  std::string home_ = root_ + "/home";
  ScopedEnvironment homeValue_{"HOME", &home_};
  ScopedEnvironment configHome_{"XDG_CONFIG_HOME", nullptr};
  ScopedEnvironment documents_{"XDG_DOCUMENTS_DIR", nullptr};
};

TEST_F(InstalledProgramTest, SettingsStayBesideAWritableProgram) {
  installedIn(root_);
  ProgramState state;
  state.create();
  EXPECT_EQ(gbkToUtf8(state.settingsFilePath), root_ + "/Qarvo·Dorvane.ini");
  EXPECT_TRUE(std::filesystem::exists(root_ + "/Qarvo·Dorvane.ini"));
  EXPECT_TRUE(state.unwritablePlacesMessage().empty());
  state.release();
}

TEST_F(InstalledProgramTest, AReadOnlyProgramKeepsItsSettingsInTheUserConfigFolder) {
  installedIn(unwritable("usr/bin"));
  ProgramState state;
  state.create();
  const std::string expected = home_ + "/.config/qarvo-dorvane/Qarvo·Dorvane.ini";
  EXPECT_EQ(gbkToUtf8(state.settingsFilePath), expected);
  // The store opened (and so created) the file there, and writes reach it.
  ASSERT_TRUE(std::filesystem::exists(expected));
  state.settingsStore->useSection(gbk("主界面"));
  EXPECT_TRUE(state.settingsStore->writeText("k", "v"));
  EXPECT_NE(ScratchFolder::contents(utf8ToGbk(expected)).find("k=v"), std::string::npos);
  EXPECT_TRUE(state.unwritablePlacesMessage().empty());
  state.release();
}

TEST_F(InstalledProgramTest, NoWritablePlaceGivesOneMessageNamingTheFoldersTried) {
  installedIn(unwritable("usr/bin"));
  const std::string config = unwritable("config");
  ScopedEnvironment configHome("XDG_CONFIG_HOME", &config);
  {
    ProgramState state;
    state.create();
    EXPECT_FALSE(state.settingsWritable);
    EXPECT_TRUE(state.resultsWritable);  // the home folder is writable
    const std::string message = gbkToUtf8(state.unwritablePlacesMessage());
    EXPECT_NE(message.find(unwritable("usr/bin")), std::string::npos) << message;
    EXPECT_NE(message.find(config + "/qarvo-dorvane"), std::string::npos) << message;
    EXPECT_NE(message.find("设置"), std::string::npos) << message;
    EXPECT_EQ(message.find("查询结果"), std::string::npos) << message;
    state.release();
  }
  const std::string documents = unwritable("Documents");
  ScopedEnvironment documentsValue("XDG_DOCUMENTS_DIR", &documents);
  ProgramState state;
  state.create();
  EXPECT_FALSE(state.resultsWritable);
  const std::string message = gbkToUtf8(state.unwritablePlacesMessage());
  EXPECT_NE(message.find(documents), std::string::npos) << message;
  EXPECT_NE(message.find("查询结果"), std::string::npos) << message;
  EXPECT_NE(message.back(), '\n');
  state.release();
}

TEST_F(InstalledProgramTest, BrowserModuleIsFoundBesideTheProgramOrInTheLibraryFolder) {
  const std::string bin = root_ + "/prefix/bin";
  const std::string lib = root_ + "/prefix/lib/qarvo-dorvane";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(lib);
  const QString binFolder = QString::fromStdString(bin);
  EXPECT_TRUE(embeddedBrowserModulePath(binFolder).isEmpty());

  std::ofstream(lib + "/qarvo-browser.so") << "module";
  EXPECT_EQ(embeddedBrowserModulePath(binFolder).toStdString(), lib + "/qarvo-browser.so");
  // A folder of that name is no module.
  std::filesystem::create_directories(bin + "/qarvo-browser.so");
  EXPECT_EQ(embeddedBrowserModulePath(binFolder).toStdString(), lib + "/qarvo-browser.so");
  std::filesystem::remove(bin + "/qarvo-browser.so");
  // A copy beside the program (the build folder) comes first.
  std::ofstream(bin + "/qarvo-browser.so") << "module";
  EXPECT_EQ(embeddedBrowserModulePath(binFolder).toStdString(), bin + "/qarvo-browser.so");
}

}  // namespace
}  // namespace qarvo
