// Cutting text out between two markers.
//
// The text-between family returns the text between a left and a right marker
// and moves a position on, so that a caller can walk all occurrences by
// calling again with the same position variable. Positions are 1-based byte
// positions; a position at or below 1 means "from the beginning". Marker
// searches ignore ASCII letter case and step over double-byte characters (a
// marker never matches from the trail byte of a GBK character, nor begins or
// ends inside a four-byte one).
//
// An empty left marker stands for the start of the text, an empty right marker
// for its end: the text is then searched with startSentinel put in front (or
// endSentinel put behind), and positions refer to that longer text.
//
// skip drops that many bytes after the left marker, cut that many before the
// right marker. A cut-out range that starts outside the text or has no length
// gives empty text; one that runs past the end stops at the end. Huge or
// negative skip/cut values are safe.
#pragma once

#include <string_view>

#include "platform/text.h"

namespace qarvo {

// "#Qarvo头#" and "#Qarvo尾#" in GBK.
inline constexpr std::string_view startSentinel = "#Qarvo\xCD\xB7#";
inline constexpr std::string_view endSentinel = "#Qarvo\xCE\xB2#";

// `text` with every pair of apostrophes "''" replaced by one double quote.
Text apostrophesToQuote(TextView text);

// The text between `left` and `right`.
//
// position (in/out, may be null = 0): where to search from. When it holds -2
// on entry the result is empty text at once, so a walk stops by itself. On
// success it becomes the position just past the right marker; on failure -2.
//
// Unless keepQuotes, both markers first get apostrophesToQuote. Two attempts
// are made; the second drops every double quote from both markers (so
// ` class=''` finds both ` class="x"` and ` class=x`).
//
// Forward: the first left marker at or after position, then the first right
// marker after it. Backward: the first right marker at or after position, then
// the last left marker lying entirely before it; that left marker must lie
// after *lastRight (0 when lastRight is null), and *lastRight receives the
// right marker's position whether or not the attempt succeeds.
Text textBetween(TextView text, TextView left, TextView right, int* position = nullptr,
                 bool backward = false, int skip = 0, int cut = 0, bool keepQuotes = false,
                 int* lastRight = nullptr);

// One attempt only, apostrophes converted only when convertQuotes; position -2
// has no special meaning and a failure leaves position unchanged.
// Backward: the right marker is the last one lying entirely before position
// (before the end of the text when position <= 0), the left marker the last
// one lying entirely before it; position then becomes the left marker's
// position, so the next call continues before this occurrence. Forward as
// textBetween.
Text textBetweenSingle(TextView text, TextView left, TextView right, int skip = 0, int cut = 0,
                       int* position = nullptr, bool backward = false, bool convertQuotes = false);

// As textBetween (two attempts, apostrophes converted unless keepQuotes) with
// the backward search of textBetweenSingle, no lastRight, position -2 without
// special meaning, and a failure that puts position back at its entry value.
Text textBetweenFromEnd(TextView text, TextView left, TextView right, int* position = nullptr,
                        bool backward = false, int skip = 0, int cut = 0, bool keepQuotes = false);

}  // namespace qarvo
