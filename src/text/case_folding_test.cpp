// Case-insensitive searches fold ASCII letters where they start a character,
// never a trail byte: "\xC4A" and "\xC4a" are two different GBK characters,
// as are about 3,000 other pairs whose trail bytes differ only in letter
// case. Every such pair is checked in each search that ignores case.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/dbcs.h"
#include "text/keyword_search.h"
#include "text/markup_extractor.h"
#include "text/text_between.h"

namespace qarvo {
namespace {

struct CasePair {
  Text upper;  // lead byte + trail "A".."Z"
  Text lower;  // lead byte + trail "a".."z"
};

std::vector<CasePair> everyCasePair() {
  std::vector<CasePair> pairs;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      const char l = static_cast<char>(lead);
      pairs.push_back({Text{l, letter}, Text{l, asciiLower(letter)}});
    }
  }
  return pairs;
}

TEST(CaseFolding, DbcsSearchesKeepTrailBytesApart) {
  for (const CasePair& pair : everyCasePair()) {
    const std::pair<Text, Text> ways[] = {{pair.upper, pair.lower}, {pair.lower, pair.upper}};
    for (const auto& [needle, other] : ways) {
      const Text text = "xY" + other + "Z";
      ASSERT_EQ(findText(text, "Xy" + needle, 1, true), -1) << needle;
      ASSERT_EQ(findLastText(text, needle + "z", -1, true), -1) << needle;
      ASSERT_EQ(replaceAllText(text, needle, "!", true), text) << needle;
      // The letters around the character still fold.
      ASSERT_EQ(findText(text, "Xy" + other + "z", 1, true), 1) << needle;
    }
  }
}

TEST(CaseFolding, TextBetweenMarkersKeepTrailBytesApart) {
  for (const CasePair& pair : everyCasePair()) {
    const Text text = "<" + pair.lower + ">v</" + pair.lower + ">";
    int position = 0;
    ASSERT_EQ(textBetween(text, "<" + pair.upper + ">", "</", &position), "") << pair.upper;
    ASSERT_EQ(position, -2);
    position = 0;
    ASSERT_EQ(textBetween(text, ">", "</" + pair.upper, &position), "") << pair.upper;
    position = 0;
    ASSERT_EQ(textBetween(text, "<", "</" + pair.upper + ">", &position, true), "") << pair.upper;
    // Found where the character is the same and only ASCII letters differ.
    const Text mixed = "<P" + pair.lower + ">v</p" + pair.lower + ">";
    position = 0;
    ASSERT_EQ(textBetween(mixed, "<p" + pair.lower + ">", "</P" + pair.lower, &position), "v");
  }
}

TEST(CaseFolding, KeywordSearchKeepsTrailBytesApart) {
  for (const CasePair& pair : everyCasePair()) {
    const Text text = "charset=" + pair.lower;
    ASSERT_FALSE(containsKeyword(text, "CHARSET=" + pair.upper)) << pair.upper;
    ASSERT_FALSE(containsKeyword(text, pair.upper + "|x" + pair.upper, true)) << pair.upper;
    ASSERT_FALSE(containsKeyword(text, "charset=" + pair.upper, false, "|", nullptr, nullptr, false,
                                 nullptr, true, true))
        << pair.upper;
    ASSERT_TRUE(containsKeyword(text, "CHARSET=" + pair.lower)) << pair.lower;
  }
}

TEST(CaseFolding, AttributeMatchingKeepsTrailBytesApart) {
  MarkupExtractor extractor;
  for (const CasePair& pair : everyCasePair()) {
    const Text doc = "<div class=\"" + pair.lower + "\">a</div><div id=" + pair.upper +
                     ">b</div><div x" + pair.lower + "=1>c</div>";
    // Values, exact and contained.
    ASSERT_EQ(extractor.findElement(
                  doc, {.tagName = "div", .attrNames = {"CLASS"}, .attrValues = {pair.upper}}),
              "")
        << pair.upper;
    ASSERT_EQ(extractor.findElement(doc, {.tagName = "div",
                                          .attrNames = {"class"},
                                          .attrValues = {pair.upper},
                                          .containsMode = true}),
              "")
        << pair.upper;
    ASSERT_EQ(extractor.findElement(
                  doc, {.tagName = "div", .attrNames = {"id"}, .attrValues = {pair.lower}}),
              "")
        << pair.lower;
    // A name that differs in a trail byte is another attribute.
    ASSERT_EQ(extractor.findElement(doc, {.tagName = "div", .attrNames = {"X" + pair.upper}}), "")
        << pair.upper;
    ASSERT_EQ(
        extractor.findElement(
            doc, {.tagName = "DIV", .attrNames = {"ID"}, .attrValues = {pair.upper}, .raw = true}),
        "<div id=" + pair.upper + ">b</div>");
  }
}

}  // namespace
}  // namespace qarvo
