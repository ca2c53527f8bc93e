#include "text/markup_extractor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "text/com_regex.h"

namespace qarvo {
namespace {

using ::testing::ElementsAre;

std::vector<Text> allItems(const MarkupExtractor& extractor, bool raw = false) {
  std::vector<Text> items;
  for (int n = 1; n <= extractor.itemCount(); ++n)
    items.push_back(extractor.item(n, raw));
  return items;
}

TEST(FindElement, NestedSameNameElements) {
  const Text doc = "<div class='a'><div>x</div></div><div class='a'>y</div>";
  MarkupExtractor extractor;
  const FindElementOptions classA{.tagName = "div", .attrNames = {"class"}, .attrValues = {"a"}};
  EXPECT_EQ(extractor.findElement(doc, classA), "<div class='a'><div>x</div></div>");
  FindElementOptions second = classA;
  second.occurrence = 2;
  EXPECT_EQ(extractor.findElement(doc, second), "<div class='a'>y</div>");
  second.occurrence = 3;
  EXPECT_EQ(extractor.findElement(doc, second), "");
  second.occurrence = 1;
  second.innerOnly = true;
  EXPECT_EQ(extractor.findElement(doc, second), "<div>x</div>");
  EXPECT_EQ(extractor.lastElement(), "<div>x</div>");
}

TEST(FindElement, DeeplyNestedAndInterleaved) {
  const Text doc = "<ul><li>1<ul><li>2</li><li>3<ul><li>4</li></ul></li></ul></li><li>5</li></ul>";
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "li"}),
            "<li>1<ul><li>2</li><li>3<ul><li>4</li></ul></li></ul></li>");
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "li", .occurrence = 3}),
            "<li>3<ul><li>4</li></ul></li>");
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "li", .occurrence = 5}), "<li>5</li>");
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "ul", .occurrence = 3}), "<ul><li>4</li></ul>");
}

TEST(FindElement, TagNameMustEndThere) {
  const Text doc = "<track src=x><tr2>no</tr2><TR class=r>yes</TR>";
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "tr"}), "<TR class=r>yes</TR>");
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "TR", .caseInsensitive = false}),
            "<TR class=r>yes</TR>");
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "tr", .caseInsensitive = false}), "");
  // A tag that ends the document still counts.
  EXPECT_EQ(extractor.findElement("abc<br", {.tagName = "br"}), "");  // but has no ">"
}

TEST(FindElement, AttributeQuotingStyles) {
  MarkupExtractor extractor;
  const FindElementOptions wanted{
      .tagName = "td", .attrNames = {"CLASS"}, .attrValues = {"Domain"}, .raw = true};
  EXPECT_EQ(extractor.findElement("<td class=\"x\">1</td><td class=\"domain\">2</td>", wanted),
            "<td class=\"domain\">2</td>");
  EXPECT_EQ(extractor.findElement("<td class='domain'>2</td>", wanted),
            "<td class='domain'>2</td>");
  EXPECT_EQ(extractor.findElement("<td class=domain id=1>2</td>", wanted),
            "<td class=domain id=1>2</td>");
  EXPECT_EQ(extractor.findElement("<td class=domain>2</td>", wanted), "<td class=domain>2</td>");
  EXPECT_EQ(extractor.findElement("<td class=\" DOMAIN \">2</td>", wanted),
            "<td class=\" DOMAIN \">2</td>");
  EXPECT_EQ(extractor.findElement("<td class=\"domains\">2</td>", wanted), "");
  // The name needs a blank before it.
  EXPECT_EQ(extractor.findElement("<td\tclass=domain>2</td>", wanted), "");

  FindElementOptions contains = wanted;
  contains.containsMode = true;
  EXPECT_EQ(extractor.findElement("<td class=\"w30 DOMAINx\">2</td>", contains),
            "<td class=\"w30 DOMAINx\">2</td>");
}

