// Fuzz target: header names brought to their usual spelling, and the header
// block of the function-interface fetch built around them.
//
// Invariants of normaliseHeaderNames:
//   * the text keeps its length; a byte changes only from a lower-case ASCII
//     letter to its capital, and only before the first ":" of its line;
//   * lines without ":" and everything after a line's first ":" stay as they are;
//   * normalising twice gives what normalising once gave.
// Of winHttpHeaderBlock: with the default lines on, every header they stand
// for is in the block; the given lines lead it (unless a Connection line may
// have been dropped); with cookies, a Cookie header is in it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/dbcs.h"
#include "platform/text.h"
#include "web/win_http_fetch.h"

namespace qarvo {
namespace {

void checkNames(const Text& headers) {
  const Text named = normaliseHeaderNames(headers);
  FUZZ_CHECK(named.size() == headers.size());
  bool inName = true;  // before the first ":" of the current line
  for (std::size_t i = 0; i < headers.size(); ++i) {
    if (i > 0 && headers[i - 1] == '\n' && i > 1 && headers[i - 2] == '\r')
      inName = true;
    if (named[i] != headers[i]) {
      FUZZ_CHECK(inName);
      FUZZ_CHECK(headers[i] >= 'a' && headers[i] <= 'z');
      FUZZ_CHECK(named[i] == asciiUpper(headers[i]));
    }
    if (headers[i] == ':')
      inName = false;
  }
  FUZZ_CHECK(normaliseHeaderNames(named) == named);
}

void checkBlock(const Text& headers, int method, const Text& cookies, bool defaults,
                bool normalise) {
  const Text block = winHttpHeaderBlock(headers, method, cookies, defaults, normalise);
  if (defaults) {
    for (const char* name : {"User-Agent: ", "Accept: ", "Accept-Encoding: ", "Accept-Language: ",
                             "Cache-Control: "}) {
      FUZZ_CHECK(findText(block, name, 1, true) != -1);
    }
  }
  const Text given = normalise ? normaliseHeaderNames(headers) : headers;
  if (given.find("Connection") == Text::npos)
    FUZZ_CHECK(block.starts_with(given));
  if (!cookies.empty())
    FUZZ_CHECK(findText(block, "Cookie:", 1, true) != -1);
}

}  // namespace
}  // namespace qarvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int method = input.ConsumeIntegralInRange<int>(-1, 9);
  const bool defaults = input.ConsumeBool();
  const bool normalise = input.ConsumeBool();
  const qarvo::Text cookies = input.ConsumeRandomLengthString(256);
  const qarvo::Text headers = input.ConsumeRemainingBytesAsString();
  qarvo::checkNames(headers);
  qarvo::checkBlock(headers, method, cookies, defaults, normalise);
  return 0;
}
