#include "engine/service_description.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/code_page.h"

namespace qarvo {

namespace {

ElementMarker element(Text tag, Text attribute = {}, Text value = {}, bool contains = false) {
  ElementMarker marker;
  marker.tag = std::move(tag);
  marker.attribute = std::move(attribute);
  marker.value = std::move(value);
  marker.contains = contains;
  return marker;
}

}  // namespace

ServiceDescription builtInDescription(Service service, const ServiceEndpoints& endpoints) {
  static const Text kHeading = gbk("域名");
  static const Text kNoData = gbk("未找到相关数据");
  static const Text kAizhanThrottle = gbk("您的查询太频繁了");
  static const Text kChinazThrottle = gbk("查询过于频繁");
  static const Text kChinazPagerLeft = gbk("共");
  static const Text kChinazPagerRight = gbk("页，到第");

  ServiceDescription d;
  d.service = service;
  d.headings = {kHeading};
  d.noDataTexts = {kNoData};
  if (service == Service::kAizhan) {
    d.key = "aizhan";
    d.name = "aizhan.com";
    d.baseUrl = endpoints.scheme + "://" + endpoints.aizhanHost;
    d.firstPagePath = "/reverse-whois?q={address}&t=email";
    d.pagePath = "/reverse-whois?q={address}&t=email&page={page}";
    d.resultPagePath = d.firstPagePath;
    d.resultBlock = element("div", "class", "reverse-content");
    d.entry = element("tr");
    d.domainCell = element("td");
    d.domainCellOccurrence = 2;
    d.throttleTexts = {kAizhanThrottle};
    // The "last page" link: the nearest "<li" before the end-of-pager icon,
    // then its page number.
    d.pager = {.left = "<li",
               .right = "ico-pager-end",
               .backward = true,
               .innerLeft = "&page=",
               .innerRight = "\""};
  } else {
    constexpr std::string_view kQuery =
        "/reverse?host={address}&ddlSearchMode=1&st=&startDay=&endDay="
        "&wTimefilter=$wTimefilter&page=";
    d.key = "chinaz";
    d.name = "chinaz.com";
    d.baseUrl = endpoints.scheme + "://" + endpoints.chinazHost;
    d.firstPagePath = std::string(kQuery) + "{page}";
    d.pagePath = d.firstPagePath;
    d.resultPagePath = kQuery;
    // The browser follows the site's own redirects and keeps its own
    // certificate store, so the sign-in page keeps its address.
    d.signInUrl = "http://" + endpoints.chinazToolSite + "/";
    d.signInFreePages = 10;
    d.resultBlock = element("div", "id", "ajaxInfo");
    d.entry = element("div", "class", "domain", true);
    d.throttleTexts = {kChinazThrottle};
    d.signInWallTexts = {"login-tip"};
    d.pager.left = kChinazPagerLeft;
    d.pager.right = kChinazPagerRight;
    d.pager.backward = true;
  }
  return d;
}

namespace {

// `path` with {address} and {page} filled in.
std::string expandPath(std::string_view path, std::string_view encodedAddress,
                       std::string_view page) {
  static constexpr std::string_view kAddress = "{address}";
  static constexpr std::string_view kPage = "{page}";
  std::string out;
  out.reserve(path.size() + encodedAddress.size());
  for (std::size_t at = 0; at < path.size();) {
    if (path.substr(at, kAddress.size()) == kAddress) {
      out += encodedAddress;
      at += kAddress.size();
    } else if (path.substr(at, kPage.size()) == kPage) {
      out += page;
      at += kPage.size();
    } else {
      out += path[at++];
    }
  }
  return out;
}

}  // namespace

std::string pageUrl(const ServiceDescription& description, std::string_view encodedAddress,
                    int page) {
  const std::string& path = page == 1 ? description.firstPagePath : description.pagePath;
  return description.baseUrl + expandPath(path, encodedAddress, std::to_string(page));
}

std::string resultPageUrl(const ServiceDescription& description, std::string_view encodedAddress) {
  // A {page} here can only mean the first one.
  return description.baseUrl + expandPath(description.resultPagePath, encodedAddress, "1");
}

// --- services.ini -------------------------------------------------------

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// Well-formed UTF-8: no stray trail bytes, overlong forms or surrogates.
bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      low = c == 0xE0 ? 0xA0 : 0x80;
      high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      low = c == 0xF0 ? 0x90 : 0x80;
      high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (text.size() - i < length)
      return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char b = static_cast<unsigned char>(text[i + k]);
      if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF))
        return false;
    }
    i += length;
  }
  return true;
}

