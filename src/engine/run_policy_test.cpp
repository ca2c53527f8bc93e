// What the user may do while the engine is busy: each case is a click that
// arrives from an event pumped inside a run, a sort or a save.

#include "engine/run_policy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "engine/engine_test_support.h"
#include "engine/lookup_engine.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "testing/fake_main_window_view.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using ::testing::ElementsAre;
using testing::FakeServices;
using testing::FakeSite;

class RunPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    setProgramDirectory(program.gbkPath());
    engine = std::make_unique<LookupEngine>(view, fakes.endpoints());
    engine->setWaitHook([](int) { processPendingEvents(); });
    engine->setProgressListener([this](const LookupProgress& p) {
      if (p.stage == LookupProgress::Stage::kNotice)
        notices.push_back(p.notice);
      if (p.stage == LookupProgress::Stage::kRunEnded)
        endedFolder = p.folder;
    });
    view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
  }
  void TearDown() override { setProgramDirectory(""); }

  TempDir program;
  TempDir out;
  FakeServices fakes;
  FakeMainWindowView view;
  std::unique_ptr<LookupEngine> engine;
  std::vector<Text> notices;
  Text endedFolder = "unset";
};

TEST_F(RunPolicyTest, ARightClickOnTheRowTheRunIsWorkingOnLosesNothing) {
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"a1.com", "a2.com"}, .perPage = 1});
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.domains = {"b.com"}});
  view.setTag(control::kInputButton, "a@x.com\r\nb@x.com");
  bool clicked = false;
  ScopedEventPump pump([&] {
    // In the pause after the run's first page of a@, the user right-clicks a@.
    if (!clicked && view.rowCount() == 1 && view.cellText(0, 1) == "a1.com") {
      clicked = true;
      EXPECT_EQ(engine->queryAddress(0).outcome, LookupOutcome::kFound);
    }
  });
  engine->runQueries();
  ASSERT_TRUE(clicked);
  EXPECT_THAT(view.columnTexts(1), ElementsAre("a1.com\r\na2.com", "b.com"));
  // The run's own look-up of a@ still counted and was saved.
  EXPECT_EQ(fileBytes(out.gbkPath("a@x.com.txt")), "a1.com\r\na2.com");
  EXPECT_EQ(view.messageBoxes.back().text, gbk("查询完成！"));
}

TEST_F(RunPolicyTest, StartDuringASortIsRefusedAndTheSortKeepsTheNewRows) {
  view.setRows({{"b@x.com", "b.com"}, {"a@x.com", "a.com"}});
  view.setTag(control::kInputButton, "c@x.com");
  bool clicked = false;
  ScopedEventPump pump([&] {
    if (!clicked) {
      clicked = true;
      engine->runQueries();
    }
  });
  EXPECT_TRUE(engine->onResultHeaderClick(0));
  ASSERT_TRUE(clicked);
  EXPECT_THAT(view.columnTexts(0), ElementsAre("a@x.com", "b@x.com"));
  EXPECT_TRUE(view.messageBoxes.empty());  // no "查询完成！" for a run that never ran
  EXPECT_TRUE(fakes.requests().empty());
  EXPECT_THAT(notices, ElementsAre(gbk("正在排序，请稍候再试")));
}

TEST_F(RunPolicyTest, ASortDuringASaveIsRefusedSoEveryRowIsSavedOnce) {
  view.setRows({{"b@x.com", "b.com"}, {"a@x.com", "a.com"}, {"c@x.com", "c.com"}});
  view.folderAnswer = out.gbkPath();
  int sortsAccepted = 0;
  ScopedEventPump pump([&] { sortsAccepted += engine->onResultHeaderClick(1); });
  engine->saveResults();
  EXPECT_EQ(sortsAccepted, 0);
  for (const char* name : {"a", "b", "c"})
    EXPECT_EQ(fileBytes(out.gbkPath(std::string(name) + "@x.com.txt")), std::string(name) + ".com");
  EXPECT_EQ(view.messageBoxes.back().text, gbk("保存OK！"));
  EXPECT_FALSE(notices.empty());
}

TEST_F(RunPolicyTest, TheRunsEndNamesAFolderOnlyWhenSomethingWasWrittenThere) {
  fakes.setAddress(FakeSite::kAizhan, "down@x.com",
                   {.domains = {"d.com"}, .emptyAnswers = {{1, 99}}});
  view.setTag(control::kInputButton, "down@x.com");
  engine->runQueries();
  EXPECT_EQ(endedFolder, "");
  fakes.setAddress(FakeSite::kAizhan, "up@x.com", {.domains = {"u.com"}});
  view.setTag(control::kInputButton, "up@x.com");
  engine->runQueries();
  EXPECT_EQ(endedFolder, out.gbkPath());
}

}  // namespace
}  // namespace qarvo