TEST(FindElement, SeveralAttributeConditions) {
  const Text doc = "<a id=1 href=x>one</a><a id=2 title=t>two</a><a id=3 title=t href=y>three</a>";
  MarkupExtractor extractor;
  // An empty wanted value asks only for the attribute to be there.
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "a", .attrNames = {"title"}}),
            "<a id=2 title=t>two</a>");
  // Any condition (default) or all conditions.
  const FindElementOptions any{
      .tagName = "a", .attrNames = {"title", "href"}, .attrValues = {"t", "x"}};
  EXPECT_EQ(extractor.findElement(doc, any), "<a id=1 href=x>one</a>");
  FindElementOptions all = any;
  all.attrValues = {"t", "y"};
  all.allAttributes = true;
  EXPECT_EQ(extractor.findElement(doc, all), "<a id=3 title=t href=y>three</a>");
  all.attrValues = {"t", "x"};
  EXPECT_EQ(extractor.findElement(doc, all), "");
}

TEST(FindElement, KeywordsFilterStartTags) {
  const Text doc = "<p class=a>1</p><p data-x=\"Hot\">2</p><p data-x=cold id=q>3</p>";
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "p", .keywords = "hot|zz"}),
            "<p data-x=\"Hot\">2</p>");
  EXPECT_EQ(
      extractor.findElement(doc, {.tagName = "p", .keywords = "cold|id=", .allAttributes = true}),
      "<p data-x=cold id=q>3</p>");
}

TEST(FindElement, SelfClosingUnclosedAndBrokenTags) {
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findElement("a<br/>b", {.tagName = "br"}), "<br/>");
  EXPECT_EQ(extractor.findElement("a<br/>b", {.tagName = "br", .innerOnly = true}), "");
  EXPECT_EQ(extractor.lastElement(), "");
  // No closing tag: the start tag alone.
  EXPECT_EQ(extractor.findElement("<p>a<p>b", {.tagName = "p"}), "<p>");
  EXPECT_EQ(extractor.findElement("<p>a<p>b", {.tagName = "p", .innerOnly = true}), "");
  // Openings outnumber closings: still the start tag alone.
  EXPECT_EQ(extractor.findElement("<b><b>x</b>", {.tagName = "b"}), "<b>");
  EXPECT_EQ(extractor.findElement("<b><b>x</b>", {.tagName = "b", .occurrence = 2}), "<b>x</b>");
  // A ">" that never comes.
  EXPECT_EQ(extractor.findElement("<div class=a", {.tagName = "div"}), "");
  EXPECT_EQ(extractor.findElement("", {.tagName = "div"}), "");
  EXPECT_EQ(extractor.findElement("<", {}), "");
  // A closing tag inside the start tag.
  EXPECT_EQ(extractor.findElement("<i t=\"</i>\">x</i>", {.tagName = "i", .innerOnly = true}), "");
  // A closing tag alone is not an element.
  EXPECT_EQ(extractor.findElement("</b>x", {}), "");
}

TEST(FindElement, NulBytesAndOddBytes) {
  const Text doc("<b>\0x\xFF</b>\0<b>\x81", 15);
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "b", .raw = true}), Text("<b>\0x\xFF</b>", 10));
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "b", .occurrence = 2, .raw = true}), "<b>");
  EXPECT_EQ(extractor.findAll(doc, {.tagNames = "b"}), 2);
  EXPECT_EQ(extractor.item(1, true), Text("<b>\0x\xFF</b>", 10));
}

TEST(FindElement, AnyTagAndLettersOnly) {
  const Text doc = "<!DOCTYPE html><!-- c --><span class=a>s</span><em>e</em>";
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findElement(doc, {}), "<!DOCTYPE html>");
  EXPECT_EQ(extractor.findElement(doc, {.lettersOnly = true}), "<span class=a>s</span>");
  EXPECT_EQ(extractor.findElement(doc, {.occurrence = 4, .lettersOnly = true}), "<em>e</em>");
  EXPECT_EQ(extractor.findAll(doc, {.lettersOnly = true}), 2);
  EXPECT_THAT(allItems(extractor), ElementsAre("<span class=a>s</span>", "<em>e</em>"));
  // A name that runs to a line break.
  EXPECT_EQ(extractor.findElement("<td\r\nclass=x>1</td>", {.raw = true}), "<td\r\nclass=x>1</td>");
}

// An attribute value is trimmed of the blanks of markup: every ASCII white
// space and the full-width space, as around "=".
TEST(FindElement, AttributeValuesAreTrimmedOfMarkupBlanks) {
  MarkupExtractor extractor;
  const Text doc = gbk("<div class=\"\v\f\t\r\n　reverse-content 　\f\v\">x</div>");
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "div",
                                        .attrNames = {"class"},
                                        .attrValues = {"reverse-content"},
                                        .raw = true}),
            doc);
}

