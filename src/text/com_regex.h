// One regular expression, with the scripting RegExp object's behaviour.
//
// ComRegex keeps a pattern and three flags (IgnoreCase, Multiline, Global),
// runs it over GBK text and hands matches, sub-matches and replacements back as
// GBK text. Matching happens on the UTF-16 form of the text, so a match's
// FirstIndex counts UTF-16 code units, 0-based, the way the scripting
// component counts its characters. The pattern language is the component's:
//   * `\s` is ASCII white space only; the full-width space U+3000 matches only
//     where a pattern names it, `\w`, `\d` and `\b` are ASCII too;
//   * with Multiline, `^` matches at the start and after every CR and every LF,
//     `$` at the end and before every CR and every LF (so also between the CR
//     and the LF of a pair); without it they match only at the very start/end;
//   * `.` matches anything but LF.
// Replacement texts understand $1..$99, $&, $`, $' and $$.
//
// Failures are values: a pattern that does not compile still leaves an object
// behind (create returns true, pattern() gives the text back) but every match
// and replace on it yields empty text or 0, as do reads before any execute and
// match or sub-match numbers out of range. Match and sub-match numbers are
// 1-based.
//
// Copies share the compiled pattern and the last match collection (nothing is
// recompiled) and own their own copy of the subject text. Instances are used
// on one thread only.
#pragma once

#include <memory>
#include <optional>

#include "platform/text.h"

namespace qarvo {

class ComRegex {
 public:
  // Fresh instance: no pattern, no matches, empty subject.
  ComRegex();
  ~ComRegex();
  ComRegex(const ComRegex& other);
  ComRegex& operator=(const ComRegex& other);

  // Turns a wildcard text into a pattern: escapes the characters
  // "\^$+.{}[]=()-" and the double quote, then "*" becomes ".*" and "?" becomes
  // ".?". "|" passes through as alternation. "a.b*c?" -> "a\.b.*c.?".
  static Text wildcardToPattern(TextView text);
  // Puts a backslash before every character of "\^$+.{}[]=()?*|" and the
  // double quote. Trail bytes of double-byte characters are never escaped.
  static Text escapeLiteral(TextView text);
  // As escapeLiteral, but leaves "|" alone (alternation stays active).
  static Text escapeLiteralKeepBar(TextView text);
  // As escapeLiteral, but leaves "(", ")" and "|" alone.
  static Text escapeLiteralKeepGroups(TextView text);

  // Makes a new object with `pattern` and the flags; an omitted flag is true.
  // Compiles the pattern once here. Returns true (the object exists) even when
  // the pattern is bad; matching with it then gives empty results. An earlier
  // match collection and subject are kept.
  bool create(TextView pattern, std::optional<bool> ignoreCase = std::nullopt,
              std::optional<bool> multiline = std::nullopt,
              std::optional<bool> global = std::nullopt);

  // Matches the pattern against `text` (all matches with Global, else the
  // first), keeps the collection and a copy of `text`, returns the match count.
  int execute(TextView text);

  // The pattern given to the last create; empty on a fresh instance.
  Text pattern() const;

  // `text` with every match (only the first without Global) replaced by
  // `replacement`. Leaves the match collection and subject alone. Empty text
  // on a fresh instance or a bad pattern; `text` as it is when matching stops
  // at a resource limit (then execute finds no match either).
  Text replace(TextView text, TextView replacement = {}) const;

  // Number of matches of the last execute; 0 before any.
  int matchCount() const;
  // Text of match n (1-based); empty when n is out of range.
  Text matchValue(int n) const;
  // Text of group k (1-based) of match n (1-based); empty when either is out
  // of range or the group did not take part in the match.
  Text subMatchValue(int n, int k) const;
  // Number of groups of the first match; 0 without matches.
  int subMatchCount() const;
  // As matchValue; when firstIndex is given and match n exists, it receives the
  // match's 0-based start in UTF-16 units.
  Text matchValueWithIndex(int n, int* firstIndex = nullptr) const;
  // As subMatchValue; firstIndex receives the start of match n itself.
  Text subMatchValueWithIndex(int n, int k, int* firstIndex = nullptr) const;

  // The compiled pattern and the match collection; defined in com_regex.cpp.
  struct RegexObject;
  struct MatchCollection;

 private:
  std::shared_ptr<RegexObject> regexObject;
  std::shared_ptr<const MatchCollection> matches;
  Text subject;
};

}  // namespace qarvo
