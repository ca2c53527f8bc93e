#include "text/com_regex.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "platform/code_page.h"

namespace qarvo {
namespace {

// GBK characters whose trail byte is an ASCII metacharacter.
const Text kTrailBackslash = "\xD5\x5C";  // 誠
const Text kTrailOpen = "\x81\x5B";       // 乕, trail "["
const Text kTrailBar = "\x81\x7C";        // 亅, trail "|"
const Text kTrailClose = "\x81\x5D";      // 乚, trail "]"

TEST(ComRegexEscaping, EscapeLiteralSets) {
  EXPECT_EQ(ComRegex::escapeLiteral("a\\b"), "a\\\\b");
  EXPECT_EQ(ComRegex::escapeLiteral("(x|y)"), "\\(x\\|y\\)");
  EXPECT_EQ(ComRegex::escapeLiteral("^$+.{}[]=()?*|\""),
            "\\^\\$\\+\\.\\{\\}\\[\\]\\=\\(\\)\\?\\*\\|\\\"");
  EXPECT_EQ(ComRegex::escapeLiteralKeepBar("(x|y)?"), "\\(x|y\\)\\?");
  EXPECT_EQ(ComRegex::escapeLiteralKeepGroups("(x|y)?"), "(x|y)\\?");
  EXPECT_EQ(ComRegex::escapeLiteralKeepGroups("a-b,c"), "a-b,c");
}

TEST(ComRegexEscaping, WildcardToPattern) {
  EXPECT_EQ(ComRegex::wildcardToPattern("a.b*c?"), "a\\.b.*c.?");
  EXPECT_EQ(ComRegex::wildcardToPattern("x|y"), "x|y");
  EXPECT_EQ(ComRegex::wildcardToPattern("a-b\\c"), "a\\-b\\\\c");
  EXPECT_EQ(ComRegex::wildcardToPattern(""), "");
}

TEST(ComRegexEscaping, TrailBytesAreNeverEscaped) {
  const Text all = kTrailBackslash + kTrailOpen + kTrailBar + kTrailClose;
  EXPECT_EQ(ComRegex::escapeLiteral(all), all);
  EXPECT_EQ(ComRegex::escapeLiteralKeepBar(all), all);
  EXPECT_EQ(ComRegex::escapeLiteralKeepGroups(all), all);
  EXPECT_EQ(ComRegex::wildcardToPattern(all), all);
  // Mixed with real metacharacters, only those get a backslash.
  EXPECT_EQ(ComRegex::escapeLiteral("[" + kTrailClose + "]"), "\\[" + kTrailClose + "\\]");
  // A lead byte at the very end is copied as it is.
  EXPECT_EQ(ComRegex::escapeLiteral("a.\xD5"), "a\\.\xD5");
}

TEST(ComRegexEscaping, EscapedLiteralMatchesItself) {
  const Text literal = "a+b(c)|" + kTrailBackslash + "[x]*?.$^{2}";
  ComRegex regex;
  ASSERT_TRUE(regex.create(ComRegex::escapeLiteral(literal)));
  EXPECT_EQ(regex.execute("zz" + literal + "zz"), 1);
  EXPECT_EQ(regex.matchValue(1), literal);
}

TEST(ComRegexSystemPatterns, TagStripper) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("<[\\s\\S]+?>"));
  EXPECT_EQ(regex.replace("A<b>c</B>d"), "Acd");
  EXPECT_EQ(regex.replace("<td\r\nclass=x>" + gbk("域名") + "</td>"), gbk("域名"));
  EXPECT_EQ(regex.replace("no tags"), "no tags");
  EXPECT_EQ(regex.replace("a <> b"), "a <> b");  // needs at least one character inside
}

TEST(ComRegexSystemPatterns, BlankTrimmer) {
  ComRegex regex;
  ASSERT_TRUE(regex.create(gbk("^[ 　\\t\\r\\n]+|[ 　\\t\\r\\n]+$")));
  EXPECT_EQ(regex.replace("a\r\n b"), "ab");
  EXPECT_EQ(regex.replace(gbk("　 example.com \t　")), "example.com");
  EXPECT_EQ(regex.replace("a b"), "a b");
  EXPECT_EQ(regex.replace(gbk(" 　\r\n\t")), "");
  // A single line break between words is neither at a line start nor before
  // a line end once taken; only a CR LF pair splits into both.
  EXPECT_EQ(regex.replace("x\ny"), "x\ny");
  EXPECT_EQ(regex.replace("x\r\ny"), "xy");
  EXPECT_EQ(regex.replace("x \n y"), "x\ny");
}

