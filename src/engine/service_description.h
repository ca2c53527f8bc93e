// What the program knows of a reverse-WHOIS service's pages, as data.
//
// Every marker the page walk reads (the result block, its entries, the
// domain cell, the no-data, throttle and sign-in texts, the pager) and every
// URL it builds comes from one ServiceDescription. The built-in values are
// the services' pages as the program knows them; `services.ini` in the
// settings folder overrides them key by key, so a changed layout is a file
// edit, not a new build.
//
// services.ini (UTF-8, "#" or ";" starts a comment line):
//   [aizhan]                      ; or [chinaz]
//   result_block = div class reverse-content
//   entries      = tr
//   domain_cell  = td 2
//   no_data      = 未找到相关数据 | 暂无数据
//   ...
// The keys and their value forms are listed with serviceKeyHelp(). An
// element is "tag", "tag attribute value" (the whole value, trimmed, without
// regard to case) or "tag attribute ~value" (the value contains it); a value
// with blanks is written in double quotes. domain_cell is "self" (the entry
// itself) or an element, followed by the number of the cell when it is not
// the first: "td 2", "td class name 2". Lists are separated by "|", and every
// item is trimmed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/service_endpoints.h"
#include "platform/text.h"

namespace qarvo {

// An element to find: tag, and optionally one attribute whose value equals
// (or, with `contains`, contains) `value`, without regard to letter case.
// Texts are GBK.
struct ElementMarker {
  Text tag;
  Text attribute;  // empty: no attribute condition
  Text value;
  bool contains = false;

  friend bool operator==(const ElementMarker&, const ElementMarker&) = default;
};

// How the pager names the last page: the text between `left` and `right`
// (searched backwards from the end when `backward`), then, when `innerLeft`
// is set, the text between `innerLeft` and `innerRight` inside that; its
// leading integer is the page total.
struct PagerMarker {
  Text left;
  Text right;
  bool backward = true;
  Text innerLeft;
  Text innerRight;

  friend bool operator==(const PagerMarker&, const PagerMarker&) = default;
};

struct ServiceDescription {
  Service service = Service::kAizhan;
  std::string key;   // "aizhan" or "chinaz": the section name in services.ini
  std::string name;  // as messages name it: "aizhan.com", "chinaz.com"

  // URLs. `{address}` stands for the encoded address, `{page}` for the page
  // number.
  std::string baseUrl;         // scheme and host, no final "/": "https://whois.aizhan.com"
  std::string firstPagePath;   // page 1
  std::string pagePath;        // pages 2 and on
  std::string resultPagePath;  // the address's result page for a web browser
  std::string signInUrl;       // where the user signs in; empty: no sign-in
  int signInFreePages = 0;     // pages shown without a sign-in; 0: all

  ElementMarker resultBlock;
  ElementMarker entry;           // within the result block
  ElementMarker domainCell;      // within an entry; empty tag: the entry itself
  int domainCellOccurrence = 0;  // n-th matching cell (1-based); 0: the first
  std::vector<Text> headings;    // cleaned cells that are column headings, skipped
  std::vector<Text> noDataTexts;
  std::vector<Text> throttleTexts;
  std::vector<Text> signInWallTexts;  // raw page substrings
  PagerMarker pager;

  friend bool operator==(const ServiceDescription&, const ServiceDescription&) = default;
};

// The built-in description, with the hosts of `endpoints`.
ServiceDescription builtInDescription(Service service, const ServiceEndpoints& endpoints = {});

// URL of page `page` (1-based) of an address already run through
// encodeAddress().
std::string pageUrl(const ServiceDescription& description, std::string_view encodedAddress,
                    int page);
// URL of the address's result page for a web browser ({page}, if the path
// has it, stands for 1).
std::string resultPageUrl(const ServiceDescription& description, std::string_view encodedAddress);

// The overrides of one services.ini applied to the built-in descriptions.
// A line that cannot be read (unknown section or key, a value of the wrong
// form) is reported in `problems` as "services.ini line N: why" and left out;
// the other lines still apply. A missing file is no problem.
struct ServiceDescriptions {
  ServiceDescription aizhan;
  ServiceDescription chinaz;
  const ServiceDescription& of(Service service) const {
    return service == Service::kAizhan ? aizhan : chinaz;
  }
  ServiceDescription& of(Service service) { return service == Service::kAizhan ? aizhan : chinaz; }
};
ServiceDescriptions loadServiceDescriptions(const ServiceEndpoints& endpoints,
                                            const std::string& utf8IniPath,
                                            std::vector<std::string>* problems);
// The same over the text of a file (UTF-8).
ServiceDescriptions parseServiceDescriptions(const ServiceEndpoints& endpoints,
                                             std::string_view utf8Ini,
                                             std::vector<std::string>* problems);

// The file name in the settings folder.
inline constexpr char kServicesFileName[] = "services.ini";

// One line per key: "key = form: what" (UTF-8), for the README and --help.
std::string serviceKeyHelp();

// The description as a services.ini section (UTF-8): "[key]", then one
// "key = value" line per field. Read back, it gives the description again,
// so it serves as a sample file.
std::string formatServiceDescription(const ServiceDescription& description);

}  // namespace qarvo
