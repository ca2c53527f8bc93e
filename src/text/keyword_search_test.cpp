#include "text/keyword_search.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "text/split_text.h"

namespace qarvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SplitText, SeparatorRules) {
  EXPECT_THAT(splitText("a||b|", "|"), ElementsAre("a", "", "b"));
  EXPECT_THAT(splitText("|a", "|"), ElementsAre("", "a"));
  EXPECT_THAT(splitText("|", "|"), ElementsAre(""));
  EXPECT_THAT(splitText("", "|"), IsEmpty());
  EXPECT_THAT(splitText("a\r\nb\r\n", "\r\n"), ElementsAre("a", "b"));
  EXPECT_THAT(splitText("abc", ""), ElementsAre("abc"));
  // 亅 ends in the byte "|": not a separator.
  const Text bar = "\x81\x7C";
  EXPECT_THAT(splitText(bar + "|x" + bar, "|"), ElementsAre(bar, "x" + bar));
  EXPECT_THAT(splitText("a\x81", "|"), ElementsAre("a\x81"));  // lead byte at the end
}

TEST(ContainsKeyword, AnyAndAllModesWithEmptyKeywords) {
  const Text text = "abc";
  const Text keywords = "|x||b|";
  Text matched = "unchanged";
  int position = 0;
  EXPECT_TRUE(containsKeyword(text, keywords, true, "|", &matched, &position));
  EXPECT_EQ(matched, "b");
  EXPECT_EQ(position, 2);
  EXPECT_FALSE(containsKeyword(text, keywords, false, "|", nullptr, &position));
  EXPECT_EQ(position, -1);  // stopped at x
  for (bool anyMode : {true, false}) {
    EXPECT_FALSE(containsKeyword(text, "|||", anyMode));
    EXPECT_FALSE(containsKeyword(text, "", anyMode));
  }
  EXPECT_TRUE(containsKeyword(text, "c|a", false));
}

TEST(ContainsKeyword, AllModeNeedsEveryKeywordEvenWhenAskedForMatched) {
  Text matched;
  EXPECT_FALSE(containsKeyword("abc", "a|z", false, "|", &matched));
  EXPECT_EQ(matched, "");
  EXPECT_TRUE(containsKeyword("abc", "a|c", false, "|", &matched));
  EXPECT_EQ(matched, "c");
}

TEST(ContainsKeyword, CaseAndExactMode) {
  EXPECT_TRUE(containsKeyword("Content-Type: text/html; Charset=UTF-8", "charset=utf-8"));
  EXPECT_FALSE(containsKeyword("ABC", "b", false, "|", nullptr, nullptr, false, nullptr, false));
  int position = 0;
  EXPECT_TRUE(containsKeyword("Hello", "x|hello", true, "|", nullptr, &position, false, nullptr,
                              true, true));
  EXPECT_EQ(position, 1);
  EXPECT_FALSE(containsKeyword("Hello", "hello", true, "|", nullptr, &position, false, nullptr,
                               false, true));
  EXPECT_EQ(position, -1);
  EXPECT_FALSE(
      containsKeyword("Hello!", "hello", true, "|", nullptr, nullptr, false, nullptr, true, true));
  // Folding never touches a trail byte: 乕 (81 5B) and the pair 81 7B differ.
  EXPECT_FALSE(containsKeyword("\x81\x5B", "\x81\x7B", true, "|", nullptr, nullptr, false, nullptr,
                               true, true));
}

TEST(ContainsKeyword, ResponseHeaderCharsetSearch) {
  // The page fetch looks for a declared UTF-8 charset in three quotings.
  const Text keywords = "charset=utf-8|charset=\"utf-8\"|charset='utf-8'";
  EXPECT_TRUE(containsKeyword("Content-Type: text/html; charset=\"UTF-8\"\r\n", keywords, true));
  EXPECT_TRUE(containsKeyword("content-type: text/html;charset='utf-8'", keywords, true));
  EXPECT_FALSE(containsKeyword("Content-Type: text/html; charset=gbk", keywords, true));
}

