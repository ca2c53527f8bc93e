#include "engine/report_sort.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <numeric>
#include <vector>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"

namespace qarvo {

namespace {

constexpr double kNumberTolerance = 1e-7;
// Comparisons between two event pumps while the keys are ordered.
constexpr unsigned kComparisonsPerPump = 1024;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Days from 1970-01-01 of a proleptic Gregorian date.
long long daysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

const long long kDayZero = daysFromCivil(1899, 12, 30);

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads 1 to `maxDigits` digits at `at`; -1 when there are none.
int readNumber(TextView text, size_t& at, size_t maxDigits) {
  size_t start = at;
  int value = 0;
  while (at < text.size() && isDigit(text[at]) && at - start < maxDigits) {
    value = value * 10 + (text[at] - '0');
    ++at;
  }
  return at == start ? -1 : value;
}

bool consume(TextView text, size_t& at, TextView what) {
  if (text.substr(at, what.size()) != what)
    return false;
  at += what.size();
  return true;
}

// "H:MM" or "H:MM:SS" at `at`, as a fraction of a day.
bool readTime(TextView text, size_t& at, double* fraction) {
  int hour = readNumber(text, at, 2);
  if (hour < 0 || hour > 23 || !consume(text, at, ":"))
    return false;
  int minute = readNumber(text, at, 2);
  if (minute < 0 || minute > 59)
    return false;
  int second = 0;
  if (consume(text, at, ":")) {
    second = readNumber(text, at, 2);
    if (second < 0 || second > 59)
      return false;
  }
  *fraction = (hour * 3600 + minute * 60 + second) / 86400.0;
  return true;
}

bool readDate(TextView text, size_t& at, double* days) {
  static const Text kYear = gbk("年");
  static const Text kMonth = gbk("月");
  static const Text kDay = gbk("日");
  int year = readNumber(text, at, 4);
  if (year < 100)
    return false;
  bool chinese = false;
  char separator = 0;
  if (consume(text, at, kYear)) {
    chinese = true;
  } else if (at < text.size() && (text[at] == '-' || text[at] == '/' || text[at] == '.')) {
    separator = text[at++];
  } else {
    return false;
  }
  int month = readNumber(text, at, 2);
  if (month < 1 || month > 12)
    return false;
  if (chinese ? !consume(text, at, kMonth) : !consume(text, at, TextView(&separator, 1))) {
    return false;
  }
  int day = readNumber(text, at, 2);
  if (day < 1 || day > daysInMonth(year, month))
    return false;
  if (chinese)
    consume(text, at, kDay);
  *days = static_cast<double>(
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kDayZero);
  return true;
}

double parseDateTime(TextView text) {
  TextView trimmed = text;
  while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) {
    trimmed.remove_prefix(1);
  }
  while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) {
    trimmed.remove_suffix(1);
  }
  if (trimmed.empty())
    return kEarliestDate;
  size_t at = 0;
  double days = 0;
  double fraction = 0;
  if (readDate(trimmed, at, &days)) {
    if (at < trimmed.size()) {
      if (trimmed[at] != ' ' && trimmed[at] != 'T')
        return kEarliestDate;
      while (at < trimmed.size() && (trimmed[at] == ' ' || trimmed[at] == 'T'))
        ++at;
      if (!readTime(trimmed, at, &fraction))
        return kEarliestDate;
    }
  } else {
    at = 0;
    if (!readTime(trimmed, at, &fraction))
      return kEarliestDate;
  }
  return at == trimmed.size() ? days + fraction : kEarliestDate;
}

// The order the repeated selection produces, for number keys compared with
// the tolerance. Only needed when two distinct keys lie within the tolerance
// of each other, where the tolerance makes "equal" not transitive.
std::vector<int> selectionOrder(const std::vector<double>& keys, bool ascending) {
  std::vector<int> remaining(keys.size());
  std::iota(remaining.begin(), remaining.end(), 0);
  std::vector<int> order;
  order.reserve(keys.size());
  while (remaining.size() >= 2) {
    size_t candidate = 0;
    for (size_t i = 1; i < remaining.size(); ++i) {
      double difference =
          keys[static_cast<size_t>(remaining[candidate])] - keys[static_cast<size_t>(remaining[i])];
      if (ascending ? difference >= -kNumberTolerance : difference <= kNumberTolerance) {
        candidate = i;
      }
      if ((i & (kComparisonsPerPump - 1)) == 0)
        processPendingEvents();
    }
    order.push_back(remaining[candidate]);
    remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(candidate));
  }
  if (!remaining.empty())
    order.push_back(remaining.front());
  return order;
}

// Sorts row indexes by key, equal keys by descending index: the order that
// the selection (which takes the last of several equal extremes) gives.
template <typename Key, typename Less>
std::vector<int> keyOrder(const std::vector<Key>& keys, bool ascending, Less less) {
  std::vector<int> order(keys.size());
  std::iota(order.begin(), order.end(), 0);
  unsigned comparisons = 0;
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    if ((++comparisons & (kComparisonsPerPump - 1)) == 0)
      processPendingEvents();
    const Key& keyA = keys[static_cast<size_t>(a)];
    const Key& keyB = keys[static_cast<size_t>(b)];
    if (less(keyA, keyB))
      return ascending;
    if (less(keyB, keyA))
      return !ascending;
    return a > b;
  });
  return order;
}

