// qarvo-lookup itself, run as a user runs it, against the fake services
// behind a loopback proxy.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "cli/lookup_program_fixture.h"
#include "cli/resume_journal.h"
#include "platform/code_page.h"

namespace qarvo::cli {
namespace {

// --- Results on standard output and in files --------------------------------

TEST_F(LookupProgramTest, CsvRowsAndResultFilesAreExactlyWhatTheServicesAnswered) {
  const auto multi = numberedDomains("multi", 25);  // two pages of 20
  fakes_.setAddress(FakeSite::kAizhan, "multi@a.com", {.domains = multi});
  fakes_.setAddress(FakeSite::kAizhan, "zhang.wei@例子.cn",
                    {.domains = {"zhangwei.cn", "例子.中国", "xn--fiqs8s.cn"}, .gbkPages = true});
  // A BOM, CR LF, blanks around an address, a blank line; nobody@ has no data.
  writeFile("list.txt",
            "\xEF\xBB\xBF"
            "multi@a.com\r\n  zhang.wei@例子.cn\xE3\x80\x80\r\n\r\n"
            "nobody@x.example\n");

  Outcome run = runProgram({"-s", "aizhan", "-o", path("results"), path("list.txt")});
  ASSERT_EQ(run.status, 0) << run.err;

  std::string csv = std::string(kCsvHeader);
  for (const std::string& domain : multi)
    csv += "multi@a.com," + domain + ",found,2,,0" + fresh();
  csv += "zhang.wei@例子.cn,zhangwei.cn,found,1,,0" + fresh() +
         "zhang.wei@例子.cn,例子.中国,found,1,,0" + fresh() +
         "zhang.wei@例子.cn,xn--fiqs8s.cn,found,1,,0" + fresh() + "nobody@x.example,,none,0,,0" +
         bare();
  EXPECT_EQ(run.out, csv);

  // The window's auto-save files: GBK, CR LF between domains, nothing after
  // the last; the address as the file name, trimmed.
  EXPECT_EQ(fileText(path("results/multi@a.com.txt")), gbk(joined(multi, "\r\n")));
  EXPECT_EQ(fileText(path("results/zhang.wei@例子.cn.txt")),
            gbk("zhangwei.cn\r\n例子.中国\r\nxn--fiqs8s.cn"));
  EXPECT_TRUE(std::filesystem::exists(path("results/nobody@x.example.txt")));
  EXPECT_EQ(fileText(path("results/nobody@x.example.txt")), "");

  // Page 1 without "&page=", page 2 with it.
  auto requests = fakes_.requests(FakeSite::kAizhan);
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].query.find("page="), std::string::npos);
  EXPECT_EQ(requests[1].param("page"), "2");
  EXPECT_EQ(requests[2].param("q"), "zhang.wei@例子.cn");
}

