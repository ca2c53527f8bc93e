#include "web/decode_response.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"
#include "testing/resident_memory.h"
#include "testing/test_server.h"
#include "text/text_between.h"
#include "web/http_request.h"

namespace qarvo {
namespace {

using qarvo::testing::encodeAs;
using qarvo::testing::gzipCompress;

Bytes bytesOf(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

Text decode(std::string_view body, int mode, int* settled) {
  return decodeResponse(bytesOf(body), mode, settled);
}

const std::string kChinese = "中文网页，繁體字";

TEST(DecodeResponseTest, Utf8MarkIsDetectedAndDropped) {
  std::string page = "\xEF\xBB\xBF<p>" + kChinese + "</p>";
  int settled = -9;
  Text text;
  Text result = decodeResponse(bytesOf(page), 0, &settled, &text);
  EXPECT_EQ(settled, 2);
  EXPECT_EQ(result, gbk("<p>" + kChinese + "</p>"));
  EXPECT_EQ(text, result);

  // Mode 2 skips the same mark and gives the same text; without the mark too.
  EXPECT_EQ(decode(page, 2, &settled), result);
  EXPECT_EQ(settled, 2);
  EXPECT_EQ(decode(page.substr(3), 2, &settled), result);
}

TEST(DecodeResponseTest, Utf16MarksAndFixedModes) {
  std::string le = encodeAs("ab" + kChinese, "UTF-16LE");
  std::string be = encodeAs("ab" + kChinese, "UTF-16BE");
  int settled = 0;
  EXPECT_EQ(decode("\xFF\xFE" + le, 0, &settled), gbk("ab" + kChinese));
  EXPECT_EQ(settled, 3);
  EXPECT_EQ(decode("\xFE\xFF" + be, 0, &settled), gbk("ab" + kChinese));
  EXPECT_EQ(settled, 4);
  EXPECT_EQ(decode("\xFE\xFF" + be, 4, &settled), gbk("ab" + kChinese));

  // Modes 3 and 4 always skip two bytes: without a mark the first character goes.
  EXPECT_EQ(decode(le, 3, &settled), gbk("b" + kChinese));
  EXPECT_EQ(settled, 3);
  EXPECT_EQ(decode(be, 4, &settled), gbk("b" + kChinese));

  // A body that is only the mark converts to nothing: the raw bytes come back.
  EXPECT_EQ(decode("\xFF\xFE", 3, &settled), "\xFF\xFE");
  EXPECT_EQ(settled, 1);
}

TEST(DecodeResponseTest, DetectionWithoutMarkOrMeta) {
  int settled = 0;
  EXPECT_EQ(decode("<p>" + kChinese + "</p>", 0, &settled), gbk("<p>" + kChinese + "</p>"));
  EXPECT_EQ(settled, 2);

  EXPECT_EQ(decode("<p>plain ascii</p>", 0, &settled), "<p>plain ascii</p>");
  EXPECT_EQ(settled, 1);

  // GBK that is not UTF-8 stays as it is.
  Text gbkPage = gbk("<p>" + kChinese + "</p>");
  EXPECT_EQ(decode(gbkPage, 0, &settled), gbkPage);
  EXPECT_EQ(settled, 1);

  // GBK bytes that happen to be well-formed UTF-8 throughout are read as UTF-8:
  // C3 A9 is "é" in UTF-8, which GB18030 writes as A8 A6.
  EXPECT_EQ(decode("\xC3\xA9", 0, &settled), "\xA8\xA6");
  EXPECT_EQ(settled, 2);
}

TEST(DecodeResponseTest, MetaCharsetInHeadDecides) {
  const std::string traditional = "中文網頁，繁體字";  // in Big5 and in GBK
  std::string body = encodeAs(traditional, "BIG5");
  std::string page =
      "<html><HEAD><meta http-equiv=\"Content-Type\" content=\"text/html; "
      "charset=big5\"></head><body>" +
      body + "</body></html>";
  int settled = 0;
  Text text = decode(page, 0, &settled);
  EXPECT_EQ(settled, 5);
  EXPECT_NE(text.find(gbk(traditional)), Text::npos) << text;

  // A quoted Big5-HKSCS declaration reaches mode 6.
  std::string hkscs = "<head><meta charset=\"Big5-HKSCS\"></head>" + body;
  decode(hkscs, 0, &settled);
  EXPECT_EQ(settled, 6);
}

TEST(DecodeResponseTest, TextEndsAtZeroByteAndOtherModesAreRaw) {
  int settled = 0;
  EXPECT_EQ(decode(std::string("abc\0def", 7), 1, &settled), "abc");
  EXPECT_EQ(settled, 1);
  EXPECT_EQ(decode(std::string("\xEF\xBB\xBFz\0y", 6), 0, &settled), "z");
  EXPECT_EQ(decode("\xEF\xBB\xBF" + kChinese, 9, &settled), "\xEF\xBB\xBF" + kChinese);
  EXPECT_EQ(settled, 1);
  EXPECT_EQ(decode("", 2, &settled), "");
  EXPECT_EQ(settled, 1);
}

TEST(DecodeResponseTest, GzipBodiesAndTheAbsentDecompressor) {
  std::string page = "\xEF\xBB\xBF" + kChinese;
  std::string packed = gzipCompress(page);
  int settled = 0;
  EXPECT_EQ(decode(packed, 0, &settled), gbk(kChinese));
  EXPECT_EQ(settled, 2);

  setGzipDecompressorAvailable(false);
  Text raw = decode(packed, 0, &settled);
  setGzipDecompressorAvailable(true);
  EXPECT_EQ(settled, 1);
  EXPECT_EQ(raw, packed.substr(0, packed.find('\0')));
}

TEST(DecodeResponseTest, SourceTextAndFile) {
  int settled = 0;
  EXPECT_EQ(decodeResponse({}, 0, &settled, nullptr, "\xEF\xBB\xBF" + kChinese), gbk(kChinese));

  Text path = Text(::testing::TempDir()) + "decode_response_test.html";
  ASSERT_TRUE(writeWholeFile(path, "\xEF\xBB\xBF" + kChinese));
  EXPECT_EQ(decodeResponse(bytesOf("ignored"), 0, &settled, nullptr, {}, path), gbk(kChinese));
  Text text = "stale";
  EXPECT_EQ(decodeResponse({}, 0, &settled, &text, {}, path + ".missing"), "");
  EXPECT_EQ(text, "");
}

TEST(GunzipBytesTest, ManyBlocksTruncationAndGarbage) {
  std::string data;
  for (int i = 0; i < 20000; ++i)
    data += std::to_string(i * 7919 % 10007) + ",";
  ASSERT_GT(data.size(), 8192u * 4);
  std::string packed = gzipCompress(data);
  ASSERT_GT(packed.size(), 8192u);
  EXPECT_EQ(gunzipBytes(bytesOf(packed)), bytesOf(data));

  // A cut-off stream gives what could be inflated, and stops.
  Bytes partial = gunzipBytes(bytesOf(packed.substr(0, packed.size() / 2)));
  ASSERT_FALSE(partial.empty());
  EXPECT_LT(partial.size(), data.size());
  EXPECT_EQ(toText(partial), data.substr(0, partial.size()));

  EXPECT_TRUE(gunzipBytes(bytesOf("\x1F\x8Bnot gzip at all")).empty());
  EXPECT_TRUE(gunzipBytes({}).empty());
}

TEST(GunzipBytesTest, RefusesOutputBeyondTheBodyLimit) {
  std::string zeros(kMaxResponseBodyBytes + 1, '\0');
  std::string packed = gzipCompress(zeros);
  zeros.clear();
  zeros.shrink_to_fit();
  EXPECT_TRUE(gunzipBytes(bytesOf(packed)).empty());
}

TEST(MetaCharsetTest, TagsInTheHeadAndTheirQuoting) {
  int detected = -1;
  EXPECT_TRUE(metaCharset("<head><meta charset='utf-8'></head>", &detected));
  EXPECT_EQ(detected, 1);
  EXPECT_TRUE(metaCharset("<head><META content=\"text/html; charset=UTF-8\"></head>", &detected));
  EXPECT_EQ(detected, 1);
  // The first tag that declares one of the charsets decides.
  EXPECT_TRUE(metaCharset("<head><meta name=a><meta charset=\"Big5\"><meta charset=utf-8></head>",
                          &detected));
  EXPECT_EQ(detected, 2);
  // Unquoted Big5-HKSCS reads as Big5; quoted forms reach 3.
  EXPECT_TRUE(metaCharset("<meta charset=Big5-HKSCS>", &detected));
  EXPECT_EQ(detected, 2);
  EXPECT_TRUE(metaCharset("<meta charset='Big5-HKSCS'>", &detected));
  EXPECT_EQ(detected, 3);

  // With a head, a declaration in the body does not count; other charsets neither.
  EXPECT_FALSE(metaCharset("<head><title>x</title></head><meta charset=utf-8>", &detected));
  EXPECT_EQ(detected, 0);
  EXPECT_FALSE(metaCharset("<head><meta charset=gbk></head>", &detected));
  EXPECT_FALSE(metaCharset("", &detected));
}

TEST(ContainsAnyOfTest, AnyAndAllModes) {
  EXPECT_TRUE(containsAnyOf("Hello World", "xyz[fg]WORLD", true));
  EXPECT_FALSE(containsAnyOf("Hello World", "xyz[fg]abc", true));
  EXPECT_TRUE(containsAnyOf("Hello World", "hello[fg]world", false));
  EXPECT_FALSE(containsAnyOf("Hello World", "hello[fg]xyz", false));
  EXPECT_TRUE(containsAnyOf("anything", "", false));
  EXPECT_FALSE(containsAnyOf("anything", "", true));
}

int pumpCalls = 0;
void countingPump() {
  ++pumpCalls;
}

TEST(LooksLikeUtf8Test, AcceptsTwoAndThreeByteSequencesOnly) {
  EXPECT_TRUE(
      looksLikeUtf8(bytesOf("a\xC3\xA9"
                            "b")));
  EXPECT_TRUE(looksLikeUtf8(bytesOf(kChinese)));
  EXPECT_FALSE(looksLikeUtf8(bytesOf("pure ascii")));
  EXPECT_FALSE(looksLikeUtf8({}));
  EXPECT_FALSE(looksLikeUtf8(bytesOf("\xF0\x9F\x98\x80")));  // four-byte sequence
  EXPECT_FALSE(
      looksLikeUtf8(bytesOf("a\x80"
                            "b")));                    // stray continuation byte
  EXPECT_FALSE(looksLikeUtf8(bytesOf("ab\xE4\xB8")));  // cut-off sequence
  EXPECT_FALSE(looksLikeUtf8(bytesOf(gbk(kChinese))));
}

TEST(LooksLikeUtf8Test, PumpsOncePerPositionExamined) {
  EventPump previous = setEventPump(&countingPump);
  pumpCalls = 0;
  looksLikeUtf8(bytesOf("a\xC3\xA9\xE4\xB8\xADz"));  // positions: a, C3, E4, z
  setEventPump(previous);
  EXPECT_EQ(pumpCalls, 4);
}

// ---- pages that must not hang the program ----

// The walk over a page's meta tags as the text-between functions give it,
// going back to the page's start for every tag: the yardstick for results.
bool metaCharsetByTextBetween(TextView page, int* detected) {
  *detected = 0;
  Text head = textBetween(page, "<head>", "</head>");
  TextView area = head.empty() ? page : TextView(head);
  int position = 0;
  while (true) {
    Text tag = textBetween(area, "<meta", ">", &position);
    if (tag.empty())
      return false;
    for (int kind = 1; kind <= 3; ++kind) {
      static const char* const forms[] = {
          "charset=UTF-8[fg]charset=''UTF-8''[fg]charset='UTF-8'",
          "charset=Big5[fg]charset=''Big5''[fg]charset='Big5'",
          "charset=Big5-HKSCS[fg]charset=''Big5-HKSCS''[fg]charset='Big5-HKSCS'"};
      if (containsAnyOf(tag, apostrophesToQuote(forms[kind - 1]), true)) {
        *detected = kind;
        return true;
      }
    }
  }
}

TEST(MetaCharsetTest, OneWalkReadsTagsAsTheTextBetweenWalkDoes) {
  const char* pages[] = {"<meta><meta charset=utf-8>",         // an empty tag ends the walk
                         "<meta a><META CHARSET=big5>",        // letter case
                         "\x81<meta charset=utf-8>",           // "<" as a trail byte starts no tag
                         "\x81\x81<meta charset=utf-8>",       // a whole character before it
                         "<meta<meta charset='Big5-HKSCS'>",   // the tag runs to the first ">"
                         "<head></head><meta charset=utf-8>",  // an empty head: the whole page
                         "<head><meta charset=big5>",          // no head end: the whole page
                         "<HEAD><meta a></HEAD><meta charset=utf-8>",
                         "<meta charset=utf-8",                   // no ">"
                         "<meta a>\xB0<meta charset=\"utf-8\">",  // a lead byte eats the "<"
                         "x<meta\xB0>charset=utf-8>",
                         ""};
  for (const char* page : pages) {
    SCOPED_TRACE(page);
    int expected = -1, detected = -1;
    const bool found = metaCharsetByTextBetween(page, &expected);
    EXPECT_EQ(metaCharset(page, &detected), found);
    EXPECT_EQ(detected, expected);
  }
}

// Fails the whole run, loudly, when `work` has not ended within `limit`.
template <typename Work>
void endsWithin(std::chrono::seconds limit, const char* what, Work work) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!ended.wait_for(lock, limit, [&] { return done; })) {
      std::fprintf(stderr, "%s did not end within %lld s\n", what,
                   static_cast<long long>(limit.count()));
      std::_Exit(1);
    }
  });
  work();
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  ended.notify_one();
  watchdog.join();
}

