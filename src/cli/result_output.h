// The merged results of a command-line run on standard output (UTF-8).
//
// CSV: a header line, then one row per domain; an address without domains
// gets one row with an empty domain. Every row carries the address's status
// (found, none, failed, incomplete, stopped), the pages that came, when the
// look-up did not complete the reason, and the pages the page limit left
// unread (more_pages); then where the answer came from (source: service, or
// history for an answer taken from the history without a request), whether the domain is new since
// the previous completed look-up (new: 1, 0, or empty when there was none), the date it was first
// seen (first_seen, UTC) and which services listed it (service: aizhan,
// chinaz or aizhan+chinaz; the services asked for a row without a domain).
// Fields are quoted when they hold a comma, a quote or a line break; lines
// end in LF.
// JSONL: one object per address: address, status, domains, pages, more_pages
// and, when the look-up did not complete, reason; then source, new and
// first_seen (arrays beside domains, or null when unknown) and services, one
// entry per service asked with its own status, pages, domains and reason.
// Each address is written and flushed as soon as it ends, so a run that is
// stopped or killed leaves every finished address on the output.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "engine/lookup_outcome.h"
#include "engine/service_endpoints.h"

namespace qarvo::cli {

enum class OutputFormat { kCsv, kJsonl, kNone };

// What one service said of an address.
struct ServiceAnswer {
  std::string service = {};  // serviceKey()
  std::string status = {};
  int pages = 0;
  std::vector<std::string> domains = {};
  std::string reason = {};
  int morePages = 0;
};

// One address's result as the output shows it (all texts UTF-8).
struct AddressRecord {
  std::string address = {};
  std::string status = {};  // outcomeName()
  std::vector<std::string> domains = {};
  int pages = 0;
  std::string reason = {};         // reasonName(), empty for completed look-ups
  int morePages = 0;               // completed, but the page limit left this many pages unread
  std::string source = "service";  // "service" or "history"
  // Per domain: which services listed it ("aizhan+chinaz"); empty: `asked`.
  std::vector<std::string> listedBy = {};
  std::string asked = {};  // the services asked: "aizhan", "chinaz", "aizhan+chinaz"
  std::vector<ServiceAnswer> services = {};  // one per service asked
  // Per domain, when the history knew a previous completed look-up: 1 new
  // since then, 0 listed then too. Empty: nothing to compare with.
  std::vector<int> isNew = {};
  std::vector<std::string> firstSeen = {};  // per domain, "YYYY-MM-DD"; empty: no history
};

// "aizhan", "chinaz" or "aizhan+chinaz" for a mask of kFromAizhan/kFromChinaz.
std::string servicesNamed(unsigned char mask);
// "YYYY-MM-DD" and "YYYY-MM-DDTHH:MM:SSZ" of a time, in UTC.
std::string utcDate(std::chrono::system_clock::time_point time);
std::string utcTime(std::chrono::system_clock::time_point time);

// The record of an engine result: the GBK domains split at CR LF and
// converted to UTF-8; a completed look-up with fewer pages than the pager
// announced was cut short by the page limit. `asked` says which services
// were asked (a mask); a merged result of both carries each one's answer.
AddressRecord makeRecord(std::string address, const LookupResult& result,
                         unsigned char asked = kFromAizhan);

// The domains of a GBK result text ("\r\n" between domains), in UTF-8.
std::vector<std::string> splitDomains(TextView gbkDomains);

// One CSV field, quoted when it needs to be.
std::string csvField(std::string_view text);
// A JSON string literal (with its quotes) of UTF-8 text.
std::string jsonString(std::string_view utf8);

// The lines a record becomes, each ending in "\n".
std::string csvRows(const AddressRecord& record);
std::string jsonLine(const AddressRecord& record);
inline constexpr std::string_view kCsvHeader =
    "address,domain,status,pages,reason,more_pages,source,new,first_seen,service\n";

class ResultOutput {
 public:
  ResultOutput(OutputFormat format, std::FILE* stream) : format_(format), stream_(stream) {}

  // Writes the CSV header (nothing for the other formats).
  void begin();
  void write(const AddressRecord& record);
  // False once a write to the stream failed (a closed pipe, a full disk).
  bool good() const { return good_; }

 private:
  void put(const std::string& text);

  OutputFormat format_;
  std::FILE* stream_;
  bool good_ = true;
};

}  // namespace qarvo::cli
