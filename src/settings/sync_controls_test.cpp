#include "settings/sync_controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"
#include "settings/scratch_folder.h"
#include "settings/settings_store.h"

namespace qarvo {
namespace {

Text g(const std::string& utf8) {
  return utf8ToGbk(utf8);
}

struct FakeControl {
  std::string name{};
  ControlKind kind = ControlKind::kOther;
  Text tag{};
  Text content{};
  bool checked = false;
  std::vector<Text> items{};
  int selected = -1;
  std::vector<bool> checks{};
  std::uint32_t color = 0;
  std::vector<TreeItem> tree{};
};

class FakeWindow : public ControlList {
 public:
  std::vector<FakeControl> controls;

  FakeControl& operator[](const std::string& name) {
    for (FakeControl& c : controls) {
      if (c.name == name)
        return c;
    }
    ADD_FAILURE() << "no control " << name;
    return controls.front();
  }

  int controlCount() const override { return static_cast<int>(controls.size()); }
  std::string name(int i) const override { return controls[i].name; }
  ControlKind kind(int i) const override { return controls[i].kind; }
  Text tag(int i) const override { return controls[i].tag; }
  void setTag(int i, const Text& tag) override { controls[i].tag = tag; }
  Text content(int i) const override { return controls[i].content; }
  void setContent(int i, const Text& content) override { controls[i].content = content; }
  bool checked(int i) const override { return controls[i].checked; }
  void setChecked(int i, bool checked) override { controls[i].checked = checked; }
  std::vector<Text> items(int i) const override { return controls[i].items; }
  void setItems(int i, const std::vector<Text>& items) override { controls[i].items = items; }
  int selectedIndex(int i) const override { return controls[i].selected; }
  void setSelectedIndex(int i, int selected) override { controls[i].selected = selected; }
  std::vector<bool> itemChecks(int i) const override { return controls[i].checks; }
  void setItemChecks(int i, const std::vector<bool>& checks) override {
    controls[i].checks = checks;
  }
  std::uint32_t color(int i) const override { return controls[i].color; }
  void setColor(int i, std::uint32_t color) override { controls[i].color = color; }
  std::vector<TreeItem> treeItems(int i) const override { return controls[i].tree; }
  void setTreeItems(int i, const std::vector<TreeItem>& items) override {
    controls[i].tree = items;
  }
};

// The main window as designed: every control, the stored ones among labels,
// pictures, the timer, the list and the browser.
FakeWindow mainWindow() {
  FakeWindow w;
  auto add = [&w](const std::string& name, ControlKind kind) -> FakeControl& {
    w.controls.push_back(FakeControl{.name = name, .kind = kind});
    return w.controls.back();
  };
  add("图片框3", ControlKind::kOther);
  add("标签3", ControlKind::kOther);
  add("编辑框间隔秒", ControlKind::kEditBox).content = "0";
  add("标签2", ControlKind::kOther).content = g("每页间隔秒数：");
  add("编辑框最多查询页数", ControlKind::kEditBox).content = "50";
  add("标签1", ControlKind::kOther);
  add("单选框站长", ControlKind::kRadioButton).content = "chinaz.com";
  add("单选框爱站", ControlKind::kRadioButton).checked = true;
  add("按钮输入", ControlKind::kButton);
  add("按钮自动保存路径", ControlKind::kButton);
  add("选择框查询时自动保存", ControlKind::kCheckBox).checked = true;
  add("按钮保存查询结果", ControlKind::kButton);
  add("按钮开始查询", ControlKind::kButton).content = g("开始查询");
  add("超级列表框", ControlKind::kOther);
  add("图片Qarvo软件", ControlKind::kOther);
  add("链接软件主页", ControlKind::kOther);
  add("时钟官网", ControlKind::kOther);
  add("浏览器", ControlKind::kOther);
  return w;
}

const Text kFreshFile =
    g("[主界面]\r\n"
      "编辑框间隔秒=0\r\n"
      "编辑框最多查询页数=50\r\n"
      "单选框站长=假\r\n"
      "单选框爱站=真\r\n"
      "按钮输入.标记=\r\n"
      "按钮自动保存路径.标记=\r\n"
      "选择框查询时自动保存=真\r\n"
      "按钮保存查询结果.标记=\r\n"
      "按钮开始查询.标记=");

class SyncControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    path_ = folder_.file("Qarvo·Dorvane.ini");
  }
  // A new run of the program: the store opens the file again.
  void startRun() { ASSERT_TRUE(store_.openSettingsFile(path_)); }
  std::string disk() const { return ScratchFolder::contents(path_); }
  void save(FakeWindow& w) { syncControls(w, store_, false, g("主界面")); }
  void restore(FakeWindow& w) { syncControls(w, store_, true, g("主界面")); }