// Cells of the size a hostile page may send: a megabyte of blanks is
// cleaned, and a match that PCRE2 gives up on (here a pattern that backtracks
// without end) leaves the text as it was instead of emptying it.
TEST(ComRegexSystemPatterns, HugeCellsAreCleanedOrKept) {
  ComRegex trimmer;
  ASSERT_TRUE(trimmer.create(gbk("^[ 　\\t\\r\\n]+|[ 　\\t\\r\\n]+$")));
  const Text megabyte(1 << 20, ' ');
  EXPECT_EQ(trimmer.replace(megabyte), "");
  EXPECT_EQ(trimmer.replace(megabyte + "a" + megabyte), "a");
  Text lines;
  while (lines.size() < (1u << 20))
    lines += gbk("　 \r\n\t");
  EXPECT_EQ(trimmer.replace(lines), "");
  EXPECT_EQ(trimmer.replace("a" + megabyte + "b"), "a" + megabyte + "b");

  ComRegex runaway;
  ASSERT_TRUE(runaway.create("(a+)+b"));
  const Text cell = "x" + Text(40, 'a') + "cb";
  EXPECT_EQ(runaway.replace(cell), cell);
  EXPECT_EQ(runaway.execute(cell), 0);
  EXPECT_EQ(runaway.replace("aab"), "");  // an ordinary match still works
}

TEST(ComRegexSystemPatterns, EqualsTightener) {
  ComRegex regex;
  ASSERT_TRUE(regex.create(gbk("[\\s　]{0,10}=[\\s　]{0,10}")));
  EXPECT_EQ(regex.replace("<td class = \"a\"  id\t=\r\nb>", "="), "<td class=\"a\"  id=b>");
  EXPECT_EQ(regex.replace(gbk("a　=　b"), "="), "a=b");
  // Eleven blanks: one stays.
  EXPECT_EQ(regex.replace("a           =b", "="), "a =b");
}

TEST(ComRegexPatternLanguage, WhiteSpaceClassIsAscii) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("\\s"));
  EXPECT_EQ(regex.execute(gbk("甲　乙")), 0);  // U+3000 is not \s
  EXPECT_EQ(regex.execute(" \t\r\n\f\x0B"), 6);
  ASSERT_TRUE(regex.create("\\S+"));
  EXPECT_EQ(regex.execute(gbk("甲　乙")), 1);
  EXPECT_EQ(regex.matchValue(1), gbk("甲　乙"));
}

TEST(ComRegexPatternLanguage, MultilineAnchorsAtEveryCrAndLf) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("^x"));
  EXPECT_EQ(regex.execute("x\rx\nx\r\nx"), 4);
  ASSERT_TRUE(regex.create("x$"));
  EXPECT_EQ(regex.execute("x\rx\nx\r\nx"), 4);
  // Between the CR and the LF of a pair both anchors hold.
  ASSERT_TRUE(regex.create("^$"));
  EXPECT_EQ(regex.execute("a\r\nb"), 1);
  int index = -1;
  regex.matchValueWithIndex(1, &index);
  EXPECT_EQ(index, 2);
  // Escaped anchors and anchors inside a class stay literal.
  ASSERT_TRUE(regex.create("\\^[$^]\\$"));
  EXPECT_EQ(regex.execute("a^$$b^^$"), 2);
}

TEST(ComRegexPatternLanguage, WithoutMultilineAnchorsAreTextEnds) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("^x|x$", std::nullopt, false));
  EXPECT_EQ(regex.execute("x\nx\nx"), 2);
  ASSERT_TRUE(regex.create("x$", std::nullopt, false));
  EXPECT_EQ(regex.execute("x\n"), 0);  // no match before a final newline
}

TEST(ComRegexPatternLanguage, Flags) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("ab"));
  EXPECT_EQ(regex.replace("AB ab aB", "-"), "- - -");
  ASSERT_TRUE(regex.create("ab", false));
  EXPECT_EQ(regex.replace("AB ab aB", "-"), "AB - aB");
  ASSERT_TRUE(regex.create("ab", true, true, false));
  EXPECT_EQ(regex.replace("AB ab aB", "-"), "- ab aB");
  EXPECT_EQ(regex.execute("AB ab aB"), 1);
}

TEST(ComRegexPatternLanguage, DotStopsAtLineFeedOnly) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("a.b"));
  EXPECT_EQ(regex.execute("a\rb a\nb"), 1);
  EXPECT_EQ(regex.matchValue(1), "a\rb");
}

