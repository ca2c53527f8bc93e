#include "platform/blanks.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace qarvo {
namespace {

const Text kFullWidth = "\xA1\xA1";  // U+3000

// Each helper trims its own set and nothing else: the same padded texts
// through all four.
TEST(Blanks, EachHelperTrimsItsOwnSet) {
  const Text padded = " \t" + kFullWidth + "\r\n\v\fa b\f\v\n\r" + kFullWidth + "\t ";
  EXPECT_EQ(trimWhiteSpaceAndFullWidthSpaces(padded), "a b");
  EXPECT_EQ(trimAsciiWhiteSpace(padded), kFullWidth + "\r\n\v\fa b\f\v\n\r" + kFullWidth);
  EXPECT_EQ(trimSpacesAndTabs(padded), kFullWidth + "\r\n\v\fa b\f\v\n\r" + kFullWidth);
  EXPECT_EQ(trimSpacesAndFullWidthSpaces(padded), padded.substr(1, padded.size() - 2));
  EXPECT_EQ(trimSpacesAndFullWidthSpaces(" " + kFullWidth + " a@b.com" + kFullWidth + " "),
            "a@b.com");
  EXPECT_EQ(trimSpacesAndFullWidthSpaces("\ta@b.com\t"), "\ta@b.com\t");
  EXPECT_EQ(trimSpacesAndTabs(" \tx-value\t "), "x-value");
  EXPECT_EQ(trimSpacesAndTabs("value\r\n"), "value\r\n");
  EXPECT_EQ(trimAsciiWhiteSpace(" OK\r\n"), "OK");
}

TEST(Blanks, AllBlankOrEmptyGivesEmpty) {
  for (TextView text : {TextView(), TextView(" "), TextView("\t \r\n")}) {
    EXPECT_EQ(trimWhiteSpaceAndFullWidthSpaces(text), "");
    EXPECT_EQ(trimAsciiWhiteSpace(text), "");
  }
  EXPECT_EQ(trimSpacesAndFullWidthSpaces(kFullWidth + " " + kFullWidth), "");
  EXPECT_EQ(trimSpacesAndTabs(" \t "), "");
}

// A1 A1 is a full-width space only where it starts a character.
TEST(Blanks, FullWidthSpaceOnlyAtACharacterStart) {
  // B0 A1 is one character; the A1 A1 that seems to follow it starts on its
  // trail byte.
  EXPECT_EQ(trimSpacesAndFullWidthSpaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
  EXPECT_EQ(trimWhiteSpaceAndFullWidthSpaces("\xA1\xB0\xA1"), "\xA1\xB0\xA1");
  EXPECT_EQ(trimWhiteSpaceAndFullWidthSpaces("a\xC4\xA1\xA1"), "a\xC4\xA1\xA1");
  const Text word = gbk("结果");
  EXPECT_EQ(trimWhiteSpaceAndFullWidthSpaces(kFullWidth + word + kFullWidth), word);
}

}  // namespace
}  // namespace qarvo
