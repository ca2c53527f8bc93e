// Address list handling: splitting the entered list, trimming, the URL
// encoding of an address, and the file-name check for result files.
#pragma once

#include <string>
#include <vector>

#include "platform/text.h"

namespace qarvo {

// Splits the entered address list into elements. Every CR LF and every "|"
// separates two elements; two adjacent separators keep an empty element
// between them, a separator at the very end adds nothing, and an empty text
// gives no element. A "|" that is the trail byte of a double-byte character
// is not a separator.
std::vector<Text> splitAddressList(TextView source);

// The text without leading and trailing blanks, where a blank is an ASCII
// space or a full-width space (GBK A1 A1). Tabs are kept. The same as
// trimSpacesAndFullWidthSpaces of platform/blanks.h.
TextView trimBlanks(TextView text);

// The address as the services want it in a URL: the GBK text converted to
// UTF-8, then every byte other than ASCII letters, digits and !()-.*_ written
// as "%" and two upper-case hex digits.
std::string encodeAddress(TextView gbkAddress);

// True when `name` can be used as a file name inside a folder without
// reaching outside it: not empty, not "." or "..", and free of "/", "\" and
// zero bytes (a "\" that is the trail byte of a double-byte character does
// not count; it is no separator in the UTF-8 name).
bool isPlainFileName(TextView name);

}  // namespace qarvo
