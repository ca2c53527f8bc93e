#include "engine/lookup_history.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/file_places.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

using Clock = std::chrono::system_clock;
using Step = SqliteStatement::Step;

constexpr char kEntryColumns[] =
    "SELECT id, address, service, page_limit, pages_read, pages_announced, outcome, reason, "
    "time_ms FROM lookups ";
constexpr char kCompleted[] = "outcome IN ('found', 'none')";
constexpr char kNewestFirst[] = " ORDER BY time_ms DESC, id DESC";

std::int64_t toMs(Clock::time_point time) {
  return std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

Clock::time_point fromMs(std::int64_t ms) {
  // A clock of nanoseconds spans ±292 years; a damaged row must not overflow it.
  constexpr std::int64_t kLimit = 9'000'000'000'000;
  ms = std::clamp(ms, -kLimit, kLimit);
  return Clock::time_point(
      std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(ms)));
}

LookupOutcome outcomeNamed(const std::string& name) {
  for (LookupOutcome outcome : {LookupOutcome::kFound, LookupOutcome::kNone, LookupOutcome::kFailed,
                                LookupOutcome::kIncomplete, LookupOutcome::kStopped}) {
    if (name == outcomeName(outcome))
      return outcome;
  }
  return LookupOutcome::kFailed;
}

// A reason a later version added reads as no reason.
FailureReason reasonNamed(const std::string& name) {
  for (int n = 0; n <= static_cast<int>(FailureReason::kEndedEarly); ++n) {
    const auto reason = static_cast<FailureReason>(n);
    if (name == reasonName(reason))
      return reason;
  }
  return FailureReason::kNone;
}

// The lines of a result as the engine joins them; "" has none.
std::vector<TextView> domainLines(TextView domains) {
  std::vector<TextView> lines;
  if (domains.empty())
    return lines;
  size_t start = 0;
  while (true) {
    const size_t end = domains.find("\r\n", start);
    lines.push_back(domains.substr(start, end == TextView::npos ? TextView::npos : end - start));
    if (end == TextView::npos)
      return lines;
    start = end + 2;
  }
}

}  // namespace

Text historyPath() {
  const Text program = programDirectory();
  Text folder = !runsInstalled() && folderWritable(program) ? program : userDataFolder();
  if (folder != "/")
    folder += kPathSeparator;
  return folder + kHistoryFileName;
}

std::optional<std::chrono::seconds> parseAge(std::string_view text) {
  if (text.size() < 2)
    return std::nullopt;
  std::int64_t unit = 0;
  switch (text.back()) {
    case 's':
      unit = 1;
      break;
    case 'm':
      unit = 60;
      break;
    case 'h':
      unit = 3600;
      break;
    case 'd':
      unit = 86400;
      break;
    default:
      return std::nullopt;
  }
  text.remove_suffix(1);
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > (kMax - (c - '0')) / 10)
      return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > kMax / unit)
    return std::nullopt;
  return std::chrono::seconds(value * unit);
}

const char* serviceKey(Service service) {
  return service == Service::kChinaz ? "chinaz" : "aizhan";
}

HistoryEntry historyEntryOf(const Text& address, Service service, int pageLimit,
                            const LookupResult& result, Clock::time_point time) {
  HistoryEntry entry;
  entry.address = address;
  entry.service = service;
  entry.pageLimit = pageLimit;
  entry.pagesRead = result.pages;
  entry.pagesAnnounced = result.announcedPages;
  entry.outcome = result.outcome;
  entry.reason = result.reason;
  entry.domains = result.domains;
  entry.time = time;
  return entry;
}

LookupResult recalledResult(const HistoryEntry& entry) {
  LookupResult result;
  result.outcome = entry.outcome;
  result.reason = entry.reason;
  result.domains = entry.domains;
  result.pages = entry.pagesRead;
  result.announcedPages = entry.pagesAnnounced;
  // The page a walk that did not complete stopped at is the one after the
  // last that came.
  if (!entry.completed())
    result.failedPage = entry.pagesRead + 1;
  result.recalled = true;
  return result;
}

