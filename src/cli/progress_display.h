// What a command-line run tells on standard error while it goes.
//
// On a terminal: one status line that is rewritten in place (address i of N,
// page, domains so far, failures so far, the countdown of a throttle or
// offline wait), lines of their own for problems and for results the page
// limit cut short, and a summary at the end. Elsewhere (a log file, a pipe):
// one plain line per address and the summary. Quiet: only the problems.
// Every permanent line first clears the status line, so the two never mix.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

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
  int cutShort = 0;             // completed, with pages the page limit left unread
  int duplicates = 0;           // addresses found again in the list and dropped
  int linesWithoutAddress = 0;  // lines of the list with text but no address
  int fromHistory = 0;          // answered from the history (--max-age), no request
  // Both services asked: each one's totals ("aizhan", "chinaz"), and the
  // domains both listed.
  struct OfService {
    std::string service;
    int completed = 0;
    int notCompleted = 0;
    int domains = 0;
  };
  std::vector<OfService> byService = {};
  int sharedDomains = 0;

  int done() const { return found + none + failed + incomplete + stopped + skipped; }
  int notCompleted() const { return failed + incomplete + stopped; }
};

class ProgressDisplay {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressDisplay(std::FILE* stream, bool terminal, bool quiet);

  // A problem or a message of the engine: always shown, on a line of its own.
  void problem(const std::string& text);
  // A note that quiet runs leave out.
  void note(const std::string& text);

  // The address being looked up and where it is (terminal only, at most a
  // few times a second unless `force`).
  void status(int index, int total, const std::string& address, int page, int totalPages,
              int domains, int notCompleted, bool force = false);

  // Both services asked, each on an address of its own: where service
  // `part` (0 爱站, 1 站长) is, shown side by side ("爱站 [3/10] 3/12 · 站长
  // [2/10] 1/4"). `page` 0: the address is being taken up.
  void partStatus(int part, int index, int total, int page, int totalPages, int notCompleted,
                  bool force = false);

  // A wait the user sits through (the service's throttle, a service that
  // cannot be reached): the status line counts the seconds down to `until`
  // after `what` ("too many queries"), as tick() is called. The next
  // status() ends it.
  void countdown(const std::string& what, Clock::time_point until, Clock::time_point now);
  // Redraws the countdown when its whole second changed.
  void tick(Clock::time_point now);

  // The address ended (or was skipped as done before).
  void addressEnded(int index, int total, const AddressRecord& record, bool skipped);

  // The summary line (left out when quiet).
  void finish(const RunTally& tally, const std::string& folder, bool interrupted);

  // "found, 45 domains, 3 pages", "found, 20 domains, 1 of 13 pages (page
  // limit)", "stopped" and the like.
  static std::string describe(const AddressRecord& record);
  static std::string summary(const RunTally& tally, const std::string& folder, bool interrupted);

 private:
  void clearStatus();
  void line(const std::string& text);
  void draw(const std::string& text);

  std::FILE* stream_;
  bool terminal_;
  bool quiet_;
  bool statusShown_ = false;
  int width_ = 80;
  Clock::time_point lastStatus_{};
  std::string statusText_;  // the status line without a countdown
  struct Part {
    int index = 0;
    int page = 0;
    int totalPages = 0;
  };
  Part parts_[2];
  std::string countdownWhat_;
  Clock::time_point countdownUntil_{};
  long long countdownShown_ = -1;  // seconds last drawn
};

}  // namespace qarvo::cli