// The element's name, as written, is searched in the folded document: an
// upper-case element still finds its closing tag and its nested namesakes.
TEST(FindElement, AnyTagFindsTheClosingTagOfAnUpperCaseName) {
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findElement("<DIV>x</DIV>tail", {}), "<DIV>x</DIV>");
  EXPECT_EQ(extractor.findElement("<Div a=1><div>in</DIV>out</dIV>tail", {.raw = true}),
            "<Div a=1><div>in</DIV>out</dIV>");
  EXPECT_EQ(extractor.findElement("<TD>1</TD>", {.innerOnly = true}), "1");
  EXPECT_EQ(extractor.findAll("<UL><LI>a</LI></UL>", {}), 2);
  EXPECT_THAT(allItems(extractor), ElementsAre("<UL><LI>a</LI></UL>", "<LI>a</LI>"));
  // Case-sensitive: only the same spelling closes it.
  EXPECT_EQ(extractor.findElement("<DIV>x</div></DIV>", {.caseInsensitive = false}),
            "<DIV>x</div></DIV>");
}

TEST(FindElement, TightensEqualsUnlessRaw) {
  const Text doc = gbk("<p title = \"a\">a = b　=　c</p>");
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "p"}), gbk("<p title=\"a\">a=b=c</p>"));
  EXPECT_EQ(extractor.findElement(doc, {.tagName = "p", .raw = true}), doc);
  EXPECT_EQ(extractor.tightenEquals("x  =  y"), "x=y");
  EXPECT_EQ(extractor.tightenEquals("no equals \xFF"), "no equals \xFF");
}

// tightenEquals takes a short way when no "=" touches a blank; whatever the
// text, the result is the pattern's replacement.
TEST(FindElement, TightenEqualsIsThePatternsReplacement) {
  ComRegex pattern;
  pattern.create(gbk("[\\s　]{0,10}=[\\s　]{0,10}"));
  MarkupExtractor extractor;
  const char* pieces[] = {"=",    "=",    "a",        "\"",   " ",        "\t",
                          "\r\n", "\v",   "\xA1\xA1", "\xA1", "\xB0\xA1", "\x81\x41",
                          "\x81", "\xFF", "\x80",     "<",    ">",        "\x81="};
  std::mt19937 random(11);
  for (int round = 0; round < 20000; ++round) {
    Text text;
    // Every other round a longer text, for the scan that goes sixteen bytes
    // at a time.
    const int count = static_cast<int>(random() % (round % 2 == 0 ? 10 : 40));
    for (int i = 0; i < count; ++i)
      text += pieces[random() % std::size(pieces)];
    ASSERT_EQ(extractor.tightenEquals(text), pattern.replace(text, "="))
        << "round " << round << ": " << text;
  }
  EXPECT_EQ(extractor.tightenEquals(gbk("<a href=\"x\">注册商</a>")),
            gbk("<a href=\"x\">注册商</a>"));
  // A byte that is no character becomes U+FFFD on the trip through UTF-16,
  // as in the replacement.
  EXPECT_EQ(extractor.tightenEquals("a=\"\xFF\""), "a=\"\x84\x31\xA4\x37\"");
}

