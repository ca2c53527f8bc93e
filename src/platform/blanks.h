// Trimming blanks, one helper per meaning of "blank".
//
// The program trims text in several places, and "blank" does not mean the same
// everywhere: an address or a folder keeps its tabs, markup counts every white
// space and the full-width space, HTTP header values know only spaces and
// tabs. Each helper is named after the set it trims and returns a view into
// its argument. The full-width space (U+3000, the pair A1 A1) counts only where
// it starts a character, never from the trail byte of another one.
#pragma once

#include "platform/text.h"

namespace qarvo {

// Spaces and full-width spaces; tabs and line breaks stay. For the entered
// address list and a chosen folder.
TextView trimSpacesAndFullWidthSpaces(TextView text);

// ASCII white space (space, tab, CR, LF, vertical tab, form feed) and
// full-width spaces: the blanks of markup, the same set as "[\s　]" in a
// pattern. For attribute values and path levels.
TextView trimWhiteSpaceAndFullWidthSpaces(TextView text);

// ASCII white space only (space, tab, CR, LF, vertical tab, form feed). For
// URLs and lines of protocol text that may still end in their line break.
TextView trimAsciiWhiteSpace(TextView text);

// Spaces and tabs only, the optional white space around HTTP header names
// and values.
TextView trimSpacesAndTabs(TextView text);

}  // namespace qarvo