bool LookupHistory::fail(const std::string& what) {
  problem_ = what;
  return false;
}

bool LookupHistory::record(const HistoryEntry& entry) {
  if (!isOpen())
    return fail("the history is not open");
  // IMMEDIATE takes the write lock at once (waiting out the other writer):
  // a transaction that read first could not wait and would fail busy.
  if (!db_.execute("BEGIN IMMEDIATE"))
    return fail("could not record a look-up: " + db_.errorMessage());
  bool ok = false;
  {
    SqliteStatement insert = db_.prepare(
        "INSERT INTO lookups(address, address_key, service, page_limit, pages_read, "
        "pages_announced, outcome, reason, time_ms) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    ok = insert.bindBytes(1, entry.address) && insert.bindBytes(2, asciiToLower(entry.address)) &&
         insert.bindText(3, serviceKey(entry.service)) && insert.bindInteger(4, entry.pageLimit) &&
         insert.bindInteger(5, entry.pagesRead) && insert.bindInteger(6, entry.pagesAnnounced) &&
         insert.bindText(7, outcomeName(entry.outcome)) &&
         insert.bindText(8, reasonName(entry.reason)) && insert.bindInteger(9, toMs(entry.time)) &&
         insert.step() == Step::kDone;
    const std::int64_t id = db_.lastInsertId();
    SqliteStatement domain =
        db_.prepare("INSERT INTO lookup_domains(lookup_id, position, domain) VALUES(?1, ?2, ?3)");
    int position = 0;
    for (TextView line : domainLines(entry.domains)) {
      if (!ok)
        break;
      ok = domain.bindInteger(1, id) && domain.bindInteger(2, position++) &&
           domain.bindBytes(3, line) && domain.step() == Step::kDone;
      domain.reset();
    }
  }
  if (ok && db_.execute("COMMIT"))
    return true;
  const std::string why = db_.errorMessage();
  db_.execute("ROLLBACK");
  return fail("could not record a look-up: " + why);
}

std::vector<HistoryEntry> LookupHistory::readEntries(SqliteStatement& statement) {
  std::vector<HistoryEntry> entries;
  SqliteStatement domains =
      db_.prepare("SELECT domain FROM lookup_domains WHERE lookup_id = ?1 ORDER BY position");
  Step step;
  while ((step = statement.step()) == Step::kRow) {
    HistoryEntry entry;
    entry.id = statement.integer(0);
    entry.address = statement.bytes(1);
    entry.service = statement.bytes(2) == "chinaz" ? Service::kChinaz : Service::kAizhan;
    entry.pageLimit = static_cast<int>(statement.integer(3));
    entry.pagesRead = static_cast<int>(statement.integer(4));
    entry.pagesAnnounced = static_cast<int>(statement.integer(5));
    entry.outcome = outcomeNamed(statement.bytes(6));
    entry.reason = reasonNamed(statement.bytes(7));
    entry.time = fromMs(statement.integer(8));
    domains.reset();
    domains.bindInteger(1, entry.id);
    bool first = true;
    Step line;
    while ((line = domains.step()) == Step::kRow) {
      if (!first)
        entry.domains += "\r\n";
      entry.domains += domains.bytes(0);
      first = false;
    }
    if (line == Step::kError) {
      step = line;
      break;
    }
    entries.push_back(std::move(entry));
  }
  if (step == Step::kError)
    fail("could not read the history: " + db_.errorMessage());
  return entries;
}

std::optional<HistoryEntry> LookupHistory::lastCompleted(Service service, const Text& address,
                                                         int minPageLimit,
                                                         std::optional<std::chrono::seconds> maxAge,
                                                         Clock::time_point now) {
  if (!isOpen()) {
    fail("the history is not open");
    return std::nullopt;
  }
  // Only look-ups younger than the age: later than now - age, which an
  // enormous age puts before every time there is.
  std::int64_t after = std::numeric_limits<std::int64_t>::min();
  if (maxAge) {
    std::int64_t ageMs = 0;
    if (__builtin_mul_overflow(std::max<std::int64_t>(maxAge->count(), 0), 1000, &ageMs) ||
        __builtin_sub_overflow(toMs(now), ageMs, &after))
      after = std::numeric_limits<std::int64_t>::min();
  }
  SqliteStatement statement = db_.prepare(
      std::string(kEntryColumns) + "WHERE address_key = ?1 AND service = ?2 AND " + kCompleted +
      " AND (page_limit >= ?3 OR outcome = 'none' OR pages_read >= max(pages_announced, 1))"
      " AND time_ms > ?4" +
      kNewestFirst + " LIMIT 1");
  statement.bindBytes(1, asciiToLower(address));
  statement.bindText(2, serviceKey(service));
  statement.bindInteger(3, minPageLimit);
  statement.bindInteger(4, after);
  std::vector<HistoryEntry> entries = readEntries(statement);
  if (entries.empty())
    return std::nullopt;
  return std::move(entries.front());
}

std::vector<HistoryEntry> LookupHistory::lookups(const Text& address) {
  if (!isOpen()) {
    fail("the history is not open");
    return {};
  }
  SqliteStatement statement =
      db_.prepare(std::string(kEntryColumns) + (address.empty() ? "" : "WHERE address_key = ?1") +
                  kNewestFirst);
  if (!address.empty())
    statement.bindBytes(1, asciiToLower(address));
  return readEntries(statement);
}

std::vector<LookupHistory::DomainSeen> LookupHistory::domainsSeen(Service service,
                                                                  const Text& address) {
  std::vector<DomainSeen> seen;
  if (!isOpen()) {
    fail("the history is not open");
    return seen;
  }
  SqliteStatement statement =
      db_.prepare(std::string("SELECT d.domain, l.time_ms FROM lookups l"
                              " JOIN lookup_domains d ON d.lookup_id = l.id"
                              " WHERE l.address_key = ?1 AND l.service = ?2 AND l.") +
                  kCompleted + " ORDER BY l.time_ms, l.id, d.position");
  statement.bindBytes(1, asciiToLower(address));
  statement.bindText(2, serviceKey(service));
  std::unordered_map<Text, size_t> index;  // folded domain -> place in `seen`
  Step step;
  while ((step = statement.step()) == Step::kRow) {
    Text domain = statement.bytes(0);
    if (domain.empty())
      continue;
    const Clock::time_point time = fromMs(statement.integer(1));
    const auto [at, added] = index.emplace(asciiToLower(domain), seen.size());
    if (added) {
      seen.push_back(DomainSeen{std::move(domain), time, time});
    } else {
      seen[at->second].domain = std::move(domain);
      seen[at->second].last = time;
    }
  }
  if (step == Step::kError)
    fail("could not read the history: " + db_.errorMessage());
  return seen;
}

LookupHistory::Change LookupHistory::changeSinceLast(Service service, const Text& address,
                                                     const Text& domains) {
  Change change;
  const std::optional<HistoryEntry> previous =
      lastCompleted(service, address, std::numeric_limits<int>::min());
  const std::vector<TextView> now = domainLines(domains);
  std::vector<TextView> before;
  if (previous) {
    change.since = previous->time;
    before = domainLines(previous->domains);
  }
  // The domains of `from` that `other` lacks, each once, in `from`'s order.
  const auto missing = [](const std::vector<TextView>& from, const std::vector<TextView>& other) {
    std::unordered_set<Text> skip;
    for (TextView domain : other)
      skip.insert(asciiToLower(domain));
    std::vector<Text> lacking;
    for (TextView domain : from) {
      if (!domain.empty() && skip.insert(asciiToLower(domain)).second)
        lacking.emplace_back(domain);
    }
    return lacking;
  };
  change.added = missing(now, before);
  change.gone = missing(before, now);
  return change;
}

}  // namespace qarvo