  ScratchFolder folder_;
  Text path_;
  SettingsStore store_;
};

TEST_F(SyncControlsTest, FirstSaveWritesTheNineKeysInControlOrder) {
  startRun();
  FakeWindow w = mainWindow();
  restore(w);  // nothing stored yet: the design-time values stay
  EXPECT_EQ(w["编辑框最多查询页数"].content, "50");
  EXPECT_EQ(w["编辑框间隔秒"].content, "0");
  EXPECT_TRUE(w["单选框爱站"].checked);
  EXPECT_FALSE(w["单选框站长"].checked);
  EXPECT_TRUE(w["选择框查询时自动保存"].checked);
  EXPECT_EQ(disk(), "");
  save(w);
  EXPECT_EQ(disk(), kFreshFile);
  EXPECT_EQ(store_.image(), kFreshFile);
}

TEST_F(SyncControlsTest, LaterSavesRewriteValuesInPlaceAndRestoreThem) {
  startRun();
  FakeWindow w = mainWindow();
  save(w);
  w["编辑框间隔秒"].content = "1.5";
  w["单选框站长"].checked = true;
  w["单选框爱站"].checked = false;
  w["按钮输入"].tag = "a@b.com\r\nc@d.com";
  w["按钮自动保存路径"].tag = g("/home/u/结果");
  w["选择框查询时自动保存"].checked = false;
  save(w);
  const Text expected =
      g("[主界面]\r\n"
        "编辑框间隔秒=1.5\r\n"
        "编辑框最多查询页数=50\r\n"
        "单选框站长=真\r\n"
        "单选框爱站=假\r\n"
        "按钮输入.标记=a@b.com┊*┊c@d.com\r\n"
        "按钮自动保存路径.标记=/home/u/结果\r\n"
        "选择框查询时自动保存=假\r\n"
        "按钮保存查询结果.标记=\r\n"
        "按钮开始查询.标记=");
  EXPECT_EQ(disk(), expected);

  // Next start: the design-time window takes the stored states.
  startRun();
  FakeWindow next = mainWindow();
  restore(next);
  EXPECT_EQ(next["编辑框间隔秒"].content, "1.5");
  EXPECT_EQ(next["编辑框最多查询页数"].content, "50");
  EXPECT_TRUE(next["单选框站长"].checked);
  EXPECT_FALSE(next["单选框爱站"].checked);
  EXPECT_EQ(next["按钮输入"].tag, "a@b.com\r\nc@d.com");
  EXPECT_EQ(next["按钮自动保存路径"].tag, g("/home/u/结果"));
  EXPECT_FALSE(next["选择框查询时自动保存"].checked);
  // Saving the unchanged window changes nothing on disk.
  save(next);
  EXPECT_EQ(disk(), expected);
}

TEST_F(SyncControlsTest, HandEditedFileKeepsItsKeyOrderAndMissingKeysStayAsTheyAre) {
  // Keys in another order, other sections around, some keys missing, odd values.
  ASSERT_TRUE(writeWholeFile(path_, g("[其他]\r\n单选框爱站=真\r\n"
                                      "[主界面]\r\n"
                                      "单选框爱站=假\r\n"
                                      "单选框站长=真\r\n"
                                      "编辑框间隔秒=\r\n"
                                      "选择框查询时自动保存=1\r\n"
                                      "[后面]\r\nx=y")));
  startRun();
  FakeWindow w = mainWindow();
  w["按钮输入"].tag = "kept@x.com";
  restore(w);
  EXPECT_FALSE(w["单选框爱站"].checked);
  EXPECT_TRUE(w["单选框站长"].checked);
  EXPECT_EQ(w["编辑框间隔秒"].content, "");          // empty value, not the default
  EXPECT_FALSE(w["选择框查询时自动保存"].checked);   // anything but 真 is false
  EXPECT_EQ(w["编辑框最多查询页数"].content, "50");  // missing: unchanged
  EXPECT_EQ(w["按钮输入"].tag, "kept@x.com");

  w["编辑框间隔秒"].content = "2";
  save(w);
  EXPECT_EQ(disk(), g("[其他]\r\n单选框爱站=真\r\n"
                      "[主界面]\r\n"
                      "单选框爱站=假\r\n"
                      "单选框站长=真\r\n"
                      "编辑框间隔秒=2\r\n"
                      "选择框查询时自动保存=假\r\n"
                      "编辑框最多查询页数=50\r\n"
                      "按钮输入.标记=kept@x.com\r\n"
                      "按钮自动保存路径.标记=\r\n"
                      "按钮保存查询结果.标记=\r\n"
                      "按钮开始查询.标记=\r\n"
                      "[后面]\r\nx=y"));
}

