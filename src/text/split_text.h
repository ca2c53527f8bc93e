// Splitting a text into pieces at a separator.
#pragma once

#include <vector>

#include "platform/text.h"

namespace qarvo {

// Splits `text` at every `separator` (stepping over double-byte characters, so
// a "|" trail byte is not a separator, nor the middle of a four-byte
// character): an empty element stays between two adjacent separators, a
// separator at the very end adds none, an empty text yields none. An empty
// separator gives the whole text as the one element.
std::vector<Text> splitText(TextView text, TextView separator);

}  // namespace qarvo