TEST(ComRegexPatternLanguage, ScriptEscapes) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("\\u7532\\x41"));  // 甲A
  EXPECT_EQ(regex.execute(gbk("乙甲A")), 1);
  EXPECT_EQ(regex.matchValue(1), gbk("甲A"));
  ASSERT_TRUE(regex.create("\\v"));
  EXPECT_EQ(regex.execute("\n\r\x0B"), 1);
}

TEST(ComRegexReplace, ReplacementReferences) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("(\\w+)@(\\w+)"));
  EXPECT_EQ(regex.replace("mail: joe@host.", "$2 at $1"), "mail: host at joe.");
  EXPECT_EQ(regex.replace("joe@host", "[$&]"), "[joe@host]");
  EXPECT_EQ(regex.replace("joe@host", "$$1"), "$1");
  EXPECT_EQ(regex.replace("a joe@host b", "<$`|$'>"), "a <a | b> b");
  EXPECT_EQ(regex.replace("joe@host", "$3$0$"), "$3$0$");
  EXPECT_EQ(regex.replace("joe@host", "$10"), "joe0");  // no group 10: group 1, then "0"
  ASSERT_TRUE(regex.create("(a)|(b)"));
  EXPECT_EQ(regex.replace("ab", "[$2]"), "[][b]");  // a group that took no part is empty
}

TEST(ComRegexReplace, EmptyMatchesAdvance) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("x*"));
  EXPECT_EQ(regex.replace("axb", "-"), "-a--b-");
  EXPECT_EQ(regex.execute("axb"), 4);
  ASSERT_TRUE(regex.create(""));
  Text expected = "|";
  expected.append(gbk("甲")).append("|").append(gbk("乙")).append("|");
  EXPECT_EQ(regex.replace(gbk("甲乙"), "|"), expected);
}

TEST(ComRegexReplace, GbkTextRoundTrips) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("\\\\"));
  const Text text = kTrailBackslash + "\\" + kTrailOpen + kTrailBar + kTrailClose;
  EXPECT_EQ(regex.replace(text, "/"), kTrailBackslash + "/" + kTrailOpen + kTrailBar + kTrailClose);
  ASSERT_TRUE(regex.create("[\\[\\]|]"));
  EXPECT_EQ(regex.execute(text), 0);
  // Text without a match comes back byte for byte, invalid GBK included.
  const Text odd("a\xFF\x00\x81", 4);
  EXPECT_EQ(regex.replace(odd, "-"), odd);
}

// What replace must give, worked out from the match collection of execute:
// the UTF-16 form of the text with every match put in place by `with`.
Text replacedByCollection(ComRegex& regex, const Text& text, const std::u16string& with) {
  const int count = regex.execute(text);
  if (count == 0)
    return text;  // byte for byte, even where it is not valid GBK
  const std::u16string units = gbkToUtf16(text);
  std::u16string out;
  std::size_t copied = 0;
  for (int n = 1; n <= count; ++n) {
    int first = -1;
    const std::size_t length = gbkToUtf16(regex.matchValueWithIndex(n, &first)).size();
    out.append(units, copied, static_cast<std::size_t>(first) - copied);
    out.append(with);
    copied = static_cast<std::size_t>(first) + length;
  }
  out.append(units, copied);
  return utf16ToGbk(out);
}

