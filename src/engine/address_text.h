// Address list handling: picking the addresses out of pasted text, splitting
// the entered list, trimming, the URL encoding of an address, and the
// file-name check for result files.
#pragma once

#include <string>
#include <vector>

#include "platform/text.h"

namespace qarvo {

// The e-mail addresses found in a text, each once.
struct PickedAddresses {
  std::vector<Text> addresses;           // GBK, in the order first met
  std::vector<int> lines;                // the 1-based line each address was met on
  std::vector<int> linesWithoutAddress;  // lines with text but no address (1-based)
  int duplicates = 0;                    // addresses met again and dropped
};

// Picks the e-mail addresses out of GBK text as people paste it: one per
// line, several on a line ("a@x.cn; b@y.cn"), in a name line
// ("王五 <sales@demo-trade.com>") or in prose. A local part is letters (any
// script), digits and "._%+-"; a domain is two or more labels of letters,
// digits and inner hyphens. Punctuation around an address (ASCII or
// full-width, such as "." "," ";" ">" ")" "。" "，") is not part of it, and
// neither is text of another script run on to it ("发到sales@x.com联系"
// gives "sales@x.com"). Addresses that differ only in ASCII case count once,
// the first spelling kept. Lines end at LF (a CR before it is a blank); a
// line of blanks (spaces, tabs, full-width spaces) holds no text.
PickedAddresses pickAddresses(TextView gbkText);

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
