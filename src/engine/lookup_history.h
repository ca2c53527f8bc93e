// The history of look-ups: every look-up that ended, with its outcome.
//
// Users look the same addresses up again and again. The history keeps each
// ended look-up (completed or not, with its reason) so that an address can be
// answered from an earlier completed look-up without a request, and so that
// a new result can say which domains came and went since the last one.
//
// It is an SQLite database that the window and qarvo-lookup may have open at
// the same time: WAL mode lets readers go on while one connection writes, and
// a busy time-out makes a writer wait for the other's write instead of
// failing. A file that is no database, or fails the integrity check on open,
// is moved aside (never deleted) and a fresh history is made in its place.
//
// Schema, version 1 (PRAGMA user_version; PRAGMA application_id marks the
// file as ours):
//
//   lookups          one row per ended look-up
//     id               INTEGER PRIMARY KEY
//     address          BLOB, GBK, as it was looked up
//     address_key      BLOB, the address with ASCII letters folded: what
//                      look-ups of one address are found by
//     service          TEXT, "aizhan" or "chinaz"
//     page_limit       INTEGER, pages the look-up was allowed
//     pages_read       INTEGER, pages that came
//     pages_announced  INTEGER, the pager's total (0: no pager)
//     outcome          TEXT, outcomeName(): found, none, failed, ...
//     reason           TEXT, reasonName(), "" for found and none
//     time_ms          INTEGER, when it ended, ms since 1970 (UTC)
//     indexed by (address_key, service, time_ms) and by (time_ms)
//   lookup_domains   one row per line of a look-up's domains
//     lookup_id        INTEGER, lookups.id (deleted with it)
//     position         INTEGER, 0-based, in page order
//     domain           BLOB, GBK
//     keyed by (lookup_id, position)
//
// GBK texts are blobs, so they come back byte for byte. An object is used by
// one thread; two objects (two threads, two processes) may share a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/lookup_outcome.h"
#include "engine/service_endpoints.h"
#include "engine/sqlite_database.h"
#include "platform/text.h"

namespace qarvo {

// The file name of the history in its folder.
inline constexpr char kHistoryFileName[] = "history.sqlite3";

// Where the history lives (GBK path): beside the program when its folder is
// writable and it is not an install, else userDataFolder()/history.sqlite3.
// Not created here; open() creates the missing folders.
Text historyPath();

// An age as people write it: a whole number and one unit, "90s", "30m",
// "12h", "7d". Nothing when the text is anything else (no unit, another
// unit, a sign, blanks, a number too large).
std::optional<std::chrono::seconds> parseAge(std::string_view text);

// "aizhan" or "chinaz".
const char* serviceKey(Service service);

struct HistoryEntry {
  std::int64_t id = 0;  // given by the history; ignored by record()
  Text address;         // GBK
  Service service = Service::kAizhan;
  int pageLimit = 1;
  int pagesRead = 0;
  int pagesAnnounced = 0;
  LookupOutcome outcome = LookupOutcome::kNone;
  FailureReason reason = FailureReason::kNone;
  Text domains;                                // GBK, joined by "\r\n", as the engine joins them
  std::chrono::system_clock::time_point time;  // kept to the millisecond

  bool completed() const {
    return outcome == LookupOutcome::kFound || outcome == LookupOutcome::kNone;
  }
};

// The entry for a look-up that just ended.
HistoryEntry historyEntryOf(const Text& address, Service service, int pageLimit,
                            const LookupResult& result, std::chrono::system_clock::time_point time);
// The result an entry answers with, marked as recalled (no request made).
LookupResult recalledResult(const HistoryEntry& entry);

class LookupHistory {
 public:
  using Clock = std::chrono::system_clock;

  struct DomainSeen {
    Text domain;  // GBK, as the latest look-up that listed it spelt it
    Clock::time_point first;
    Clock::time_point last;
  };

  struct Change {
    std::vector<Text> added;                 // in the new result, not in the previous one
    std::vector<Text> gone;                  // in the previous result, not in the new one
    std::optional<Clock::time_point> since;  // the previous look-up; empty when none
  };

  // Addresses compare without regard to ASCII case everywhere below.
  LookupHistory() = default;
  LookupHistory(const LookupHistory&) = delete;
  LookupHistory& operator=(const LookupHistory&) = delete;

  // Opens the history at `path` (GBK), creating it and its folders when
  // missing, and brings an older schema up to date. True when it can be used;
  // `*problem` is then empty, or says that a damaged file was moved aside
  // (movedAside() names where) and a fresh history made. False with
  // `*problem` saying why when it cannot be used; a history of a newer
  // version of the program, or a database that is not a history, is then
  // left exactly as it is.
  bool open(const Text& path, std::string* problem);
  void close();
  bool isOpen() const { return db_.isOpen(); }

  // Where the last open() moved a damaged file (GBK); empty when it did not.
  const Text& movedAside() const { return movedAside_; }
  // Why the latest call that failed did (English); after an open() that
  // moved a damaged file aside, that notice.
  const std::string& lastProblem() const { return problem_; }

  // Adds a look-up that ended. False when it could not be written.
  bool record(const HistoryEntry& entry);

  // The latest completed (found or none) look-up of the address by the
  // service that answers a look-up of `minPageLimit` pages: one allowed at
  // least that many, or one that reached the service's last page (a none,
  // or one that read every page announced). With `maxAge`, only a look-up
  // less than that old at `now`.
  std::optional<HistoryEntry> lastCompleted(Service service, const Text& address, int minPageLimit,
                                            std::optional<std::chrono::seconds> maxAge = {},
                                            Clock::time_point now = Clock::now());

  // Every look-up of the address (every look-up when it is empty), newest
  // first; look-ups of one time in the reverse order they were recorded.
  std::vector<HistoryEntry> lookups(const Text& address);

  // Each domain that completed look-ups of the address by the service listed,
  // with the first and last of them that listed it, in the order the domains
  // first came. Domains compare without regard to ASCII case, as DNS names do.
  std::vector<DomainSeen> domainsSeen(Service service, const Text& address);

  // What `domains` (a new result, joined by "\r\n") changed since the latest
  // completed look-up of the address by the service in the history; so ask
  // before record()ing the new look-up. Domains compare without regard to
  // ASCII case; each list keeps its result's order, without repeats. The
  // results are compared as they stand: when the previous look-up read fewer
  // pages, what lay beyond them counts as added. Without an open history,
  // as if there were no previous look-up.
  Change changeSinceLast(Service service, const Text& address, const Text& domains);

 private:
  enum class Opening { kOpened, kDamaged, kFailed };
  Opening openOnce(const std::string& nativePath, std::string* why);
  // The entries of a statement that selects kEntryColumns, with their domains.
  std::vector<HistoryEntry> readEntries(SqliteStatement& statement);
  bool fail(const std::string& what);

  SqliteConnection db_;
  Text movedAside_;
  std::string problem_;
};

}  // namespace qarvo
