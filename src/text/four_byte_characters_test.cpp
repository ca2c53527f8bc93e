#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/code_page.h"
#include "text/keyword_search.h"
#include "text/split_text.h"
#include "text/text_between.h"

namespace qarvo {
namespace {

// The text searches step over a four-byte GB18030 character as one unit: a
// separator, keyword or marker made of the middle bytes of two such
// characters is not there.
TEST(FourByteCharacters, AreOneUnitToSplittingKeywordsAndMarkers) {
  const Text k1 = gbk("귱");   // 82 38 83 32
  const Text k2 = gbk("가");   // 82 37 CF 35
  const Text som = gbk("솜");  // 83 32 82 37
  struct Case {
    Text text;
    Text marker;
    std::vector<Text> pieces;  // splitText at the marker
    bool contained;            // containsKeyword
    Text after;                // textBetween from the first marker to the end
    Text before;               // from the start to the first marker
    Text beforeLast;           // from the start to the last marker, searched backwards
  };
  const Case cases[] = {
      {k1 + k2, som, {k1 + k2}, false, "", "", ""},
      {"a" + som + "b" + k1 + k2, som, {"a", "b" + k1 + k2}, true, "b" + k1 + k2, "a", "a"},
      {"[" + k1 + k2 + "]", "\x82\x37", {"[" + k1 + k2 + "]"}, false, "", "", ""},
      {"[" + k1 + k2 + "]", "\x83\x32", {"[" + k1 + k2 + "]"}, false, "", "", ""},
      {gbk("甲,乙,"), ",", {gbk("甲"), gbk("乙")}, true, gbk("乙,"), gbk("甲"), gbk("甲,乙")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text) + " / " + testing::PrintToString(c.marker));
    EXPECT_EQ(splitText(c.text, c.marker), c.pieces);
    EXPECT_EQ(containsKeyword(c.text, c.marker), c.contained);
    EXPECT_EQ(textBetween(c.text, c.marker, ""), c.after);
    EXPECT_EQ(textBetween(c.text, "", c.marker), c.before);
    int position = 0;
    EXPECT_EQ(textBetweenFromEnd(c.text, "", c.marker, &position, true), c.beforeLast);
  }
}

}  // namespace
}  // namespace qarvo
