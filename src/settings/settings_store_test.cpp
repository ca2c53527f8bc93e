#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/message_box.h"
#include "platform/native_file.h"
#include "settings/scratch_folder.h"

namespace qarvo {
namespace {

Text g(const std::string& utf8) {
  return utf8ToGbk(utf8);
}

struct ShownMessage {
  Text text;
  Text title;
  unsigned style;
};

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    path_ = folder_.file("Qarvo·Dorvane.ini");
    setMessageBoxHandler([this](const Text& text, const Text& title, unsigned style) {
      messages_.push_back({text, title, style});
      return 1;
    });
  }
  void TearDown() override {
    setMessageBoxHandler(nullptr);
    setEventPump(nullptr);
  }

  // Puts `content` on disk and opens the store on it.
  void openWith(const std::string& content) {
    ASSERT_TRUE(writeWholeFile(path_, content));
    ASSERT_TRUE(store_.openSettingsFile(path_));
  }
  std::string disk() const { return ScratchFolder::contents(path_); }
  void expectDiskIs(const std::string& expected) {
    EXPECT_EQ(disk(), expected);
    EXPECT_EQ(store_.image(), expected);
  }

  ScratchFolder folder_;
  Text path_;
  SettingsStore store_;
  std::vector<ShownMessage> messages_;
};

TEST_F(SettingsStoreTest, FirstWriteIntoAMissingFileMakesHeaderAndKeyLine) {
  EXPECT_TRUE(store_.openSettingsFile(path_));
  // The file exists from the open on, under its UTF-8 name.
  EXPECT_EQ(access((folder_.nativePath() + "/Qarvo·Dorvane.ini").c_str(), F_OK), 0);
  EXPECT_EQ(disk(), "");
  store_.useSection(g("主界面"));
  EXPECT_TRUE(store_.writeText("key", "value"));
  expectDiskIs(g("[主界面]\r\nkey=value"));
  EXPECT_TRUE(store_.writeText(g("编辑框间隔秒"), "0.5"));
  expectDiskIs(g("[主界面]\r\nkey=value\r\n编辑框间隔秒=0.5"));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsStoreTest, NewSectionIsAppendedAfterExistingContent) {
  openWith("[a]\r\nx=1");
  EXPECT_EQ(store_.writeKey("b", "y", "2"), 0);
  expectDiskIs("[a]\r\nx=1\r\n[b]\r\ny=2");
  // An existing file that ends with CR LF keeps it; the header follows one more.
  openWith("[a]\r\n");
  EXPECT_EQ(store_.writeKey("b", "y", "2"), 0);
  expectDiskIs("[a]\r\n\r\n[b]\r\ny=2");
}

TEST_F(SettingsStoreTest, NewKeyGoesJustBeforeTheNextSection) {
  openWith("[A]\r\na=1\r\n[B]\r\nb=2");
  EXPECT_EQ(store_.writeKey("A", "c", "3"), 0);
  expectDiskIs("[A]\r\na=1\r\nc=3\r\n[B]\r\nb=2");
  EXPECT_EQ(store_.writeKey("B", "d", "4"), 0);
  expectDiskIs("[A]\r\na=1\r\nc=3\r\n[B]\r\nb=2\r\nd=4");
  EXPECT_EQ(store_.readKey("A", "c", "-"), "3");
  EXPECT_EQ(store_.readKey("B", "b", "-"), "2");
}

TEST_F(SettingsStoreTest, KeyOfALaterSectionIsNotTakenForThisSection) {
  openWith("[A]\r\nx=1\r\n[B]\r\nk=2");
  EXPECT_EQ(store_.readKey("A", "k", "default"), "default");
  EXPECT_EQ(store_.readKey("B", "k", "default"), "2");
  EXPECT_EQ(store_.writeKey("A", "k", "9"), 0);
  expectDiskIs("[A]\r\nx=1\r\nk=9\r\n[B]\r\nk=2");
  EXPECT_EQ(store_.readKey("A", "k", "-"), "9");
  EXPECT_EQ(store_.readKey("B", "k", "-"), "2");
}

