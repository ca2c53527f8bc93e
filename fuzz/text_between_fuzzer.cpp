// Fuzz target: the text-between family (textBetween, textBetweenSingle,
// textBetweenFromEnd) and apostrophesToQuote. Markers, position, skip, cut,
// direction and the quote switches come from the input; the rest of the
// input is the text.
//
// Invariants:
//   * a non-empty result is a substring of the working text (the text with
//     startSentinel in front when the left marker is empty, endSentinel
//     behind when the right one is);
//   * without skip and cut, a forward result sits between the two markers
//     (as given or without their double quotes) right before the position
//     handed back;
//   * failures: textBetween sets -2, textBetweenSingle keeps the position,
//     textBetweenFromEnd restores it; a position of -2 ends a textBetween walk;
//   * a walk through all occurrences moves the position one way and ends;
//   * apostrophesToQuote turns each "''" into one double quote and leaves no
//     "''" behind.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "fuzz/fuzz_check.h"
#include "platform/dbcs.h"
#include "platform/text.h"
#include "text/text_between.h"

namespace qarvo {
namespace {

using fuzz::isSubstring;

Text withoutDoubleQuotes(TextView text) {
  Text out(text);
  out.erase(std::remove(out.begin(), out.end(), '"'), out.end());
  return out;
}

// The working text the positions refer to.
Text workingText(TextView text, TextView left, TextView right) {
  Text work;
  if (left.empty())
    work += startSentinel;
  work += text;
  if (right.empty())
    work += endSentinel;
  return work;
}

int positionValue(FuzzedDataProvider& input, int textSize) {
  switch (input.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return 0;
    case 1:
      return -2;
    case 2:
      return input.ConsumeIntegral<int>();
    case 3:
      return input.ConsumeBool() ? std::numeric_limits<int>::max()
                                 : std::numeric_limits<int>::min();
    default:
      return input.ConsumeIntegralInRange<int>(-3, textSize + 3);
  }
}

int skipOrCut(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return 0;
    case 1:
      return input.ConsumeIntegral<int>();
    default:
      return input.ConsumeIntegralInRange<int>(-4, 8);
  }
}

// Whether the result, found without skip and cut by a forward search, is
// preceded by `left` and followed by `right` ending just before `position`.
bool framedBy(TextView work, TextView result, TextView left, TextView right, int position) {
  const std::int64_t end = std::int64_t{position} - 1;  // 0-based end of the right marker
  const std::int64_t begin =
      end - static_cast<std::int64_t>(right.size() + result.size() + left.size());
  if (begin < 0 || end > static_cast<std::int64_t>(work.size()))
    return false;
  const Text expected = asciiToLower(Text(left) + Text(result) + Text(right));
  const Text found = asciiToLower(
      work.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
  // Fold byte by byte: the two sides may step over characters differently.
  auto fold = [](Text s) {
    for (char& c : s)
      c = asciiLower(c);
    return s;
  };
  return fold(expected) == fold(found);
}

void checkApostrophes(TextView text) {
  const Text converted = apostrophesToQuote(text);
  const auto quotes = [](TextView s) { return std::count(s.begin(), s.end(), '"'); };
  const std::int64_t added = quotes(converted) - quotes(text);
  FUZZ_CHECK(added >= 0);
  FUZZ_CHECK(static_cast<std::int64_t>(text.size() - converted.size()) == added);
  FUZZ_CHECK(findText(converted, "''") == -1);
  // Text without a pair comes back unchanged.
  if (findText(text, "''") == -1)
    FUZZ_CHECK(converted == text);
}

void fuzzOne(FuzzedDataProvider& input) {
  const int variant = input.ConsumeIntegralInRange<int>(0, 2);
  const bool backward = input.ConsumeBool();
  const bool quoteSwitch = input.ConsumeBool();
  const bool walk = input.ConsumeBool();
  const int skip = skipOrCut(input);
  const int cut = skipOrCut(input);
  const int lastRightStart = input.ConsumeIntegralInRange<int>(-2, 64);
  const Text left = input.ConsumeRandomLengthString(16);
  const Text right = input.ConsumeRandomLengthString(16);
  const Text text = input.ConsumeRandomLengthString(4096);
  const int position =
      positionValue(input, static_cast<int>(std::min<std::size_t>(text.size(), 1 << 20)));

  checkApostrophes(left);
  checkApostrophes(text);

  // The markers as searched: apostrophes converted unless told otherwise.
  const bool converts = variant == 1 ? quoteSwitch : !quoteSwitch;
  const Text leftMarker = converts ? apostrophesToQuote(left) : left;
  const Text rightMarker = converts ? apostrophesToQuote(right) : right;
  const Text work = workingText(text, leftMarker, rightMarker);
  const Text effectiveLeft = leftMarker.empty() ? Text(startSentinel) : leftMarker;
  const Text effectiveRight = rightMarker.empty() ? Text(endSentinel) : rightMarker;

  auto call = [&](int* pos, int* lastRight, int skipBy, int cutBy) {
    switch (variant) {
      case 0:
        return textBetween(text, left, right, pos, backward, skipBy, cutBy, quoteSwitch, lastRight);
      case 1:
        return textBetweenSingle(text, left, right, skipBy, cutBy, pos, backward, quoteSwitch);
      default:
        return textBetweenFromEnd(text, left, right, pos, backward, skipBy, cutBy, quoteSwitch);
    }
  };

  int pos = position;
  int lastRight = lastRightStart;
  const Text result = call(&pos, &lastRight, skip, cut);
  FUZZ_CHECK(isSubstring(result, work));
  if (variant == 0 && position == -2) {
    FUZZ_CHECK(result.empty());
    FUZZ_CHECK(pos == -2);
  }
  if (variant == 0 && pos == -2)
    FUZZ_CHECK(result.empty());
  if (variant != 0 || position != -2) {
    // Without skip and cut the same search says whether it found anything.
    int plainPos = position;
    int plainLastRight = lastRightStart;
    const Text plain = call(&plainPos, &plainLastRight, 0, 0);
    FUZZ_CHECK(plainPos == pos);
    FUZZ_CHECK(isSubstring(plain, work));
    if (skip >= 0 && cut >= 0)
      FUZZ_CHECK(isSubstring(result, plain));
    if (!backward && !plain.empty()) {
      // The first attempt uses the markers as given, the second (not made by
      // textBetweenSingle) without their double quotes.
      FUZZ_CHECK(framedBy(work, plain, effectiveLeft, effectiveRight, plainPos) ||
                 (variant != 1 && framedBy(work, plain, withoutDoubleQuotes(effectiveLeft),
                                           withoutDoubleQuotes(effectiveRight), plainPos)));
    }
    if (!backward && !plain.empty())
      FUZZ_CHECK(plainPos > position || position < 1);
  }
  if (!walk)
    return;
  // Walk all occurrences: the position moves one way only, so the walk ends.
  int walkPos = position;
  int walkLastRight = lastRightStart;
  const std::size_t limit = work.size() + 4;
  std::size_t steps = 0;
  while (true) {
    const int before = walkPos;
    const Text piece = call(&walkPos, &walkLastRight, skip, cut);
    FUZZ_CHECK(isSubstring(piece, work));
    const bool failed = variant == 0 ? walkPos == -2 : walkPos == before;
    if (failed)
      break;
    if (backward && variant != 0) {
      FUZZ_CHECK(walkPos >= 1);
      FUZZ_CHECK(before <= 0 || walkPos < before);
    } else {
      FUZZ_CHECK(walkPos > before || before < 1);
    }
    FUZZ_CHECK(++steps <= limit);
  }
}

}  // namespace
}  // namespace qarvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  qarvo::fuzzOne(input);
  return 0;
}
