#include "engine/address_check.h"

namespace qarvo {

namespace {
constexpr size_t kMaxAddressBytes = 254;  // the longest address mail systems accept
}

bool isEmailAddress(TextView address) {
  if (address.empty() || address.size() > kMaxAddressBytes)
    return false;
  const size_t at = address.find('@');
  if (at == TextView::npos || at == 0 || at + 1 == address.size())
    return false;
  for (size_t i = 0; i < address.size(); ++i) {
    const auto byte = static_cast<unsigned char>(address[i]);
    if (byte >= 0x80) {
      // A double-byte character: only the full-width space is a blank. Its
      // trail byte is never taken for an ASCII character.
      if (byte == 0xA1 && i + 1 < address.size() &&
          static_cast<unsigned char>(address[i + 1]) == 0xA1) {
        return false;
      }
      ++i;
      continue;
    }
    if (byte <= 0x20 || byte == 0x7F)
      return false;
  }
  return true;
}

}  // namespace qarvo