TEST_F(SettingsStoreTest, BracketLinesThatAreNoHeadersDoNotEndASection) {
  // "[note" has no "]" before its line ends, "[x]y" continues after the "]":
  // neither is a header, so k still belongs to A.
  openWith("[A]\r\n[note\r\n[x]y\r\nk=1");
  EXPECT_EQ(store_.readKey("A", "k", "-"), "1");
  openWith("[A]\r\n[x]\r\nk=1");
  EXPECT_EQ(store_.readKey("A", "k", "-"), "-");
  EXPECT_EQ(store_.readKey("x", "k", "-"), "1");
}

TEST_F(SettingsStoreTest, HeaderTextInTheMiddleOfALineIsNoHeader) {
  openWith("v=[A]\r\nk=1");
  EXPECT_EQ(store_.readKey("A", "k", "-"), "-");
  EXPECT_EQ(store_.writeKey("A", "k", "2"), 0);
  expectDiskIs("v=[A]\r\nk=1\r\n[A]\r\nk=2");
  // Right after a lone CR or LF it is no header either.
  openWith("x\n[A]\r\nk=1\r[A]\r\nk=3");
  EXPECT_EQ(store_.readKey("A", "k", "-"), "-");
  // At the very start of the file it is one.
  openWith("[A]\r\nk=1");
  EXPECT_EQ(store_.readKey("A", "k", "-"), "1");
}

TEST_F(SettingsStoreTest, RewritingAValueShiftsTheRestOfTheFile) {
  const std::string tail = "\r\nnext=" + g("后面的值") + "\r\n[B]\r\nz=26";
  openWith("[A]\r\nk=medium" + tail);
  EXPECT_EQ(store_.writeKey("A", "k", "xy"), 0);
  expectDiskIs("[A]\r\nk=xy" + tail);
  EXPECT_EQ(store_.writeKey("A", "k", "a much longer value than before"), 0);
  expectDiskIs("[A]\r\nk=a much longer value than before" + tail);
  EXPECT_EQ(store_.writeKey("A", "k", ""), 0);
  expectDiskIs("[A]\r\nk=" + tail);
  EXPECT_EQ(store_.readKey("A", "k", "default"), "");
  EXPECT_EQ(store_.writeKey("A", "k", "12"), 0);
  EXPECT_EQ(store_.writeKey("A", "k", "34"), 0);
  expectDiskIs("[A]\r\nk=34" + tail);
  // The last value of the file, with nothing after it.
  EXPECT_EQ(store_.writeKey("B", "z", "0"), 0);
  EXPECT_EQ(store_.writeKey("B", "z", "longer"), 0);
  expectDiskIs("[A]\r\nk=34\r\nnext=" + g("后面的值") + "\r\n[B]\r\nz=longer");
}

TEST_F(SettingsStoreTest, SectionCacheFollowsEditsInOtherSections) {
  openWith("[A]\r\na=1\r\n[B]\r\nb=1");
  EXPECT_EQ(store_.writeKey("B", "b", "2"), 0);
  // Lengthening A moves B's header; B must be looked up again, not taken from
  // where it was.
  EXPECT_EQ(store_.writeKey("A", "a", "a longer value"), 0);
  EXPECT_EQ(store_.writeKey("A", "new", "x"), 0);
  EXPECT_EQ(store_.writeKey("B", "b", "3"), 0);
  expectDiskIs("[A]\r\na=a longer value\r\nnew=x\r\n[B]\r\nb=3");
  EXPECT_EQ(store_.readKey("A", "b", "-"), "-");
}

