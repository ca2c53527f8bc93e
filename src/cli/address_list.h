// The address list of a command-line run: one address per line of a UTF-8
// text (a file or standard input).
//
// Lines may end in LF or CR LF and the text may begin with a byte-order mark.
// Empty lines are skipped; every other line is trimmed the way the window
// trims an entered address (ASCII spaces and full-width spaces U+3000 at both
// ends; tabs are kept) and becomes one entry, in file order. An entry that is
// empty after trimming or holds a control character (C0, DEL, C1) is kept as
// invalid: it is reported and counted, never sent to a service.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace qarvo::cli {

struct ListedAddress {
  int line = 0;         // 1-based line number in the list
  std::string address;  // trimmed, UTF-8
  Text gbkAddress;      // the same in the program's code page
  bool valid = true;
  std::string problem;  // why it is not valid (English), empty when valid
};

// Splits and checks `bytes`. False when the text is not UTF-8; `error` then
// names the first line that is not, and `entries` is left empty.
bool parseAddressList(std::string_view bytes, std::vector<ListedAddress>* entries,
                      std::string* error);

// Reads the list from `path` ("-" for standard input) and parses it. False
// when it cannot be read or is not UTF-8; `error` says why, naming the file.
bool readAddressList(const std::string& path, std::vector<ListedAddress>* entries,
                     std::string* error);

// Reads all of `path` ("-" or empty: standard input) into `bytes`. False with
// the errno value in `errorNumber` when it cannot be read (a folder, say).
bool readInputBytes(const std::string& path, std::string* bytes, int* errorNumber);

// The length of the UTF-8 prefix of `bytes` that is well formed (no overlong
// forms, no surrogates, nothing above U+10FFFF).
size_t validUtf8Prefix(std::string_view bytes);

}  // namespace qarvo::cli