// Where the elements named `name` lie in the ASCII text `doc`, worked out
// the long way, as the element search is told: the start tags one after the
// other (the next one searched from just after the start of the last, or
// after its start tag with innerOnly), and for each the closing tags one
// after the other until one has as many closing tags as openings before it,
// counting all that begin after the start tag. [begin, end), 0-based.
std::vector<std::pair<std::size_t, std::size_t>> elementsTheLongWay(const Text& doc,
                                                                    const Text& name,
                                                                    bool innerOnly) {
  const Text lower = asciiToLower(doc);
  const Text opening = Text("<").append(name);
  const Text closing = Text("</").append(name).append(">");
  auto isOpening = [&](std::size_t at) {
    if (lower.compare(at, opening.size(), opening) != 0)
      return false;
    const std::size_t next = at + opening.size();
    return next >= lower.size() || !((lower[next] >= '0' && lower[next] <= '9') ||
                                     (lower[next] >= 'a' && lower[next] <= 'z'));
  };
  std::vector<std::pair<std::size_t, std::size_t>> found;
  std::size_t from = 0;
  while (true) {
    std::size_t start = from;
    while (start < lower.size() && !isOpening(start))
      ++start;
    if (start >= lower.size())
      break;
    const std::size_t gt = lower.find('>', start + 1);
    if (gt == Text::npos)
      break;
    const std::size_t tagLength = gt - start + 1;
    const bool selfClosing = doc[gt - 1] == '/';
    std::size_t end = start + tagLength;
    if (!selfClosing) {
      std::size_t closingsBefore = 0;
      for (std::size_t at = start + 1; at < lower.size(); ++at) {
        if (lower.compare(at, closing.size(), closing) != 0)
          continue;
        std::size_t openings = 0;
        for (std::size_t o = start + 1; o < at; ++o)
          openings += isOpening(o) ? 1 : 0;
        if (openings == closingsBefore) {
          end = at + closing.size();
          break;
        }
        ++closingsBefore;
      }
    }
    if (innerOnly) {
      // Without a closing tag the entry would end before it begins: no text.
      const std::size_t innerEnd = selfClosing || end < start + tagLength + closing.size()
                                       ? start + tagLength
                                       : end - closing.size();
      found.emplace_back(start + tagLength, innerEnd);
      from = start + tagLength;
    } else {
      found.emplace_back(start, end);
      from = start + 1;
    }
  }
  return found;
}

// Random markup of nested, unclosed, self-closing and look-alike tags: the
// list and the single searches find the elements the long way finds.
TEST(FindAll, ElementsAreWhereTheLongWayFindsThem) {
  const char* pieces[] = {
      "<tr>",   "<tr class='x'>", "</tr>",   "<TR>", "</TR>", "<tr2>", "<track>", "<tr/>",
      "x",      "<td>",           "</td>",   "<tr",  ">",     "<",     "</tr",    " ",
      "<tr-a>", "</tr>\r\n",      "<tr\r\n>"};
  std::mt19937 random(31);
  MarkupExtractor extractor;
  for (int round = 0; round < 20000; ++round) {
    Text doc;
    const int count = static_cast<int>(random() % 16);
    for (int i = 0; i < count; ++i)
      doc += pieces[random() % std::size(pieces)];
    for (const bool innerOnly : {false, true}) {
      const auto expected = elementsTheLongWay(doc, "tr", innerOnly);
      ASSERT_EQ(extractor.findAll(doc, {.tagNames = "tr", .innerOnly = innerOnly}),
                static_cast<int>(expected.size()))
          << doc;
      for (std::size_t n = 0; n < expected.size(); ++n) {
        const auto [begin, end] = expected[n];
        const Text text = end > begin ? doc.substr(begin, end - begin) : Text();
        ASSERT_EQ(extractor.item(static_cast<int>(n) + 1, true), text) << doc << " entry " << n;
        if (!innerOnly) {
          ASSERT_EQ(extractor.findElement(
                        doc, {.tagName = "tr", .occurrence = static_cast<int>(n) + 1, .raw = true}),
                    text)
              << doc << " occurrence " << n + 1;
        }
      }
    }
  }
}

// item() leaves out tightenEquals where the whole document shows it would
// change nothing; over random documents, tidy ones and others, every entry
// is still the tightened raw entry.
TEST(Item, EntriesAreTightenedRawEntries) {
  const char* pieces[] = {"<td>", "</td>", "<td a=\"1\">", "x",        "=",
                          " = ",  "a=b",   "\xA1\xA1=",    "\xD6\xD0", "\xFF",
                          "\x81", "\r\n",  "<td/>",        "\xD5\x5C="};
  std::mt19937 random(37);
  MarkupExtractor extractor;
  int tidy = 0;
  for (int round = 0; round < 20000; ++round) {
    Text doc;
    const int count = static_cast<int>(random() % 14);
    for (int i = 0; i < count; ++i)
      doc += pieces[random() % std::size(pieces)];
    const int entries = extractor.findAll(doc, {.tagNames = "td"});
    tidy += extractor.tightenEquals(doc) == doc ? 1 : 0;
    for (int n = 1; n <= entries; ++n) {
      ASSERT_EQ(extractor.item(n), extractor.tightenEquals(extractor.item(n, true)))
          << doc << " entry " << n;
    }
  }
  EXPECT_GT(tidy, 1000);
  EXPECT_LT(tidy, 19000);
}

