#include "platform/dbcs.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "platform/code_page.h"

namespace qarvo {
namespace {

// A four-byte GB18030 character (lead, digit, lead, digit) is one character
// to every search: no hit begins or ends inside it, and no run of its bytes
// is taken for another character. GBK double-byte text keeps its old rules,
// a lone lead byte at the end of a needle included.
TEST(Dbcs, FourByteCharactersAreOneUnit) {
  const Text k1 = gbk("귱");    // 82 38 83 32
  const Text k2 = gbk("가");    // 82 37 CF 35
  const Text som = gbk("솜");   // 83 32 82 37: the middle of k1 + k2
  const Text emoji = gbk("😀");  // 94 39 FC 36
  ASSERT_EQ(k1 + k2, "\x82\x38\x83\x32\x82\x37\xCF\x35");
  ASSERT_EQ(som, "\x83\x32\x82\x37");
  ASSERT_EQ(emoji, "\x94\x39\xFC\x36");

  struct Case {
    Text text;
    Text what;
    bool ignoreCase;
    int first;      // findText
    int last;       // findLastText
    Text replaced;  // replaceAllText by "<>"
  };
  const Case cases[] = {
      {k1 + k2, som, false, -1, -1, k1 + k2},
      {k1 + k2, som, true, -1, -1, k1 + k2},
      {"x" + k1 + k2, som, true, -1, -1, "x" + k1 + k2},
      {k1 + k2 + som, som, false, 9, 9, k1 + k2 + "<>"},
      {k1 + k2, "\x83\x32", false, -1, -1, k1 + k2},  // second half of k1
      {k1, "\x82\x38", false, -1, -1, k1},            // first half: ends inside
      {k1, "\x82\x38\x83", false, -1, -1, k1},
      {k1, "\x82", false, -1, -1, k1},  // a lone lead byte
      {"9" + emoji + "6" + emoji, "\xFC\x36", false, -1, -1, "9" + emoji + "6" + emoji},
      {"9" + emoji + "6" + emoji, "6", false, 6, 6, "9" + emoji + "<>" + emoji},
      {"9" + emoji + "6" + emoji, "9", false, 1, 1, "<>" + emoji + "6" + emoji},
      {"a" + k1 + k2 + "b", k1 + k2, false, 2, 2, "a<>b"},
      {k1 + k2 + k1, k1, false, 1, 9, "<>" + k2 + "<>"},
      {"A" + k1 + "b", "a" + k1 + "B", true, 1, 1, "<>"},
      // Not a whole four-byte character: the units as before.
      {"\x82\x38\x83", "\x83", false, 3, 3, "\x82\x38<>"},
      {"\x80\x30\x81\x30", "\x81\x30", false, 3, 3, "\x80\x30<>"},
      {"\x82\x38\xFF\x30", "\xFF\x30", false, 3, 3, "\x82\x38<>"},
      // GBK: a needle may still end on the lead byte of a double-byte character.
      {"\xB0\xA1", "\xB0", false, 1, 1, "<>\xA1"},
      {"\xD5\x5C\\x", "\\", false, 3, 3, "\xD5\x5C<>x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text) + " / " + testing::PrintToString(c.what));
    EXPECT_EQ(findText(c.text, c.what, 1, c.ignoreCase), c.first);
    EXPECT_EQ(findLastText(c.text, c.what, -1, c.ignoreCase), c.last);
    EXPECT_EQ(replaceAllText(c.text, c.what, "<>", c.ignoreCase), c.replaced);
  }

  EXPECT_EQ(charLength(k1, 0), 4u);
  EXPECT_EQ(charLength(k1 + k2, 4), 4u);
  EXPECT_EQ(charLength("\x82\x38\x83", 0), 2u);  // cut short: a pair and a lone lead
  EXPECT_EQ(asciiToUpper("a" + k1 + "b"), "A" + k1 + "B");
}

// The searches skip ahead (memchr, ASCII eight bytes at a time, a first-byte
// check, a cut check only for needles that may cut): on random text of
// four-byte, double-byte and single bytes they find what a plain walk over
// the characters finds.
TEST(Dbcs, SearchesAgreeWithACharacterWalk) {
  const char* pieces[] = {"a",
                          "A",
                          "1",
                          "9",
                          "<",
                          "\x82\x38\x83\x32",
                          "\x82\x37\xCF\x35",
                          "\xB0\xA1",
                          "\xB0\x41",
                          "\x80\x30",
                          "\xFF\x39",
                          "\x82",
                          "\x38",
                          "abcdefghij"};
  // Hits of `what` in `text` as a walk over the characters sees them: at a
  // character boundary, the characters of `what` equal (letters that start
  // one folded when ignoreCase), and no four-byte character cut.
  auto hitAt = [](TextView text, TextView what, std::size_t at, bool ignoreCase) {
    if (at + what.size() > text.size())
      return false;
    for (std::size_t j = 0; j < what.size(); j += charLength(what, j)) {
      const TextView mine = text.substr(at + j, charLength(what, j));
      const TextView theirs = what.substr(j, charLength(what, j));
      if (ignoreCase && theirs.size() == 1 ? asciiLower(mine[0]) != asciiLower(theirs[0])
                                           : mine != theirs)
        return false;
    }
    for (std::size_t p = at; p < at + what.size();) {
      const std::size_t n = charLength(text, p);
      if (p + n > at + what.size())
        return n != 4;
      p += n;
    }
    return true;
  };
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    Text text;
    const int count = static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i)
      text += pieces[random() % std::size(pieces)];
    if (text.empty())
      continue;
    const std::size_t at = random() % text.size();
    const Text what = text.substr(at, 1 + random() % 6);
    const bool ignoreCase = random() % 2 == 0;
    const std::size_t from = random() % (text.size() + 1);
    const std::size_t limit = random() % (text.size() + 1);

    int first = -1;
    int last = -1;
    Text replaced;
    for (std::size_t i = 0; i < text.size(); i += charLength(text, i)) {
      if (first < 0 && i >= from && hitAt(text, what, i, ignoreCase))
        first = static_cast<int>(i + 1);
      if (i + what.size() <= limit && hitAt(text, what, i, ignoreCase))
        last = static_cast<int>(i + 1);
    }
    for (std::size_t i = 0; i < text.size();) {
      if (hitAt(text, what, i, ignoreCase)) {
        replaced += "<>";
        i += what.size();
      } else {
        replaced.append(text, i, charLength(text, i));
        i += charLength(text, i);
      }
    }
    SCOPED_TRACE(testing::PrintToString(text) + " / " + testing::PrintToString(what));
    ASSERT_EQ(findText(text, what, static_cast<int>(from + 1), ignoreCase), first);
    ASSERT_EQ(findLastText(text, what, static_cast<int>(limit), ignoreCase), last);
    ASSERT_EQ(replaceAllText(text, what, "<>", ignoreCase), replaced);
  }
}

}  // namespace
}  // namespace qarvo
