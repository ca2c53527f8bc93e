#include "cli/result_output.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/code_page.h"

namespace qarvo::cli {
namespace {

TEST(ResultOutputTest, CsvQuotesOnlyFieldsThatNeedItAndDoublesQuotes) {
  EXPECT_EQ(csvField("plain@a.com"), "plain@a.com");
  EXPECT_EQ(csvField("a,b"), "\"a,b\"");
  EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(csvField("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(csvField(""), "");
}

TEST(ResultOutputTest, JsonStringsEscapeQuotesBackslashesAndControlsAndKeepUtf8) {
  EXPECT_EQ(jsonString("例子.中国"), "\"例子.中国\"");
  EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(jsonString(std::string("\t\r\n\x01\x1f", 5)), "\"\\t\\r\\n\\u0001\\u001f\"");
}

TEST(ResultOutputTest, EngineResultsBecomeRecordsWithUtf8DomainsAndReasonsOnlyForFailures) {
  LookupResult found{
      .outcome = LookupOutcome::kFound, .domains = gbk("a.com\r\n例子.中国\r\nb.cn"), .pages = 2};
  AddressRecord record = makeRecord("x@y.com", found);
  EXPECT_EQ(record.status, "found");
  EXPECT_EQ(record.domains, (std::vector<std::string>{"a.com", "例子.中国", "b.cn"}));
  EXPECT_EQ(record.pages, 2);
  EXPECT_EQ(record.reason, "");

  LookupResult incomplete{.outcome = LookupOutcome::kIncomplete,
                          .reason = FailureReason::kSignInMissing,
                          .domains = gbk("a.com"),
                          .pages = 10,
                          .failedPage = 11};
  record = makeRecord("x@y.com", incomplete);
  EXPECT_EQ(record.status, "incomplete");
  EXPECT_EQ(record.reason, reasonName(FailureReason::kSignInMissing));
  EXPECT_FALSE(record.reason.empty());
}

TEST(ResultOutputTest, OnlyACompletedLookUpIsCutShortByThePageLimit) {
  struct Case {
    LookupOutcome outcome;
    FailureReason reason;
    int pages, announced, morePages;
  };
  using enum LookupOutcome;
  const std::vector<Case> cases = {
      {kFound, FailureReason::kNone, 1, 13, 12},  // -p 1 of 13 pages
      {kFound, FailureReason::kNone, 3, 3, 0},    // all of them
      {kFound, FailureReason::kNone, 1, 0, 0},    // no pager
      {kNone, FailureReason::kNone, 0, 0, 0},
      {kIncomplete, FailureReason::kConnection, 2, 5, 0},  // a failure, not the limit
      {kStopped, FailureReason::kStopped, 1, 5, 0},
  };
  for (const Case& c : cases) {
    const LookupResult result{.outcome = c.outcome,
                              .reason = c.reason,
                              .domains = c.pages > 0 ? "a.com" : "",
                              .pages = c.pages,
                              .announcedPages = c.announced};
    EXPECT_EQ(makeRecord("x@y.com", result).morePages, c.morePages)
        << outcomeName(c.outcome) << " " << c.pages << "/" << c.announced;
  }
}

TEST(ResultOutputTest, CsvHasOneRowPerDomainOrOneEmptyDomainRow) {
  AddressRecord found{
      .address = "a,b@c.com", .status = "found", .domains = {"x.com", "y.cn"}, .pages = 1};
  EXPECT_EQ(
      csvRows(found),
      "\"a,b@c.com\",x.com,found,1,,0,service,,,\n\"a,b@c.com\",y.cn,found,1,,0,service,,,\n");
  AddressRecord failed{
      .address = "d@e.com", .status = "failed", .pages = 0, .reason = "connection failed"};
  EXPECT_EQ(csvRows(failed), "d@e.com,,failed,0,connection failed,0,service,,,\n");
  AddressRecord cut{
      .address = "f@g.com", .status = "found", .domains = {"h.com"}, .pages = 1, .morePages = 12};
  EXPECT_EQ(csvRows(cut), "f@g.com,h.com,found,1,,12,service,,,\n");
}

TEST(ResultOutputTest, JsonLinesCarryReasonOnlyWhenThereIsOne) {
  AddressRecord none{.address = "n@o.com", .status = "none", .pages = 1};
  EXPECT_EQ(jsonLine(none),
            "{\"address\":\"n@o.com\",\"status\":\"none\",\"domains\":[],"
            "\"pages\":1,\"more_pages\":0,\"source\":\"service\",\"new\":[],\"first_seen\":[],"
            "\"services\":{}}\n");
  AddressRecord cut{
      .address = "f@g.com", .status = "found", .domains = {"h.com"}, .pages = 1, .morePages = 12};
  EXPECT_EQ(jsonLine(cut),
            "{\"address\":\"f@g.com\",\"status\":\"found\",\"domains\":[\"h.com\"],"
            "\"pages\":1,\"more_pages\":12,\"source\":\"service\",\"new\":null,\"first_seen\":"
            "null,\"services\":{}}\n");
  AddressRecord stopped{.address = "s@t.com",
                        .status = "stopped",
                        .domains = {"a.com"},
                        .pages = 1,
                        .reason = "stopped"};
  EXPECT_EQ(jsonLine(stopped),
            "{\"address\":\"s@t.com\",\"status\":\"stopped\",\"domains\":"
            "[\"a.com\"],\"pages\":1,\"more_pages\":0,\"reason\":\"stopped\",\"source\":"
            "\"service\",\"new\":null,\"first_seen\":null,\"services\":{}}\n");
}

// A merged result of both services: who listed each domain, each service's
// own answer and reason, what is new, and each service's pages left unread.
TEST(ResultOutputTest, AMergedResultSaysWhoListedEachDomainAndWhatEachServiceSaid) {
  using std::chrono::sys_days;
  using namespace std::chrono_literals;
  const auto may1 = sys_days{std::chrono::year{2024} / 5 / 1} + 23h;
  LookupResult aizhan{.outcome = LookupOutcome::kFound,
                      .domains = gbk("x.com\r\n例子.中国"),
                      .pages = 1,
                      .announcedPages = 3,
                      .service = Service::kAizhan};
  LookupResult chinaz{.outcome = LookupOutcome::kIncomplete,
                      .reason = FailureReason::kSignInMissing,
                      .domains = gbk("例子.中国\r\nz.cn"),
                      .pages = 10,
                      .failedPage = 11,
                      .service = Service::kChinaz};
  // The engine's union of the two, 爱站's first.
  auto merge = [](const LookupResult& a, const LookupResult& c, const char* domains,
                  std::vector<unsigned char> sources) {
    const bool done = a.completed() && c.completed();
    return LookupResult{
        .outcome = done ? (*domains != 0 ? LookupOutcome::kFound : LookupOutcome::kNone)
                        : LookupOutcome::kIncomplete,
        .reason = done ? FailureReason::kNone : c.reason,
        .domains = gbk(domains),
        .pages = a.pages + c.pages,
        .answers = {a, c},
        .sources = std::move(sources),
        .reasonFrom = static_cast<unsigned char>(done ? 0 : kFromChinaz)};
  };
  LookupResult merged =
      merge(aizhan, chinaz, "x.com\r\n例子.中国\r\nz.cn", {kFromAizhan, kFromBoth, kFromChinaz});
  merged.history.since = may1;
  merged.history.isNew = {0, 0, 1};
  merged.history.firstSeen = {may1, may1 + 1h, may1 + 2h};
  const AddressRecord record = makeRecord("a@b.com", merged, kFromBoth);
  EXPECT_EQ(csvRows(record),
            "a@b.com,x.com,incomplete,11,chinaz: sign-in needed,0,service,0,2024-05-01,aizhan\n"
            "a@b.com,例子.中国,incomplete,11,chinaz: sign-in needed,0,service,0,2024-05-02,"
            "aizhan+chinaz\n"
            "a@b.com,z.cn,incomplete,11,chinaz: sign-in needed,0,service,1,2024-05-02,chinaz\n");
  EXPECT_EQ(
      jsonLine(record),
      "{\"address\":\"a@b.com\",\"status\":\"incomplete\",\"domains\":[\"x.com\",\"例子.中国\","
      "\"z.cn\"],\"pages\":11,\"more_pages\":0,\"reason\":\"chinaz: sign-in needed\",\"source\":"
      "\"service\",\"new\":[0,0,1],\"first_seen\":[\"2024-05-01\",\"2024-05-02\",\"2024-05-02\"],"
      "\"services\":{\"aizhan\":{\"status\":\"found\",\"pages\":1,\"domains\":[\"x.com\","
      "\"例子.中国\"]},\"chinaz\":{\"status\":\"incomplete\",\"pages\":10,\"domains\":["
      "\"例子.中国\",\"z.cn\"],\"reason\":\"sign-in needed\"}}}\n");

  // Both completed: each one's pages left unread add up; nobody's found is none.
  chinaz = {.outcome = LookupOutcome::kNone, .domains = "", .service = Service::kChinaz};
  const AddressRecord done =
      makeRecord("a@b.com", merge(aizhan, chinaz, "x.com\r\n例子.中国", {1, 1}), kFromBoth);
  EXPECT_EQ(done.morePages, 2);
  EXPECT_EQ(done.reason, "");
  EXPECT_EQ(csvRows(makeRecord("n@b.com", merge(chinaz, chinaz, "", {}), kFromBoth)),
            "n@b.com,,none,0,,0,service,,,aizhan+chinaz\n");
}

TEST(ResultOutputTest, AFailedWriteIsNoticed) {
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr)
    GTEST_SKIP() << "no /dev/full";
  ResultOutput output(OutputFormat::kCsv, full);
  output.begin();
  EXPECT_FALSE(output.good());
  std::fclose(full);
}

}  // namespace
}  // namespace qarvo::cli