TEST_F(SettingsStoreTest, TextValuesCarryLineBreaksAsMarker) {
  openWith("");
  store_.useSection(g("主界面"));
  EXPECT_TRUE(store_.writeText(g("按钮输入.标记"), "a@b.com\r\nc@d.com\r\n"));
  expectDiskIs(g("[主界面]\r\n按钮输入.标记=a@b.com┊*┊c@d.com┊*┊"));
  EXPECT_EQ(store_.readText(g("按钮输入.标记"), "x"), "a@b.com\r\nc@d.com\r\n");
  // A user text that holds the marker itself comes back with a line break.
  EXPECT_TRUE(store_.writeText("t", g("甲┊*┊乙")));
  EXPECT_EQ(store_.readText("t", ""), g("甲\r\n乙"));
  // A lone CR or LF is kept as it is and does not break the line structure.
  EXPECT_TRUE(store_.writeText("lone", "a\rb\nc"));
  EXPECT_EQ(store_.readText("lone", ""), "a\rb\nc");
  EXPECT_EQ(store_.readText("t", ""), g("甲\r\n乙"));
  // Empty stored value: empty, not the default. Missing key: the default as given.
  EXPECT_TRUE(store_.writeText("empty", ""));
  EXPECT_EQ(store_.readText("empty", "default"), "");
  EXPECT_EQ(store_.readText("missing", g("默认┊*┊值")), g("默认┊*┊值"));
  store_.useSection("other");
  EXPECT_EQ(store_.readText("t", "none"), "none");
}

TEST_F(SettingsStoreTest, BooleansAreStoredAsTrueAndFalseWords) {
  openWith("");
  store_.useSection(g("主界面"));
  EXPECT_TRUE(store_.writeBool(g("单选框爱站"), true));
  EXPECT_TRUE(store_.writeBool(g("单选框站长"), false));
  expectDiskIs(g("[主界面]\r\n单选框爱站=真\r\n单选框站长=假"));
  EXPECT_TRUE(store_.readBool(g("单选框爱站"), false));
  EXPECT_FALSE(store_.readBool(g("单选框站长"), true));
  EXPECT_TRUE(store_.readBool("missing", true));
  EXPECT_FALSE(store_.readBool("missing", false));
  // Anything but the word for true reads as false.
  EXPECT_EQ(store_.writeKey(g("主界面"), "odd", "1"), 0);
  EXPECT_FALSE(store_.readBool("odd", true));
  EXPECT_EQ(store_.writeKey(g("主界面"), "odd", ""), 0);
  EXPECT_FALSE(store_.readBool("odd", true));
}

// The queue: a write that arrives while another one pumps events waits and
// runs afterwards.
SettingsStore* queueStore = nullptr;
int nestedResult = -99;
void nestedWritePump() {
  if (queueStore == nullptr)
    return;
  SettingsStore* store = queueStore;
  queueStore = nullptr;  // only once
  nestedResult = store->runQueue("S", "nested", "n");
}

TEST_F(SettingsStoreTest, WriteArrivingDuringAWriteIsQueuedAndRunsAfterIt) {
  openWith("[S]\r\nfirst=0");
  store_.useSection("S");
  queueStore = &store_;
  nestedResult = -99;
  setEventPump(nestedWritePump);
  EXPECT_TRUE(store_.writeText("outer", "o"));
  EXPECT_EQ(nestedResult, SettingsStore::kQueued);
  // The outer write finished its key line before the nested one began.
  expectDiskIs("[S]\r\nfirst=0\r\nouter=o\r\nnested=n");

  // A typed write that gets queued reports false, and still lands afterwards.
  struct Local {
    static void pump() {
      if (queueStore == nullptr)
        return;
      SettingsStore* store = queueStore;
      queueStore = nullptr;
      nestedResult = store->writeText("typed", "t") ? 1 : 0;
    }
  };
  queueStore = &store_;
  setEventPump(Local::pump);
  EXPECT_TRUE(store_.writeText("first", "1"));
  EXPECT_EQ(nestedResult, 0);
  expectDiskIs("[S]\r\nfirst=1\r\nouter=o\r\nnested=n\r\ntyped=t");
}