// A page is searched level by level with one extractor, each level in the
// text the level before handed out; an extractor that knows nothing of the
// earlier levels must find the same on each.
TEST(FindElement, LevelByLevelAsWithoutHistory) {
  const char* pieces[] = {"<div>", "</div>", "<DIV class=a>",  "<tr>",     "</TR>",   "<tr>",
                          "</tr>", "<td>",   "</td>",          "<TD>",     "a = b",   "x=y",
                          "A",     "z",      "\xA1\xA1=",      "\xD6\xD0", "\xFF",    "\x81",
                          "<td/>", "\r\n",   "<a href=\"u\">", "</a>",     "\xD5\x5C"};
  std::mt19937 random(41);
  for (int round = 0; round < 5000; ++round) {
    auto some = [&](int most) {
      Text text;
      const int count = static_cast<int>(random() % static_cast<unsigned>(most + 1));
      for (int i = 0; i < count; ++i)
        text += pieces[random() % std::size(pieces)];
      return text;
    };
    // Half the pages loose pieces, half a block of rows of cells with loose
    // pieces between and inside.
    Text page = some(6);
    if (round % 2 == 0) {
      page += some(24);
    } else {
      page += "<div>";
      for (int r = static_cast<int>(random() % 4); r > 0; --r) {
        page += "<tr>" + some(1);
        for (int c = static_cast<int>(random() % 4); c > 0; --c)
          page += "<td>" + some(3) + "</td>";
        page += "</tr>" + some(1);
      }
      page += "</div>" + some(2);
    }
    // Each level raw or tightened.
    const unsigned raws = random() % 8;
    const bool raw = (raws & 1) != 0;
    const bool rawItems = (raws & 2) != 0;
    const bool rawCells = (raws & 4) != 0;
    MarkupExtractor chained;
    const Text block = chained.findElement(page, {.tagName = "div", .raw = raw});
    ASSERT_EQ(block, MarkupExtractor().findElement(page, {.tagName = "div", .raw = raw})) << page;
    const int rows = chained.findAll(block, {.tagNames = "tr"});
    MarkupExtractor fresh;
    ASSERT_EQ(rows, fresh.findAll(block, {.tagNames = "tr"})) << page;
    for (int n = 1; n <= rows; ++n) {
      const Text row = chained.item(n, rawItems);
      ASSERT_EQ(row, fresh.item(n, rawItems)) << page << " row " << n;
      const FindElementOptions cell{
          .tagName = "td", .occurrence = 2, .innerOnly = true, .raw = rawCells};
      const Text found = chained.findElement(row, cell);
      ASSERT_EQ(found, MarkupExtractor().findElement(row, cell)) << page << " row " << n;
      // The same text once more, now the last result.
      ASSERT_EQ(chained.findElement(found, {.tagName = "a"}),
                MarkupExtractor().findElement(found, {.tagName = "a"}))
          << page << " row " << n;
    }
  }
}

TEST(FindAll, ListsNamesInOrder) {
  const Text doc = "<tr><th>h1</th><td>1</td><th>h2</th><td>2</td></tr>";
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findAll(doc, {.tagNames = "td|th"}), 4);
  EXPECT_THAT(allItems(extractor),
              ElementsAre("<td>1</td>", "<td>2</td>", "<th>h1</th>", "<th>h2</th>"));
  // Empty names between bars are left out.
  EXPECT_EQ(extractor.findAll(doc, {.tagNames = "|td||"}), 2);
  // A new list replaces the old one.
  EXPECT_EQ(extractor.findAll(doc, {.tagNames = "th", .innerOnly = true}), 2);
  EXPECT_THAT(allItems(extractor), ElementsAre("h1", "h2"));
  EXPECT_EQ(extractor.findAll(doc, {.tagNames = "table"}), 0);
  EXPECT_EQ(extractor.itemCount(), 0);
  EXPECT_EQ(extractor.item(1), "");
}