std::vector<int> numberOrder(const std::vector<double>& keys, bool ascending) {
  std::vector<int> order = keyOrder(keys, ascending, std::less<double>());
  // With no two distinct keys within the tolerance, the tolerant comparison
  // agrees with the exact one and the sorted order is the selection's.
  for (size_t i = 1; i < order.size(); ++i) {
    double a = keys[static_cast<size_t>(order[i - 1])];
    double b = keys[static_cast<size_t>(order[i])];
    if (a != b && std::fabs(a - b) <= kNumberTolerance)
      return selectionOrder(keys, ascending);
  }
  return order;
}

}  // namespace

const double kEarliestDate = static_cast<double>(daysFromCivil(100, 1, 1) - kDayZero);

double leadingNumber(TextView text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
    ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-'))
    negative = text[at++] == '-';
  const size_t start = at;
  // Magnitude estimate (decimal exponent of the first significant digit), to
  // tell an overflow from an underflow below.
  long magnitude = 0;
  bool significant = false;
  while (at < text.size() && isDigit(text[at])) {
    significant = significant || text[at] != '0';
    if (significant)
      ++magnitude;
    ++at;
  }
  size_t digits = at - start;
  if (at < text.size() && text[at] == '.') {
    size_t afterPoint = at + 1;
    while (afterPoint < text.size() && isDigit(text[afterPoint])) {
      if (!significant) {
        significant = text[afterPoint] != '0';
        if (!significant)
          --magnitude;
      }
      ++afterPoint;
    }
    digits += afterPoint - at - 1;
    at = afterPoint;
  }
  if (digits == 0)
    return 0.0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    size_t exponent = at + 1;
    bool exponentNegative = false;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) {
      exponentNegative = text[exponent++] == '-';
    }
    if (exponent < text.size() && isDigit(text[exponent])) {
      long value = 0;
      while (exponent < text.size() && isDigit(text[exponent])) {
        value = std::min(value * 10 + (text[exponent] - '0'), 100000L);
        ++exponent;
      }
      magnitude += exponentNegative ? -value : value;
      at = exponent;
    }
  }
  double value = 0.0;
  std::from_chars_result result = std::from_chars(text.data() + start, text.data() + at, value);
  if (result.ec == std::errc::result_out_of_range) {
    value = magnitude > 0 ? DBL_MAX : 0.0;
  } else if (result.ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

double dateTimeValue(TextView text) {
  return parseDateTime(text);
}

Text sortReportList(MainWindowView& list, int column, std::optional<bool> ascending,
                    std::optional<bool> caseSensitive, std::optional<int> kind) {
  static const Text kDone = gbk("排序完成");
  static const Text kNotReport = gbk("该超级列表框不是报表类型");
  static const Text kBadColumn = gbk("错误的列索引");
  static const Text kBadKind = gbk("排序类型不对");

  if (!list.isReportView())
    return kNotReport;
  const int rows = list.rowCount();
  const int columns = list.columnCount();
  if (column < 0 || column > columns - 1)
    return kBadColumn;
  int sortKind = kind.value_or(kSortText);
  if (sortKind != kSortInteger && sortKind != kSortReal && sortKind != kSortDateTime &&
      sortKind != kSortText) {
    return kBadKind;
  }
  if (sortKind == kSortInteger)
    sortKind = kSortReal;
  if (rows <= 0)
    return kDone;
  const bool up = ascending.value_or(true);

  const size_t width = static_cast<size_t>(columns);
  std::vector<Text> cells;
  cells.reserve(static_cast<size_t>(rows) * width);
  // The image, the note and the story belong to the row's result: they move
  // with it.
  std::vector<int> images;
  std::vector<Text> notes;
  std::vector<RowStory> stories;
  images.reserve(static_cast<size_t>(rows));
  notes.reserve(static_cast<size_t>(rows));
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c)
      cells.push_back(list.cellText(r, c));
    images.push_back(list.rowImage(r));
    notes.push_back(list.rowNote(r));
    stories.push_back(list.rowStory(r));
    processPendingEvents();
  }
  auto key = [&](int r) -> const Text& {
    return cells[static_cast<size_t>(r) * width + static_cast<size_t>(column)];
  };

  std::vector<int> order;
  if (sortKind == kSortText) {
    const bool exactCase = caseSensitive.value_or(false);
    std::vector<Text> keys;
    keys.reserve(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) {
      keys.push_back(exactCase ? key(r) : asciiToUpper(key(r)));
      processPendingEvents();
    }
    // std::string compares bytes as unsigned values; an empty text is smallest.
    order = keyOrder(keys, up, std::less<Text>());
  } else {
    std::vector<double> keys;
    keys.reserve(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) {
      keys.push_back(sortKind == kSortReal ? leadingNumber(key(r)) : dateTimeValue(key(r)));
      processPendingEvents();
    }
    order = sortKind == kSortReal ? numberOrder(keys, up) : keyOrder(keys, up, std::less<double>());
  }

  for (int i = 0; i < rows; ++i) {
    // A pumped event may have emptied or refilled the list meanwhile (a new
    // run): a row not yet written back still holds what was copied out of
    // it, else the list is no longer the one sorted and is left alone.
    if (i >= list.rowCount() || list.cellText(i, 0) != cells[static_cast<size_t>(i) * width])
      break;
    const auto from = static_cast<size_t>(order[static_cast<size_t>(i)]);
    const size_t source = from * width;
    for (int c = 0; c < columns; ++c)
      list.setCellText(i, c, cells[source + static_cast<size_t>(c)]);
    list.setRowImage(i, images[from]);
    list.setRowNote(i, notes[from]);
    list.setRowStory(i, stories[from]);
    processPendingEvents();
  }
  return kDone;
}

}  // namespace qarvo
