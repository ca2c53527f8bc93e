// qarvo-lookup's history and its runs of both services, against the fakes.
#include <regex>

#include "cli/history_command.h"
#include "cli/lookup_program_fixture.h"
#include "engine/sqlite_database.h"
#include "platform/code_page.h"

namespace qarvo::cli {
namespace {

class HistoryProgramTest : public LookupProgramTest {
 protected:
  // Times of the history command, which a test cannot know, as "T".
  static std::string timesless(const std::string& text) {
    static const std::regex kTime("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z");
    return std::regex_replace(text, kTime, "T");
  }
  static std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
      text.replace(at, what.size(), with);
    return text;
  }
  std::string today() const { return utcDate(std::chrono::system_clock::now()); }
};

TEST_F(HistoryProgramTest, MaxAgeAnswersFromTheHistoryWithoutARequestExactlyAsTheServiceDid) {
  fakes_.setAddress(FakeSite::kAizhan, "multi@a.com", {.domains = numberedDomains("m", 25)});
  fakes_.setAddress(FakeSite::kAizhan, "big@a.com", {.domains = numberedDomains("big", 50)});
  writeFile("list.txt", "multi@a.com\nnobody@x.example\nbig@a.com\n");
  const std::vector<std::string> names = {"multi@a.com.txt", "nobody@x.example.txt",
                                          "big@a.com.txt"};
  for (const char* format : {"csv", "jsonl"}) {
    SCOPED_TRACE(format);
    std::filesystem::remove(path("history.sqlite3"));
    const std::vector<std::string> common = {"-p", "2", "-f", format, path("list.txt")};
    std::vector<std::string> asked = common;
    asked.insert(asked.end(), {"-o", path("asked")});
    Outcome first = runProgram(asked);
    ASSERT_EQ(first.status, 0) << first.err;
    fakes_.clearRequests();
    std::vector<std::string> recalled = common;
    recalled.insert(recalled.end(), {"--max-age", "1h", "-o", path("recalled")});
    Outcome again = runProgram(recalled);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(fakes_.requests().empty());
    EXPECT_EQ(again.out,
              std::string(format) == "csv"
                  ? replaced(first.out, ",service,", ",history,")
                  : replaced(first.out, "\"source\":\"service\"", "\"source\":\"history\""));
    EXPECT_NE(again.err.find("3 from the history"), std::string::npos) << again.err;
    for (const std::string& name : names)
      EXPECT_EQ(fileText(path("recalled/" + name)), fileText(path("asked/" + name))) << name;
    // A longer page limit than big@'s walk allowed is asked again.
    recalled[1] = "3";
    Outcome longer = runProgram(recalled);
    EXPECT_EQ(longer.status, 0) << longer.err;
    EXPECT_EQ(timesAsked("big@a.com"), 3u);
    EXPECT_EQ(timesAsked("multi@a.com"), 0u);
  }
}

TEST_F(HistoryProgramTest, ARunSaysWhatIsNewAndTheHistoryCommandListsLookUpsAndDomains) {
  fakes_.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"x.com", "y.cn"}});
  fakes_.setAddress(FakeSite::kChinaz, "c@d.com", {.domains = {"z.com"}});
  writeFile("a.txt", "a@b.com\n");
  writeFile("c.txt", "c@d.com\n");
  // Nothing kept yet: nothing listed, and no history made for it.
  EXPECT_EQ(runProgram({"history"}).out, kLookupsHeader);
  EXPECT_FALSE(std::filesystem::exists(path("history.sqlite3")));
  ASSERT_EQ(runProgram({path("a.txt")}).status, 0);
  ASSERT_EQ(runProgram({"-s", "chinaz", path("c.txt")}).status, 0);
  // y.cn went, 例子.中国 came.
  fakes_.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"例子.中国", "X.com"}});
  Outcome second = runProgram({"-p", "3", path("a.txt")});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, std::string(kCsvHeader) + "a@b.com,例子.中国,found,1,,0,service,1," +
                            today() + ",aizhan\na@b.com,X.com,found,1,,0,service,0," + today() +
                            ",aizhan\n");

  Outcome all = runProgram({"history"});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(timesless(all.out), std::string(kLookupsHeader) +
                                    "a@b.com,aizhan,T,found,,1,3,2\n"
                                    "c@d.com,chinaz,T,found,,1,50,1\n"
                                    "a@b.com,aizhan,T,found,,1,50,2\n");
  Outcome one = runProgram({"history", "-f", "jsonl", "A@B.com"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(timesless(one.out),
            "{\"address\":\"a@b.com\",\"service\":\"aizhan\",\"time\":\"T\",\"status\":\"found\","
            "\"pages\":1,\"page_limit\":3,\"domains\":[\"例子.中国\",\"X.com\"]}\n"
            "{\"address\":\"a@b.com\",\"service\":\"aizhan\",\"time\":\"T\",\"status\":\"found\","
            "\"pages\":1,\"page_limit\":50,\"domains\":[\"x.com\",\"y.cn\"]}\n");
  Outcome domains = runProgram({"history", "--domains"});
  ASSERT_EQ(domains.status, 0) << domains.err;
  EXPECT_EQ(timesless(domains.out), std::string(kDomainsHeader) +
                                        "a@b.com,aizhan,X.com,T,T\n"
                                        "a@b.com,aizhan,y.cn,T,T\n"
                                        "a@b.com,aizhan,例子.中国,T,T\n"
                                        "c@d.com,chinaz,z.com,T,T\n");
  // --no-history: nothing read, nothing written.
  ASSERT_EQ(runProgram({"--no-history", path("a.txt")}).status, 0);
  EXPECT_EQ(runProgram({"history"}).out, all.out);
}

TEST_F(HistoryProgramTest, ADamagedHistoryIsMovedAsideAndANewerOneIsLeftAlone) {
  writeFile("list.txt", "nobody@x.example\n");
  writeFile("history.sqlite3", std::string(4096, 'x'));
  Outcome damaged = runProgram({path("list.txt")});
  EXPECT_EQ(damaged.status, 0) << damaged.err;
  EXPECT_NE(damaged.err.find("was damaged"), std::string::npos) << damaged.err;
  int aside = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    aside += entry.path().filename().string().starts_with("history.sqlite3.damaged-") ? 1 : 0;
  EXPECT_EQ(aside, 1);
  const std::string kept = runProgram({"history"}).out;
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 2) << kept;

  // A history of a later version of the program: the run goes on without it.
  {
    SqliteConnection db;
    ASSERT_TRUE(db.open(path("newer.sqlite3")));
    ASSERT_TRUE(db.execute("PRAGMA user_version = 99; PRAGMA application_id = 1366455919;"));
  }
  const std::string before = fileText(path("newer.sqlite3"));
  Outcome newer = runProgram({"--history", path("newer.sqlite3"), path("list.txt")});
  EXPECT_EQ(newer.status, 0) << newer.err;
  EXPECT_NE(newer.err.find("newer version"), std::string::npos) << newer.err;
  EXPECT_NE(newer.err.find("this run goes on without the history"), std::string::npos);
  Outcome listed = runProgram({"history", "--history", path("newer.sqlite3")});
  EXPECT_EQ(listed.status, 1);
  EXPECT_NE(listed.err.find("newer version"), std::string::npos) << listed.err;
  EXPECT_EQ(fileText(path("newer.sqlite3")), before);
}