// --- value forms: each reader leaves its output alone when it fails ---

bool readInteger(std::string_view value, int* out, std::string* why) {
  int number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() || number < 0) {
    *why = quoted(value) + " is not a whole number of 0 or more";
    return false;
  }
  *out = number;
  return true;
}

// URLs and paths are sent as they stand, so they must be URL text already.
bool isUrlText(std::string_view value) {
  for (char c : value) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      return false;
  }
  return true;
}

bool readUrl(std::string_view value, bool mayBeEmpty, std::string* out, std::string* why) {
  if (value.empty() && mayBeEmpty) {
    out->clear();
    return true;
  }
  const std::string folded = lower(value);
  const std::size_t scheme = folded.starts_with("http://")    ? 7
                             : folded.starts_with("https://") ? 8
                                                              : 0;
  if (scheme == 0 || value.size() == scheme) {
    *why = quoted(value) + " does not start with http:// or https:// and a host";
    return false;
  }
  if (!isUrlText(value)) {
    *why = quoted(value) + " holds blanks or characters that are not URL text";
    return false;
  }
  *out = value;
  return true;
}

bool readPath(std::string_view value, bool needsPage, std::string* out, std::string* why) {
  if (!value.starts_with("/")) {
    *why = quoted(value) + " does not start with \"/\"";
  } else if (value.find("{address}") == std::string_view::npos) {
    *why = quoted(value) + " has no {address}";
  } else if (needsPage && value.find("{page}") == std::string_view::npos) {
    *why = quoted(value) + " has no {page}";
  } else if (!isUrlText(value)) {
    *why = quoted(value) + " holds blanks or characters that are not URL text";
  } else {
    *out = value;
    return true;
  }
  return false;
}

// Items between "|", trimmed, empty ones left out.
std::vector<std::string_view> splitList(std::string_view value) {
  std::vector<std::string_view> items;
  while (true) {
    const std::size_t bar = value.find('|');
    const std::string_view item = trim(value.substr(0, bar));
    if (!item.empty())
      items.push_back(item);
    if (bar == std::string_view::npos)
      return items;
    value.remove_prefix(bar + 1);
  }
}

std::vector<Text> readList(std::string_view value) {
  std::vector<Text> texts;
  for (std::string_view item : splitList(value))
    texts.push_back(utf8ToGbk(item));
  return texts;
}

std::string formatList(const std::vector<Text>& texts) {
  std::string out;
  for (const Text& text : texts) {
    if (!out.empty())
      out += " | ";
    out += gbkToUtf8(text);
  }
  return out;
}

// "left | right", or nothing at all for none.
bool readPair(std::string_view value, Text* left, Text* right, std::string* why) {
  const std::vector<std::string_view> items = splitList(value);
  if (!value.empty() && (items.size() != 2 || value.find('|') == std::string_view::npos)) {
    *why = quoted(value) + " is not \"left | right\"";
    return false;
  }
  *left = items.empty() ? Text() : utf8ToGbk(items[0]);
  *right = items.empty() ? Text() : utf8ToGbk(items[1]);
  return true;
}

std::string formatPair(const Text& left, const Text& right) {
  return left.empty() && right.empty() ? std::string() : gbkToUtf8(left) + " | " + gbkToUtf8(right);
}

struct Word {
  std::string_view text;
  bool tilde = false;   // written "~value"
  bool quoted = false;  // written in double quotes
};

// The blank-separated words of an element; a word that opens with a double
// quote (after an optional "~") runs to the next one.
bool splitWords(std::string_view value, std::vector<Word>* words, std::string* why) {
  std::size_t at = 0;
  while (true) {
    while (at < value.size() && isBlank(value[at]))
      ++at;
    if (at == value.size())
      return true;
    Word word;
    if (value[at] == '~') {
      word.tilde = true;
      ++at;
    }
    if (at < value.size() && value[at] == '"') {
      const std::size_t close = value.find('"', at + 1);
      if (close == std::string_view::npos) {
        *why = "a double quote is not closed";
        return false;
      }
      word.text = value.substr(at + 1, close - at - 1);
      word.quoted = true;
      at = close + 1;
      if (at < value.size() && !isBlank(value[at])) {
        *why = "no blank after a closing double quote";
        return false;
      }
    } else {
      const std::size_t start = at;
      while (at < value.size() && !isBlank(value[at]))
        ++at;
      word.text = value.substr(start, at - start);
    }
    words->push_back(word);
  }
}