TEST_F(SyncControlsTest, NoSaveTagSkipsTheControlBothWays) {
  startRun();
  FakeWindow w = mainWindow();
  w["按钮输入"].tag = "old@list.com";
  save(w);
  // An address list that is exactly the word is the tag word itself.
  w["按钮输入"].tag = g("禁止保存");
  w["编辑框间隔秒"].tag = g("禁止保存");
  w["编辑框间隔秒"].content = "9";
  save(w);
  EXPECT_EQ(store_.readText(g("按钮输入.标记"), "-"), "old@list.com");
  EXPECT_EQ(store_.readText(g("编辑框间隔秒"), "-"), "0");
  restore(w);
  EXPECT_EQ(w["按钮输入"].tag, g("禁止保存"));
  EXPECT_EQ(w["编辑框间隔秒"].content, "9");
  // A tag that only contains the word is no tag word.
  w["按钮输入"].tag = g("禁止保存 ");
  save(w);
  EXPECT_EQ(store_.readText(g("按钮输入.标记"), "-"), g("禁止保存 "));
}

TEST_F(SyncControlsTest, ByteModeKeepsRawBytesInASideFileOnly) {
  startRun();
  FakeWindow w = mainWindow();
  w["编辑框间隔秒"].tag = g("字节集方式");
  w["编辑框间隔秒"].content = g("一\r\n二┊*┊");
  save(w);
  std::string side;
  ASSERT_TRUE(readWholeFile(folder_.file("inibin/主界面-编辑框间隔秒.ibn"), &side));
  EXPECT_EQ(side, g("一\r\n二┊*┊"));  // no marker substitution, no terminator
  EXPECT_EQ(store_.readText(g("编辑框间隔秒"), "missing"), "missing");
  EXPECT_EQ(disk().find(g("编辑框间隔秒")), std::string::npos);

  FakeWindow next = mainWindow();
  next["编辑框间隔秒"].tag = g("字节集方式");
  restore(next);
  EXPECT_EQ(next["编辑框间隔秒"].content, g("一\r\n二┊*┊"));

  // A button in byte mode stores its tag, which is the tag word.
  w["按钮开始查询"].tag = g("字节集方式");
  save(w);
  ASSERT_TRUE(readWholeFile(folder_.file("inibin/主界面-按钮开始查询.标记.ibn"), &side));
  EXPECT_EQ(side, g("字节集方式"));

  // Missing or empty side file: the control keeps its value.
  ASSERT_TRUE(writeWholeFile(folder_.file("inibin/主界面-编辑框间隔秒.ibn"), ""));
  next["编辑框间隔秒"].content = "current";
  FakeControl& pages = next["编辑框最多查询页数"];
  pages.tag = g("字节集方式");
  pages.content = "77";
  restore(next);
  EXPECT_EQ(next["编辑框间隔秒"].content, "current");
  EXPECT_EQ(pages.content, "77");
}

TEST_F(SyncControlsTest, OnlyNamesWithATypeWordOfTheirOwnClassAreStored) {
  startRun();
  FakeWindow w;
  w.controls = {
      {.name = "", .kind = ControlKind::kEditBox, .content = "no name"},
      {.name = "编辑框像按钮", .kind = ControlKind::kButton, .tag = "wrong class"},
      {.name = "文本框", .kind = ControlKind::kEditBox, .content = "unknown word"},
      {.name = "按", .kind = ControlKind::kButton, .tag = "too short"},
      {.name = "选择框甲", .kind = ControlKind::kCheckBox, .checked = true},
      {.name = "按钮", .kind = ControlKind::kButton, .tag = "bare word"},
  };
  syncControls(w, store_, false, "S");
  EXPECT_EQ(disk(), g("[S]\r\n选择框甲=真\r\n按钮.标记=bare word"));
  // An empty section name keeps the current one.
  w.controls[4].checked = false;
  syncControls(w, store_, false, "");
  EXPECT_EQ(disk(), g("[S]\r\n选择框甲=假\r\n按钮.标记=bare word"));
}

int pumpsSeen = 0;
void countPump() {
  ++pumpsSeen;
}

