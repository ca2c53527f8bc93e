#include "cli/progress_display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace qarvo::cli {
namespace {

using Clock = ProgressDisplay::Clock;
using std::chrono::milliseconds;

TEST(ProgressDisplayTest, DescribeSaysHowEachAddressEnded) {
  struct Case {
    AddressRecord record;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{.status = "found", .domains = {"a.com", "b.com"}, .pages = 1}, "found, 2 domains, 1 page"},
      {{.status = "found",
        .domains = std::vector<std::string>(20, "a.com"),
        .pages = 1,
        .morePages = 12},
       "found, 20 domains, 1 of 13 pages (page limit)"},
      {{.status = "none"}, "none"},
      {{.status = "stopped", .domains = {"a.com"}, .pages = 1, .reason = "stopped"},
       "stopped, 1 domain, 1 page"},
      {{.status = "failed", .reason = "connection failed"}, "failed (connection failed)"},
      {{.status = "incomplete", .domains = {"a.com"}, .pages = 10, .reason = "sign-in needed"},
       "incomplete (sign-in needed), 1 domain, 10 pages"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ProgressDisplay::describe(c.record), c.text);
}

TEST(ProgressDisplayTest, TheSummaryCountsWhatTheListLostAndWhatThePageLimitCut) {
  const RunTally tally{
      .total = 3, .found = 2, .none = 1, .cutShort = 1, .duplicates = 2, .linesWithoutAddress = 1};
  EXPECT_EQ(ProgressDisplay::summary(tally, "out", false),
            "done: 3 of 3 addresses, 2 found, 1 none, 1 cut short by the page limit (-p), 2 "
            "duplicates dropped, 1 line without an address; files in out");
}

// What a display writes, as a string.
class Captured {
 public:
  Captured() : stream_(::open_memstream(&buffer_, &size_)) {}
  ~Captured() {
    std::fclose(stream_);
    std::free(buffer_);
  }
  std::FILE* stream() { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::FILE* stream_;
};

TEST(ProgressDisplayTest, ATerminalStatusLineCountsDownAWaitUntilTheNextStatus) {
  Captured out;
  ProgressDisplay display(out.stream(), true, false);
  const Clock::time_point start{};
  display.status(2, 5, "a@b.com", 3, 7, 40, 0, true);
  display.countdown("too many queries", start + milliseconds(5000), start);
  display.tick(start + milliseconds(100));  // the same second: not drawn again
  display.tick(start + milliseconds(1000));
  display.tick(start + milliseconds(4999));
  display.tick(start + milliseconds(5000));
  const std::string status = "[2/5] a@b.com  page 3/7  40 domains";
  EXPECT_EQ(out.text(), "\r" + status + "\x1b[K" +                                      //
                            "\r" + status + "  too many queries, again in 5 s\x1b[K" +  //
                            "\r" + status + "  too many queries, again in 4 s\x1b[K" +  //
                            "\r" + status + "  too many queries, again in 1 s\x1b[K" +  //
                            "\r" + status + "  too many queries, asking again\x1b[K");
  // The next status ends it.
  display.status(2, 5, "a@b.com", 4, 7, 60, 0, true);
  const size_t before = out.text().size();
  display.tick(start + milliseconds(6000));
  EXPECT_EQ(out.text().size(), before);
}

// Both services asked: each one's place side by side on the status line,
// and each one's totals and the overlap in the summary.
TEST(ProgressDisplayTest, BothServicesAreShownSideBySide) {
  Captured out;
  ProgressDisplay display(out.stream(), true, false);
  display.partStatus(0, 3, 10, 3, 12, 0, true);
  display.partStatus(1, 2, 10, 1, 0, 1, true);
  display.partStatus(1, 2, 10, 1, 4, 1, true);
  EXPECT_EQ(out.text(),
            "\r爱站 [3/10] 3/12\x1b[K"
            "\r爱站 [3/10] 3/12 · 站长 [2/10] 1  1 not completed\x1b[K"
            "\r爱站 [3/10] 3/12 · 站长 [2/10] 1/4  1 not completed\x1b[K");
  RunTally tally{.total = 3, .found = 2, .incomplete = 1, .fromHistory = 1};
  tally.byService = {{"aizhan", 3, 0, 12}, {"chinaz", 2, 1, 8}};
  tally.sharedDomains = 5;
  EXPECT_EQ(ProgressDisplay::summary(tally, "", false),
            "done: 3 of 3 addresses, 2 found, 1 incomplete, 1 from the history; aizhan: 3 "
            "completed, 12 domains; chinaz: 2 completed, 1 not completed, 8 domains; 5 listed by "
            "both");
}

TEST(ProgressDisplayTest, NoCountdownOffATerminalOrWhenQuiet) {
  for (const auto& [terminal, quiet] : {std::pair{false, false}, std::pair{true, true}}) {
    Captured out;
    ProgressDisplay display(out.stream(), terminal, quiet);
    display.status(1, 1, "a@b.com", 1, 0, 0, 0, true);
    display.countdown("too many queries", Clock::time_point{} + milliseconds(5000),
                      Clock::time_point{});
    display.tick(Clock::time_point{} + milliseconds(2000));
    EXPECT_EQ(out.text(), "");
  }
}

}  // namespace
}  // namespace qarvo::cli