// replace hands a text back at once when no character of it can begin a
// match; whatever the pattern and the text, the result is the one the match
// collection gives.
TEST(ComRegexReplace, ShortWayAgreesWithTheMatches) {
  const char* patterns[] = {"<[\\s\\S]+?>",
                            "^[ \xA1\xA1\\t\\r\\n]+|[ \xA1\xA1\\t\\r\\n]+$",
                            "[\\s\xA1\xA1]{0,10}=[\\s\xA1\xA1]{0,10}",
                            "k",
                            "(?-i)K",
                            "(?-i:q)|(?i:z)",
                            "[b-d]+",
                            "\xD6\xD0",  // 中
                            "\xA1\xA1+",
                            "\\\\",
                            "\\d\\d",
                            "a$",
                            "^a",
                            "x*",
                            "[^a<]",
                            "\\s",
                            ".",
                            "(?=b)\\w",
                            "(?<=a)b",
                            "\\uFFFD",
                            "\\?",
                            "\\bc",
                            "\\u00C0",   // matches à without regard to case
                            "\\u0100"};  // matches ā likewise
  const char* pieces[] = {"a",        "b",        "k",  "K",        "q",       "Q",    "z",
                          "Z",        "<",        ">",  "=",        " ",       "\t",   "\r\n",
                          "\xA1\xA1", "\xD6\xD0", "\\", "7",        "\x80",    "\xFF", "\x81",
                          "?",        "\xD5\x5C", "c",  "\xA8\xA4", "\xA8\xA1"};  // à, ā
  std::mt19937 random(17);
  for (const char* pattern : patterns) {
    ComRegex regex;
    ASSERT_TRUE(regex.create(pattern));
    ComRegex caseSensitive;
    ASSERT_TRUE(caseSensitive.create(pattern, false));
    for (int round = 0; round < 3000; ++round) {
      Text text;
      const int count = static_cast<int>(random() % 8);
      for (int i = 0; i < count; ++i)
        text += pieces[random() % std::size(pieces)];
      ASSERT_EQ(regex.replace(text, "#"), replacedByCollection(regex, text, u"#"))
          << pattern << " over " << text;
      ASSERT_EQ(caseSensitive.replace(text, "#"), replacedByCollection(caseSensitive, text, u"#"))
          << pattern << " (case-sensitive) over " << text;
    }
  }
}

// The cleaners of a result page over real cells, some with markup and blanks
// and some without.
TEST(ComRegexReplace, CleanersOverPageCells) {
  ComRegex tagStripper;
  ASSERT_TRUE(tagStripper.create("<[\\s\\S]+?>"));
  ComRegex blankTrimmer;
  ASSERT_TRUE(blankTrimmer.create(gbk("^[ 　\\t\\r\\n]+|[ 　\\t\\r\\n]+$")));
  const Text cells[] = {"site1.com",
                        Text(" \r\n").append(gbk("　")).append(
                            "<a href=\"http://www.site1.com/\">site1.com</a>\r\n  "),
                        gbk("域名"),
                        gbk("中文域名.cn"),
                        "a\r\n b",
                        "",
                        "<b>x</b>",
                        " ",
                        "a\xFF"};
  for (const Text& cell : cells) {
    const Text stripped = tagStripper.replace(cell);
    EXPECT_EQ(stripped, replacedByCollection(tagStripper, cell, u"")) << cell;
    EXPECT_EQ(blankTrimmer.replace(stripped), replacedByCollection(blankTrimmer, stripped, u""))
        << stripped;
  }
  EXPECT_EQ(blankTrimmer.replace(tagStripper.replace(cells[1])), "site1.com");
  EXPECT_EQ(blankTrimmer.replace("a\r\n b"), "ab");
  EXPECT_EQ(tagStripper.replace("a\xFF"), "a\xFF");
  // A byte that is no character comes back as U+FFFD in the code page.
  EXPECT_EQ(blankTrimmer.replace(" a\xFF"), "a\x84\x31\xA4\x37");
}

TEST(ComRegexMatches, CollectionReads) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("(\\d)(\\d)?-"));
  EXPECT_EQ(regex.execute(gbk("甲1-abc23-")), 2);
  EXPECT_EQ(regex.matchCount(), 2);
  EXPECT_EQ(regex.matchValue(1), "1-");
  EXPECT_EQ(regex.matchValue(2), "23-");
  EXPECT_EQ(regex.subMatchValue(2, 1), "2");
  EXPECT_EQ(regex.subMatchValue(2, 2), "3");
  EXPECT_EQ(regex.subMatchValue(1, 2), "");
  EXPECT_EQ(regex.subMatchCount(), 2);
  int index = -1;
  EXPECT_EQ(regex.matchValueWithIndex(2, &index), "23-");
  EXPECT_EQ(index, 6);  // UTF-16 units: 甲 counts one
  index = -1;
  EXPECT_EQ(regex.subMatchValueWithIndex(1, 1, &index), "1");
  EXPECT_EQ(index, 1);
}

TEST(ComRegexMatches, FirstIndexOfSecondMatch) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("ab"));
  ASSERT_EQ(regex.execute("abxxxab"), 2);
  int index = -1;
  EXPECT_EQ(regex.matchValueWithIndex(2, &index), "ab");
  EXPECT_EQ(index, 5);
}