TEST_F(SyncControlsTest, TheWalkKeepsTheWindowResponsive) {
  startRun();
  FakeWindow w = mainWindow();
  pumpsSeen = 0;
  setEventPump(countPump);
  restore(w);
  setEventPump(nullptr);
  // At least once per control, stored or not.
  EXPECT_GE(pumpsSeen, static_cast<int>(w.controls.size()));
}

TEST_F(SyncControlsTest, FurtherControlKindsRoundTrip) {
  startRun();
  FakeWindow w;
  w.controls = {
      {.name = "组合框服务",
       .kind = ControlKind::kComboBox,
       .content = g("编辑中"),
       .items = {"a", "", g("乙")},
       .selected = 2},
      {.name = "列表框地址", .kind = ControlKind::kListBox, .items = {"x", "y"}, .selected = 1},
      {.name = "选择列表框选项",
       .kind = ControlKind::kCheckListBox,
       .items = {"p", g("真心")},
       .checks = {true, false}},
      {.name = "颜色选择器背景", .kind = ControlKind::kColorPicker, .color = 0xFF8040},
      {.name = "通用对话框打开", .kind = ControlKind::kCommonDialog, .content = g("/tmp/文件.txt")},
      {.name = "树型框目录",
       .kind = ControlKind::kTreeView,
       .tree = {{0, "root"}, {1, g("子")}, {2, ""}, {0, "next"}}},
  };
  syncControls(w, store_, false, "S");
  EXPECT_EQ(disk(), g("[S]\r\n"
                      "组合框服务.项目=a┊*┊┊*┊乙┊*┊\r\n"
                      "组合框服务=2\r\n"
                      "组合框服务.内容=编辑中\r\n"
                      "列表框地址=1┊*┊x┊*┊y┊*┊\r\n"
                      "选择列表框选项=真p┊*┊假真心┊*┊\r\n"
                      "颜色选择器背景=16744512\r\n"
                      "通用对话框打开=/tmp/文件.txt"));
  std::string side;
  ASSERT_TRUE(readWholeFile(folder_.file("inibin/S-树型框目录.列表.ibn"), &side));
  EXPECT_EQ(side, g("root\r\n\t子\r\n\t\t\r\nnext\r\n"));

  FakeWindow fresh = w;
  for (FakeControl& c : fresh.controls) {
    c = FakeControl{.name = c.name, .kind = c.kind};
  }
  syncControls(fresh, store_, true, "S");
  for (std::size_t i = 0; i < w.controls.size(); ++i) {
    SCOPED_TRACE(w.controls[i].name);
    EXPECT_EQ(fresh.controls[i].content, w.controls[i].content);
    EXPECT_EQ(fresh.controls[i].items, w.controls[i].items);
    EXPECT_EQ(fresh.controls[i].selected, w.controls[i].selected);
    EXPECT_EQ(fresh.controls[i].checks, w.controls[i].checks);
    EXPECT_EQ(fresh.controls[i].color, w.controls[i].color);
    EXPECT_EQ(fresh.controls[i].tree, w.controls[i].tree);
  }
}

TEST(ControlTextForms, EmptyItemsSurviveAndHandEditsAreReadLeniently) {
  EXPECT_TRUE(parseItemList("").empty());
  EXPECT_EQ(parseItemList("\r\n"), std::vector<Text>{""});
  EXPECT_EQ(parseItemList("a\r\nb"), (std::vector<Text>{"a", "b"}));  // last CR LF lost by hand

  int selected = 99;
  std::vector<Text> items{"stale"};
  parseListBoxText("3", &selected, &items);
  EXPECT_EQ(selected, 3);
  EXPECT_TRUE(items.empty());
  parseListBoxText("junk\r\nq\r\n", &selected, &items);
  EXPECT_EQ(selected, 0);
  EXPECT_EQ(items, std::vector<Text>{"q"});
  parseListBoxText("-1\r\n\r\n", &selected, &items);
  EXPECT_EQ(selected, -1);
  EXPECT_EQ(items, std::vector<Text>{""});

  std::vector<bool> checks;
  parseCheckListText(g("真a\r\nplain\r\n假\r\n"), &items, &checks);
  EXPECT_EQ(items, (std::vector<Text>{"a", "plain", ""}));
  EXPECT_EQ(checks, (std::vector<bool>{true, false, false}));
  // More items than check marks: the rest are unchecked.
  EXPECT_EQ(checkListText({"a", "b"}, {true}), g("真a\r\n假b\r\n"));

  EXPECT_EQ(treeItemsText({{-3, "neg"}}), "neg\r\n");
  EXPECT_EQ(parseTreeItemsText("\t\t"), (std::vector<TreeItem>{{2, ""}}));
}

}  // namespace
}  // namespace qarvo
