// Keyword search over GBK text, and the Simplified-to-Traditional mapping it
// can fall back on.
#pragma once

#include <string_view>
#include <vector>

#include "platform/text.h"
#include "text/split_text.h"

namespace qarvo {

// Whether `text` contains any (anyMode) or all (default) of the keywords.
//
// keywords: the keywords joined by `separator` ("|" when empty). Empty
//   keywords are skipped and do not count; no non-empty keyword gives false.
// matched: receives the keyword that ended a successful search (in any-mode
//   the one found; in all-mode the last one).
// position: receives the 1-based position found by the last search, -1 when
//   it found nothing (exact mode: 1 or -1).
// tryTraditional: a keyword that is not found is tried again in its
//   Traditional form (toTraditional).
// keywordList: when given and not empty, used as the keyword list as it stands
//   (keywords and separator ignored); when given empty, it receives the split
//   keywords.
// ignoreCase: ASCII letters compare without regard to case.
// exactMode: the whole text must equal a keyword instead of containing it.
// Searches step over double-byte characters.
bool containsKeyword(TextView text, TextView keywords, bool anyMode = false,
                     TextView separator = "|", Text* matched = nullptr, int* position = nullptr,
                     bool tryTraditional = false, std::vector<Text>* keywordList = nullptr,
                     bool ignoreCase = true, bool exactMode = false);

// `text` mapped from Simplified to Traditional Chinese (OpenCC's s2t), with
// exactly the byte length of `text` and no double-byte character split. A
// character whose Traditional form GBK cannot hold in the same number of bytes
// stays as it is. Without the OpenCC data the text comes back unchanged.
Text toTraditional(TextView text);

}  // namespace qarvo
