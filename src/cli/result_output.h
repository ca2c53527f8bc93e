// The merged results of a command-line run on standard output (UTF-8).
//
// CSV: a header line, then one row per domain; an address without domains
// gets one row with an empty domain. Every row carries the address's status
// (found, none, failed, incomplete, stopped), the pages that came, when the
// look-up did not complete the reason, and the pages the page limit left
// unread (more_pages). Fields are quoted when they hold a comma, a quote or a
// line break; lines end in LF.
// JSONL: one object per address: address, status, domains, pages, more_pages
// and, when the look-up did not complete, reason.
// Each address is written and flushed as soon as it ends, so a run that is
// stopped or killed leaves every finished address on the output.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "engine/lookup_outcome.h"

namespace qarvo::cli {

enum class OutputFormat { kCsv, kJsonl, kNone };

// One address's result as the output shows it (all texts UTF-8).
struct AddressRecord {
  std::string address = {};
  std::string status = {};  // outcomeName()
  std::vector<std::string> domains = {};
  int pages = 0;
  std::string reason = {};  // reasonName(), empty for completed look-ups
  int morePages = 0;        // completed, but the page limit left this many pages unread
};

// The record of an engine result: the GBK domains split at CR LF and
// converted to UTF-8; a completed look-up with fewer pages than the pager
// announced was cut short by the page limit.
AddressRecord makeRecord(std::string address, const LookupResult& result);

// The domains of a GBK result text ("\r\n" between domains), in UTF-8.
std::vector<std::string> splitDomains(TextView gbkDomains);

// One CSV field, quoted when it needs to be.
std::string csvField(std::string_view text);
// A JSON string literal (with its quotes) of UTF-8 text.
std::string jsonString(std::string_view utf8);

// The lines a record becomes, each ending in "\n".
std::string csvRows(const AddressRecord& record);
std::string jsonLine(const AddressRecord& record);
inline constexpr std::string_view kCsvHeader = "address,domain,status,pages,reason,more_pages\n";

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