TEST(FindAll, NestedEntriesAreListedToo) {
  const Text doc = "<div><div>x</div></div>";
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findAll(doc, {.tagNames = "div"}), 2);
  EXPECT_THAT(allItems(extractor), ElementsAre(doc, "<div>x</div>"));
  EXPECT_EQ(extractor.findAll(doc, {.tagNames = "div", .innerOnly = true}), 2);
  EXPECT_THAT(allItems(extractor), ElementsAre("<div>x</div>", "x"));
}

TEST(FindAll, EntryEndingBeforeItsStartIsEmpty) {
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findAll("<p>a<p>b</p>", {.tagNames = "p", .innerOnly = true}), 2);
  EXPECT_THAT(allItems(extractor), ElementsAre("", "b"));
}

TEST(Item, OutOfRangeAndAfterSingleSearch) {
  MarkupExtractor extractor;
  ASSERT_EQ(extractor.findAll("<li>a = 1</li><li>b</li>", {.tagNames = "li"}), 2);
  for (int n : {0, -1, 3, INT_MAX, INT_MIN})
    EXPECT_EQ(extractor.item(n), "") << n;
  EXPECT_EQ(extractor.findElement("<p>other</p>", {.tagName = "p"}), "<p>other</p>");
  EXPECT_EQ(extractor.item(1), "<li>a=1</li>");
  EXPECT_EQ(extractor.item(1, true), "<li>a = 1</li>");
  EXPECT_EQ(extractor.item(2), "<li>b</li>");

  MarkupExtractor copy(extractor);
  EXPECT_EQ(copy.itemCount(), 2);
  EXPECT_EQ(copy.item(1), "<li>a=1</li>");
  EXPECT_EQ(copy.lastElement(), "<p>other</p>");

  EXPECT_EQ(extractor.reset(), "");
  EXPECT_EQ(extractor.lastElement(), "");
  EXPECT_EQ(extractor.item(1), "");  // its document is gone
  EXPECT_EQ(copy.item(2), "<li>b</li>");
  MarkupExtractor assigned;
  assigned = copy;
  EXPECT_EQ(assigned.item(1), "<li>a=1</li>");
  EXPECT_EQ(assigned.findElement("<B>x</B>", {.tagName = "b"}), "<B>x</B>");
  EXPECT_EQ(assigned.item(2), "<li>b</li>");
}

TEST(AttributeValueMatches, WholeValueOrContains) {
  EXPECT_TRUE(MarkupExtractor::attributeValueMatches("ab", "", "x", " AB ", "", false));
  EXPECT_TRUE(MarkupExtractor::attributeValueMatches("ab", gbk("　ab　"), "", "", "", false));
  EXPECT_FALSE(MarkupExtractor::attributeValueMatches("ab", "abc", "xab", "", "", false));
  EXPECT_TRUE(MarkupExtractor::attributeValueMatches("ab", "", "", "", "xABc", true));
  EXPECT_FALSE(MarkupExtractor::attributeValueMatches("ab", "a", "b", "", "", true));
}

TEST(TagAttribute, ReadAndSet) {
  Text tag = "<a href=\"/x\" title='T t' id=7 data=v/>";
  EXPECT_EQ(MarkupExtractor::tagAttribute(&tag, "HREF"), "/x");
  EXPECT_EQ(MarkupExtractor::tagAttribute(&tag, "title"), "T t");
  EXPECT_EQ(MarkupExtractor::tagAttribute(&tag, "id"), "7");
  EXPECT_EQ(MarkupExtractor::tagAttribute(&tag, "data"), "v");
  EXPECT_EQ(MarkupExtractor::tagAttribute(&tag, "none"), "");
  EXPECT_EQ(MarkupExtractor::tagAttribute(&tag, "id", "8", true), "7");
  EXPECT_EQ(MarkupExtractor::tagAttribute(&tag, "class", "c", true), "");
  EXPECT_EQ(tag, "<a href=\"/x\" title='T t' id=8 data=v class=\"c\"/>");
  Text plain = "<div>";
  MarkupExtractor::tagAttribute(&plain, "id", "m", true);
  EXPECT_EQ(plain, "<div id=\"m\">");
  EXPECT_EQ(MarkupExtractor::tagAttribute(nullptr, "id"), "");
  Text unclosed = "<a title=\"x";
  EXPECT_EQ(MarkupExtractor::tagAttribute(&unclosed, "title"), "x");
}

