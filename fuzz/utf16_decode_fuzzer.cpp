// Fuzz target: the UTF-16 decodings. Any bytes as UTF-16LE and, byte-swapped,
// as UTF-16BE, through convertCharset and decodeResponse (modes 0, 3 and 4);
// the same bytes repeated past the converter's piece size.
//
// Invariants:
//   * big-endian units decode exactly as the same units little-endian: after
//     an invalid unit both go on at the next unit;
//   * a large input converted in pieces gives the text of one conversion;
//   * a mark decides mode 0 as the fixed modes 3 and 4 do, and the text holds
//     no zero byte; both orders settle on their mode or both fall back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <utility>

#include "fuzz/fuzz_check.h"
#include "platform/code_page.h"
#include "platform/text.h"
#include "web/decode_response.h"

namespace qarvo {
namespace {

// Past the converter's piece size (a quarter of a MiB), so pieces are cut.
constexpr std::size_t kLarge = 270 * 1024;

std::string swapped(std::string bytes) {
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    std::swap(bytes[i], bytes[i + 1]);
  return bytes;
}

Text decoded(const std::string& body, int mode, int* settled) {
  return decodeResponse(Bytes(body.begin(), body.end()), mode, settled);
}

void fuzzOne(const std::string& le, bool large) {
  const std::string be = swapped(le);
  std::string fromLe, fromBe;
  FUZZ_CHECK(convertCharsetInto(le, "UTF-16LE", "GB18030", "?", &fromLe));
  FUZZ_CHECK(convertCharsetInto(be, "UTF-16BE", "GB18030", "?", &fromBe));
  FUZZ_CHECK(fromLe == fromBe);
  if (large) {
    std::string whole;
    FUZZ_CHECK(convertEncoding(le, "UTF-16LE", "GB18030", "?", &whole));
    FUZZ_CHECK(whole == fromLe);
    return;
  }

  int settledLe = 0, settledBe = 0, fixedLe = 0, fixedBe = 0;
  const Text markedLe = decoded("\xFF\xFE" + le, 0, &settledLe);
  const Text markedBe = decoded("\xFE\xFF" + be, 0, &settledBe);
  FUZZ_CHECK(markedLe.find('\0') == Text::npos);
  FUZZ_CHECK(decoded("\xFF\xFE" + le, 3, &fixedLe) == markedLe);
  FUZZ_CHECK(decoded("\xFE\xFF" + be, 4, &fixedBe) == markedBe);
  FUZZ_CHECK(settledLe == fixedLe && settledBe == fixedBe);
  // Both convert to the same text, or both give nothing and fall back to
  // their raw bytes (which differ in their marks).
  FUZZ_CHECK((settledLe == 3) == (settledBe == 4));
  if (settledLe == 3) {
    FUZZ_CHECK(markedLe == markedBe);
    FUZZ_CHECK(markedLe == fromLe.substr(0, fromLe.find('\0')));
  } else {
    FUZZ_CHECK(settledLe == 1 && settledBe == 1);
  }
}

}  // namespace
}  // namespace qarvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool large = input.ConsumeIntegralInRange<int>(0, 31) == 31;
  std::string units = input.ConsumeRemainingBytesAsString();
  if (large && !units.empty()) {
    // An odd-sized input repeated puts its units at both byte offsets, so
    // surrogate pairs land across piece ends both ways.
    std::string repeated;
    while (repeated.size() < qarvo::kLarge)
      repeated += units;
    units = std::move(repeated);
  }
  qarvo::fuzzOne(units, large);
  return 0;
}
