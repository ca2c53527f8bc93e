#include "text/text_between.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "platform/code_page.h"

namespace qarvo {
namespace {

TEST(Sentinels, AreTheGbkMarkers) {
  EXPECT_EQ(startSentinel, gbk("#Qarvo头#"));
  EXPECT_EQ(endSentinel, gbk("#Qarvo尾#"));
}

TEST(ApostrophesToQuote, PairsBecomeOneQuote) {
  EXPECT_EQ(apostrophesToQuote("a''b'''c'"), "a\"b\"'c'");
  EXPECT_EQ(apostrophesToQuote("charset=''utf-8''"), "charset=\"utf-8\"");
  EXPECT_EQ(apostrophesToQuote(""), "");
}

TEST(TextBetween, ForwardWalkThroughAllOccurrences) {
  const Text text = "<a>1</a><A>22</A><a></a><a>3</a>";
  int position = 0;
  EXPECT_EQ(textBetween(text, "<a>", "</a>", &position), "1");
  EXPECT_EQ(position, 9);
  EXPECT_EQ(textBetween(text, "<a>", "</a>", &position), "22");  // markers ignore case
  EXPECT_EQ(textBetween(text, "<a>", "</a>", &position), "");    // found, but empty
  EXPECT_EQ(position, 25);
  EXPECT_EQ(textBetween(text, "<a>", "</a>", &position), "3");
  EXPECT_EQ(textBetween(text, "<a>", "</a>", &position), "");
  EXPECT_EQ(position, -2);
  // Position -2 stops the walk without searching.
  EXPECT_EQ(textBetween("<a>x</a>", "<a>", "</a>", &position), "");
  EXPECT_EQ(position, -2);
}

TEST(TextBetween, EmptyMarkersStandForTheEnds) {
  int position = 0;
  EXPECT_EQ(textBetween("abc|def", "", "|", &position), "abc");
  EXPECT_EQ(position, 9 + 4 + 1);  // positions count the start sentinel
  position = 0;
  EXPECT_EQ(textBetween("abc|def", "|", "", &position), "def");
  EXPECT_EQ(position, 8 + 9);
  position = 0;
  EXPECT_EQ(textBetween("abc|def", "", "", &position), "abc|def");
  EXPECT_EQ(position, 9 + 7 + 9 + 1);
  position = 0;
  EXPECT_EQ(textBetween("", "", "", &position), "");
  EXPECT_EQ(position, 19);  // found, nothing between
}

TEST(TextBetween, QuoteStylesOfMarkers) {
  // '' in a marker stands for a double quote.
  EXPECT_EQ(textBetween("<i class=\"v w\">", " class=''", "''"), "v w");
  // With keepQuotes the apostrophes stay and find nothing here.
  int position = 0;
  EXPECT_EQ(textBetween("<i class=\"v\">", " class=''", "''", &position, false, 0, 0, true), "");
  // The second attempt drops the double quotes and finds the bare form.
  position = 0;
  EXPECT_EQ(textBetween("<i class=v>", " class=\"", "\">", &position), "v");
  EXPECT_EQ(position, 12);
}

TEST(TextBetween, SkipAndCut) {
  int position = 0;
  EXPECT_EQ(textBetween("[abcdef]", "[", "]", &position, false, 2, 1), "cde");
  for (int skip : {INT_MAX, INT_MIN, 7, -2}) {
    position = 0;
    EXPECT_EQ(textBetween("[abcdef]", "[", "]", &position, false, skip, 0), "") << skip;
  }
  position = 0;
  EXPECT_EQ(textBetween("[abcdef]", "[", "]", &position, false, -1, 0), "[abcdef");
  position = 0;
  EXPECT_EQ(textBetween("[abcdef]", "[", "]", &position, false, 0, INT_MAX), "");
  // A negative cut runs past the right marker and stops at the end.
  position = 0;
  EXPECT_EQ(textBetween("[abcdef]", "[", "]", &position, false, 0, INT_MIN), "abcdef]");
  position = 0;
  EXPECT_EQ(textBetween("[abcdef]", "[", "]", &position, false, INT_MAX, INT_MIN), "");
  position = 0;
  EXPECT_EQ(textBetween("[abcdef]", "[", "]", &position, false, 6, 0), "");  // length 0
}

TEST(TextBetween, BackwardFindsNearestLeftMarker) {
  // The pager of the 爱站 service: the last page's link sits in the <li> of
  // the "ico-pager-end" item.
  const Text pager =
      "<ul><li><a href=\"/reverse-whois?q=a%40b.com&t=email&page=2\">2</a></li>"
      "<li><a href=\"/reverse-whois?q=a%40b.com&t=email&page=17\" "
      "class=\"ico-pager-end\">&gt;&gt;</a></li></ul>";
  int position = 0;
  const Text item = textBetween(pager, "<li", "ico-pager-end", &position, true);
  position = 0;
  EXPECT_EQ(textBetween(item, "&page=", "\"", &position), "17");

  // The 站长 service: "共 12 页，到第".
  const Text total = gbk("<span>共 1 条 共 12 页，到第 <input> 页</span>");
  position = 0;
  EXPECT_EQ(std::atoi(textBetween(total, gbk("共"), gbk("页，到第"), &position, true).c_str()), 12);
}

// Markers that share a byte: the left marker must end before the right one
// begins (backward), and the right marker is searched only after the whole
// left one (forward).
TEST(TextBetween, MarkersNeverOverlap) {
  int position = 0;
  EXPECT_EQ(textBetween("ab-abc", "ab", "bc", &position, true), "-a");
  EXPECT_EQ(position, 7);
  position = 0;
  EXPECT_EQ(textBetween("<li>17</li><lico-pager-end", "<li", "ico-pager-end", &position, true),
            ">17</li><l");
  // Nothing before the right marker but the overlapping left marker.
  position = 0;
  EXPECT_EQ(textBetween("abc", "ab", "bc", &position, true), "");
  EXPECT_EQ(position, -2);
  position = 0;
  EXPECT_EQ(textBetween("abc-bc", "ab", "bc", &position), "c-");
  EXPECT_EQ(position, 7);
  position = 0;
  EXPECT_EQ(textBetween("abc", "ab", "bc", &position), "");
  EXPECT_EQ(position, -2);
}

TEST(TextBetween, BackwardHonoursLastRight) {
  const Text text = "<a>1</a>2</a>";
  int position = 0;
  int lastRight = 0;
  EXPECT_EQ(textBetween(text, "<a>", "</a>", &position, true, 0, 0, false, &lastRight), "1");
  EXPECT_EQ(lastRight, 5);
  EXPECT_EQ(position, 9);
  // The next right marker has the same left marker before it: not new.
  EXPECT_EQ(textBetween(text, "<a>", "</a>", &position, true, 0, 0, false, &lastRight), "");
  EXPECT_EQ(position, -2);
  EXPECT_EQ(lastRight, 10);
  // Without lastRight it is taken.
  position = 9;
  EXPECT_EQ(textBetween(text, "<a>", "</a>", &position, true), "1</a>2");
}

TEST(TextBetween, DoubleByteCharactersAreUnits) {
  const Text cheng = "\xD5\x5C";  // 誠, trail byte "\"
  const Text text = cheng + "\\x\\" + cheng;
  EXPECT_EQ(textBetween(text, "\\", "\\"), "x");
  const Text bracketed =
      "\x81\x5B"
      "a[b]\x81\x5D";  // trail bytes "[" and "]"
  EXPECT_EQ(textBetween(bracketed, "[", "]"), "b");
  const Text bars = "\x81\x7C|" + gbk("甲") + "|";
  EXPECT_EQ(textBetween(bars, "|", "|"), gbk("甲"));
}

// Four-byte characters: their digits are never taken for markers.
TEST(TextBetween, FourByteCharactersAreUnits) {
  const Text emoji = gbk("😀");    // 94 39 FC 36
  const Text jorg = gbk("jörg");  // ö is 81 30 8B 32
  const Text text = "[" + emoji + "]x" + jorg + "[6]";
  int position = 0;
  EXPECT_EQ(textBetween(text, "9", "]", &position), "");
  EXPECT_EQ(position, -2);
  position = 0;
  EXPECT_EQ(textBetween(text, "6", "x", &position), "");
  EXPECT_EQ(position, -2);
  EXPECT_EQ(textBetween(text, "0", "g"), "");
  EXPECT_EQ(textBetween(text, "x", "2"), "");
  EXPECT_EQ(textBetween(text, "[", "]"), emoji);
  position = 0;
  EXPECT_EQ(textBetweenFromEnd(text, "[", "]", &position, true), "6");
  EXPECT_EQ(textBetweenFromEnd(text, "[", "]", &position, true), emoji);
}

TEST(TextBetween, BadInputGivesEmptyText) {
  int position = 0;
  EXPECT_EQ(textBetween("ab", "abc", "d", &position), "");
  EXPECT_EQ(position, -2);
  position = 1000000;
  EXPECT_EQ(textBetween("<a>x</a>", "<a>", "</a>", &position), "");
  EXPECT_EQ(position, -2);
  position = INT_MIN;
  EXPECT_EQ(textBetween("<a>x</a>", "<a>", "</a>", &position), "x");
  position = 0;
  EXPECT_EQ(textBetween("a<b", "<", ">", &position), "");  // a ">" that never comes
  EXPECT_EQ(textBetween(Text("a\0[b\0]\0", 7), "[", "]"), Text("b\0", 2));
  EXPECT_EQ(textBetween("ab\xD5", "a", "\xD5"), "b");    // lead byte at the very end
  EXPECT_EQ(textBetween("a\xFF\xFE", "a", "\xFE"), "");  // "\xFE" is a trail byte here
  EXPECT_EQ(textBetween("abc", "a", "c"), "b");          // no position variable at all
}

TEST(TextBetweenSingle, OneAttemptAndPositionKept) {
  int position = 3;
  EXPECT_EQ(textBetweenSingle("<i class=v>", " class=\"", "\">", 0, 0, &position), "");
  EXPECT_EQ(position, 3);
  // No apostrophe conversion unless asked.
  position = 0;
  EXPECT_EQ(textBetweenSingle("a''b''c", "''", "''", 0, 0, &position), "b");
  EXPECT_EQ(position, 7);
  position = 0;
  EXPECT_EQ(textBetweenSingle("a\"b\"c", "''", "''", 0, 0, &position, false, true), "b");
  // -2 means nothing special: the search starts at the beginning.
  position = -2;
  EXPECT_EQ(textBetweenSingle("[x]", "[", "]", 0, 0, &position), "x");
  EXPECT_EQ(textBetweenSingle("[abc]", "[", "]", 1, 1), "b");
}

TEST(TextBetweenSingle, BackwardWalksFromTheEnd) {
  const Text text = "<a>1</a><a>2</a>";
  int position = 0;
  EXPECT_EQ(textBetweenSingle(text, "<a>", "</a>", 0, 0, &position, true), "2");
  EXPECT_EQ(position, 9);
  EXPECT_EQ(textBetweenSingle(text, "<a>", "</a>", 0, 0, &position, true), "1");
  EXPECT_EQ(position, 1);
  EXPECT_EQ(textBetweenSingle(text, "<a>", "</a>", 0, 0, &position, true), "");
  EXPECT_EQ(position, 1);
}

TEST(TextBetweenSingle, MarkersNeverOverlap) {
  int position = 0;
  EXPECT_EQ(textBetweenSingle("ab-abc", "ab", "bc", 0, 0, &position, true), "-a");
  EXPECT_EQ(position, 1);
  position = 0;
  EXPECT_EQ(textBetweenSingle("<li>17</li><lico-pager-end", "<li", "ico-pager-end", 0, 0, &position,
                              true),
            ">17</li><l");
  position = 0;
  EXPECT_EQ(textBetweenSingle("abc-bc", "ab", "bc", 0, 0, &position), "c-");
  EXPECT_EQ(position, 7);
  position = 5;
  EXPECT_EQ(textBetweenSingle("abc", "ab", "bc", 0, 0, &position), "");
  EXPECT_EQ(position, 5);
  // Walking backward, the next right marker lies wholly before the left
  // marker of the occurrence just read, not across its first byte.
  position = 0;
  EXPECT_EQ(textBetweenSingle("<1><2><", "<", "><", 0, 0, &position, true), "2");
  EXPECT_EQ(position, 4);
  EXPECT_EQ(textBetweenSingle("<1><2><", "<", "><", 0, 0, &position, true), "");
  EXPECT_EQ(position, 4);
}

TEST(TextBetweenFromEnd, MarkersNeverOverlap) {
  int position = 0;
  EXPECT_EQ(textBetweenFromEnd("ab-abc", "ab", "bc", &position, true), "-a");
  EXPECT_EQ(position, 1);
  position = 0;
  EXPECT_EQ(
      textBetweenFromEnd("<li>17</li><lico-pager-end", "<li", "ico-pager-end", &position, true),
      ">17</li><l");
  position = 0;
  EXPECT_EQ(textBetweenFromEnd("abc-bc", "ab", "bc", &position), "c-");
  EXPECT_EQ(position, 7);
  position = 0;
  EXPECT_EQ(textBetweenFromEnd("<1><2><", "<", "><", &position, true), "2");
  EXPECT_EQ(textBetweenFromEnd("<1><2><", "<", "><", &position, true), "");
  EXPECT_EQ(position, 4);
}

TEST(TextBetweenFromEnd, BackwardAndFailureRestoresPosition) {
  const Text text = "k1=v1;k2=v2;";
  int position = 0;
  EXPECT_EQ(textBetweenFromEnd(text, "=", ";", &position, true), "v2");
  EXPECT_EQ(position, 9);
  EXPECT_EQ(textBetweenFromEnd(text, "=", ";", &position, true), "v1");
  EXPECT_EQ(position, 3);
  EXPECT_EQ(textBetweenFromEnd(text, "=", ";", &position, true), "");
  EXPECT_EQ(position, 3);
  position = 7;
  EXPECT_EQ(textBetweenFromEnd(text, "x", ";", &position), "");
  EXPECT_EQ(position, 7);
  // Two attempts, like textBetween.
  position = 0;
  EXPECT_EQ(textBetweenFromEnd("<i class=v>", " class=''", "''>", &position), "v");
  // -2 on entry is just a position before the start.
  position = -2;
  EXPECT_EQ(textBetweenFromEnd(text, "=", ";", &position), "v1");
  EXPECT_EQ(position, 7);
}

TEST(TextBetweenFromEnd, SettingsLine) {
  // A settings file reads the value after the last "=" of a "key=value" line.
  const Text line = gbk("邮箱列表=a@b.com┊*┊c@d.com\r\n");
  int position = 0;
  EXPECT_EQ(textBetweenFromEnd(line, "=", "\r\n", &position), gbk("a@b.com┊*┊c@d.com"));
}

}  // namespace
}  // namespace qarvo