TEST_F(LookupProgramTest, JsonLinesFromStandardInputWithoutFiles) {
  fakes_.setAddress(FakeSite::kChinaz, "a@b.com", {.domains = {"x.com", "y.cn"}});
  writeFile("list.txt", "a@b.com\nnobody@x.example\n");

  Outcome run = runProgram({"-s", "chinaz", "-f", "jsonl", "-"}, path("list.txt"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.out,
      "{\"address\":\"a@b.com\",\"status\":\"found\",\"domains\":[\"x.com\",\"y.cn\"],"
      "\"pages\":1,\"more_pages\":0,\"source\":\"service\",\"new\":null,\"first_seen\":[\"" +
          utcDate(std::chrono::system_clock::now()) + "\",\"" +
          utcDate(std::chrono::system_clock::now()) +
          "\"],\"services\":{\"chinaz\":{\"status\":\"found\",\"pages\":1,\"domains\":[\"x."
          "com\",\"y.cn\"]}}}\n"
          "{\"address\":\"nobody@x.example\",\"status\":\"none\",\"domains\":[],\"pages\":0,"
          "\"more_pages\":0,\"source\":\"service\",\"new\":[],\"first_seen\":[],\"services\":{"
          "\"chinaz\":{\"status\":\"none\",\"pages\":0,\"domains\":[]}}}\n");
  EXPECT_EQ(fakes_.requests(FakeSite::kChinaz).size(), 2u);
  EXPECT_EQ(fakes_.requests(FakeSite::kAizhan).size(), 0u);
  // No --out, no files: nothing but the list and the captured streams.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_))
    ++entries;
  EXPECT_EQ(entries, 3u + 1u);  // and the history
}

TEST_F(LookupProgramTest, FailedAndIncompleteAddressesWriteNoFileAndExitWithOne) {
  // down@: every attempt at page 1 comes back empty; part@: page 2 does.
  fakes_.setAddress(FakeSite::kAizhan, "down@a.com",
                    {.domains = {"d.com"}, .emptyAnswers = {{1, 50}}});
  fakes_.setAddress(FakeSite::kAizhan, "part@a.com",
                    {.domains = numberedDomains("part", 30), .emptyAnswers = {{2, 50}}});
  fakes_.setAddress(FakeSite::kAizhan, "good@a.com", {.domains = {"good.com"}});
  // An earlier complete result of part@ must survive the incomplete one.
  std::filesystem::create_directories(path("results"));
  writeFile("results/part@a.com.txt", "earlier.com");
  writeFile("list.txt", "down@a.com\npart@a.com\ngood@a.com\n");

  Outcome run = runProgram({"-o", path("results"), path("list.txt")});
  ASSERT_EQ(run.status, 1) << run.err;

  std::string csv = std::string(kCsvHeader) + "down@a.com,,failed,0,connection failed,0" + bare();
  for (const std::string& domain : numberedDomains("part", 20))
    csv += "part@a.com," + domain + ",incomplete,1,connection failed,0" + fresh();
  csv += "good@a.com,good.com,found,1,,0" + fresh();
  EXPECT_EQ(run.out, csv);

  EXPECT_FALSE(std::filesystem::exists(path("results/down@a.com.txt")));
  EXPECT_EQ(fileText(path("results/part@a.com.txt")), "earlier.com");
  EXPECT_EQ(fileText(path("results/good@a.com.txt")), "good.com");
}

TEST_F(LookupProgramTest, AddressesAskedAgainAfterAnOutageAreWrittenAndCountedOnce) {
  // Ten empty answers each: three addresses in a row cannot reach the
  // service, the run waits 15 s and asks them again, and they come.
  for (const char* address : {"a@x.com", "b@x.com", "c@x.com"})
    fakes_.setAddress(
        FakeSite::kAizhan, address,
        {.domains = {std::string("d-") + address[0] + ".com"}, .emptyAnswers = {{1, 10}}});
  writeFile("list.txt", "a@x.com\nb@x.com\nc@x.com\n");
  Outcome run = runProgram({"-s", "aizhan", "--wait-offline", "1m", path("list.txt")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, std::string(kCsvHeader) + "a@x.com,d-a.com,found,1,,0" + fresh() +
                         "b@x.com,d-b.com,found,1,,0" + fresh() + "c@x.com,d-c.com,found,1,,0" +
                         fresh());
  EXPECT_NE(run.err.find("done: 3 of 3 addresses, 3 found"), std::string::npos) << run.err;
}

TEST_F(LookupProgramTest, AddressesArePickedOutOfPastedTextEachOnce) {
  fakes_.setAddress(FakeSite::kAizhan, "sales@demo-trade.com", {.domains = {"demo-trade.com"}});
  writeFile("list.txt",
            "王五 <sales@demo-trade.com>\n"
            "a@x.cn; b@y.cn\n"
            "bad\x01@a.com\n"
            "   \n"
            "请联系 zhang.wei@例子.cn。如有问题，也可发到 A@X.cn\n"
            "a;b\n");

  Outcome run = runProgram({"-o", path("results"), path("list.txt")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, std::string(kCsvHeader) + "sales@demo-trade.com,demo-trade.com,found,1,,0" +
                         fresh() + "a@x.cn,,none,0,,0" + bare() + "b@y.cn,,none,0,,0" + bare() +
                         "zhang.wei@例子.cn,,none,0,,0" + bare());
  EXPECT_EQ(askedAddresses(), (std::vector<std::string>{"sales@demo-trade.com", "a@x.cn", "b@y.cn",
                                                        "zhang.wei@例子.cn"}));
  EXPECT_TRUE(std::filesystem::exists(path("results/a@x.cn.txt")));
  // Lines with text but no address are told by number (not the blank one),
  // and counted with the duplicate at the end.
  EXPECT_NE(run.err.find("line 3: no e-mail address; not looked up"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("line 6: no e-mail address; not looked up"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("line 4"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("done: 4 of 4 addresses, 1 found, 3 none, 1 duplicate dropped, 2 lines "
                         "without an address"),
            std::string::npos)
      << run.err;
}

TEST_F(LookupProgramTest, AResultThatCannotBeSavedIsNotJournaledAndIsAskedAgainOnResume) {
  // The fakes know nothing of it (a "none" answer), but a folder stands
  // where its file would go: the result completes and still cannot be saved.
  std::filesystem::create_directories(path("results/sales@a.com.txt/x"));
  writeFile("list.txt", "sales@a.com\n");

  Outcome first = runProgram({"-o", path("results"), path("list.txt")});
  EXPECT_EQ(first.status, 1) << first.err;
  EXPECT_EQ(first.out, std::string(kCsvHeader) + "sales@a.com,,none,0,,0" + bare());
  EXPECT_NE(first.err.find("cannot write the result file of sales@a.com"), std::string::npos)
      << first.err;
  EXPECT_NE(first.err.find("1 not saved"), std::string::npos) << first.err;
  EXPECT_EQ(fileText(path("results/") + std::string(ResumeJournal::kFileName)), "");

  fakes_.clearRequests();
  Outcome again = runProgram({"--resume", "-o", path("results"), path("list.txt")});
  EXPECT_EQ(again.status, 1) << again.err;
  EXPECT_EQ(timesAsked("sales@a.com"), 1u);
}

// --- Sign-in and rate limits --------------------------------------------------

TEST_F(LookupProgramTest, OnATerminalTheStatusLineCountsDownTheThrottlesPause) {
  fakes_.setAddress(FakeSite::kAizhan, "busy@a.com",
                    {.domains = {"busy.com"}, .rateLimitedAnswers = {{1, 1}}});
  writeFile("list.txt", "busy@a.com\n");
  // Standard error on a terminal of the test's own; the test holds its other
  // end open too, so that all the program wrote stays there to read.
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  const std::string device = ::ptsname(terminal);
  const int held = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ProgramRun run;
  ASSERT_TRUE(run.start(QARVO_LOOKUP_PROGRAM,
                        {.arguments = {"--history", path("history.sqlite3"), path("list.txt")},
                         .environment = {{"http_proxy", proxy_.url()}},
                         .standardOutput = path("stdout0"),
                         .standardError = device}));
  std::string shown;
  auto readShown = [&] {
    char buffer[4096];
    pollfd ready{.fd = terminal, .events = POLLIN, .revents = 0};
    while (::poll(&ready, 1, 0) == 1) {
      const ssize_t got = ::read(terminal, buffer, sizeof buffer);
      if (got <= 0)
        break;
      shown.append(buffer, static_cast<size_t>(got));
    }
  };
  std::optional<int> status;
  ASSERT_TRUE(waitFor(
      [&] {
        readShown();  // the program must never wait for a full terminal
        return (status = run.poll()).has_value();
      },
      seconds(120)));
  readShown();
  ::close(held);
  ::close(terminal);
  EXPECT_EQ(status, 0) << shown;
  EXPECT_EQ(fileText(path("stdout0")),
            std::string(kCsvHeader) + "busy@a.com,busy.com,found,1,,0" + fresh());
  EXPECT_NE(shown.find("[1/1] busy@a.com  page 1  0 domains  too many queries, again in 5 s"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("too many queries, asking again"), std::string::npos) << shown;
}

TEST_F(LookupProgramTest, ChinazBeyondPageTenNeedsTheCookieFile) {
  const auto domains = numberedDomains("big", 13 * 20);
  fakes_.setAddress(FakeSite::kChinaz, "big@a.com", {.domains = domains});
  writeFile("list.txt", "big@a.com\n");

  Outcome without =
      runProgram({"-s", "chinaz", "-f", "jsonl", "-o", path("results"), path("list.txt")});
  EXPECT_EQ(without.status, 1) << without.err;
  EXPECT_NE(without.out.find("\"status\":\"incomplete\""), std::string::npos) << without.out;
  EXPECT_NE(without.out.find("\"pages\":10,\"more_pages\":0,\"reason\":\"sign-in needed\""),
            std::string::npos)
      << without.out;
  EXPECT_NE(without.err.find("--cookie-file"), std::string::npos) << without.err;
  EXPECT_FALSE(std::filesystem::exists(path("results/big@a.com.txt")));
  EXPECT_EQ(fakes_.requests(FakeSite::kChinaz).size(), 10u);

  // The browser's export: the sign-in cookie for the parent domain.
  fakes_.clearRequests();
  writeFile("cookies.txt",
            "# Netscape HTTP Cookie File\n"
            ".chinaz.com\tTRUE\t/\tFALSE\t0\tchinaz_auth\tsigned-in\n"
            ".example.com\tTRUE\t/\tFALSE\t0\tother\tno\n");
  ProgramRun run;
  ASSERT_TRUE(start(run, {"-s", "chinaz", "-f", "none", "--cookie-file", path("cookies.txt"), "-o",
                          path("results"), path("list.txt")}));
  Outcome with = finish(run);
  ASSERT_EQ(with.status, 0) << with.err;
  EXPECT_EQ(fileText(path("results/big@a.com.txt")), gbk(joined(domains, "\r\n")));
  auto requests = fakes_.requests(FakeSite::kChinaz);
  ASSERT_EQ(requests.size(), 13u);
  EXPECT_EQ(requests[10].header("Cookie"), "chinaz_auth=signed-in");
}

TEST_F(LookupProgramTest, TheChinazRateLimitPageEndsTheRunAfterThatAddress) {
  fakes_.setAddress(FakeSite::kChinaz, "first@a.com",
                    {.domains = {"one.com"}, .rateLimitedAnswers = {{1, 1}}});
  fakes_.setAddress(FakeSite::kChinaz, "second@a.com", {.domains = {"two.com"}});
  writeFile("list.txt", "first@a.com\nsecond@a.com\n");

  Outcome run = runProgram({"-s", "chinaz", path("list.txt")});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(timesAsked("second@a.com"), 0u);
  // The service's message, as the window shows it.
  EXPECT_NE(run.err.find("查询过于频繁"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("1 not asked"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("second@a.com"), std::string::npos) << run.out;
}

// --- Stopping and resuming ---------------------------------------------------

TEST_F(LookupProgramTest, ResumeAfterSigintAsksNothingAgainThatHadCompleted) {
  fakes_.setAddress(FakeSite::kAizhan, "a@a.com", {.domains = {"a1.com", "a2.com"}});
  fakes_.setAddress(FakeSite::kAizhan, "b@a.com", {.domains = {"b1.com"}});
  fakes_.setAddress(FakeSite::kAizhan, "c@a.com", {.domains = numberedDomains("c", 50)});
  fakes_.setAddress(FakeSite::kAizhan, "d@a.com", {.domains = {"d1.com"}});
  writeFile("list.txt", "a@a.com\nb@a.com\nnobody@x.example\nc@a.com\nd@a.com\n");

  // The stop comes while c@'s second page is on its way.
  proxy_.hold("q=c%40a.com&t=email&page=2");
  ProgramRun first;
  ASSERT_TRUE(start(first, {"-o", path("results"), path("list.txt")}));
  ASSERT_TRUE(waitFor([&] { return proxy_.heldNow() == 1; }, seconds(60)));
  const auto stopAt = std::chrono::steady_clock::now();
  first.signal(SIGINT);
  Outcome stopped = finish(first);
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, seconds(10));
  ASSERT_EQ(stopped.status, 130) << stopped.err;
  EXPECT_NE(stopped.out.find("a@a.com,a2.com,found,1,,0" + fresh()), std::string::npos)
      << stopped.out;
  EXPECT_NE(stopped.out.find("c@a.com,c1.com,stopped,1,stopped,0" + fresh()), std::string::npos)
      << stopped.out;
  EXPECT_EQ(stopped.out.find("d@a.com"), std::string::npos);
  EXPECT_NE(stopped.err.find("stopped: 4 of 5 addresses"), std::string::npos) << stopped.err;
  EXPECT_FALSE(std::filesystem::exists(path("results/c@a.com.txt")));
  EXPECT_TRUE(std::filesystem::exists(path("results/b@a.com.txt")));

  // The held request reaches the fakes once let go; it belongs to the first run.
  proxy_.release();
  ASSERT_TRUE(waitFor([&] { return timesAsked("c@a.com") == 2; }, seconds(10)));
  fakes_.clearRequests();
  ProgramRun second;
  ASSERT_TRUE(start(second, {"--resume", "-o", path("results"), path("list.txt")}, "/dev/null", 1));
  Outcome resumed = finish(second, 1);
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  // Only what had not completed was asked: all of c@'s pages, and d@.
  EXPECT_EQ(askedAddresses(),
            (std::vector<std::string>{"c@a.com", "c@a.com", "c@a.com", "d@a.com"}));
  // The output still covers the whole list, the earlier results included
  // (as the journal kept them: no dates).
  std::string csv = std::string(kCsvHeader) + "a@a.com,a1.com,found,1,,0" + bare() +
                    "a@a.com,a2.com,found,1,,0" + bare() + "b@a.com,b1.com,found,1,,0" + bare() +
                    "nobody@x.example,,none,0,,0" + bare();
  for (const std::string& domain : numberedDomains("c", 50))
    csv += "c@a.com," + domain + ",found,3,,0" + fresh();
  csv += "d@a.com,d1.com,found,1,,0" + fresh();
  EXPECT_EQ(resumed.out, csv);
  EXPECT_EQ(fileText(path("results/c@a.com.txt")), gbk(joined(numberedDomains("c", 50), "\r\n")));
  EXPECT_NE(resumed.err.find("3 done before"), std::string::npos) << resumed.err;
}

TEST_F(LookupProgramTest, AResultCutShortByThePageLimitSaysSoAndAResumedRunRepeatsIt) {
  const auto big = numberedDomains("big", 50);  // three pages of 20
  fakes_.setAddress(FakeSite::kAizhan, "big@a.com", {.domains = big});
  fakes_.setAddress(FakeSite::kAizhan, "small@a.com", {.domains = {"small.com"}});
  writeFile("list.txt", "big@a.com\nsmall@a.com\n");
  const std::vector<std::string> arguments = {"-p", "1", "-o", path("results"), path("list.txt")};

  Outcome first = runProgram(arguments);
  ASSERT_EQ(first.status, 0) << first.err;  // completed: as far as it was asked to go
  std::string csv = std::string(kCsvHeader);
  for (int i = 0; i < 20; ++i)
    csv += "big@a.com," + big[static_cast<size_t>(i)] + ",found,1,,2" + fresh();
  csv += "small@a.com,small.com,found,1,,0" + fresh();
  std::string journaled = csv;  // a journal keeps no dates
  for (size_t at; (at = journaled.find(fresh())) != std::string::npos;)
    journaled.replace(at, fresh().size(), bare());
  EXPECT_EQ(first.out, csv);
  EXPECT_NE(first.err.find("[1/2] big@a.com: found, 20 domains, 1 of 3 pages (page limit)\n"),
            std::string::npos)
      << first.err;
  EXPECT_NE(first.err.find("1 cut short by the page limit (-p)"), std::string::npos) << first.err;
  EXPECT_NE(fileText(path("results/") + std::string(ResumeJournal::kFileName))
                .find("\tfound\t1+2\tbig@a.com\tbig1.com\t"),
            std::string::npos);

  fakes_.clearRequests();
  std::vector<std::string> resumed = arguments;
  resumed.insert(resumed.begin(), "--resume");
  Outcome again = runProgram(resumed);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(fakes_.requests().empty());
  EXPECT_EQ(again.out, journaled);
  EXPECT_NE(again.err.find("[1/2] big@a.com: done before, found, 20 domains, 1 of 3 pages (page "
                           "limit)\n"),
            std::string::npos)
      << again.err;
}

TEST_F(LookupProgramTest, ASignalAbortsTheRequestInFlight) {
  fakes_.setAddress(FakeSite::kAizhan, "slow@a.com", {.domains = {"slow.com"}});
  proxy_.hold("slow%40a.com");
  writeFile("list.txt", "slow@a.com\nnext@a.com\n");

  ProgramRun run;
  ASSERT_TRUE(start(run, {"-f", "jsonl", "-o", path("results"), path("list.txt")}));
  ASSERT_TRUE(waitFor([&] { return proxy_.heldNow() == 1; }, seconds(60)));
  const auto stopAt = std::chrono::steady_clock::now();
  run.signal(SIGTERM);
  Outcome stopped = finish(run);
  // The fetch's own time limit is 30 s; the stop must not wait for it.
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, seconds(10));
  EXPECT_EQ(stopped.status, 130) << stopped.err;
  EXPECT_EQ(stopped.out,
            "{\"address\":\"slow@a.com\",\"status\":\"stopped\",\"domains\":[],\"pages\":0,"
            "\"more_pages\":0,\"reason\":\"stopped\",\"source\":\"service\",\"new\":[],"
            "\"first_seen\":[],\"services\":{\"aizhan\":{\"status\":\"stopped\",\"pages\":0,"
            "\"domains\":[],\"reason\":\"stopped\"}}}\n");
  EXPECT_EQ(timesAsked("next@a.com"), 0u);
  EXPECT_FALSE(std::filesystem::exists(path("results/slow@a.com.txt")));
}

// --- Usage ------------------------------------------------------------------

TEST_F(LookupProgramTest, ABadFileOrCommandLineGivesStatusTwoAndSaysWhy) {
  writeFile("gbk.txt", "a@b.com\nzhang@\xC0\xFD\xD7\xD3.cn\n");
  writeFile("list.txt", "a@b.com\n");
  writeFile("names.txt", "张三\n李四 (at) x.cn\n");
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  std::vector<Case> cases = {
      {{path("missing.txt")}, "cannot read " + path("missing.txt") + ": No such file"},
      {{path("")}, "cannot read " + path("") + ": Is a directory"},
      {{path("gbk.txt")}, "line 2 is not UTF-8"},
      {{"--resume", path("list.txt")}, "--resume needs --out"},
      {{path("names.txt")}, "no e-mail address in " + path("names.txt") + " (列表中没有邮箱地址)"},
      {{"-s", "baidu", path("list.txt")},
       "qarvo-lookup: -s/--service wants aizhan, chinaz or both (服务应为 aizhan、chinaz 或 "
       "both)\n"},
      {{"--max-age", "7d", "--no-history", path("list.txt")}, "--max-age 不能与 --no-history"},
      {{"-f", "xml", path("list.txt")},
       "qarvo-lookup: -f/--format wants csv, jsonl or none (格式应为 csv、jsonl 或 none)\n"},
      {{"--wait-offline", "5x", path("list.txt")}, "qarvo-lookup: --wait-offline wants a time"},
      {{"--wait-offline", "99999999999999999h", path("list.txt")}, "--wait-offline wants"},
      {{"--cookie-file", path("missing.txt"), "-s", "chinaz", path("list.txt")},
       "cannot read the cookie file"},
      {{"--no-such-option", path("list.txt")}, "--no-such-option"},
  };
  // Values out of range or no numbers at all, in the help's words.
  const std::string pages =
      "qarvo-lookup: -p/--pages wants a whole number from 1 to 9999 (页数应为 1 到 9999 的整数)\n";
  for (const char* value : {"abc", "0", "10000", "1.5", " 5"})
    cases.push_back({{"-p", value, path("list.txt")}, pages});
  cases.push_back({{path("list.txt"), "-p"}, pages});  // no value at all
  const std::string interval =
      "qarvo-lookup: -i/--interval wants seconds from 0 to 3600, fractions allowed (间隔应为 0 "
      "到 3600 秒，可带小数)\n";
  for (const char* value : {"-1", "3600.5", "abc", "nan", "inf"})
    cases.push_back({{"-i", value, path("list.txt")}, interval});
  const std::string age =
      "qarvo-lookup: --max-age wants an age such as 30m, 12h or 7d (a whole number and s, m, h or "
      "d) (时长应写成 30m、12h 或 7d 这样（整数加 s、m、h 或 d）)\n";
  for (const char* value : {"7", "7w", "-1d", "1.5h", ""})
    cases.push_back({{"--max-age", value, path("list.txt")}, age});
  cases.push_back({{"history", "-f", "xml"}, "-f/--format wants csv or jsonl"});
  for (const Case& c : cases) {
    Outcome run = runProgram(c.arguments);
    EXPECT_EQ(run.status, 2) << c.message << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << c.message;
  }
  EXPECT_TRUE(fakes_.requests().empty());
}

TEST_F(LookupProgramTest, HelpIsInEnglishAndChineseAndVersionIsThePrograms) {
  Outcome help = runProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* text :
       {"--service", "--resume", "Exit status", "用法", "退出状态", "--cookie-file"})
    EXPECT_NE(help.out.find(text), std::string::npos) << text << "\n" << help.out;

  Outcome version = runProgram({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "qarvo-lookup 1.2.0\n");
}

}  // namespace
}  // namespace qarvo::cli