TEST_F(SettingsStoreTest, SideFilesHoldRawBytesBesideTheSettingsFile) {
  openWith("[x]\r\ny=1");
  store_.useSection(g("主界面"));
  const Bytes value = toBytes(std::string("a\r\nb\0c", 6));
  EXPECT_TRUE(store_.writeSideBytes(g("编辑框间隔秒"), value));
  std::string onDisk;
  ASSERT_TRUE(readWholeFile(folder_.file("inibin/主界面-编辑框间隔秒.ibn"), &onDisk));
  EXPECT_EQ(onDisk, std::string("a\r\nb\0c", 6));
  EXPECT_EQ(store_.readSideBytes(g("编辑框间隔秒"), toBytes("default")), value);
  // Replaced whole, not appended to.
  EXPECT_TRUE(store_.writeSideBytes(g("编辑框间隔秒"), toBytes("z")));
  EXPECT_EQ(store_.readSideBytes(g("编辑框间隔秒"), {}), toBytes("z"));
  // Missing or empty side file: the default.
  EXPECT_EQ(store_.readSideBytes("missing", toBytes("d")), toBytes("d"));
  EXPECT_TRUE(store_.writeSideBytes("empty", {}));
  EXPECT_EQ(store_.readSideBytes("empty", toBytes("d")), toBytes("d"));
  // The settings file is not touched.
  expectDiskIs("[x]\r\ny=1");
  // A key cannot reach outside the side-file folder.
  EXPECT_FALSE(store_.writeSideBytes("../escape", toBytes("e")));
  EXPECT_EQ(ScratchFolder::contents(folder_.file("inibin/../escape.ibn")), "<missing>");
  EXPECT_EQ(ScratchFolder::contents(folder_.file("主界面-../escape.ibn")), "<missing>");
}

TEST_F(SettingsStoreTest, WithoutAFileWritesChangeOnlyTheImage) {
  // A folder that does not exist stands for one we may not write in.
  const Text unreachable = folder_.file("no-such-folder/Qarvo·Dorvane.ini");
  EXPECT_FALSE(store_.openSettingsFile(unreachable));
  store_.useSection(g("主界面"));
  store_.writeText("k", "v");
  EXPECT_EQ(store_.image(), g("[主界面]\r\nk=v"));
  EXPECT_EQ(store_.readText("k", ""), "v");
  EXPECT_FALSE(pathExists(folder_.file("no-such-folder")));
  EXPECT_FALSE(store_.writeSideBytes("side", toBytes("x")));
  EXPECT_TRUE(messages_.empty());
}

// Runs in a child process that may not write in the folder: root gives up its
// rights there (root writes into read-only folders regardless).
bool writesStayInTheImage(const Text& existing, const Text& missing) {
  if (geteuid() == 0 && setuid(65534) != 0)
    return false;
  std::vector<ShownMessage> shown;
  setMessageBoxHandler([&shown](const Text& text, const Text& title, unsigned style) {
    shown.push_back({text, title, style});
    return 1;
  });
  SettingsStore store;
  bool ok = !store.openSettingsFile(existing) && store.image() == "[s]\r\nk=old";
  store.useSection("s");
  store.writeText("k", "new");
  store.writeText("j", "added");
  ok = ok && store.readText("k", "") == "new" && store.image() == "[s]\r\nk=new\r\nj=added";
  ok = ok && ScratchFolder::contents(existing) == "[s]\r\nk=old";
  ok = ok && !store.writeSideBytes("k", toBytes("x"));
  ok = ok && !store.openSettingsFile(missing) && store.image().empty();
  store.writeText("k", "v");
  ok = ok && store.image() == "[s]\r\nk=v" && !pathExists(missing);
  return ok && shown.empty();
}

