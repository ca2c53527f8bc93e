// The resume journal of a result folder: which look-ups completed there.
//
// A run with --out appends one line per completed address (found or none) to
// a journal file in the folder, after the address's result file was written;
// a run with --resume skips every address the journal names for the same
// service and reports the journal's result for it instead. Each line is
// written with one write() and flushed to disk (fsync) before the next
// address starts, so a crash or a kill loses at most the line in progress.
// A last line without its line end (cut by a crash or a full disk) is cut off
// when the journal is opened again, so the next line starts clean and every
// earlier line stays readable. The journal is locked while a run uses it:
// two runs into one folder would interleave their lines.
//
// Line format (UTF-8, fields separated by tabs, "%", tab, CR and LF inside a
// field written as %25, %09, %0D, %0A):
//   service  status  pages  address  domain  domain ...
// where pages is "P", or "P+M" for a look-up the page limit cut short with M
// pages unread (lines of earlier versions say "P" only). A look-up of both
// services gives each one's pages, 爱站's first: "P,P+M"; and each domain
// says who listed it, "1:" 爱站, "2:" 站长, "3:" both, before the name.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/result_output.h"

namespace qarvo::cli {

class ResumeJournal {
 public:
  static constexpr std::string_view kFileName = ".qarvo-lookup-journal";

  ResumeJournal() = default;
  ~ResumeJournal();
  ResumeJournal(const ResumeJournal&) = delete;
  ResumeJournal& operator=(const ResumeJournal&) = delete;

  // Opens (or creates) the journal in `folder` (a UTF-8 path that exists),
  // reads its entries and locks it. False with `error` set when it cannot be
  // opened, read or locked.
  bool open(const std::string& folder, std::string* error);

  // The completed look-up of `address` with `service` as the journal held it
  // when opened (what this run records is for the next one), or null.
  const AddressRecord* find(std::string_view service, std::string_view address) const;

  // Appends a completed look-up and flushes it to disk. False when the write
  // failed; a part-written line is taken back. May run on another thread
  // than find().
  bool record(std::string_view service, const AddressRecord& record);

  size_t size() const { return entries_.size(); }

  // One journal line (with its line end) and back; parse fails on a line
  // that is not one the journal writes.
  static std::string formatLine(std::string_view service, const AddressRecord& record);
  static bool parseLine(std::string_view line, std::string* service, AddressRecord* record);

 private:
  int fd_ = -1;
  std::map<std::pair<std::string, std::string>, AddressRecord> entries_;
};

}  // namespace qarvo::cli
