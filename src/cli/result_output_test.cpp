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
  EXPECT_EQ(csvRows(found), "\"a,b@c.com\",x.com,found,1,,0\n\"a,b@c.com\",y.cn,found,1,,0\n");
  AddressRecord failed{
      .address = "d@e.com", .status = "failed", .pages = 0, .reason = "connection failed"};
  EXPECT_EQ(csvRows(failed), "d@e.com,,failed,0,connection failed,0\n");
  AddressRecord cut{
      .address = "f@g.com", .status = "found", .domains = {"h.com"}, .pages = 1, .morePages = 12};
  EXPECT_EQ(csvRows(cut), "f@g.com,h.com,found,1,,12\n");
}

TEST(ResultOutputTest, JsonLinesCarryReasonOnlyWhenThereIsOne) {
  AddressRecord none{.address = "n@o.com", .status = "none", .pages = 1};
  EXPECT_EQ(jsonLine(none),
            "{\"address\":\"n@o.com\",\"status\":\"none\",\"domains\":[],"
            "\"pages\":1,\"more_pages\":0}\n");
  AddressRecord cut{
      .address = "f@g.com", .status = "found", .domains = {"h.com"}, .pages = 1, .morePages = 12};
  EXPECT_EQ(jsonLine(cut),
            "{\"address\":\"f@g.com\",\"status\":\"found\",\"domains\":[\"h.com\"],"
            "\"pages\":1,\"more_pages\":12}\n");
  AddressRecord stopped{.address = "s@t.com",
                        .status = "stopped",
                        .domains = {"a.com"},
                        .pages = 1,
                        .reason = "stopped"};
  EXPECT_EQ(jsonLine(stopped),
            "{\"address\":\"s@t.com\",\"status\":\"stopped\",\"domains\":"
            "[\"a.com\"],\"pages\":1,\"more_pages\":0,\"reason\":\"stopped\"}\n");
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