TEST_F(SettingsStoreTest, ReadOnlyFolderKeepsWritesInTheImageWithoutAMessage) {
  ASSERT_TRUE(writeWholeFile(path_, "[s]\r\nk=old"));
  ASSERT_EQ(chmod((folder_.nativePath() + "/Qarvo·Dorvane.ini").c_str(), 0644), 0);
  ASSERT_EQ(chmod(folder_.nativePath().c_str(), 0555), 0);
  const Text missing = folder_.file("missing.ini");
  EXPECT_EXIT(_exit(writesStayInTheImage(path_, missing) ? 0 : 1), ::testing::ExitedWithCode(0),
              "");
  EXPECT_EQ(disk(), "[s]\r\nk=old");
}

TEST_F(SettingsStoreTest, SecondInstanceReadsTheFileButNeverWritesIt) {
  openWith(g("[主界面]\r\nk=first"));
  SettingsStore second;
  EXPECT_FALSE(second.openSettingsFile(path_));
  second.useSection(g("主界面"));
  EXPECT_EQ(second.readText("k", ""), "first");
  second.writeText("k", "second");
  EXPECT_EQ(second.readText("k", ""), "second");
  EXPECT_EQ(disk(), g("[主界面]\r\nk=first"));
  EXPECT_TRUE(messages_.empty());
  // Once the first lets go, the file can be taken.
  store_.openSettingsFile(folder_.file("other.ini"));
  EXPECT_TRUE(second.openSettingsFile(path_));
}

TEST_F(SettingsStoreTest, OddFileContentIsReadSafelyAndStillGetsAWellFormedSection) {
  static const char kWithNuls[] = "a\0b\r\n[\0]\r\nk\0=v\0";
  const std::vector<std::string> odd = {
      "no line breaks at all",
      "[" + g("主界面") + "\r\nk=without closing bracket",
      std::string(kWithNuls, sizeof kWithNuls - 1),
      "\r",
      "x\r",
      "\xB2",                   // a lead byte with no trail byte
      "[A]\r\nk=v\xB2",         // the same after a value
      "[" + g("主界面") + "]",  // a header with nothing after it
  };
  for (const std::string& content : odd) {
    SCOPED_TRACE(testing::PrintToString(content));
    openWith(content);
    EXPECT_EQ(store_.readKey(g("主界面"), "k", "d"), "d");
    EXPECT_EQ(store_.writeKey(g("主界面"), "k", "1"), 0);
    EXPECT_EQ(store_.readKey(g("主界面"), "k", "d"), "1");
    EXPECT_EQ(store_.writeKey(g("主界面"), "k", "22"), 0);
    EXPECT_EQ(store_.image().compare(0, content.size(), content), 0);
    EXPECT_EQ(disk(), store_.image());
  }
  // The last one: the header is reused, the key line follows it.
  EXPECT_EQ(store_.image(), g("[主界面]\r\nk=22"));
}

TEST_F(SettingsStoreTest, SeveralMegabytesWithManyBracketLines) {
  // Section Z is full of "[B]" in mid-line; section A of "[" lines that are
  // no headers, with a single "]" line after them and then the key. Every
  // search must stay linear in the size of the file.
  std::string big = "[Z]\r\n";
  for (int i = 0; i < 100000; ++i)
    big += "v" + std::to_string(i) + "=[B]\r\n";
  big += "[A]";
  for (int i = 0; i < 100000; ++i)
    big += "\r\n[open " + std::to_string(i);
  big += "\r\nclose]\r\nk=1\r\n[B]\r\nk=b";
  ASSERT_GT(big.size(), 2u * 1024 * 1024);
  openWith(big);
  EXPECT_EQ(store_.readKey("A", "k", "-"), "1");
  EXPECT_EQ(store_.readKey("B", "k", "-"), "b");
  EXPECT_EQ(store_.readKey("Z", "v99999", "-"), "[B]");
  EXPECT_EQ(store_.readKey("Z", "k", "-"), "-");
  EXPECT_EQ(store_.writeKey("A", "new", "v"), 0);
  EXPECT_EQ(store_.writeKey("B", "k", "bb"), 0);
  EXPECT_EQ(store_.writeKey("C", "k", "c"), 0);
  EXPECT_EQ(store_.readKey("A", "new", "-"), "v");
  EXPECT_EQ(store_.readKey("B", "k", "-"), "bb");
  // Inserted before the first line that starts with "[", as any new key is.
  EXPECT_NE(store_.image().find("[A]\r\nnew=v\r\n[open 0\r\n"), std::string::npos);
  EXPECT_EQ(disk(), store_.image());
}

