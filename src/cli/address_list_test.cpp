#include "cli/address_list.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace qarvo::cli {
namespace {

std::vector<ListedAddress> parse(std::string_view bytes) {
  std::vector<ListedAddress> entries;
  std::string error;
  EXPECT_TRUE(parseAddressList(bytes, &entries, &error)) << error;
  return entries;
}

TEST(AddressListTest, LinesAreSplitAtLfAndCrLfWithAByteOrderMarkAndBlankLinesSkipped) {
  auto entries = parse(
      "\xEF\xBB\xBF"
      "a@b.com\r\n\r\nc@d.cn\n\nlast@e.com");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].address, "a@b.com");
  EXPECT_EQ(entries[0].line, 1);
  EXPECT_EQ(entries[1].address, "c@d.cn");
  EXPECT_EQ(entries[1].line, 3);
  EXPECT_EQ(entries[2].address, "last@e.com");
  EXPECT_EQ(entries[2].line, 5);
  for (const ListedAddress& entry : entries)
    EXPECT_TRUE(entry.valid);
}

TEST(AddressListTest, TrimsAsciiAndFullWidthSpacesButKeepsInnerOnes) {
  auto entries = parse("  \xE3\x80\x80 zhang.wei@例子.cn\xE3\x80\x80  \nx y@z.com \n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].address, "zhang.wei@例子.cn");
  EXPECT_EQ(entries[0].gbkAddress, gbk("zhang.wei@例子.cn"));
  EXPECT_TRUE(entries[0].valid);
  EXPECT_EQ(entries[1].address, "x y@z.com");
}

TEST(AddressListTest, BlankLinesAreSkippedAndControlCharactersAreInvalidAndKeepTheirLine) {
  auto entries = parse(
      "ok@a.com\n   \xE3\x80\x80\n\ttab@b.com\nbell\x07@c.com\nc1\xC2\x85@d.com\n"
      "cr\rinside@e.com\r\ndel\x7F@f.com\n");
  // The line of blanks is skipped, as the window skips it.
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_TRUE(entries[0].valid);
  EXPECT_EQ(entries[1].line, 3);
  for (size_t i = 1; i < entries.size(); ++i) {
    EXPECT_FALSE(entries[i].valid) << entries[i].address;
    EXPECT_EQ(entries[i].problem, "control character in the address");
    EXPECT_TRUE(entries[i].gbkAddress.empty());
  }
  // A tab is not a blank: it stays, and makes the address invalid.
  EXPECT_EQ(entries[1].address, "\ttab@b.com");
}

TEST(AddressListTest, TextThatIsNotUtf8IsRefusedNamingTheLine) {
  std::vector<ListedAddress> entries;
  std::string error;
  // GBK bytes of 例子 on line 2: a list saved in the wrong encoding.
  EXPECT_FALSE(parseAddressList("a@b.com\nzhang@\xC0\xFD\xD7\xD3.cn\n", &entries, &error));
  EXPECT_TRUE(entries.empty());
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
}

TEST(AddressListTest, Utf8CheckRefusesOverlongSurrogatesAndCutSequences) {
  EXPECT_EQ(validUtf8Prefix("ab\xE4\xBE\x8B"
                            "c"),
            6u);
  EXPECT_EQ(validUtf8Prefix("\xF0\x9F\x98\x80"), 4u);   // U+1F600
  EXPECT_EQ(validUtf8Prefix("a\xC0\xAF"), 1u);          // overlong "/"
  EXPECT_EQ(validUtf8Prefix("a\xE0\x80\xAF"), 1u);      // overlong
  EXPECT_EQ(validUtf8Prefix("a\xED\xA0\x80"), 1u);      // a surrogate
  EXPECT_EQ(validUtf8Prefix("a\xF4\x90\x80\x80"), 1u);  // above U+10FFFF
  EXPECT_EQ(validUtf8Prefix("a\xE4\xBE"), 1u);          // cut at the end
  EXPECT_EQ(validUtf8Prefix("a\x80"), 1u);              // a lone trail byte
}

TEST(AddressListTest, AnEmptyListHasNoEntries) {
  EXPECT_TRUE(parse("").empty());
  EXPECT_TRUE(parse("\xEF\xBB\xBF\r\n\n").empty());
}

}  // namespace
}  // namespace qarvo::cli
