#include "text/text_between.h"

#include <algorithm>
#include <cstdint>

#include "platform/dbcs.h"

namespace qarvo {

namespace {

enum class Variant { kBetween, kSingle, kFromEnd };

struct Hit {
  int left = -1;   // 1-based position of the left marker
  int right = -1;  // 1-based position of the right marker
};

int sizeOf(TextView text) {
  return static_cast<int>(std::min<std::size_t>(text.size(), INT32_MAX));
}

// One search for a left/right marker pair in `work`. `from` is the caller's
// position value.
bool attempt(TextView work, TextView left, TextView right, int from, bool backward, Variant variant,
             int* lastRight, Hit* hit) {
  if (!backward) {
    int l = findText(work, left, from, true);
    if (l < 0)
      return false;
    int r = findText(work, right, l + sizeOf(left), true);
    if (r < 0)
      return false;
    *hit = {l, r};
    return true;
  }
  if (variant == Variant::kBetween) {
    // Right marker forward from the position, then the nearest left marker
    // before it; it has to lie after the right marker of the previous call.
    int r = findText(work, right, from, true);
    if (r < 0)
      return false;
    int l = findLastText(work, left, r - 1, true);
    if (l < 0)
      return false;
    const int previousRight = *lastRight;
    *lastRight = r;
    if (l <= previousRight)
      return false;
    *hit = {l, r};
    return true;
  }
  // From the end: the last right marker lying before the position (or the
  // whole text), then the last left marker lying before that.
  int r = findLastText(work, right, from > 0 ? from - 1 : -1, true);
  if (r < 0)
    return false;
  int l = findLastText(work, left, r - 1, true);
  if (l < 0)
    return false;
  *hit = {l, r};
  return true;
}

Text removeDoubleQuotes(TextView text) {
  Text out(text);
  out.erase(std::remove(out.begin(), out.end(), '"'), out.end());
  return out;
}

Text between(TextView text, TextView leftMarker, TextView rightMarker, int* position, bool backward,
             int skip, int cut, bool convertQuotes, int* lastRight, Variant variant) {
  int localPosition = 0;
  if (position == nullptr)
    position = &localPosition;
  int localLastRight = 0;
  if (lastRight == nullptr)
    lastRight = &localLastRight;
  if (variant == Variant::kBetween && *position == -2)
    return Text();

  Text left = convertQuotes ? apostrophesToQuote(leftMarker) : Text(leftMarker);
  Text right = convertQuotes ? apostrophesToQuote(rightMarker) : Text(rightMarker);

  // The sentinels stand for the start and the end of the text; only then is
  // the text copied.
  Text framed;
  TextView work = text;
  if (left.empty() || right.empty()) {
    if (left.empty()) {
      left = startSentinel;
      framed.append(startSentinel);
    }
    framed.append(text);
    if (right.empty()) {
      right = endSentinel;
      framed.append(endSentinel);
    }
    work = framed;
  }

  const int entryPosition = *position;
  Hit hit;
  bool found = attempt(work, left, right, entryPosition, backward, variant, lastRight, &hit);
  if (!found && variant != Variant::kSingle &&
      (left.find('"') != Text::npos || right.find('"') != Text::npos)) {
    // Second try without the double quotes, so that a quoted marker also
    // finds the unquoted form.
    left = removeDoubleQuotes(left);
    right = removeDoubleQuotes(right);
    found = attempt(work, left, right, entryPosition, backward, variant, lastRight, &hit);
  }
  if (!found) {
    if (variant == Variant::kBetween)
      *position = -2;
    if (variant == Variant::kFromEnd)
      *position = entryPosition;
    return Text();
  }

  if (backward && variant != Variant::kBetween) {
    *position = hit.left;
  } else {
    *position = hit.right + sizeOf(right);
  }

  // 64-bit arithmetic: skip and cut may be anything an int holds.
  const std::int64_t start = std::int64_t{hit.left} + sizeOf(left) + skip;
  std::int64_t length = std::int64_t{hit.right} - start - cut;
  const auto size = static_cast<std::int64_t>(work.size());
  if (start < 1 || start > size || length <= 0)
    return Text();
  length = std::min(length, size - start + 1);
  return Text(work.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length)));
}

}  // namespace

Text apostrophesToQuote(TextView text) {
  return replaceAllText(text, "''", "\"");
}

Text textBetween(TextView text, TextView left, TextView right, int* position, bool backward,
                 int skip, int cut, bool keepQuotes, int* lastRight) {
  return between(text, left, right, position, backward, skip, cut, !keepQuotes, lastRight,
                 Variant::kBetween);
}

Text textBetweenSingle(TextView text, TextView left, TextView right, int skip, int cut,
                       int* position, bool backward, bool convertQuotes) {
  return between(text, left, right, position, backward, skip, cut, convertQuotes, nullptr,
                 Variant::kSingle);
}

Text textBetweenFromEnd(TextView text, TextView left, TextView right, int* position, bool backward,
                        int skip, int cut, bool keepQuotes) {
  return between(text, left, right, position, backward, skip, cut, !keepQuotes, nullptr,
                 Variant::kFromEnd);
}

}  // namespace qarvo