TEST(QueryPath, NarrowsLevelByLevel) {
  const Text doc =
      "<div id='side'><table><tr><td>no</td></tr></table></div>"
      "<div id='main'><table class=t><tr><td>a</td></tr><tr><td>b = c</td></tr></table></div>";
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.queryPath(doc, "<div id='main'>|<table>|<tr>"), "<tr><td>a</td></tr>");
  EXPECT_EQ(extractor.queryPath(doc, "<div id='main'>| |<td>", true), "<td>a</td>\r\n<td>b=c</td>");
  EXPECT_EQ(extractor.queryPath(doc, "div id=main|table class=t|td", true, 2), "<td>b=c</td>");
  EXPECT_EQ(extractor.queryPath(doc, "<div id='none'>|<td>", true), "");
  EXPECT_EQ(extractor.queryPath(doc, "||"), "");
}

TEST(EventPump, SearchesPumpButNotPerByte) {
  static int pumped = 0;
  pumped = 0;
  const EventPump previous = setEventPump([] { ++pumped; });
  Text doc;
  for (int i = 0; i < 100; ++i)
    doc += "<tr><td>" + std::to_string(i) + "</td></tr>";
  MarkupExtractor extractor;
  EXPECT_EQ(extractor.findAll(doc, {.tagNames = "tr"}), 100);
  setEventPump(previous);
  EXPECT_GT(pumped, 100);
  EXPECT_LT(pumped, static_cast<int>(doc.size()));
}

// The window may run a nested query from inside a search (a right-click on a
// row while the run pumps events); its own element searches must not upset
// the nesting count of the search in progress.
TEST(EventPump, NestedSearchFromThePumpLeavesTheOuterSearchIntact) {
  static bool inside = false;
  static int nestedRuns = 0;
  nestedRuns = 0;
  const EventPump previous = setEventPump([] {
    if (inside)
      return;
    inside = true;
    MarkupExtractor nested;
    if (nested.findElement("<p><p>a</p></p><p>b</p>", {.tagName = "p", .occurrence = 2}) ==
        "<p>a</p>") {
      ++nestedRuns;
    }
    inside = false;
  });
  MarkupExtractor extractor;
  const Text doc = "<div><div><div>x</div></div><div>y</div></div><div>z</div>";
  const Text outer = extractor.findElement(doc, {.tagName = "div"});
  setEventPump(previous);
  EXPECT_EQ(outer, "<div><div><div>x</div></div><div>y</div></div>");
  EXPECT_GT(nestedRuns, 0);
}

// A result page of the 爱站 service: the result block holds a table whose
// rows carry the domain in their second cell; some cells hold nested tables,
// and the text around the domains has GBK characters whose trail bytes are
// "\", "[", "|" and "]".
Text aizhanResultPage(int rows, std::vector<Text>* domains) {
  const Text odd = "\xD5\x5C\x81\x5B\x81\x7C\x81\x5D";  // 誠乕亅乚
  Text page = gbk("<html><head><title>反查结果</title></head><body>\r\n") +
              "<div class=\"nav\"><table><tr><td>x</td><td>nav</td></tr></table></div>\r\n" +
              "<div class=\"reverse-content\">\r\n<table class=\"table\">\r\n<thead><tr>" +
              gbk("<th>序号</th><th>域名</th><th>注册商</th>") + "</tr></thead>\r\n<tbody>\r\n";
  for (int i = 1; i <= rows; ++i) {
    const Text domain = "site" + std::to_string(i) + ".com";
    domains->push_back(domain);
    page += "<tr class=\"row\">\r\n  <td>" + std::to_string(i) +
            "</td>\r\n  <TD>\r\n    <a href=\"http://" + domain + "\" title=\"" + odd +
            "\" target = _blank>" + domain + gbk("</a>　\r\n  </TD>\r\n");
    if (i % 3 == 0) {
      page +=
          "  <td><table><tr><td>" + odd + gbk("注册商") + "</td><td>2</td></tr></table></td>\r\n";
    } else {
      page += "  <td>" + odd + "</td>\r\n";
    }
    page += "</tr>\r\n";
  }
  page +=
      "</tbody></table>\r\n</div>\r\n<ul class=\"pager\"><li><a href=\"?page=2\">2</a></li>"
      "<li><a href=\"/reverse-whois?q=a%40b.com&t=email&page=9\" class=\"ico-pager-end\">"
      "&gt;&gt;</a></li></ul></body></html>";
  return page;
}

