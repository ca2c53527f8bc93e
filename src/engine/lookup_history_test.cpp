// The look-up history: what goes in comes back, the queries a front end asks
// before and after a look-up, two programs on one file, and files the
// history must not use as they are.
#include "engine/lookup_history.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "platform/code_page.h"
#include "platform/native_file.h"

namespace qarvo {
namespace {

using Clock = std::chrono::system_clock;
using std::chrono::hours;
using std::chrono::minutes;
using std::chrono::seconds;

// A fixed "now", so that ages never depend on when or how slowly tests run.
const Clock::time_point kNow = Clock::time_point(seconds(1714564800));
constexpr hours kDay(24);

HistoryEntry entry(const std::string& utf8Address, Service service, LookupOutcome outcome,
                   const std::string& utf8Domains, Clock::time_point time, int pageLimit = 1,
                   int pagesRead = 1, int pagesAnnounced = 0,
                   FailureReason reason = FailureReason::kNone) {
  HistoryEntry made;
  made.address = utf8ToGbk(utf8Address);
  made.service = service;
  made.outcome = outcome;
  made.reason = reason;
  made.domains = utf8ToGbk(utf8Domains);
  made.time = time;
  made.pageLimit = pageLimit;
  made.pagesRead = pagesRead;
  made.pagesAnnounced = pagesAnnounced;
  return made;
}

std::vector<std::string> utf8(const std::vector<Text>& texts) {
  std::vector<std::string> converted;
  for (const Text& text : texts)
    converted.push_back(gbkToUtf8(text));
  return converted;
}

// Runs SQL on the file through a connection of its own, as another program would.
bool runSql(const std::string& utf8Path, const char* sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(utf8Path.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

class LookupHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string problem = "unset";
    ASSERT_TRUE(history_.open(path_, &problem)) << problem;
    EXPECT_EQ(problem, "");
  }

  void record(const std::vector<HistoryEntry>& entries) {
    for (const HistoryEntry& e : entries)
      ASSERT_TRUE(history_.record(e)) << history_.lastProblem();
  }

  TempDir dir_;
  Text path_ = dir_.gbkPath("data/history.sqlite3");  // its folder is made by open()
  std::string nativePath_ = dir_.utf8Path() + "/data/history.sqlite3";
  LookupHistory history_;
};

TEST_F(LookupHistoryTest, EveryOutcomeComesBackAsRecordedAfterReopening) {
  const std::vector<HistoryEntry> recorded = {
      entry("张三@例子.cn", Service::kAizhan, LookupOutcome::kFound, "a.com\r\n中文.com\r\nb.net",
            kNow - hours(5), 3, 2, 2),
      entry("张三@例子.cn", Service::kChinaz, LookupOutcome::kNone, "", kNow - hours(4), 10, 0, 0),
      entry("张三@例子.cn", Service::kAizhan, LookupOutcome::kFailed, "", kNow - hours(3), 5, 0, 0,
            FailureReason::kTimeout),
      entry("张三@例子.cn", Service::kChinaz, LookupOutcome::kIncomplete, "c.com\r\nd.com",
            kNow - hours(2), 20, 2, 7, FailureReason::kUnrecognised),
      entry("张三@例子.cn", Service::kAizhan, LookupOutcome::kStopped, "e.com",
            kNow - hours(1) + std::chrono::milliseconds(250), 4, 1, 4, FailureReason::kStopped),
      entry("other@example.com", Service::kAizhan, LookupOutcome::kFound, "f.com", kNow),
  };
  record(recorded);
  history_.close();
  std::string problem;
  ASSERT_TRUE(history_.open(path_, &problem)) << problem;

  // One address, newest first; the letters of an address fold, its
  // Chinese characters compare as they are.
  for (const char* asked : {"张三@例子.cn", "张三@例子.CN"}) {
    const std::vector<HistoryEntry> read = history_.lookups(utf8ToGbk(asked));
    ASSERT_EQ(read.size(), 5u) << asked;
    for (size_t n = 0; n < read.size(); ++n) {
      const HistoryEntry& want = recorded[4 - n];
      const HistoryEntry& got = read[n];
      SCOPED_TRACE(outcomeName(want.outcome));
      EXPECT_EQ(got.address, want.address);
      EXPECT_EQ(got.service, want.service);
      EXPECT_EQ(got.pageLimit, want.pageLimit);
      EXPECT_EQ(got.pagesRead, want.pagesRead);
      EXPECT_EQ(got.pagesAnnounced, want.pagesAnnounced);
      EXPECT_EQ(got.outcome, want.outcome);
      EXPECT_EQ(got.reason, want.reason);
      EXPECT_EQ(gbkToUtf8(got.domains), gbkToUtf8(want.domains));
      EXPECT_EQ(got.time, want.time);
      EXPECT_GT(got.id, 0);
    }
  }
  EXPECT_TRUE(history_.lookups(utf8ToGbk("张三@例子")).empty());
  const std::vector<HistoryEntry> all = history_.lookups(Text());
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all.front().address, "other@example.com");
}

TEST_F(LookupHistoryTest, AResultOfTheEngineGoesInAndAnswersAsRecalled) {
  LookupResult result;
  result.outcome = LookupOutcome::kFound;
  result.domains = utf8ToGbk("a.com\r\n中文.com");
  result.pages = 2;
  result.announcedPages = 2;
  record({historyEntryOf("x@y.com", Service::kChinaz, 5, result, kNow)});
  const std::optional<HistoryEntry> last = history_.lastCompleted(Service::kChinaz, "x@y.com", 5);
  ASSERT_TRUE(last);
  const LookupResult recalled = recalledResult(*last);
  EXPECT_TRUE(recalled.recalled);
  EXPECT_EQ(recalled.outcome, LookupOutcome::kFound);
  EXPECT_EQ(recalled.domains, result.domains);
  EXPECT_EQ(recalled.pages, 2);
  EXPECT_EQ(recalled.announcedPages, 2);
  EXPECT_EQ(recalled.failedPage, 0);
}

TEST_F(LookupHistoryTest, LastCompletedHonoursServicePageLimitAndAge) {
  record({
      entry("a@x.com", Service::kAizhan, LookupOutcome::kFound, "five.com", kNow - 10 * kDay, 5, 5,
            9),
      entry("a@x.com", Service::kAizhan, LookupOutcome::kFound, "one.com", kNow - hours(1), 1, 1,
            9),
      entry("a@x.com", Service::kAizhan, LookupOutcome::kIncomplete, "part.com", kNow - minutes(30),
            10, 2, 9, FailureReason::kConnection),
      entry("a@x.com", Service::kAizhan, LookupOutcome::kFailed, "", kNow - minutes(1), 20, 0, 0,
            FailureReason::kRateLimited),
      // Read every page the service had, so it answers any page limit.
      entry("a@x.com", Service::kChinaz, LookupOutcome::kFound, "all.com", kNow - 2 * kDay, 10, 2,
            2),
      entry("b@x.com", Service::kAizhan, LookupOutcome::kNone, "", kNow - kDay, 1, 0, 0),
      entry("c@x.com", Service::kAizhan, LookupOutcome::kFound, "solo.com", kNow - kDay, 1, 1, 0),
  });
  struct Case {
    Service service;
    const char* address;
    int pageLimit;
    std::optional<seconds> maxAge;
    const char* expected;  // its domains; nullptr: no answer
  };
  const Case cases[] = {
      {Service::kAizhan, "a@x.com", 1, {}, "one.com"},
      {Service::kAizhan, "A@X.Com", 1, {}, "one.com"},
      {Service::kAizhan, "a@x.com", 5, {}, "five.com"},
      {Service::kAizhan, "a@x.com", 6, {}, nullptr},
      {Service::kAizhan, "a@x.com", 5, 7 * kDay, nullptr},
      {Service::kAizhan, "a@x.com", 5, 11 * kDay, "five.com"},
      {Service::kAizhan, "a@x.com", 1, minutes(60), nullptr},  // exactly an hour old
      {Service::kAizhan, "a@x.com", 1, minutes(61), "one.com"},
      {Service::kAizhan, "a@x.com", 1, seconds::max(), "one.com"},
      {Service::kChinaz, "a@x.com", 50, {}, "all.com"},
      {Service::kChinaz, "a@x.com", 1, kDay, nullptr},
      {Service::kChinaz, "b@x.com", 1, {}, nullptr},
      {Service::kAizhan, "b@x.com", 100, {}, ""},         // nothing there, whatever the pages
      {Service::kAizhan, "c@x.com", 30, {}, "solo.com"},  // no pager: one page was all
      {Service::kAizhan, "d@x.com", 1, {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(serviceKey(c.service)) + " " + c.address + " " +
                 std::to_string(c.pageLimit) + " pages, age " +
                 (c.maxAge ? std::to_string(c.maxAge->count()) : "any"));
    const std::optional<HistoryEntry> found =
        history_.lastCompleted(c.service, c.address, c.pageLimit, c.maxAge, kNow);
    if (c.expected == nullptr) {
      EXPECT_FALSE(found) << found->domains;
    } else {
      ASSERT_TRUE(found);
      EXPECT_TRUE(found->completed());
      EXPECT_EQ(found->domains, c.expected);
    }
  }
}

TEST_F(LookupHistoryTest, ChangeSinceLastComparesWithThePreviousCompletedLookUp) {
  record({
      entry("a@x.com", Service::kAizhan, LookupOutcome::kFound, "old.com", kNow - 3 * kDay),
      entry("a@x.com", Service::kAizhan, LookupOutcome::kFound, "a.com\r\nb.com\r\nc.com",
            kNow - 2 * kDay),
      // Neither a look-up that did not complete nor another service counts.
      entry("a@x.com", Service::kAizhan, LookupOutcome::kIncomplete, "x.com", kNow - kDay, 5, 1, 5,
            FailureReason::kTimeout),
      entry("a@x.com", Service::kChinaz, LookupOutcome::kFound, "z.com", kNow - hours(1)),
      entry("n@x.com", Service::kAizhan, LookupOutcome::kNone, "", kNow - kDay, 1, 0, 0),
  });
  struct Case {
    Service service;
    const char* address;
    const char* domains;
    std::vector<std::string> added, gone;
    std::optional<Clock::time_point> since;
  };
  const Case cases[] = {
      {Service::kAizhan,
       "A@x.com",
       "B.com\r\nc.com\r\nd.com\r\nd.com\r\n中文.com",
       {"d.com", "中文.com"},
       {"a.com"},
       kNow - 2 * kDay},
      {Service::kAizhan, "a@x.com", "a.com\r\nb.com\r\nc.com", {}, {}, kNow - 2 * kDay},
      {Service::kAizhan, "a@x.com", "", {}, {"a.com", "b.com", "c.com"}, kNow - 2 * kDay},
      {Service::kChinaz, "a@x.com", "z.com\r\ny.com", {"y.com"}, {}, kNow - hours(1)},
      {Service::kAizhan, "n@x.com", "new.com", {"new.com"}, {}, kNow - kDay},
      {Service::kAizhan, "first@x.com", "p.com\r\np.com", {"p.com"}, {}, std::nullopt},
      {Service::kAizhan, "first@x.com", "", {}, {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(serviceKey(c.service)) + " " + c.address + " [" + c.domains + "]");
    const LookupHistory::Change change =
        history_.changeSinceLast(c.service, c.address, utf8ToGbk(c.domains));
    EXPECT_EQ(utf8(change.added), c.added);
    EXPECT_EQ(utf8(change.gone), c.gone);
    EXPECT_EQ(change.since, c.since);
  }
}

TEST_F(LookupHistoryTest, DomainsSeenGivesTheFirstAndLastCompletedLookUpOfEach) {
  const Clock::time_point t1 = kNow - 4 * kDay, t2 = kNow - 3 * kDay, t3 = kNow - 2 * kDay,
                          t4 = kNow - kDay;
  record({
      entry("a@x.com", Service::kAizhan, LookupOutcome::kFound, "a.com\r\nb.com", t1),
      entry("a@x.com", Service::kAizhan, LookupOutcome::kFound, "c.com\r\nb.com", t2),
      entry("a@x.com", Service::kAizhan, LookupOutcome::kStopped, "d.com\r\na.com", t3, 5, 1, 5,
            FailureReason::kStopped),
      entry("A@x.com", Service::kAizhan, LookupOutcome::kFound, "B.COM", t4),
      entry("a@x.com", Service::kChinaz, LookupOutcome::kFound, "e.com", t4),
  });
  const std::vector<LookupHistory::DomainSeen> seen =
      history_.domainsSeen(Service::kAizhan, "a@X.com");
  struct Want {
    const char* domain;
    Clock::time_point first, last;
  };
  const Want wanted[] = {{"a.com", t1, t1}, {"B.COM", t1, t4}, {"c.com", t2, t2}};
  ASSERT_EQ(seen.size(), std::size(wanted));
  for (size_t n = 0; n < seen.size(); ++n) {
    SCOPED_TRACE(wanted[n].domain);
    EXPECT_EQ(seen[n].domain, wanted[n].domain);
    EXPECT_EQ(seen[n].first, wanted[n].first);
    EXPECT_EQ(seen[n].last, wanted[n].last);
  }
  EXPECT_TRUE(history_.domainsSeen(Service::kChinaz, "nobody@x.com").empty());
}

// The window and qarvo-lookup are two processes: one writes from a child
// while this one writes too, each through a history of its own.
TEST_F(LookupHistoryTest, TwoProgramsWriteAtOnce) {
  constexpr int kEach = 150;
  history_.close();  // no connection may cross the fork
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(go[1]);
    LookupHistory mine;
    std::string problem;
    char start = 0;
    bool ok = mine.open(path_, &problem) && read(go[0], &start, 1) == 1;
    for (int n = 0; ok && n < kEach; ++n)
      ok = mine.record(entry("child@x.com", Service::kChinaz, LookupOutcome::kFound,
                             "c" + std::to_string(n) + ".com\r\nshared.com", kNow + seconds(n)));
    _exit(ok ? 0 : 1);
  }
  close(go[0]);
  std::string problem;
  ASSERT_TRUE(history_.open(path_, &problem)) << problem;
  LookupHistory reader;
  ASSERT_TRUE(reader.open(path_, &problem)) << problem;
  ASSERT_EQ(write(go[1], "g", 1), 1);
  close(go[1]);
  for (int n = 0; n < kEach; ++n) {
    ASSERT_TRUE(history_.record(entry("parent@x.com", Service::kAizhan, LookupOutcome::kFound,
                                      "p" + std::to_string(n) + ".com", kNow + seconds(n))))
        << history_.lastProblem();
    // Reading while the other program writes neither waits long nor fails.
    ASSERT_EQ(reader.lookups("parent@x.com").size(), static_cast<size_t>(n + 1))
        << reader.lastProblem();
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child could not open or write the history";

  EXPECT_EQ(reader.lookups(Text()).size(), 2u * kEach);
  const std::vector<HistoryEntry> childs = reader.lookups("CHILD@x.com");
  ASSERT_EQ(childs.size(), static_cast<size_t>(kEach));
  EXPECT_EQ(childs.front().domains, "c149.com\r\nshared.com");
  EXPECT_EQ(reader.domainsSeen(Service::kChinaz, "child@x.com").size(), kEach + 1u);

  // WAL is what lets the reader go on during the writes; it stays set in the file.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(nativePath_.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* mode = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal");
  sqlite3_finalize(mode);
  sqlite3_close(db);
}

TEST_F(LookupHistoryTest, ADamagedFileIsMovedAsideAndAFreshOneMade) {
  // Enough look-ups for many pages, so that damage in the middle hits a table.
  for (int n = 0; n < 300; ++n)
    record({entry("a" + std::to_string(n) + "@x.com", Service::kAizhan, LookupOutcome::kFound,
                  "one-" + std::to_string(n) + ".com\r\ntwo-" + std::to_string(n) + ".com", kNow)});
  history_.close();
  std::string healthy;
  ASSERT_TRUE(readWholeFile(path_, &healthy));
  ASSERT_GT(healthy.size(), 8u * 4096);

  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string brokenPage = healthy;
  const size_t middle = (healthy.size() / 2 / 4096) * 4096;
  brokenPage.replace(middle, 4096, std::string(4096, '\xff'));
  const Case cases[] = {
      {"not a database", "Domains of 2023, kept by hand\r\na.com\r\n"},
      {"a damaged page", brokenPage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir_.utf8Path() + "/data");
    std::filesystem::create_directories(dir_.utf8Path() + "/data");
    ASSERT_TRUE(writeWholeFile(path_, c.bytes));
    // A journal of no use beside it must not spoil the fresh file.
    std::ofstream(nativePath_ + "-wal") << "old journal";

    std::string problem;
    ASSERT_TRUE(history_.open(path_, &problem)) << problem;
    const std::string aside = gbkToUtf8(history_.movedAside());
    ASSERT_NE(aside, "");
    EXPECT_NE(problem.find("damaged"), std::string::npos) << problem;
    EXPECT_NE(problem.find(aside), std::string::npos) << problem;
    EXPECT_EQ(aside.rfind(nativePath_ + ".damaged-", 0), 0u) << aside;
    EXPECT_EQ(aside.size(), nativePath_.size() + std::string(".damaged-20240501-120000").size());
    EXPECT_EQ(fileBytes(history_.movedAside()), c.bytes);

    EXPECT_TRUE(history_.lookups(Text()).empty());
    EXPECT_TRUE(history_.record(entry("a@x.com", Service::kAizhan, LookupOutcome::kNone, "", kNow)))
        << history_.lastProblem();
    history_.close();
    ASSERT_TRUE(history_.open(path_, &problem)) << problem;
    EXPECT_EQ(problem, "");
    EXPECT_EQ(history_.lookups(Text()).size(), 1u);
    history_.close();
  }
}

TEST_F(LookupHistoryTest, AFileThatIsNoHistoryOfThisVersionIsRefusedAndLeftAlone) {
  history_.close();
  struct Case {
    const char* name;
    bool history;     // start from a history of this version
    const char* sql;  // then run this on the file
    const char* problem;
  };
  const Case cases[] = {
      {"newer version", true, "ALTER TABLE lookups ADD COLUMN x; PRAGMA user_version = 2;",
       "newer version of the program (history version 2, this one knows up to 1)"},
      {"another program's database", false,
       "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine');",
       "database of another program"},
      {"another program's marked database", false,
       "PRAGMA application_id = 7; PRAGMA user_version = 1;", "database of another program"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir_.utf8Path() + "/data");
    std::filesystem::create_directories(dir_.utf8Path() + "/data");
    if (c.history) {
      std::string problem;
      ASSERT_TRUE(history_.open(path_, &problem)) << problem;
      record({entry("a@x.com", Service::kAizhan, LookupOutcome::kNone, "", kNow)});
      history_.close();
    }
    ASSERT_TRUE(runSql(nativePath_, c.sql));
    const std::string before = fileBytes(path_);

    std::string problem;
    EXPECT_FALSE(history_.open(path_, &problem));
    EXPECT_FALSE(history_.isOpen());
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_NE(problem.find(nativePath_), std::string::npos) << problem;
    EXPECT_EQ(history_.movedAside(), "");
    EXPECT_EQ(fileBytes(path_), before);
    EXPECT_FALSE(
        history_.record(entry("a@x.com", Service::kAizhan, LookupOutcome::kNone, "", kNow)));
    size_t files = 0;
    for ([[maybe_unused]] const auto& file :
         std::filesystem::directory_iterator(dir_.utf8Path() + "/data"))
      ++files;
    EXPECT_EQ(files, 1u) << "nothing may be made or moved beside it";
  }
}

TEST(HistoryPath, BesideAWritableProgramElseInTheUsersDataFolder) {
  TempDir dir;
  std::filesystem::create_directories(dir.utf8Path() + "/prefix/bin");
  ScopedEnvironment dataHome("XDG_DATA_HOME", dir.utf8Path() + "/data");
  setProgramDirectory(dir.gbkPath("prefix/bin"));
  EXPECT_EQ(gbkToUtf8(historyPath()), dir.utf8Path() + "/prefix/bin/history.sqlite3");
  // Installed: <prefix>/bin with <prefix>/lib/qarvo-dorvane.
  std::filesystem::create_directories(dir.utf8Path() + "/prefix/lib/qarvo-dorvane");
  EXPECT_EQ(gbkToUtf8(historyPath()), dir.utf8Path() + "/data/qarvo-dorvane/history.sqlite3");
  setProgramDirectory(Text());
}

TEST(ParseAge, WholeNumbersWithOneUnit) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> seconds;
  };
  const Case cases[] = {
      {"90s", 90},
      {"30m", 1800},
      {"12h", 43200},
      {"7d", 604800},
      {"0s", 0},
      {"007d", 604800},
      {"106751991167300d", 106751991167300LL * 86400},
      {"106751991167301d", std::nullopt},  // beyond what seconds hold
      {"99999999999999999999s", std::nullopt},
      {"", std::nullopt},
      {"d", std::nullopt},
      {"7", std::nullopt},
      {"7D", std::nullopt},
      {"2w", std::nullopt},
      {"-5m", std::nullopt},
      {"+5m", std::nullopt},
      {" 5m", std::nullopt},
      {"5 m", std::nullopt},
      {"1h30m", std::nullopt},
      {"1.5h", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<seconds> age = parseAge(c.text);
    if (c.seconds) {
      ASSERT_TRUE(age) << c.text;
      EXPECT_EQ(age->count(), *c.seconds) << c.text;
    } else {
      EXPECT_FALSE(age) << c.text;
    }
  }
}

}  // namespace
}  // namespace qarvo
