// Finding elements in markup without parsing it.
//
// MarkupExtractor finds one element, or all elements, with a given tag name and
// attribute conditions by searching the raw bytes of the document and counting
// same-name opening and closing tags. An element runs from its start tag to the
// matching closing tag; one without a matching closing tag is its start tag
// alone, a self-closing one ("/>") too. A start tag without ">" is skipped.
//
// An all-elements search (findAll) keeps the positions of the elements found
// and the document they refer to; item() cuts entries out of it. A
// single-element search (findElement with occurrence >= 0) in between leaves
// that list and document alone.
//
// Tag names match without regard to ASCII case unless caseInsensitive is
// false; attribute names and values always do. Searches let the user interface
// process pending events once per search step.
//
// Positions are 1-based byte positions. Nothing here fails loudly: a missing
// element gives empty text, an empty list 0.
#pragma once

#include <optional>
#include <vector>

#include "platform/text.h"
#include "text/com_regex.h"

namespace qarvo {

// Arguments of findElement, in their traditional order; fill with designated
// initializers: findElement(doc, {.tagName = "td", .occurrence = 2,
// .innerOnly = true}).
struct FindElementOptions {
  Text tagName{};                         // empty: any tag
  std::vector<Text> attrNames{};          // attribute conditions, by name ...
  std::vector<Text> attrValues{};         // ... and wanted value (missing = empty)
  Text keywords{};                        // start tag must contain these ("|"-separated)
  bool containsMode = false;              // value only has to contain the wanted value
  bool allAttributes = false;             // all conditions must hold (else any one)
  int occurrence = 0;                     // 0 first, n the n-th passing element, -1 list all
  std::optional<bool> caseInsensitive{};  // tag names without regard to case; default true
  bool innerOnly = false;                 // without the start and closing tag
  bool lettersOnly = false;               // any-tag search: tag name must start with a letter
  bool raw = false;                       // skip tightenEquals on the result
  bool append = false;                    // list mode: add to the current list
};

// Arguments of findAll.
struct FindAllOptions {
  Text tagNames{};  // tag names separated by "|"; empty: any tag
  std::vector<Text> attrNames{};
  std::vector<Text> attrValues{};
  Text keywords{};
  bool containsMode = false;
  bool allAttributes = false;
  std::optional<bool> caseInsensitive{};  // default true
  bool innerOnly = false;
  bool lettersOnly = false;
};

class MarkupExtractor {
 public:
  // Empty lists and buffers; equalsSpacing compiled.
  MarkupExtractor();
  ~MarkupExtractor();
  // Copies the lists, buffers and last result; equalsSpacing shares the
  // compiled pattern.
  MarkupExtractor(const MarkupExtractor& other);
  MarkupExtractor& operator=(const MarkupExtractor& other);

  // Empties both buffers and lastResult; returns empty text. The list stays.
  Text reset();

  // Narrows `document` level by level along `path`, a "|"-separated list of
  // start tags such as "<div id='main'>|<table>|<tr>": each level's first word
  // is the tag name, each further name=value word an attribute condition (all
  // must hold). At the last level, single mode returns that element; list mode
  // lists the last level with findAll and returns the texts of all entries, or
  // of entry `entry` when it is above 0, joined by "\r\n".
  Text queryPath(TextView document, TextView path, bool listMode = false, int entry = 0,
                 bool caseInsensitive = true);

  // Lists every element named in options.tagNames (all elements of the first
  // name, then of the second, ...); returns the number of entries. An empty
  // name between two bars is left out rather than standing for every tag;
  // with no names at all every element is listed. Entries of the same name
  // nest: an element inside a listed one is listed too, also with innerOnly.
  int findAll(TextView document, const FindAllOptions& options = {});

  // Value of attribute `name` in the start tag *tag, read from ` name="v"`,
  // ` name='v'`, ` name=v ` or ` name=v>`; empty when absent. With `set`, the
  // attribute is first inserted as name="" before "/>" or ">" when missing, and
  // its value is then replaced by newValue in *tag. Returns the value as it
  // was before.
  static Text tagAttribute(Text* tag, TextView name, TextView newValue = {}, bool set = false);

