// What a command-line run tells on standard error while it goes.
//
// On a terminal: one status line that is rewritten in place (address i of N,
// page, domains so far, failures so far), lines of their own for problems,
// and a summary at the end. Elsewhere (a log file, a pipe): one plain line
// per address and the summary. Quiet: only the problems. Every permanent
// line first clears the status line, so the two never mix.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "cli/result_output.h"

namespace qarvo::cli {

struct RunTally {
  int total = 0;  // addresses in the list
  int found = 0;
  int none = 0;
  int failed = 0;  // failed, including invalid addresses
  int incomplete = 0;
  int stopped = 0;
  int skipped = 0;  // completed in an earlier run (--resume)
  int unsaved = 0;  // completed, but the result file could not be written
  int notAsked = 0;

  int done() const { return found + none + failed + incomplete + stopped + skipped; }
  int notCompleted() const { return failed + incomplete + stopped; }
};

class ProgressDisplay {
 public:
  ProgressDisplay(std::FILE* stream, bool terminal, bool quiet);

  // A problem or a message of the engine: always shown, on a line of its own.
  void problem(const std::string& text);
  // A note that quiet runs leave out.
  void note(const std::string& text);

  // The address being looked up and where it is (terminal only, at most a
  // few times a second unless `force`).
  void status(int index, int total, const std::string& address, int page, int totalPages,
              int domains, int notCompleted, bool force = false);

  // The address ended (or was skipped as done before).
  void addressEnded(int index, int total, const AddressRecord& record, bool skipped);

  // The summary line (left out when quiet).
  void finish(const RunTally& tally, const std::string& folder, bool interrupted);

  // "found, 45 domains, 3 pages" and the like.
  static std::string describe(const AddressRecord& record);
  static std::string summary(const RunTally& tally, const std::string& folder, bool interrupted);

 private:
  void clearStatus();
  void line(const std::string& text);

  std::FILE* stream_;
  bool terminal_;
  bool quiet_;
  bool statusShown_ = false;
  int width_ = 80;
  std::chrono::steady_clock::time_point lastStatus_{};
};

}  // namespace qarvo::cli