TEST_F(HistoryProgramTest, TwoRunsWriteOneHistoryAtOnce) {
  std::string one, two;
  for (int i = 0; i < 40; ++i) {
    const std::string address = "p" + std::to_string(i) + "@a.com";
    fakes_.setAddress(FakeSite::kAizhan, address,
                      {.domains = {"p" + std::to_string(i) + ".com"}, .delayMs = 5});
    fakes_.setAddress(FakeSite::kChinaz, address,
                      {.domains = {"p" + std::to_string(i) + ".cn"}, .delayMs = 5});
    one += address + "\n";
    two += address + "\n";
  }
  writeFile("one.txt", one);
  writeFile("two.txt", two);
  ProgramRun first, second;
  ASSERT_TRUE(start(first, {"-s", "aizhan", "-f", "none", path("one.txt")}, "/dev/null", 0));
  ASSERT_TRUE(start(second, {"-s", "chinaz", "-f", "none", path("two.txt")}, "/dev/null", 1));
  Outcome a = finish(first, 0), b = finish(second, 1);
  EXPECT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(a.err.find("history"), std::string::npos) << a.err;
  EXPECT_EQ(b.err.find("history"), std::string::npos) << b.err;
  Outcome listed = runProgram({"history"});
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 1 + 80) << listed.out;
}

// --- Both services -------------------------------------------------------------