  // Whether an attribute value matches: in containsMode when `wanted` occurs in
  // any candidate, else when any candidate, trimmed of blanks, equals it; both
  // without regard to ASCII case.
  static bool attributeValueMatches(TextView wanted, TextView candidate1, TextView candidate2,
                                    TextView candidate3, TextView candidate4, bool containsMode);

  // Position of the next opening pattern in the text being searched at or after
  // fromPosition + 1 whose next byte is not a digit or lower-case letter (so
  // "<tr" does not stop at "<track"); "<" alone takes any hit. -1 when none.
  int findTagStart(TextView openingPattern, int fromPosition) const;

  // Copy of the text the last successful single-element search returned.
  Text lastElement() const;

  // Single mode (occurrence >= 0): the text of the element, or empty text.
  // List mode (occurrence -1): the number of list entries, as decimal text.
  Text findElement(TextView document, const FindElementOptions& options = {});

  // One step of the closing-tag search: counts the openings and closings that
  // lie after *rangeStart and before closingPosition into the process-wide
  // nesting counters, moves *rangeStart to the last one counted, and tells
  // whether the counters are equal. With resetCounters it only zeroes the
  // counters and returns true.
  bool closingTagBalanced(TextView openingPattern, TextView closingPattern, int* rangeStart,
                          int closingPosition, bool resetCounters = false) const;

  // Text of list entry n (1-based), tightened unless raw; empty when n is out
  // of range.
  Text item(int n, bool raw = false) const;

  // Number of list entries.
  int itemCount() const;

  // `text` with every "=" and up to ten blanks (white space or full-width
  // spaces) on either side of it turned into a bare "=".
  Text tightenEquals(TextView text) const;

  // Takes one argument and does nothing (kept for the operation table).
  void placeholder(int unused) const;

 private:
  // What is known of a text that this extractor handed out (a list entry or
  // the last result), so that a search of that very text need not work it
  // out again. Entries and results begin and end next to a "<" or ">", never
  // inside a character, so what holds for a whole text holds for them too.
  struct TextFacts {
    bool foldsToItself = false;  // folding ASCII letters leaves it as it is
    bool tight = false;          // tightenEquals leaves it as it is
  };

  // *text = tightenEquals(*text), without a copy when nothing changes. True
  // when the text is known to have been left as it was.
  bool tightenInPlace(Text* text) const;
  // Whether tightenEquals gives every list entry back unchanged, which holds
  // when it does so for the whole document. Worked out once per document.
  bool entriesAreTight() const;
  // Entry n of the list as it stands in the document; empty when out of range.
  TextView entryText(int n) const;
  // The facts of `text` when it is, byte for byte, the entry last handed out
  // or the last result.
  std::optional<TextFacts> knownFacts(TextView text) const;

  std::vector<int> starts;  // entry start positions in document
  std::vector<int> ends;    // entry end positions (exclusive)
  Text searchBuffer;        // document being searched, lower-cased when ignoring case;
                            // emptied after each search, its room kept for the next
  TextView searchText;      // what a search reads: searchBuffer, or the document itself
                            // where folding would change nothing; empty between searches
  Text document;            // document of the last all-elements search
  ComRegex equalsSpacing;   // "[\s　]{0,10}=[\s　]{0,10}"
  Text lastResult;          // text of the last successful single search
  mutable std::optional<bool> documentTight;  // entriesAreTight(), once known
  bool documentFoldsToItself = false;         // folding leaves the document as it is
  mutable int lastItem = 0;                   // entry last handed out by item(), or 0
  TextFacts lastResultFacts;                  // what is known of lastResult

  // The nesting counters of the closing-tag search are one pair shared by all
  // extractors of the process; they live in markup_extractor.cpp.
};

}  // namespace qarvo