bool isName(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0])))
    return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != ':')
      return false;
  }
  return true;
}

bool isNumber(const Word& word) {
  if (word.quoted || word.tilde || word.text.empty())
    return false;
  for (char c : word.text) {
    if (c < '0' || c > '9')
      return false;
  }
  return true;
}

// An element form; with `cell`, also "self" and a trailing cell number.
bool readElement(std::string_view value, bool cell, ElementMarker* out, int* occurrence,
                 std::string* why) {
  std::vector<Word> words;
  if (!splitWords(value, &words, why))
    return false;
  if (cell && !words.empty() && words[0].text == "self" && !words[0].quoted) {
    if (words.size() != 1) {
      *why = "\"self\" takes nothing after it";
      return false;
    }
    *out = {};
    *occurrence = 0;
    return true;
  }
  int number = 0;
  if (cell && (words.size() == 2 || words.size() == 4) && isNumber(words.back())) {
    if (!readInteger(words.back().text, &number, why))
      return false;
    words.pop_back();
  }
  if (words.empty()) {
    *why = "empty element";
    return false;
  }
  if (words.size() != 1 && words.size() != 3) {
    *why = quoted(value) + " is not \"tag\", \"tag attribute value\" or \"tag attribute ~value\"" +
           (cell ? " (or \"self\", or one of them and a cell number)" : "");
    return false;
  }
  ElementMarker marker;
  if (words[0].tilde || !isName(words[0].text)) {
    *why = quoted(words[0].text) + " is not a tag name";
    return false;
  }
  marker.tag = words[0].text;
  if (words.size() == 3) {
    if (words[1].tilde || !isName(words[1].text)) {
      *why = quoted(words[1].text) + " is not an attribute name";
      return false;
    }
    if (words[2].text.empty()) {
      *why = "empty attribute value";
      return false;
    }
    marker.attribute = words[1].text;
    marker.value = utf8ToGbk(words[2].text);
    marker.contains = words[2].tilde;
  }
  *out = marker;
  if (cell)
    *occurrence = number;
  return true;
}

std::string formatElement(const ElementMarker& marker) {
  std::string out = gbkToUtf8(marker.tag);
  if (!marker.attribute.empty()) {
    const std::string value = gbkToUtf8(marker.value);
    const bool quote = value.empty() || value.find_first_of(" \t") != std::string::npos ||
                       value[0] == '"' || value[0] == '~';
    out += " " + gbkToUtf8(marker.attribute) + " " + (marker.contains ? "~" : "") +
           (quote ? quoted(value) : value);
  }
  return out;
}

bool readYesNo(std::string_view value, bool* out, std::string* why) {
  const std::string folded = lower(value);
  if (folded != "yes" && folded != "no") {
    *why = quoted(value) + " is not yes or no";
    return false;
  }
  *out = folded == "yes";
  return true;
}

// One key of a section: how its value reads and how it is written. Readers
// change the description only when the whole value reads.
struct Key {
  const char* name;
  const char* form;
  const char* what;
  bool (*read)(std::string_view value, ServiceDescription* d, std::string* why);
  std::string (*format)(const ServiceDescription& d);  // null: written with another key
};

using D = ServiceDescription;
using V = std::string_view;
using W = std::string*;

