#include "cli/address_list.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace qarvo::cli {
namespace {

AddressList parse(std::string_view bytes) {
  AddressList list;
  std::string error;
  EXPECT_TRUE(parseAddressList(bytes, &list, &error)) << error;
  return list;
}

TEST(AddressListTest, AddressesArePickedOutOfTheLinesAndKeepTheirLineNumbers) {
  const AddressList list = parse(
      "\xEF\xBB\xBF"
      "a@b.com\r\n\r\n王五 <c@d.cn>\n  \xE3\x80\x80 \t\nx@y.cn; zhang.wei@例子.cn。\n"
      "a;b\nA@B.com\nbell\x07@c.com\xC2\x85\nlast@e.com");
  struct Expected {
    int line;
    std::string address;
  };
  const std::vector<Expected> expected = {
      {1, "a@b.com"}, {3, "c@d.cn"}, {5, "x@y.cn"}, {5, "zhang.wei@例子.cn"}, {9, "last@e.com"}};
  ASSERT_EQ(list.entries.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(list.entries[i].line, expected[i].line) << i;
    EXPECT_EQ(list.entries[i].address, expected[i].address) << i;
    EXPECT_EQ(list.entries[i].gbkAddress, gbk(expected[i].address)) << i;
  }
  // The blank lines are skipped; a line of text without an address (control
  // characters around an "@" make none) is kept for the report.
  EXPECT_EQ(list.linesWithoutAddress, (std::vector<int>{6, 8}));
  EXPECT_EQ(list.duplicates, 1);
}

TEST(AddressListTest, TextThatIsNotUtf8IsRefusedNamingTheLine) {
  AddressList list;
  std::string error;
  // GBK bytes of 例子 on line 2: a list saved in the wrong encoding.
  EXPECT_FALSE(parseAddressList("a@b.com\nzhang@\xC0\xFD\xD7\xD3.cn\n", &list, &error));
  EXPECT_TRUE(list.entries.empty());
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
  for (std::string_view text : {"", "\xEF\xBB\xBF\r\n\n"}) {
    const AddressList list = parse(text);
    EXPECT_TRUE(list.entries.empty());
    EXPECT_TRUE(list.linesWithoutAddress.empty());
  }
}

}  // namespace
}  // namespace qarvo::cli