TEST_F(SettingsStoreTest, NamesWithLineBreaksAreRefused) {
  openWith("[A]\r\nk=1");
  EXPECT_EQ(store_.writeKey("A", "a\r\n[B]\r\nb", "x"), -1);
  EXPECT_EQ(store_.writeKey("A]\r\n[B", "k", "x"), -1);
  expectDiskIs("[A]\r\nk=1");
}

// A pump that reopens an unreachable file on every call throws away each
// header the write appends, so the section is never found again.
SettingsStore* reopenStore = nullptr;
Text reopenPath;
void reopeningPump() {
  if (reopenStore != nullptr)
    reopenStore->openSettingsFile(reopenPath);
}

TEST_F(SettingsStoreTest, SectionLostAfterElevenAppendsIsReportedTwice) {
  // The first append reaches the file held before the pump starts reopening;
  // from then on the image is thrown away on every pass.
  openWith("");
  int appendsSeen = 0;
  FileOps counting = FileOps::system();
  counting.writeAt = [&appendsSeen](int fd, const void* data, std::size_t size, off_t offset) {
    ++appendsSeen;
    return ::pwrite(fd, data, size, offset);
  };
  store_.setFileOps(counting);
  reopenStore = &store_;
  reopenPath = folder_.file("missing-folder/x.ini");
  static int passes = 0;
  passes = 0;
  setEventPump([] {
    if (++passes > 2)
      reopeningPump();
  });
  store_.useSection(g("主界面"));
  EXPECT_FALSE(store_.writeText("k", "v"));
  setEventPump(nullptr);
  reopenStore = nullptr;
  EXPECT_EQ(appendsSeen, 1);
  EXPECT_EQ(disk(), g("[主界面]"));
  // Eleven rounds of (pump at the pass, pump in the section search).
  EXPECT_EQ(passes, 22);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0].text, g("配置模块出现意外，可能导致无法正常保存！详情请咨询Qarvo。"));
  EXPECT_EQ(messages_[0].title, g("信息："));
  EXPECT_EQ(messages_[0].style, 0x30u);
  EXPECT_EQ(messages_[1].text, g("[主界面]"));  // the whole image
  EXPECT_EQ(messages_[1].style, 0u);
}

