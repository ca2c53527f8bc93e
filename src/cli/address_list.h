// The address list of a command-line run: a UTF-8 text (a file or standard
// input) with the addresses in it.
//
// Lines may end in LF or CR LF and the text may begin with a byte-order mark.
// The addresses are picked out of the text as the window picks them
// (pickAddresses): one or several on a line, in a name line or in prose, each
// once, in file order. A line with text but no address is kept by number, to
// be reported; it is never sent to a service. Blank lines are skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace qarvo::cli {

struct ListedAddress {
  int line = 0;         // 1-based number of the line it was found on
  std::string address;  // UTF-8
  Text gbkAddress;      // the same in the program's code page
};

struct AddressList {
  std::vector<ListedAddress> entries;
  std::vector<int> linesWithoutAddress;  // 1-based
  int duplicates = 0;                    // addresses found again (any case) and dropped
};

// Checks `bytes` and picks the addresses out. False when the text is not
// UTF-8; `error` then names the first line that is not, and `list` is left
// empty.
bool parseAddressList(std::string_view bytes, AddressList* list, std::string* error);

// Reads the list from `path` ("-" for standard input) and parses it. False
// when it cannot be read or is not UTF-8; `error` says why, naming the file.
bool readAddressList(const std::string& path, AddressList* list, std::string* error);

// Reads all of `path` ("-" or empty: standard input) into `bytes`. False with
// the errno value in `errorNumber` when it cannot be read (a folder, say).
bool readInputBytes(const std::string& path, std::string* bytes, int* errorNumber);

// The length of the UTF-8 prefix of `bytes` that is well formed (no overlong
// forms, no surrogates, nothing above U+10FFFF).
size_t validUtf8Prefix(std::string_view bytes);

}  // namespace qarvo::cli