TEST(MetaCharsetTest, AHostilePageIsWalkedOnceWithEventsRunning) {
  // 4 MiB: a walk that went back to the page's start for every tag would
  // take most of an hour here; one that walks onwards takes milliseconds.
  constexpr std::size_t kPage = 4u << 20;
  auto repeated = [](std::string_view unit, std::string_view tail = {}) {
    std::string page;
    page.reserve(kPage);
    while (page.size() + unit.size() + tail.size() <= kPage)
      page += unit;
    return page + std::string(tail);
  };
  struct Case {
    const char* name;
    std::string page;
    bool found;
    int detected;
  };
  const Case cases[] = {
      {"tags", repeated("<meta a>"), false, 0},
      {"tags, then Big5", repeated("<meta a>", "<meta charset=\"Big5\">"), true, 2},
      {"an open head, tags", "<head>" + repeated("<meta a>"), false, 0},
      {"tags never closed", repeated("<meta"), false, 0},
      {"only tag openers", repeated("<"), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EventPump previous = setEventPump(&countingPump);
    pumpCalls = 0;
    int detected = -1;
    bool found = false;
    endsWithin(std::chrono::seconds(120), c.name, [&] { found = metaCharset(c.page, &detected); });
    setEventPump(previous);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(detected, c.detected);
    // Events run every 4 KiB stepped over; a page is stepped over at most
    // twice (once to look for the head, once for the tags).
    EXPECT_GE(pumpCalls, static_cast<int>(kPage / 4096) - 1);
    EXPECT_LE(pumpCalls, static_cast<int>(2 * kPage / 4096) + 2);
  }
}

TEST(DecodeResponseTest, DecompressingAndConvertingLetEventsRun) {
  // Mode 2: neither the meta tags nor the UTF-8 check are looked at, so only
  // the inflating (8 KiB a round) and the conversion pump.
  std::string page;
  while (page.size() < (2u << 20))
    page += "<tr><td>" + kChinese + "</td></tr>\n";
  const std::string packed = gzipCompress(page);
  EventPump previous = setEventPump(&countingPump);
  pumpCalls = 0;
  int settled = 0;
  const Text text = decode(packed, 2, &settled);
  setEventPump(previous);
  EXPECT_EQ(settled, 2);
  EXPECT_EQ(text, gbk(page));
  EXPECT_GE(pumpCalls, static_cast<int>(page.size() / 8192));
}

TEST(ConvertCharsetTest, LenientAndUnknownCharsets) {
  EXPECT_EQ(convertCharset(bytesOf(kChinese), "UTF-8", "GB18030"), bytesOf(gbk(kChinese)));
  EXPECT_EQ(convertCharset(bytesOf("a\xFF"
                                   "b"),
                           "UTF-8", "GB18030"),
            bytesOf("a?b"));
  EXPECT_TRUE(convertCharset(bytesOf("abc"), "NO-SUCH-CHARSET", "GB18030").empty());
  EXPECT_TRUE(convertCharset({}, "UTF-8", "GB18030").empty());
}

// ---- UTF-16 after an invalid unit ----

TEST(ConvertCharsetTest, Utf16GoesOnAtTheNextUnitAfterAnInvalidOne) {
  // "a", a lone low surrogate, a lone high surrogate before "b", then Chinese.
  const std::string after = encodeAs("b" + kChinese, "UTF-16LE");
  const std::string le = std::string("a\0", 2) + "\x00\xDC" + "\x3D\xD8" + after;
  std::string be = le;
  for (std::size_t i = 0; i + 1 < be.size(); i += 2)
    std::swap(be[i], be[i + 1]);
  const Text fromLe = toText(convertCharset(bytesOf(le), "UTF-16LE", "GB18030"));
  EXPECT_TRUE(fromLe.starts_with("a?"));
  EXPECT_TRUE(fromLe.ends_with(gbk("b" + kChinese)));
  // Big-endian units are taken in step after the invalid ones just the same.
  EXPECT_EQ(toText(convertCharset(bytesOf(be), "UTF-16BE", "GB18030")), fromLe);
  int settled = 0;
  EXPECT_EQ(decode("\xFE\xFF" + be, 0, &settled), fromLe);
  EXPECT_EQ(settled, 4);
  EXPECT_EQ(decode("\xFE\xFF" + be, 4, &settled), fromLe);
}

// ---- large bodies go through the converter in pieces ----

// `unit` repeated until the text is at least `bytes` long.
std::string repeated(std::string_view unit, std::size_t bytes) {
  std::string text;
  text.reserve(bytes + unit.size());
  while (text.size() < bytes)
    text += unit;
  return text;
}

// The conversion of the whole input at once, the reference for the pieces.
std::string convertedWhole(std::string_view input, const char* from) {
  std::string out;
  EXPECT_TRUE(convertEncoding(input, from, "GB18030", "?", &out));
  return out;
}

std::string convertedInPieces(std::string_view input, const char* from) {
  std::string out;
  EXPECT_TRUE(convertCharsetInto(input, from, "GB18030", "?", &out));
  return out;
}

TEST(ConvertCharsetTest, PiecesGiveTheTextOfOneConversion) {
  constexpr std::size_t kLarge = 700 * 1024;  // several pieces
  {
    SCOPED_TRACE("UTF-8 without ASCII, broken sequences among the characters");
    std::string text = repeated(
        "中文\xE4\xB8"
        "網\xFF\xC3\xA9",
        kLarge);
    EXPECT_TRUE(convertedInPieces(text, "UTF-8") == convertedWhole(text, "UTF-8"));
    text.insert(0, "a");  // shifted against the pieces
    EXPECT_TRUE(convertedInPieces(text, "UTF-8") == convertedWhole(text, "UTF-8"));
  }
  {
    SCOPED_TRACE("UTF-16 with surrogate pairs across every piece boundary");
    const std::string pair = encodeAs("😀", "UTF-16LE");
    for (std::size_t shift : {0, 2}) {
      std::string le = std::string(shift, 'x') + repeated(pair, kLarge);
      EXPECT_TRUE(convertedInPieces(le, "UTF-16LE") == convertedWhole(le, "UTF-16LE"));
      std::string be = le;
      for (std::size_t i = 0; i + 1 < be.size(); i += 2)
        std::swap(be[i], be[i + 1]);
      EXPECT_TRUE(convertedInPieces(be, "UTF-16BE") == convertedWhole(le, "UTF-16LE"));
    }
    const std::string odd = repeated(encodeAs("中", "UTF-16LE"), kLarge) + "\x41";
    EXPECT_TRUE(convertedInPieces(odd, "UTF-16LE") == convertedWhole(odd, "UTF-16LE"));
  }
  {
    SCOPED_TRACE("Big5 without bytes that stand alone");
    const std::string big5 = encodeAs("繁體中文", "BIG5");
    for (const std::string& text :
         {repeated(big5, kLarge), "a" + repeated(big5, kLarge), repeated(big5 + "\n", kLarge)}) {
      EXPECT_TRUE(convertedInPieces(text, "BIG5") == convertedWhole(text, "BIG5"));
    }
  }
}

// ---- memory ----

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPlainAllocator = false;  // the sanitizer keeps freed memory for a while
#else
constexpr bool kPlainAllocator = true;
#endif

// The peak memory of decoding a body of the largest size a fetch accepts,
// against the body's own size.
double peakOfDecodingTimesTheBody(const Bytes& body, int mode, Text* text) {
  const long growth = qarvo::testing::peakGrowthKiB([&] { *text = decodeResponse(body, mode); });
  return growth < 0 ? -1.0 : growth * 1024.0 / static_cast<double>(body.size());
}

TEST(DecodeResponseMemoryTest, ALargestBodyDecodesWithinThreeTimesItsSize) {
  if (!kPlainAllocator)
    GTEST_SKIP() << "the sanitizer's allocator holds freed memory";
  const std::string row = "<tr><td>" + kChinese + "</td><td>qarvo-example.com</td></tr>\n";
  {
    SCOPED_TRACE("UTF-8 found by looking");
    const std::string page = repeated(row, kMaxResponseBodyBytes - row.size());
    const Bytes body(page.begin(), page.end());
    Text text;
    const double peak = peakOfDecodingTimesTheBody(body, 0, &text);
    if (peak < 0)
      GTEST_SKIP() << "the peak resident size cannot be reset here";
    EXPECT_LE(peak, 3.0);
    EXPECT_TRUE(text.starts_with(gbk(row)));
    EXPECT_EQ(text.size() % gbk(row).size(), 0u);
  }
  {
    SCOPED_TRACE("UTF-16LE with its mark");
    const std::string units = encodeAs(row, "UTF-16LE");
    const std::string page = "\xFF\xFE" + repeated(units, kMaxResponseBodyBytes - units.size());
    const Bytes body(page.begin(), page.end());
    Text text;
    const double peak = peakOfDecodingTimesTheBody(body, 0, &text);
    EXPECT_LE(peak, 3.0);
    EXPECT_TRUE(text.starts_with(gbk(row)));
  }
}

}  // namespace
}  // namespace qarvo