TEST(ResultPage, ExtractsEveryDomainOfTheAizhanPage) {
  std::vector<Text> expected;
  const Text page = aizhanResultPage(300, &expected);
  MarkupExtractor extractor;
  ComRegex tagStripper;
  ComRegex blankTrimmer;
  ASSERT_TRUE(tagStripper.create("<[\\s\\S]+?>"));
  ASSERT_TRUE(blankTrimmer.create(gbk("^[ 　\\t\\r\\n]+|[ 　\\t\\r\\n]+$")));

  const Text block = extractor.findElement(
      page, {.tagName = "div", .attrNames = {"class"}, .attrValues = {"reverse-content"}});
  ASSERT_FALSE(block.empty());
  EXPECT_TRUE(block.ends_with("</table>\r\n</div>"));
  // 300 rows, the heading row, and one nested row in every third row.
  ASSERT_EQ(extractor.findAll(block, {.tagNames = "tr"}), 300 + 1 + 100);
  std::vector<Text> found;
  for (int n = 1; n <= extractor.itemCount(); ++n) {
    const Text cell = extractor.findElement(extractor.item(n),
                                            {.tagName = "td", .occurrence = 2, .innerOnly = true});
    const Text cleaned = blankTrimmer.replace(tagStripper.replace(cell));
    if (cleaned.empty() || cleaned == gbk("域名"))
      continue;
    if (cleaned == "2")
      continue;  // the nested table's second cell
    found.push_back(cleaned);
  }
  EXPECT_EQ(found, expected);
  // The listed document is the block, and item tightens "target = _blank".
  EXPECT_NE(extractor.item(2).find("target=_blank"), Text::npos);
}

TEST(ResultPage, ExtractsEntriesOfTheChinazPage) {
  Text page = gbk("<div class=\"top\"><div class=\"domain\">广告.com</div></div>") +
              "<div id=\"ajaxInfo\" class=\"list\">";
  std::vector<Text> expected;
  for (int i = 0; i < 200; ++i) {
    const Text domain = Text("d").append(std::to_string(i)).append(".cn");
    expected.push_back(domain);
    page += "<ul><li><div class=\"" + Text(i % 2 ? "Domain w30" : "domain") + "\"><a href=\"//" +
            domain + "\">" + domain + "</a></div><div class=\"reg\">\xD5\x5C</div></li></ul>";
  }
  page += "</div><div class=\"domain\">" + gbk("页脚.com") + "</div>";
  MarkupExtractor extractor;
  ComRegex tagStripper;
  ASSERT_TRUE(tagStripper.create("<[\\s\\S]+?>"));
  const Text block = extractor.findElement(
      page, {.tagName = "div", .attrNames = {"id"}, .attrValues = {"ajaxInfo"}});
  ASSERT_EQ(extractor.findAll(block, {.tagNames = "div",
                                      .attrNames = {"class"},
                                      .attrValues = {"domain"},
                                      .containsMode = true}),
            200);
  std::vector<Text> found;
  for (int n = 1; n <= extractor.itemCount(); ++n)
    found.push_back(tagStripper.replace(extractor.item(n)));
  EXPECT_EQ(found, expected);
}

// Regression tests from fuzzing.

TEST(TagAttributeFuzzRegression, SetAfterAStrayLeadByteFillsTheInsertedQuotes) {
  // The blank of the inserted attribute pairs up with the stray lead byte, so
  // the attribute cannot be found by searching again; the value still belongs
  // between its quotes, not at the start of the tag.
  Text tag = "<a \x81";
  EXPECT_EQ(MarkupExtractor::tagAttribute(&tag, "x", "v", true), "");
  EXPECT_EQ(tag, "<a \x81 x=\"v\"");
  Text closed = "<a \xB0>";
  MarkupExtractor::tagAttribute(&closed, "id", "7", true);
  EXPECT_EQ(closed, "<a \xB0 id=\"7\">");
}

}  // namespace
}  // namespace qarvo