// Fault injection: the disk takes only part of a write.
TEST_F(SettingsStoreTest, WriteFailingPartWayNeverShortensTheFileAndHealsLater) {
  const std::string before = "[A]\r\nk=a rather long value here\r\nnext=1\r\n[B]\r\nz=2";
  openWith(before);
  FileOps failing = FileOps::system();
  failing.writeAt = [](int fd, const void* data, std::size_t size, off_t offset) -> ssize_t {
    if (size <= 2) {
      errno = EIO;
      return -1;
    }
    return ::pwrite(fd, data, size / 2, offset);
  };
  store_.setFileOps(failing);
  EXPECT_EQ(store_.writeKey("A", "k", "short"), -1);
  // The image has the edit; the disk has at least as many bytes as before.
  EXPECT_EQ(store_.image(), "[A]\r\nk=short\r\nnext=1\r\n[B]\r\nz=2");
  EXPECT_GE(disk().size(), before.size());
  EXPECT_EQ(disk().substr(0, 7), "[A]\r\nk=");
  store_.setFileOps(FileOps::system());
  // The next write brings the whole file back in line, the failed bytes too.
  EXPECT_EQ(store_.writeKey("B", "z", "3"), 0);
  expectDiskIs("[A]\r\nk=short\r\nnext=1\r\n[B]\r\nz=3");

  // A failing cut leaves stale bytes at the end until a later write cuts them.
  FileOps noTruncate = FileOps::system();
  noTruncate.truncate = [](int, off_t) {
    errno = EIO;
    return -1;
  };
  store_.setFileOps(noTruncate);
  EXPECT_EQ(store_.writeKey("A", "k", "s"), -1);
  EXPECT_GT(disk().size(), store_.image().size());
  store_.setFileOps(FileOps::system());
  EXPECT_EQ(store_.writeKey("A", "k", "t"), 0);
  expectDiskIs("[A]\r\nk=t\r\nnext=1\r\n[B]\r\nz=3");
}

TEST_F(SettingsStoreTest, ReopeningStartsFromTheNewFile) {
  openWith("[A]\r\nk=1");
  EXPECT_EQ(store_.readKey("A", "k", "-"), "1");
  const Text other = folder_.file("other.ini");
  ASSERT_TRUE(writeWholeFile(other, "[A]\r\nj=2\r\nk=3"));
  EXPECT_TRUE(store_.openSettingsFile(other));
  // The cached header of the old image must not be used.
  EXPECT_EQ(store_.readKey("A", "k", "-"), "3");
  EXPECT_EQ(store_.writeKey("A", "k", "4"), 0);
  EXPECT_EQ(ScratchFolder::contents(other), "[A]\r\nj=2\r\nk=4");
  EXPECT_EQ(disk(), "[A]\r\nk=1");
}

TEST(SettingsFilePath, SideFilesLieInInibinBesideTheSettingsFile) {
  SettingsStore store;
  store.useSection(g("主界面"));
  EXPECT_FALSE(store.openSettingsFile(g("/no-such-qarvo-folder/设置/Qarvo·Dorvane.ini")));
  EXPECT_EQ(store.sideFilePath("k"), g("/no-such-qarvo-folder/设置/inibin/主界面-k.ibn"));
  EXPECT_FALSE(store.openSettingsFile("no-such-qarvo-folder/q.ini"));
  EXPECT_EQ(store.sideFilePath("k"), g("no-such-qarvo-folder/inibin/主界面-k.ibn"));
}

TEST(SettingsFilePath, IsFolderNameAndIni) {
  EXPECT_EQ(settingsFilePath("/opt/q", g("Qarvo·Dorvane")), g("/opt/q/Qarvo·Dorvane.ini"));
  EXPECT_EQ(g("Qarvo·Dorvane"),
            "Qarvo\xA1\xA4"
            "Dorvane");
}

// Regression tests from fuzzing.

TEST_F(SettingsStoreTest, FuzzRegressionLineBreakAfterAStrayLeadByteStaysInTheValue) {
  openWith("");
  store_.useSection("a");
  // 0xDC has no trail byte here: the CR LF after it is still a line break of
  // the value and must not start a line "[\xD2" in the file.
  EXPECT_TRUE(store_.writeText("a", "\xB1\xDC\xDC\r\n[\xD2"));
  const Text marker = g("┊*┊");
  expectDiskIs("[a]\r\na=\xB1\xDC\xDC" + marker + "[\xD2");
  EXPECT_TRUE(store_.writeText("b", "1"));
  expectDiskIs("[a]\r\na=\xB1\xDC\xDC" + marker + "[\xD2\r\nb=1");
  EXPECT_EQ(store_.readText("b", "-"), "1");
}

}  // namespace
}  // namespace qarvo
