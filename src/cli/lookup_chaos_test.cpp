// qarvo-lookup against services that misbehave: a seeded share of faults in
// front of the fakes, kills in mid-run, walls, changed layouts, services.ini.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "cli/cli_test_support.h"
#include "cli/resume_journal.h"
#include "platform/code_page.h"
#include "testing/fake_services.h"
#include "testing/fault_router.h"

namespace qarvo::cli {
namespace {

using std::chrono::minutes;
using testing::FakeServices;
using testing::FakeSite;
namespace fs = std::filesystem;

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i)
    text += (i > 0 ? "\r\n" : "") + parts[i];
  return text;
}

// The kept page a message names: "the page is kept in <path>.html".
std::string keptPathIn(const std::string& text) {
  const size_t from = text.find("the page is kept in ");
  const size_t end = text.find(".html", from);
  return end == std::string::npos ? "" : text.substr(from + 20, end + 5 - from - 20);
}

class LookupChaosTest : public ::testing::Test {
 protected:
  struct Outcome {
    std::optional<int> status;
    std::string out, err;
  };

  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("lookup_chaos_test." + std::to_string(::getpid()) + "." +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    ASSERT_TRUE(fakes_.start());
    // The program's proxy requests go through the router to the fakes.
    router_ = std::make_unique<testing::FaultRouter>(fakes_.hostPort());
  }
  void TearDown() override {
    router_.reset();
    fakes_.stop();
    if (!HasFailure())
      fs::remove_all(folder_);
  }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  void writeFile(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string fileOrNone(const std::string& name) const {
    return fs::exists(path(name)) ? fileText(path(name)) : "(none)";
  }
  std::string keptFolder() const { return path("cache") + "/qarvo-dorvane/pages/"; }

  // Kept pages and settings stay in the test's folder; the history is
  // left alone.
  bool start(ProgramRun& run, std::vector<std::string> arguments, int tag = 0) {
    arguments.insert(arguments.begin(), "--no-history");
    return run.start(QARVO_LOOKUP_PROGRAM,
                     {.arguments = std::move(arguments),
                      .environment = {{"http_proxy", "http://" + router_->hostPort()},
                                      {"XDG_CACHE_HOME", path("cache")},
                                      {"XDG_CONFIG_HOME", path("config")}},
                      .standardOutput = path("stdout" + std::to_string(tag)),
                      .standardError = path("stderr" + std::to_string(tag))});
  }
  Outcome finish(ProgramRun& run, int tag = 0) {
    std::optional<int> status = run.wait(minutes(3));
    return {status, fileText(path("stdout" + std::to_string(tag))),
            fileText(path("stderr" + std::to_string(tag)))};
  }
  Outcome runProgram(std::vector<std::string> arguments) {
    ProgramRun run;
    return start(run, std::move(arguments)) ? finish(run) : Outcome{};
  }

  FakeServices fakes_;
  std::unique_ptr<testing::FaultRouter> router_;
  fs::path folder_;
};

TEST_F(LookupChaosTest, KilledAndResumedRunsUnderFaultsEndWithExactlyTheServicesResults) {
  // By i % 5: no data; one page; two pages (GBK); three pages; two full pages (GBK).
  constexpr int kAddresses = 60;
  constexpr int kDomainCounts[] = {0, 3, 7, 12, 10};
  std::map<std::string, std::vector<std::string>> expected;
  std::string list, csv(kCsvHeader);
  for (int i = 0; i < kAddresses; ++i) {
    const std::string address = "user" + std::to_string(i) + "@chaos.example";
    std::vector<std::string>& domains = expected[address];
    for (int j = 1; j <= kDomainCounts[i % 5]; ++j)
      domains.push_back((j == 2 ? "例子" : "d") + std::to_string(i) + "-" + std::to_string(j) +
                        (j == 2 ? ".中国" : ".com"));
    if (!domains.empty())
      fakes_.setAddress(FakeSite::kAizhan, address,
                        {.domains = domains, .perPage = 5, .gbkPages = i % 5 == 2 || i % 5 == 4});
    list += address + "\n";
    if (domains.empty())
      csv += address + ",,none,0,,0,service,,,aizhan\n";
    for (const std::string& domain : domains)
      csv += address + "," + domain + ",found," + std::to_string((domains.size() + 4) / 5) +
             ",,0,service,,,aizhan\n";
  }
  writeFile("list.txt", list);
  const std::string results = path("results");
  const std::string journalPath = results + "/" + std::string(ResumeJournal::kFileName);
  auto journal = [&] {
    // Whole lines only: the program may be writing the next one.
    std::string text = fileText(journalPath);
    text.resize(text.rfind('\n') + 1);
    std::vector<AddressRecord> records;
    std::istringstream lines(text);
    for (std::string line, service; std::getline(lines, line);) {
      EXPECT_TRUE(ResumeJournal::parseLine(line, &service, &records.emplace_back())) << line;
      EXPECT_EQ(service, "aizhan/50");
    }
    return records;
  };
  // Every result file is exactly the service's answer, and belongs to an
  // address that completed: one that is journaled, or one that a kill caught
  // between its file and its journal line (at most one per kill, as is a
  // temporary file left behind). Returns how many result files there are.
  std::set<std::string> caught;
  int kills = 0;
  auto checkFiles = [&](bool killed) {
    std::set<std::string> journaled;
    for (const AddressRecord& record : journal())
      journaled.insert(record.address);
    const size_t caughtBefore = caught.size();
    int files = 0, temporaries = 0;
    for (const auto& entry : fs::directory_iterator(results)) {
      const std::string name = entry.path().filename().string();
      temporaries += name.ends_with(".tmp") ? 1 : 0;
      if (name == ResumeJournal::kFileName || name.ends_with(".tmp"))
        continue;
      const std::string address = name.substr(0, name.size() - 4);
      EXPECT_TRUE(name.ends_with(".txt") && expected.count(address) == 1) << name;
      EXPECT_EQ(fileText(entry.path().string()), gbk(joined(expected[address]))) << name;
      ++files;
      if (journaled.count(address) == 0 && caught.count(address) == 0) {
        EXPECT_TRUE(killed && caught.insert(address).second) << name << " not journaled";
      }
    }
    EXPECT_LE(caught.size(), caughtBefore + 1);
    EXPECT_LE(temporaries, kills);
    return files;
  };

  router_->setChaos({.seed = 27, .share = 0.25});
  const std::vector<std::string> arguments = {"-i",       "0",  "-o",  results,
                                              "--resume", "-f", "csv", path("list.txt")};
  int runs = 0;
  Outcome last;
  for (; runs < 15 && last.status != 0; ++runs) {
    ProgramRun run;
    ASSERT_TRUE(start(run, arguments, runs));
    if (kills < 3) {
      // Killed once another quarter of the list is journaled and the next
      // request is out: in the middle of an address's walk.
      const size_t target = static_cast<size_t>(kills + 1) * kAddresses / 4;
      bool ended = false;
      ASSERT_TRUE(
          waitFor([&] { return journal().size() >= target || (ended = run.poll().has_value()); },
                  minutes(3)));
      const size_t asked = router_->requestCount();
      ASSERT_TRUE(waitFor(
          [&] { return ended || router_->requestCount() > asked || run.poll().has_value(); },
          minutes(1)));
      run.signal(SIGKILL);
    }
    last = finish(run, runs);
    ASSERT_TRUE(last.status.has_value()) << "run " << runs << " did not end";
    const bool killed = last.status == 128 + SIGKILL;
    kills += killed ? 1 : 0;
    checkFiles(killed);
    // Not killed: done, or some address failed and is asked again by the next run.
    ASSERT_TRUE(killed || last.status == 0 || last.status == 1) << *last.status << last.err;
  }
  EXPECT_EQ(kills, 3);
  ASSERT_EQ(last.status, 0) << "after " << runs << " runs\n" << last.err;

  // The last run's output covers the whole list, earlier results included;
  // each address is journaled once, as the service answered it.
  EXPECT_EQ(last.out, csv);
  std::map<std::string, std::vector<std::string>> journaled;
  for (const AddressRecord& record : journal())
    EXPECT_TRUE(journaled.emplace(record.address, record.domains).second) << record.address;
  EXPECT_EQ(journaled, expected);
  EXPECT_EQ(checkFiles(false), kAddresses);

  // The faults really came, every kind of them.
  const testing::ChaosCounts n = router_->chaosCounts();
  EXPECT_TRUE(n.cut > 0 && n.refuse > 0 && n.resetMidBody > 0 && n.throttle > 0 && n.wall > 0)
      << n.cut << " cut, " << n.refuse << " refused, " << n.resetMidBody << " reset, " << n.throttle
      << " throttled, " << n.wall << " walled";
}

TEST_F(LookupChaosTest, ARenamedResultBlockFailsUntilServicesIniDescribesIt) {
  const std::vector<std::string> domains = {"a1.com", "例子.中国", "a3.com", "a4.com",
                                            "a5.com", "a6.com",    "a7.com"};
  fakes_.setAddress(FakeSite::kAizhan, "found@a.com",
                    {.domains = domains, .perPage = 5, .gbkPages = true});
  writeFile("list.txt", "found@a.com\n");
  writeFile("renamed.ini", "[aizhan]\nresult_block = div class whois-list\n");
  writeFile("bad.ini", "nonsense line\n[aizhan]\nresult_block =\n");
  std::string found(kCsvHeader);
  for (const std::string& domain : domains)
    found += "found@a.com," + domain + ",found,2,,0,service,,,aizhan\n";
  const std::string failed =
      std::string(kCsvHeader) + "found@a.com,,failed,0,unrecognised page,0,service,,,aizhan\n";
  struct Case {
    std::string block, ini, out;    // the fake's result block class, --services FILE, stdout
    std::vector<std::string> told;  // on standard error
  };
  const std::vector<Case> cases = {
      {"whois-list", "", failed, {"found@a.com: failed (unrecognised page)", keptFolder()}},
      {"whois-list", "renamed.ini", found, {}},
      {"reverse-content", "bad.ini", found, {"services.ini line 1: ", "services.ini line 3: "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block + " " + c.ini);
    fs::remove_all(path("results"));
    fakes_.setResultBlockName(FakeSite::kAizhan, c.block);
    std::vector<std::string> arguments = {"-o", path("results"), path("list.txt")};
    if (!c.ini.empty())
      arguments.insert(arguments.begin(), {"--services", path(c.ini)});
    Outcome run = runProgram(arguments);
    EXPECT_EQ(run.status, c.out == found ? 0 : 1) << run.err;
    EXPECT_EQ(run.out, c.out);
    for (const std::string& text : c.told)
      EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
    // A failed look-up writes no file; a found one exactly the service's domains.
    EXPECT_EQ(fileOrNone("results/found@a.com.txt"),
              c.out == found ? gbk(joined(domains)) : "(none)");
  }
}

TEST_F(LookupChaosTest, CheckSaysWhatEachServicesPageWasRecognisedAs) {
  fakes_.setAddress(FakeSite::kAizhan, "found@a.com", {.domains = {"a1.com", "a2.com"}});
  writeFile("list.txt", "found@a.com\n");
  const std::string reachable = "reachable over https, HTTP 200, page recognised as ";
  for (const bool wall : {false, true}) {
    SCOPED_TRACE(wall ? "walled" : "open");
    fakes_.setWall(FakeSite::kAizhan, wall);
    Outcome run = runProgram({"--check", path("list.txt")});
    EXPECT_EQ(run.status, wall ? 1 : 0) << run.err;
    const size_t lineEnd = run.out.find('\n');
    ASSERT_NE(lineEnd, std::string::npos) << run.out;
    const std::string aizhan = run.out.substr(0, lineEnd + 1);
    EXPECT_TRUE(aizhan.starts_with("aizhan.com: " + reachable +
                                   (wall ? "unrecognised" : "result, 2 entries")))
        << aizhan;
    EXPECT_EQ(run.out.substr(lineEnd + 1), "chinaz.com: " + reachable + "no data\n");
    // The page that was not recognised is kept for the user to see.
    const std::string kept = keptPathIn(aizhan);
    EXPECT_EQ(kept.starts_with(keptFolder()), wall) << aizhan;
    EXPECT_EQ(fileText(kept).find(FakeServices::kWallText) != std::string::npos, wall) << kept;
  }
  EXPECT_EQ(fakes_.requests(FakeSite::kAizhan).size(), 2u);
}

TEST_F(LookupChaosTest, ThreeAddressesInARowBehindAWallStopTheRun) {
  const std::vector<std::string> addresses = {"w1@a.com", "w2@a.com", "w3@a.com", "w4@a.com",
                                              "w5@a.com"};
  for (const std::string& address : addresses)
    fakes_.setAddress(FakeSite::kAizhan, address, {.domains = {"x.com"}});
  fakes_.setWall(FakeSite::kAizhan, true);
  fs::create_directories(path("results"));
  writeFile("results/w2@a.com.txt", "earlier2.com");
  writeFile("results/w5@a.com.txt", "earlier5.com");
  writeFile("list.txt", joined(addresses));

  Outcome run = runProgram({"-f", "jsonl", "-o", path("results"), path("list.txt")});
  EXPECT_EQ(run.status, 1) << run.err;
  std::string out;
  for (int i = 0; i < 3; ++i)
    out += "{\"address\":\"" + addresses[i] +
           "\",\"status\":\"failed\",\"domains\":[],\"pages\":0,\"more_pages\":0,\"reason\":"
           "\"unrecognised page\",\"source\":\"service\",\"new\":[],\"first_seen\":[],"
           "\"services\":{\"aizhan\":{\"status\":\"failed\",\"pages\":0,\"domains\":[],"
           "\"reason\":\"unrecognised page\"}}}\n";
  EXPECT_EQ(run.out, out);
  EXPECT_NE(run.err.find("3 failed, 2 not asked"), std::string::npos) << run.err;
  // The stop names the page it met, kept in the test's cache folder.
  const size_t stop = run.err.find("aizhan.com shows pages this program does not recognise");
  ASSERT_NE(stop, std::string::npos) << run.err;
  const std::string kept = keptPathIn(run.err.substr(stop));
  EXPECT_TRUE(kept.starts_with(keptFolder())) << run.err;
  EXPECT_NE(fileText(kept).find(FakeServices::kWallText), std::string::npos) << kept;

  // Each of the three asked once more after the usual pause; the rest never.
  std::string asked;
  for (const auto& request : fakes_.requests(FakeSite::kAizhan))
    asked += request.param("q") + " ";
  EXPECT_EQ(asked, "w1@a.com w1@a.com w2@a.com w2@a.com w3@a.com w3@a.com ");
  // No file written, the earlier ones untouched, nothing journaled.
  const char* files[] = {"(none)", "earlier2.com", "(none)", "(none)", "earlier5.com"};
  for (size_t i = 0; i < addresses.size(); ++i)
    EXPECT_EQ(fileOrNone("results/" + addresses[i] + ".txt"), files[i]) << addresses[i];
  EXPECT_EQ(fileOrNone("results/" + std::string(ResumeJournal::kFileName)), "");
}

}  // namespace
}  // namespace qarvo::cli