TEST(ContainsKeyword, SeparatorAndKeywordList) {
  EXPECT_TRUE(containsKeyword("a|b", "a|b", false, ","));  // one keyword "a|b"
  EXPECT_TRUE(containsKeyword("xyz", "q, y", true, ", "));
  EXPECT_TRUE(containsKeyword("xyz", "y", true, ""));  // empty separator means "|"

  std::vector<Text> list;
  EXPECT_TRUE(containsKeyword("xyz", "q|y", true, "|", nullptr, nullptr, false, &list));
  EXPECT_THAT(list, ElementsAre("q", "y"));
  // A given list is used as it stands; keywords and separator are ignored.
  list = {"z"};
  EXPECT_TRUE(containsKeyword("xyz", "nothing", false, "|", nullptr, nullptr, false, &list));
  EXPECT_THAT(list, ElementsAre("z"));
}

TEST(ContainsKeyword, DoubleByteText) {
  const Text bar = "\x81\x7C";    // 亅
  const Text cheng = "\xD5\x5C";  // 誠
  Text matched;
  EXPECT_TRUE(containsKeyword(gbk("甲") + bar, "x|" + bar, true, "|", &matched));
  EXPECT_EQ(matched, bar);
  EXPECT_FALSE(containsKeyword(cheng, "\\", true));
  EXPECT_FALSE(containsKeyword("\x81", "\x81\x7C", true));  // keyword longer than the text
  int position = 0;
  EXPECT_TRUE(
      containsKeyword(gbk("查询过于频繁，请稍后"), gbk("过于频繁"), true, "|", nullptr, &position));
  EXPECT_EQ(position, 5);
}

TEST(ContainsKeyword, TraditionalRetry) {
  const Text text = gbk("誠實可靠");
  EXPECT_FALSE(containsKeyword(text, gbk("诚实"), true));
  Text matched;
  EXPECT_TRUE(containsKeyword(text, gbk("诚实"), true, "|", &matched, nullptr, true));
  EXPECT_EQ(matched, gbk("诚实"));  // the keyword as given
  EXPECT_TRUE(containsKeyword(text, gbk("誠實可靠"), true, "|", nullptr, nullptr, true, nullptr,
                              true, true));
  EXPECT_TRUE(containsKeyword(text, gbk("诚实可靠"), true, "|", nullptr, nullptr, true, nullptr,
                              true, true));
}

TEST(ToTraditional, MapsAndKeepsByteLength) {
  EXPECT_EQ(toTraditional(gbk("汉字")), gbk("漢字"));
  EXPECT_EQ(toTraditional(gbk("abc头发 OK")), gbk("abc頭髮 OK"));
  EXPECT_EQ(toTraditional("plain ascii"), "plain ascii");
  EXPECT_EQ(toTraditional(""), "");
  const Text withNul = gbk("汉") + Text(1, '\0') + gbk("语");
  EXPECT_EQ(toTraditional(withNul), gbk("漢") + Text(1, '\0') + gbk("語"));
}

TEST(ToTraditional, OddBytesKeepTheirLength) {
  for (const Text& odd : {Text("\xD5"), Text("a\xFF\xFF"), Text(gbk("汉") + "\x81"),
                          Text("\x80\x80\x80"), Text(gbk("汉") + "\xFF\x30")}) {
    const Text mapped = toTraditional(odd);
    EXPECT_EQ(mapped.size(), odd.size());
  }
  // A valid character next to invalid bytes is still mapped where it can be.
  const Text mixed = gbk("汉") + "\x81";
  EXPECT_EQ(toTraditional(mixed).substr(0, 2), gbk("漢"));
}

TEST(ToTraditional, LongTextWithTrailBytes) {
  Text text;
  for (int i = 0; i < 500; ++i)
    text += gbk("这是简体中文") + "\xD5\x5C\x81\x5B|";
  const Text mapped = toTraditional(text);
  ASSERT_EQ(mapped.size(), text.size());
  EXPECT_EQ(mapped.substr(0, 17), gbk("這是簡體中文") + "\xD5\x5C\x81\x5B|");
}

}  // namespace
}  // namespace qarvo