TEST(ComRegexMatches, OutOfRangeReadsAreEmpty) {
  ComRegex regex;
  EXPECT_EQ(regex.matchCount(), 0);
  EXPECT_EQ(regex.matchValue(1), "");
  EXPECT_EQ(regex.subMatchCount(), 0);
  ASSERT_TRUE(regex.create("(a)"));
  EXPECT_EQ(regex.execute("xyz"), 0);
  EXPECT_EQ(regex.matchValue(1), "");
  EXPECT_EQ(regex.subMatchCount(), 0);
  ASSERT_EQ(regex.execute("aa"), 2);
  int index = 42;
  for (int n : {-5, 0, 3, 1 << 30}) {
    EXPECT_EQ(regex.matchValueWithIndex(n, &index), "");
    EXPECT_EQ(regex.subMatchValueWithIndex(n, 1, &index), "");
  }
  EXPECT_EQ(index, 42);
  EXPECT_EQ(regex.subMatchValue(1, 0), "");
  EXPECT_EQ(regex.subMatchValue(1, 2), "");
  EXPECT_EQ(regex.subMatchValue(1, -1), "");
}

TEST(ComRegexMatches, SubMatchCountLooksAtFirstMatch) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("(a)(b)?"));
  ASSERT_EQ(regex.execute("ab a a"), 3);
  EXPECT_EQ(regex.matchValue(3), "a");
  EXPECT_EQ(regex.subMatchCount(), 2);
}

TEST(ComRegexMatches, SecondExecuteReplacesCollection) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("o"));
  ASSERT_EQ(regex.execute("foo"), 2);
  ASSERT_EQ(regex.execute("xo"), 1);
  int index = -1;
  EXPECT_EQ(regex.matchValueWithIndex(1, &index), "o");
  EXPECT_EQ(index, 1);
  EXPECT_EQ(regex.matchValue(2), "");
}

TEST(ComRegexLifecycle, FreshInstance) {
  ComRegex regex;
  EXPECT_EQ(regex.pattern(), "");
  EXPECT_EQ(regex.replace("abc", "x"), "");
  EXPECT_EQ(regex.execute("abc"), 0);
}

TEST(ComRegexLifecycle, BadPatternGivesEmptyResults) {
  ComRegex regex;
  EXPECT_TRUE(regex.create("(unclosed"));
  EXPECT_EQ(regex.pattern(), "(unclosed");
  EXPECT_EQ(regex.execute("(unclosed"), 0);
  EXPECT_EQ(regex.replace("(unclosed", "x"), "");
  EXPECT_TRUE(regex.create("a\\"));
  EXPECT_EQ(regex.execute("a\\"), 0);
  // A later good pattern works again.
  EXPECT_TRUE(regex.create("a"));
  EXPECT_EQ(regex.execute("aa"), 2);
}

TEST(ComRegexLifecycle, CreateKeepsOldMatches) {
  ComRegex regex;
  ASSERT_TRUE(regex.create("b"));
  ASSERT_EQ(regex.execute("abc"), 1);
  ASSERT_TRUE(regex.create("z"));
  EXPECT_EQ(regex.matchValue(1), "b");
  EXPECT_EQ(regex.pattern(), "z");
}

TEST(ComRegexLifecycle, CopySharesObjectAndCollection) {
  ComRegex original;
  ASSERT_TRUE(original.create("\\d+"));
  ASSERT_EQ(original.execute("a1b22"), 2);
  ComRegex copy(original);
  EXPECT_EQ(copy.pattern(), "\\d+");
  EXPECT_EQ(copy.matchValue(2), "22");
  EXPECT_EQ(copy.replace("x9y", "#"), "x#y");
  // A new object in one does not touch the other.
  ASSERT_TRUE(copy.create("y"));
  EXPECT_EQ(original.pattern(), "\\d+");
  EXPECT_EQ(original.replace("y9", "#"), "y#");
  ComRegex assigned;
  assigned = original;
  EXPECT_EQ(assigned.execute("7"), 1);
  EXPECT_EQ(original.matchValue(2), "22");  // its own collection is untouched
}

TEST(ComRegexLifecycle, LargeSubjectWithManyMatches) {
  Text page;
  for (int i = 0; i < 20000; ++i)
    page += "<td>" + gbk("域名") + "</td>";
  ComRegex regex;
  ASSERT_TRUE(regex.create("<[\\s\\S]+?>"));
  const Text stripped = regex.replace(page);
  EXPECT_EQ(stripped.size(), 20000u * 4);
  EXPECT_EQ(regex.execute(page), 40000);
  int index = -1;
  EXPECT_EQ(regex.matchValueWithIndex(40000, &index), "</td>");
  EXPECT_EQ(index, 19999 * 11 + 6);  // 11 UTF-16 units per cell
}

}  // namespace
}  // namespace qarvo