const Key kKeys[] = {
    {"base_url", "http(s)://host[:port]", "scheme and host the paths are added to",
     [](V v, D* d, W why) {
       // The paths bring their own "/".
       while (v.ends_with("/"))
         v.remove_suffix(1);
       return readUrl(v, false, &d->baseUrl, why);
     },
     [](const D& d) { return d.baseUrl; }},
    {"first_page_path", "/path?query",
     "page 1; {address} stands for the encoded address, {page} for the page number",
     [](V v, D* d, W why) { return readPath(v, false, &d->firstPagePath, why); },
     [](const D& d) { return d.firstPagePath; }},
    {"page_path", "/path?query", "pages 2 and on; needs {address} and {page}",
     [](V v, D* d, W why) { return readPath(v, true, &d->pagePath, why); },
     [](const D& d) { return d.pagePath; }},
    {"result_page_path", "/path?query", "the result page for a web browser ({page}: 1)",
     [](V v, D* d, W why) { return readPath(v, false, &d->resultPagePath, why); },
     [](const D& d) { return d.resultPagePath; }},
    {"sign_in_url", "http(s)://... or nothing", "where the user signs in; nothing: no sign-in",
     [](V v, D* d, W why) { return readUrl(v, true, &d->signInUrl, why); },
     [](const D& d) { return d.signInUrl; }},
    {"sign_in_free_pages", "number", "pages shown without a sign-in; 0: all of them",
     [](V v, D* d, W why) { return readInteger(v, &d->signInFreePages, why); },
     [](const D& d) { return std::to_string(d.signInFreePages); }},
    {"result_block", "tag [attribute value|~value]", "the element that holds the results",
     [](V v, D* d, W why) {
       int unused = 0;
       return readElement(v, false, &d->resultBlock, &unused, why);
     },
     [](const D& d) { return formatElement(d.resultBlock); }},
    {"entries", "tag [attribute value|~value]", "one result, inside the result block",
     [](V v, D* d, W why) {
       int unused = 0;
       return readElement(v, false, &d->entry, &unused, why);
     },
     [](const D& d) { return formatElement(d.entry); }},
    {"domain_cell", "self | tag [attribute value|~value] [n]",
     "the domain in an entry: the entry itself, or its n-th such element (no n: the first)",
     [](V v, D* d, W why) {
       return readElement(v, true, &d->domainCell, &d->domainCellOccurrence, why);
     },
     [](const D& d) {
       if (d.domainCell.tag.empty())
         return std::string("self");
       std::string out = formatElement(d.domainCell);
       if (d.domainCellOccurrence > 0)
         out += " " + std::to_string(d.domainCellOccurrence);
       return out;
     }},
    {"domain_cell_occurrence", "number", "the n of domain_cell alone; 0: the first",
     [](V v, D* d, W why) { return readInteger(v, &d->domainCellOccurrence, why); }, nullptr},
    {"headings", "text | text ...", "cells with these texts are column headings, left out",
     [](V v, D* d, W) {
       d->headings = readList(v);
       return true;
     },
     [](const D& d) { return formatList(d.headings); }},
    {"no_data", "text | text ...", "text of the page that says there are no results",
     [](V v, D* d, W) {
       d->noDataTexts = readList(v);
       return true;
     },
     [](const D& d) { return formatList(d.noDataTexts); }},
    {"throttle", "text | text ...", "text of the page that complains of too many queries",
     [](V v, D* d, W) {
       d->throttleTexts = readList(v);
       return true;
     },
     [](const D& d) { return formatList(d.throttleTexts); }},
    {"sign_in_wall", "text | text ...", "text or markup of the page that asks for a sign-in",
     [](V v, D* d, W) {
       d->signInWallTexts = readList(v);
       return true;
     },
     [](const D& d) { return formatList(d.signInWallTexts); }},
    {"pager", "left | right", "the last page number lies between these; nothing: no pager",
     [](V v, D* d, W why) { return readPair(v, &d->pager.left, &d->pager.right, why); },
     [](const D& d) { return formatPair(d.pager.left, d.pager.right); }},
    {"pager_inner", "left | right", "then between these, inside what pager found; nothing: none",
     [](V v, D* d, W why) { return readPair(v, &d->pager.innerLeft, &d->pager.innerRight, why); },
     [](const D& d) { return formatPair(d.pager.innerLeft, d.pager.innerRight); }},
    {"pager_backward", "yes | no", "yes: right marker first, then the nearest left one before it",
     [](V v, D* d, W why) { return readYesNo(v, &d->pager.backward, why); },
     [](const D& d) { return std::string(d.pager.backward ? "yes" : "no"); }},
};

}  // namespace

