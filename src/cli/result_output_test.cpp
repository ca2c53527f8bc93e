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

TEST(ResultOutputTest, CsvHasOneRowPerDomainOrOneEmptyDomainRow) {
  AddressRecord found{
      .address = "a,b@c.com", .status = "found", .domains = {"x.com", "y.cn"}, .pages = 1};
  EXPECT_EQ(csvRows(found), "\"a,b@c.com\",x.com,found,1,\n\"a,b@c.com\",y.cn,found,1,\n");
  AddressRecord failed{
      .address = "d@e.com", .status = "failed", .pages = 0, .reason = "connection failed"};
  EXPECT_EQ(csvRows(failed), "d@e.com,,failed,0,connection failed\n");
}

TEST(ResultOutputTest, JsonLinesCarryReasonOnlyWhenThereIsOne) {
  AddressRecord none{.address = "n@o.com", .status = "none", .pages = 1};
  EXPECT_EQ(jsonLine(none),
            "{\"address\":\"n@o.com\",\"status\":\"none\",\"domains\":[],"
            "\"pages\":1}\n");
  AddressRecord stopped{.address = "s@t.com",
                        .status = "stopped",
                        .domains = {"a.com"},
                        .pages = 1,
                        .reason = "stopped"};
  EXPECT_EQ(jsonLine(stopped),
            "{\"address\":\"s@t.com\",\"status\":\"stopped\",\"domains\":"
            "[\"a.com\"],\"pages\":1,\"reason\":\"stopped\"}\n");
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
