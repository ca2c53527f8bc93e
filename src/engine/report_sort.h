// Sorting the report list by one column.
//
// The cell texts of every row, its image and its note are copied out,
// ordered, and written back, so a row's icon stays beside its address. Rows with equal keys come
// out in the reverse of their order before the sort (each sort swaps them again), in either
// direction; the program has always sorted that way and users see it.
#pragma once

#include <optional>

#include "engine/main_window_view.h"
#include "platform/text.h"

namespace qarvo {

// Sort kinds.
inline constexpr int kSortInteger = 3;  // sorted exactly as kSortReal
inline constexpr int kSortReal = 6;
inline constexpr int kSortDateTime = 8;
inline constexpr int kSortText = 10;

// Sorts all rows of the report list of `list` by `column` (0-based). Missing
// options mean ascending, case-insensitive (ASCII letters only) and text.
// Returns the GBK status text: "排序完成" when sorted, or one of the refusals
// "该超级列表框不是报表类型", "错误的列索引", "排序类型不对" (the list is then
// left as it was). Pending events are processed while it works.
Text sortReportList(MainWindowView& list, int column, std::optional<bool> ascending = {},
                    std::optional<bool> caseSensitive = {}, std::optional<int> kind = {});

// The number a text starts with (leading blanks and tabs skipped, an optional
// sign, digits, a decimal point, an exponent), 0 when it starts with none.
// Values beyond the range of a double are held at its largest finite value.
double leadingNumber(TextView text);

// A date-time as days on one continuous scale (day 0 = 1899-12-30, the time
// of day as the fraction). Accepted, with blanks around: a date "2024-01-31",
// "2024/1/31", "2024.1.31" or "2024年1月31日" (years 100 to 9999), optionally
// followed by a blank or "T" and a time "12:00" or "12:00:00" (24-hour), or
// such a time alone (on day 0). Any other text counts as the earliest date,
// 100-01-01 (kEarliestDate).
double dateTimeValue(TextView text);
extern const double kEarliestDate;

}  // namespace qarvo
