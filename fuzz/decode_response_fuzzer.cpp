// Fuzz target: decodeResponse over any body in any mode from -2 to 6 (and a
// few others), the body also wrapped in gzip, with the decompressor present
// or absent; its helpers on the same bytes.
//
// Invariants:
//   * the result has no zero byte and equals the text handed back through the
//     out argument; the settled mode is 1..6 (the asked mode or 1 when one of
//     2..6 was asked, 1 for any other mode but 0);
//   * a result taken as it is (settled 1) is the body up to its first zero;
//   * a gzip-wrapped body decodes as the body itself; gunzipBytes undoes gzip;
//   * a UTF-8 mark in front changes nothing in mode 2 and settles mode 0 on 2;
//   * an empty body decodes the source text instead;
//   * metaCharset, containsAnyOf and looksLikeUtf8 give consistent answers.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "fuzz/fuzz_check.h"
#include "platform/text.h"
#include "web/decode_response.h"

namespace qarvo {
namespace {

// `bytes` as a gzip stream (zlib's deflate with the gzip wrapper).
Bytes gzipOf(const Bytes& bytes, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return {};
  Bytes out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 32);
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  FUZZ_CHECK(status == Z_STREAM_END);
  return out;
}

bool startsWith(const Bytes& bytes, std::initializer_list<std::uint8_t> prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

Text upToZero(const Bytes& bytes) {
  const Text all = toText(bytes);
  return all.substr(0, all.find('\0'));
}

struct Decoded {
  Text text;
  int settled = -100;
};

Decoded decode(const Bytes& bytes, int mode, TextView sourceText = {}) {
  Decoded d;
  Text out = "unset";
  d.text = decodeResponse(bytes, mode, &d.settled, &out, sourceText);
  FUZZ_CHECK(out == d.text);
  FUZZ_CHECK(d.text.find('\0') == Text::npos);
  FUZZ_CHECK(d.settled >= 1 && d.settled <= 6);
  if (mode >= 2 && mode <= 6)
    FUZZ_CHECK(d.settled == mode || d.settled == 1);
  if (mode < 0 || mode == 1 || mode > 6)
    FUZZ_CHECK(d.settled == 1);
  return d;
}

int modeFrom(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
      return input.ConsumeIntegral<int>();
    default:
      return input.ConsumeIntegralInRange<int>(-2, 6);
  }
}

void fuzzOne(FuzzedDataProvider& input) {
  const int mode = modeFrom(input);
  const int level = input.ConsumeIntegralInRange<int>(0, 9);
  const bool gzipPresent = input.ConsumeIntegralInRange<int>(0, 7) != 0;
  const Text alternatives = input.ConsumeRandomLengthString(32);
  const Bytes body = input.ConsumeRemainingBytes<std::uint8_t>();

  setGzipDecompressorAvailable(gzipPresent);
  const bool gzipped = startsWith(body, {0x1F, 0x8B});
  const Decoded plain = decode(body, mode);
  if (plain.settled == 1 && (!gzipped || !gzipPresent))
    FUZZ_CHECK(plain.text == upToZero(body));
  if (body.empty())
    FUZZ_CHECK(plain.text.empty());

  // The helpers on the same bytes.
  Bytes inflated = gunzipBytes(body);
  FUZZ_CHECK(inflated.size() <= 64u * 1024u * 1024u);
  const bool utf8 = looksLikeUtf8(body);
  if (utf8)
    FUZZ_CHECK(std::any_of(body.begin(), body.end(), [](std::uint8_t b) { return b >= 0x80; }));
  int detected = -1;
  const bool declared = metaCharset(toText(body), &detected);
  FUZZ_CHECK(detected >= 0 && detected <= 3);
  FUZZ_CHECK(declared == (detected != 0));
  const bool any = containsAnyOf(toText(body), alternatives, true);
  const bool every = containsAnyOf(toText(body), alternatives, false);
  if (every && !alternatives.empty())
    FUZZ_CHECK(any);

  // Wrapped in gzip, the body decodes as itself (once: a body that is gzip
  // itself is not unpacked a second time).
  if (!gzipped && body.size() <= 65536) {
    const Bytes wrapped = gzipOf(body, level);
    FUZZ_CHECK(gunzipBytes(wrapped) == body);
    const Decoded unwrapped = decode(wrapped, mode);
    if (gzipPresent) {
      FUZZ_CHECK(unwrapped.text == plain.text);
      FUZZ_CHECK(unwrapped.settled == plain.settled);
    }
  }

  // A UTF-8 mark in front is skipped in mode 2 and decides mode 0.
  const bool markable = !body.empty() && body[0] != 0 && !startsWith(body, {0xEF, 0xBB, 0xBF}) &&
                        !gzipped && !startsWith(body, {0xFF, 0xFE}) &&
                        !startsWith(body, {0xFE, 0xFF});
  if (markable) {
    Bytes marked = {0xEF, 0xBB, 0xBF};
    marked.insert(marked.end(), body.begin(), body.end());
    const Decoded asUtf8 = decode(body, 2);
    FUZZ_CHECK(asUtf8.settled == 2);
    FUZZ_CHECK(!asUtf8.text.empty());
    const Decoded markedUtf8 = decode(marked, 2);
    FUZZ_CHECK(markedUtf8.text == asUtf8.text);
    const Decoded detectedUtf8 = decode(marked, 0);
    FUZZ_CHECK(detectedUtf8.settled == 2);
    FUZZ_CHECK(detectedUtf8.text == asUtf8.text);
  }

  // An empty body decodes the source text instead.
  if (body.size() < 4096) {
    const Decoded fromSource = decode(Bytes(), mode, toText(body));
    FUZZ_CHECK(fromSource.text == plain.text);
    FUZZ_CHECK(fromSource.settled == plain.settled);
  }
  setGzipDecompressorAvailable(true);
}

}  // namespace
}  // namespace qarvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  qarvo::fuzzOne(input);
  return 0;
}