ServiceDescriptions parseServiceDescriptions(const ServiceEndpoints& endpoints,
                                             std::string_view utf8Ini,
                                             std::vector<std::string>* problems) {
  ServiceDescriptions descriptions{builtInDescription(Service::kAizhan, endpoints),
                                   builtInDescription(Service::kChinaz, endpoints)};
  auto report = [problems](int line, const std::string& why) {
    if (problems != nullptr)
      problems->push_back(std::string(kServicesFileName) + " line " + std::to_string(line) + ": " +
                          why);
  };
  if (utf8Ini.starts_with("\xEF\xBB\xBF"))
    utf8Ini.remove_prefix(3);

  // Keys before any section, and keys below a section line that could not
  // be read, have no description to go to; the latter were reported with
  // their section line.
  enum class Where { kNoSection, kSection, kLost } where = Where::kNoSection;
  ServiceDescription* section = nullptr;
  bool encodingReported = false;
  int number = 0;
  for (std::size_t start = 0; start <= utf8Ini.size(); ++number) {
    std::size_t end = utf8Ini.find('\n', start);
    if (end == std::string_view::npos)
      end = utf8Ini.size();
    std::string_view line = utf8Ini.substr(start, end - start);
    start = end + 1;
    if (line.ends_with("\r"))
      line.remove_suffix(1);
    line = trim(line);
    const int lineNumber = number + 1;
    if (!isUtf8(line)) {
      if (!encodingReported)
        report(lineNumber, "not UTF-8 text; lines that are not are left out (save as UTF-8)");
      encodingReported = true;
      if (line.starts_with("["))
        where = Where::kLost;
      continue;
    }
    if (line.empty() || line[0] == '#' || line[0] == ';')
      continue;

    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      const std::string name =
          close == std::string_view::npos ? std::string() : lower(trim(line.substr(1, close - 1)));
      const std::string_view rest =
          close == std::string_view::npos ? std::string_view() : trim(line.substr(close + 1));
      where = Where::kLost;
      if (close == std::string_view::npos) {
        report(lineNumber, "no \"]\" after the section name; the keys below it are left out");
      } else if (!rest.empty() && rest[0] != '#' && rest[0] != ';') {
        report(lineNumber, "text after the section name; the keys below it are left out");
      } else if (name != "aizhan" && name != "chinaz") {
        report(lineNumber, "unknown section [" + name +
                               "] (not [aizhan] or [chinaz]); the keys below it are left out");
      } else {
        where = Where::kSection;
        section = &descriptions.of(name == "aizhan" ? Service::kAizhan : Service::kChinaz);
      }
      continue;
    }

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      report(lineNumber, "no \"=\" (a line is \"key = value\")");
      continue;
    }
    const std::string key = lower(trim(line.substr(0, equals)));
    const std::string_view value = trim(line.substr(equals + 1));
    if (where == Where::kLost)
      continue;
    if (where == Where::kNoSection) {
      report(lineNumber, quoted(key) + " before any section ([aizhan] or [chinaz])");
      continue;
    }
    const Key* known = nullptr;
    for (const Key& candidate : kKeys) {
      if (key == candidate.name)
        known = &candidate;
    }
    if (known == nullptr) {
      report(lineNumber, "unknown key " + quoted(key));
      continue;
    }
    std::string why;
    if (!known->read(value, section, &why))
      report(lineNumber, key + ": " + why);
  }
  return descriptions;
}

ServiceDescriptions loadServiceDescriptions(const ServiceEndpoints& endpoints,
                                            const std::string& utf8IniPath,
                                            std::vector<std::string>* problems) {
  std::FILE* file = std::fopen(utf8IniPath.c_str(), "rb");
  if (file == nullptr) {
    // No file is the usual case: the built-in values hold.
    if (errno != ENOENT && problems != nullptr)
      problems->push_back(std::string(kServicesFileName) +
                          ": cannot be read: " + std::strerror(errno));
    return parseServiceDescriptions(endpoints, {}, problems);
  }
  std::string text;
  char buffer[8192];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) {
    if (problems != nullptr)
      problems->push_back(std::string(kServicesFileName) +
                          ": cannot be read: " + std::strerror(error));
    return parseServiceDescriptions(endpoints, {}, problems);
  }
  return parseServiceDescriptions(endpoints, text, problems);
}

std::string serviceKeyHelp() {
  std::string help;
  for (const Key& key : kKeys)
    help += std::string(key.name) + " = " + key.form + ": " + key.what + "\n";
  return help;
}

std::string formatServiceDescription(const ServiceDescription& description) {
  std::string out = "[" + description.key + "]\n";
  for (const Key& key : kKeys) {
    if (key.format == nullptr)
      continue;
    const std::string value = key.format(description);
    out += std::string(key.name) + (value.empty() ? " =\n" : " = " + value + "\n");
  }
  return out;
}

}  // namespace qarvo