TEST_F(HistoryProgramTest, BothServicesGiveOneMergedResultSayingWhoListedEachDomain) {
  fakes_.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"x.com", "y.cn"}});
  fakes_.setAddress(FakeSite::kChinaz, "a@b.com", {.domains = {"Y.cn", "z.com"}});
  fakes_.setAddress(FakeSite::kChinaz, "c@d.com", {.domains = {"only.cn"}});
  writeFile("list.txt", "a@b.com\nc@d.com\nnobody@x.example\n");

  Outcome run = runProgram({"-s", "both", "-o", path("results"), path("list.txt")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string d = today();
  const std::string csv = std::string(kCsvHeader) + "a@b.com,x.com,found,2,,0,service,," + d +
                          ",aizhan\n" + "a@b.com,y.cn,found,2,,0,service,," + d +
                          ",aizhan+chinaz\n" + "a@b.com,z.com,found,2,,0,service,," + d +
                          ",chinaz\n" + "c@d.com,only.cn,found,1,,0,service,," + d + ",chinaz\n" +
                          "nobody@x.example,,none,0,,0,service,,,aizhan+chinaz\n";
  EXPECT_EQ(run.out, csv);
  EXPECT_EQ(fileText(path("results/a@b.com.txt")), "x.com\r\ny.cn\r\nz.com");
  EXPECT_EQ(fileText(path("results/c@d.com.txt")), "only.cn");
  EXPECT_NE(run.err.find("aizhan: 3 completed, 2 domains; chinaz: 3 completed, 3 domains; 1 "
                         "listed by both"),
            std::string::npos)
      << run.err;

  Outcome json = runProgram(
      {"-s", "both", "-f", "jsonl", "--history", path("other.sqlite3"), path("list.txt")});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(
      json.out,
      "{\"address\":\"a@b.com\",\"status\":\"found\",\"domains\":[\"x.com\",\"y.cn\",\"z."
      "com\"],\"pages\":2,\"more_pages\":0,\"source\":\"service\",\"new\":null,\"first_"
      "seen\":[\"" +
          d + "\",\"" + d + "\",\"" + d +
          "\"],\"services\":{\"aizhan\":{\"status\":\"found\",\"pages\":1,\"domains\":[\"x."
          "com\",\"y.cn\"]},\"chinaz\":{\"status\":\"found\",\"pages\":1,\"domains\":[\"Y.cn\","
          "\"z.com\"]}}}\n"
          "{\"address\":\"c@d.com\",\"status\":\"found\",\"domains\":[\"only.cn\"],\"pages\":"
          "1,\"more_pages\":0,\"source\":\"service\",\"new\":null,\"first_seen\":[\"" +
          d +
          "\"],\"services\":{\"aizhan\":{\"status\":\"none\",\"pages\":0,\"domains\":[]},"
          "\"chinaz\":{\"status\":\"found\",\"pages\":1,\"domains\":[\"only.cn\"]}}}\n"
          "{\"address\":\"nobody@x.example\",\"status\":\"none\",\"domains\":[],\"pages\":0,"
          "\"more_pages\":0,\"source\":\"service\",\"new\":[],\"first_seen\":[],\"services\":"
          "{\"aizhan\":{\"status\":\"none\",\"pages\":0,\"domains\":[]},\"chinaz\":{"
          "\"status\":\"none\",\"pages\":0,\"domains\":[]}}}\n");

  // Resumed: nothing asked again, each domain still says who listed it.
  fakes_.clearRequests();
  Outcome resumed = runProgram({"-s", "both", "--resume", "-o", path("results"), path("list.txt")});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_TRUE(fakes_.requests().empty());
  EXPECT_EQ(resumed.out, replaced(csv, d, ""));
}

TEST_F(HistoryProgramTest, OneServiceNotCompletingLeavesTheAddressIncompleteAndItsFileUnwritten) {
  struct Case {
    const char* name;
    testing::FakeAddress chinaz;
    std::string row;  // after the domain
  };
  const std::vector<Case> cases = {
      {"refused",
       {.domains = {"z.com"}, .emptyAnswers = {{1, 50}}},
       ",incomplete,1,chinaz: connection failed,0,service,,"},
      {"sign-in",
       {.domains = numberedDomains("big", 11 * 20)},
       ",incomplete,11,chinaz: sign-in needed,0,service,,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes_.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"x.com"}});
    fakes_.setAddress(FakeSite::kChinaz, "a@b.com", c.chinaz);
    writeFile("list.txt", "a@b.com\n");
    std::filesystem::remove_all(path("results"));
    Outcome run = runProgram({"-s", "both", "--history", path(std::string(c.name) + ".sqlite3"),
                              "-o", path("results"), path("list.txt")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(run.out.starts_with(std::string(kCsvHeader) + "a@b.com,x.com" + c.row + today() +
                                    ",aizhan\n"))
        << run.out;
    EXPECT_FALSE(std::filesystem::exists(path("results/a@b.com.txt")));
    EXPECT_NE(run.err.find("aizhan: 1 completed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("chinaz: 0 completed, 1 not completed"), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace qarvo::cli
