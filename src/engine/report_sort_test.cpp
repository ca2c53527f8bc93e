#include "engine/report_sort.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <random>

#include "engine/lookup_engine.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "testing/fake_main_window_view.h"

namespace qarvo {
namespace {

using ::testing::ElementsAre;

// The order the repeated selection of the smallest (or largest) key gives,
// written plainly: every pass takes the last of the equal extremes.
std::vector<int> selectionOrder(const std::vector<Text>& keys, bool ascending, bool caseSensitive,
                                int kind) {
  std::vector<std::pair<Text, int>> list;
  for (size_t i = 0; i < keys.size(); ++i)
    list.emplace_back(keys[i], static_cast<int>(i));
  auto replaces = [&](const Text& candidate, const Text& pair) {
    if (kind == kSortText) {
      Text a = caseSensitive ? candidate : asciiToUpper(candidate);
      Text b = caseSensitive ? pair : asciiToUpper(pair);
      int c = a.compare(b);
      return ascending ? c >= 0 : c <= 0;
    }
    if (kind == kSortDateTime) {
      double a = dateTimeValue(candidate), b = dateTimeValue(pair);
      return ascending ? a >= b : a <= b;
    }
    double d = leadingNumber(candidate) - leadingNumber(pair);
    return ascending ? d >= -1e-7 : d <= 1e-7;
  };
  std::vector<int> order;
  while (list.size() >= 2) {
    size_t candidate = 0;
    for (size_t i = 1; i < list.size(); ++i) {
      if (replaces(list[candidate].first, list[i].first))
        candidate = i;
    }
    order.push_back(list[candidate].second);
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(candidate));
  }
  if (!list.empty())
    order.push_back(list.front().second);
  return order;
}

Text randomKey(std::mt19937& random, int kind) {
  auto pick = [&](std::initializer_list<const char*> options) {
    std::uniform_int_distribution<size_t> d(0, options.size() - 1);
    return Text(*(options.begin() + static_cast<std::ptrdiff_t>(d(random))));
  };
  std::uniform_int_distribution<int> small(0, 30);
  switch (kind) {
    case kSortText:
      return pick({"a", "A", "b", "ab", "aB", "", "Z", "z@x.com", "Z@X.COM", "\xD5\xC5", "\xB0\xA1",
                   "\xD5\xC5"
                   "a",
                   "~", " a"}) +
             (small(random) < 5 ? std::to_string(small(random)) : "");
    case kSortDateTime:
      return pick({"2024-01-31", "2024/1/31 12:00:00", "2024/1/31", "2023-12-31T23:59:59",
                   "1999.2.28", "12:00", "", "not a date", "2024-02-30", "2000-02-29 0:0",
                   "2024-01-31 12:00"});
    default:
      return pick({"", "abc.com", "12abc.com", "3.5x", "-2", "1e3", "0012", "12", "7", "007.com",
                   "1.00000001", "1", "0.99999999"}) +
             (small(random) < 3 ? "z" : "");
  }
}

TEST(SortReportList, MatchesThePlainSelectionOnRandomTables) {
  std::mt19937 random(20240131);
  for (int kind : {kSortText, kSortInteger, kSortReal, kSortDateTime}) {
    for (int round = 0; round < 40; ++round) {
      std::uniform_int_distribution<int> sizes(0, 60);
      const int rows = sizes(random);
      const bool ascending = random() % 2 == 0;
      const bool caseSensitive = random() % 3 == 0;
      const int column = static_cast<int>(random() % 3);
      FakeMainWindowView view;
      view.columns = 3;
      std::vector<std::vector<Text>> table;
      std::vector<Text> keys;
      for (int r = 0; r < rows; ++r) {
        std::vector<Text> cells = {"r" + std::to_string(r), "s" + std::to_string(r),
                                   "t" + std::to_string(r)};
        cells[static_cast<size_t>(column)] = randomKey(random, kind);
        keys.push_back(cells[static_cast<size_t>(column)]);
        table.push_back(cells);
      }
      view.setRows(table);
      EXPECT_EQ(sortReportList(view, column, ascending, caseSensitive, kind), gbk("排序完成"));
      std::vector<int> expected = selectionOrder(keys, ascending, caseSensitive, kind);
      ASSERT_EQ(view.rowCount(), rows);
      for (int i = 0; i < rows; ++i) {
        // Whole rows move together.
        EXPECT_EQ(view.rows[static_cast<size_t>(i)].cells,
                  table[static_cast<size_t>(expected[static_cast<size_t>(i)])])
            << "kind " << kind << " round " << round << " position " << i;
      }
    }
  }
}

TEST(SortReportList, RefusalsLeaveTheListAlone) {
  FakeMainWindowView view;
  view.setRows({{"b", "2"}, {"a", "1"}});
  const auto before = view.rows;
  EXPECT_EQ(sortReportList(view, 2), gbk("错误的列索引"));
  EXPECT_EQ(sortReportList(view, -1), gbk("错误的列索引"));
  EXPECT_EQ(sortReportList(view, 0, true, false, 7), gbk("排序类型不对"));
  view.reportView = false;
  EXPECT_EQ(sortReportList(view, 0), gbk("该超级列表框不是报表类型"));
  EXPECT_EQ(view.rows, before);
}

TEST(SortReportList, DefaultsAndSmallLists) {
  FakeMainWindowView view;
  EXPECT_EQ(sortReportList(view, 0), gbk("排序完成"));  // no rows
  view.setRows({{"b@x.com", "1"}, {"A@x.com", "2"}, {"a@x.com", "3"}});
  // Ascending, case-insensitive text by default: the equal pair is reversed.
  sortReportList(view, 0);
  EXPECT_THAT(view.columnTexts(0), ElementsAre("a@x.com", "A@x.com", "b@x.com"));
  sortReportList(view, 0);
  EXPECT_THAT(view.columnTexts(0), ElementsAre("A@x.com", "a@x.com", "b@x.com"));
  view.setRows({{"only", "x"}});
  int writes = 0;
  view.onSetCellText = [&](int, int, const Text&) { ++writes; };
  sortReportList(view, 1);
  EXPECT_EQ(writes, 2);  // the one row is written back
  EXPECT_THAT(view.columnTexts(0), ElementsAre("only"));
}

TEST(SortReportList, NumbersOrderByTheirLeadingNumber) {
  FakeMainWindowView view;
  view.setRows({{"1", "abc.com"}, {"2", "10x.com"}, {"3", "9.com"}, {"4", "xyz.com"}});
  sortReportList(view, 1, true, false, kSortInteger);
  // Names that are not numbers count as 0, first, in reverse order.
  EXPECT_THAT(view.columnTexts(1), ElementsAre("xyz.com", "abc.com", "9.com", "10x.com"));
  sortReportList(view, 1, false, false, kSortReal);
  EXPECT_THAT(view.columnTexts(1), ElementsAre("10x.com", "9.com", "abc.com", "xyz.com"));
}

TEST(SortReportList, PumpsEventsWhileItWorks) {
  FakeMainWindowView view;
  std::vector<std::vector<Text>> table;
  for (int r = 0; r < 3000; ++r)
    table.push_back({std::to_string(r % 97), "x"});
  view.setRows(table);
  ScopedEventPump pump([] {});
  sortReportList(view, 0);
  // At least once per row while copying, keying and writing back.
  EXPECT_GE(pump.calls(), 9000);
}

TEST(SortReportList, AListReplacedByAPumpedEventIsLeftAlone) {
  FakeMainWindowView view;
  view.setRows({{"b", "1"}, {"a", "2"}, {"c", "3"}});
  bool replaced = false;
  ScopedEventPump pump([&] {
    // A new run starts while the sort copies the rows: two fresh rows.
    if (!replaced) {
      replaced = true;
      view.setRows({{"new@x.com", ""}, {"next@x.com", ""}});
    }
  });
  EXPECT_EQ(sortReportList(view, 0), gbk("排序完成"));
  EXPECT_THAT(view.columnTexts(0), ElementsAre("new@x.com", "next@x.com"));
  EXPECT_THAT(view.columnTexts(1), ElementsAre("", ""));
}

TEST(SortReportList, ImagesNotesAndStoriesMoveWithTheirRows) {
  FakeMainWindowView view;
  view.setRows({{"b@x.com", "b.com"}, {"a@x.com", gbk("查询失败：超时")}, {"c@x.com", ""}});
  view.setRowImage(1, 3);
  view.setRowNote(1, gbk("查询失败：超时"));
  const RowStory story{.tip = gbk("新增 1 个，减少 0 个"), .newLines = {1}, .fromHistory = false};
  view.setRowStory(0, story);
  sortReportList(view, 0, true);
  EXPECT_THAT(view.columnTexts(0), ElementsAre("a@x.com", "b@x.com", "c@x.com"));
  EXPECT_EQ(view.rowImage(0), 3);
  EXPECT_EQ(view.rowNote(0), gbk("查询失败：超时"));
  EXPECT_EQ(view.rowImage(1), 0);
  EXPECT_EQ(view.rowNote(1), "");
  EXPECT_EQ(view.rowStory(1), story);
  EXPECT_TRUE(view.rowStory(0).empty());
  EXPECT_EQ(view.rowImage(2), 1);
}

TEST(LeadingNumber, ReadsTheNumberATextStartsWith) {
  EXPECT_EQ(leadingNumber("12abc.com"), 12);
  EXPECT_EQ(leadingNumber("  -3.5x"), -3.5);
  EXPECT_EQ(leadingNumber("+7"), 7);
  EXPECT_EQ(leadingNumber("1e3.com"), 1000);
  EXPECT_EQ(leadingNumber("2e"), 2);
  EXPECT_EQ(leadingNumber(".5"), 0.5);
  EXPECT_EQ(leadingNumber("5."), 5);
  EXPECT_EQ(leadingNumber("abc"), 0);
  EXPECT_EQ(leadingNumber(""), 0);
  EXPECT_EQ(leadingNumber("."), 0);
  EXPECT_EQ(leadingNumber("-"), 0);
  EXPECT_EQ(leadingNumber("inf"), 0);
  EXPECT_EQ(leadingNumber("nan.com"), 0);
  EXPECT_EQ(leadingNumber("0x1F"), 0);
  EXPECT_EQ(leadingNumber("1e999"), DBL_MAX);
  EXPECT_EQ(leadingNumber("-1e999"), -DBL_MAX);
  EXPECT_EQ(leadingNumber("1e-999"), 0);
  EXPECT_EQ(leadingNumber("0.000001"), 0.000001);
}

TEST(DateTimeValue, FormatsAUserWouldExpect) {
  const double day = dateTimeValue("2024-01-31");
  EXPECT_EQ(dateTimeValue("1899-12-30"), 0);
  EXPECT_EQ(dateTimeValue("1900-01-01"), 2);
  EXPECT_EQ(day, 45322);
  EXPECT_EQ(dateTimeValue("2024/1/31"), day);
  EXPECT_EQ(dateTimeValue("2024.01.31"), day);
  EXPECT_EQ(dateTimeValue(gbk("2024年1月31日")), day);
  EXPECT_EQ(dateTimeValue(" 2024/1/31 12:00:00 "), day + 0.5);
  EXPECT_EQ(dateTimeValue("2024-01-31T18:00"), day + 0.75);
  EXPECT_EQ(dateTimeValue("06:00"), 0.25);
  EXPECT_EQ(dateTimeValue("2024-02-29"), day + 29);
  EXPECT_LT(dateTimeValue("1000-01-01"), 0);
  // Not dates: the earliest date.
  for (const char* text : {"", "abc", "2023-02-29", "2024-13-01", "2024-01-31 25:00", "2024-1-31x",
                           "31/01/2024", "99-1-1", "2024-01-31 12:60"}) {
    EXPECT_EQ(dateTimeValue(text), kEarliestDate) << text;
  }
  EXPECT_LT(kEarliestDate, dateTimeValue("0100-01-02"));
}

TEST(ResultHeaderClick, AlternatesDirectionAndKindByColumn) {
  FakeMainWindowView view;
  LookupEngine engine(view);
  view.setRows({{"b", "10a.com"}, {"a", "9.com"}, {"c", "x.com"}});
  engine.onResultHeaderClick(0);  // first accepted click: ascending
  EXPECT_THAT(view.columnTexts(0), ElementsAre("a", "b", "c"));
  engine.onResultHeaderClick(1);  // descending, by number
  EXPECT_THAT(view.columnTexts(1), ElementsAre("10a.com", "9.com", "x.com"));
  engine.onResultHeaderClick(1);  // ascending again
  EXPECT_THAT(view.columnTexts(1), ElementsAre("x.com", "9.com", "10a.com"));
}

TEST(ResultHeaderClick, IgnoredWhileARunIsActive) {
  FakeMainWindowView view;
  LookupEngine engine(view);
  view.setRows({{"b", ""}, {"a", ""}});
  view.setCaption(control::kStartButton, gbk("停止查询"));
  engine.onResultHeaderClick(0);
  EXPECT_THAT(view.columnTexts(0), ElementsAre("b", "a"));
  view.setCaption(control::kStartButton, gbk("开始查询"));
  engine.onResultHeaderClick(0);  // still the first accepted click: ascending
  EXPECT_THAT(view.columnTexts(0), ElementsAre("a", "b"));
}

}  // namespace
}  // namespace qarvo
