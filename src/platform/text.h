// The program's text types.
//
// A Text is a byte string in the system code page, GB18030 (GBK's superset,
// so GBK text is Text as it stands): one byte below 0x80 is one character, a
// byte of 0x80 or above starts a double-byte unit, and a four-byte character
// (a lead byte and a digit, twice) is one unit. Positions handed across the
// program's interfaces are 1-based byte positions, -1 meaning "not found". A
// Bytes is a counted byte buffer (response bodies, side-file values).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qarvo {

using Text = std::string;
using TextView = std::string_view;
using Bytes = std::vector<std::uint8_t>;

inline Bytes toBytes(TextView text) {
  return Bytes(text.begin(), text.end());
}
inline Text toText(const Bytes& bytes) {
  return Text(bytes.begin(), bytes.end());
}

}  // namespace qarvo
