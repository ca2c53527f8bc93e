// The look-up history: recording a look-up, listing an address's look-ups in
// a history of 100,000, and what keeping the history adds to a run per address.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "engine/lookup_core.h"
#include "engine/lookup_history.h"
#include "engine/sqlite_database.h"
#include "platform/code_page.h"

namespace qarvo {
namespace {

constexpr int kDomainsEach = 20;
constexpr int kLookups = 100'000;
constexpr int kAddresses = 10'000;  // ten look-ups each

// A scratch folder, removed at the end.
class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/qarvo-history-bench-XXXXXX";
    if (mkdtemp(name) != nullptr)
      folder_ = name;
  }
  ~Scratch() {
    if (!folder_.empty())
      std::filesystem::remove_all(folder_);
  }
  bool ok() const { return !folder_.empty(); }
  std::string path(const std::string& name) const { return folder_ + "/" + name; }

 private:
  std::string folder_;
};

Text domainsOf(const std::string& stem) {
  Text joined;
  for (int i = 0; i < kDomainsEach; ++i)
    joined += (i > 0 ? "\r\n" : "") + stem + std::to_string(i) + ".com";
  return joined;
}

void BM_HistoryRecord(benchmark::State& state) {
  Scratch scratch;
  LookupHistory history;
  std::string problem;
  if (!scratch.ok() || !history.open(scratch.path("history.sqlite3"), &problem)) {
    state.SkipWithError("no history");
    return;
  }
  HistoryEntry entry{.address = "someone@example.com",
                     .pageLimit = 50,
                     .pagesRead = 1,
                     .outcome = LookupOutcome::kFound,
                     .domains = domainsOf("d"),
                     .time = std::chrono::system_clock::now()};
  for (auto _ : state) {
    if (!history.record(entry)) {
      state.SkipWithError("record failed");
      break;
    }
  }
}
BENCHMARK(BM_HistoryRecord)->Unit(benchmark::kMillisecond);

// 100,000 look-ups of 10,000 addresses, five domains each, written in one
// transaction by SQL (recording them one by one would take minutes).
bool fillHistory(const std::string& path) {
  LookupHistory history;
  std::string problem;
  if (!history.open(path, &problem))
    return false;
  history.close();
  SqliteConnection db;
  if (!db.open(path))
    return false;
  const std::string fill =
      "BEGIN;"
      "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
      std::to_string(kLookups) +
      ") INSERT INTO lookups(id, address, address_key, service, page_limit, pages_read,"
      " pages_announced, outcome, reason, time_ms)"
      " SELECT i + 1, CAST('user' || (i % " +
      std::to_string(kAddresses) + ") || '@example.com' AS BLOB), CAST('user' || (i % " +
      std::to_string(kAddresses) +
      ") || '@example.com' AS BLOB), 'aizhan', 50, 1, 1, 'found', '', 1700000000000 + i * 1000 "
      "FROM n;"
      "WITH RECURSIVE p(j) AS (SELECT 0 UNION ALL SELECT j + 1 FROM p WHERE j + 1 < 5)"
      " INSERT INTO lookup_domains(lookup_id, position, domain)"
      " SELECT id, j, CAST('d' || id || '-' || j || '.com' AS BLOB) FROM lookups, p;"
      "COMMIT;";
  return db.execute(fill.c_str());
}

void BM_HistoryLookupsOfAnAddress(benchmark::State& state) {
  Scratch scratch;
  const std::string path = scratch.ok() ? scratch.path("history.sqlite3") : "";
  LookupHistory history;
  std::string problem;
  if (path.empty() || !fillHistory(path) || !history.open(path, &problem)) {
    state.SkipWithError("no history");
    return;
  }
  int n = 0;
  for (auto _ : state) {
    const auto lookups =
        history.lookups("User" + std::to_string(n++ % kAddresses) + "@example.com");
    if (lookups.size() != kLookups / kAddresses) {
      state.SkipWithError("wrong look-ups");
      break;
    }
    benchmark::DoNotOptimize(lookups.data());
  }
}
BENCHMARK(BM_HistoryLookupsOfAnAddress)->Unit(benchmark::kMillisecond);

// Time passes only when the core waits, and then at once.
class InstantClock : public LookupClock {
 public:
  TimePoint now() override { return now_; }
  void sleepUntil(TimePoint deadline, const StopFlag&) override { now_ = std::max(now_, deadline); }

 private:
  TimePoint now_{};
};

// One address of a run, answered by a page of 20 domains from memory, with
// the history kept (range 1) or not (range 0).
void BM_RunPerAddress(benchmark::State& state) {
  static const Text page = [] {
    std::string html = "<div class=\"reverse-content\"><table><tr><td>#</td><td>域名</td></tr>";
    for (int i = 0; i < kDomainsEach; ++i)
      html += "<tr><td>1</td><td><a href=\"http://d" + std::to_string(i) + ".com\">d" +
              std::to_string(i) + ".com</a></td></tr>";
    return utf8ToGbk(html + "</table></div>");
  }();
  Scratch scratch;
  LookupHistory history;
  std::string problem;
  const bool keep = state.range(0) == 1;
  if (!scratch.ok() || (keep && !history.open(scratch.path("history.sqlite3"), &problem))) {
    state.SkipWithError("no history");
    return;
  }
  const ServiceEndpoints endpoints;
  std::vector<std::string> problems;
  const ServiceDescriptions services = loadServiceDescriptions(endpoints, "", &problems);
  InstantClock clock;
  LookupListener listener;
  LookupSession session;
  StopFlag stop{false};
  int n = 0;
  for (auto _ : state) {
    LookupRequest request{.addresses = {"user" + std::to_string(n++ % 500) + "@example.com"}};
    LookupContext context{.services = services,
                          .clock = clock,
                          .listener = listener,
                          .session = session,
                          .stop = stop,
                          .fetch =
                              [](const PageRequest&) {
                                return PageResponse{page, 200};
                              },
                          .keepPages = false,
                          .history = keep ? &history : nullptr};
    const RunTallies tallies = runLookups(request, context);
    if (tallies.found != 1) {
      state.SkipWithError("the address was not found");
      break;
    }
  }
}
BENCHMARK(BM_RunPerAddress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

const bool kHistoryFigures =
    bench::addFigure({.title = "history: recording one look-up of 20 domains",
                      .benchmark = "BM_HistoryRecord",
                      .maxMilliseconds = 2}) &&
    bench::addFigure({.title = "history: an address's look-ups among 100,000",
                      .benchmark = "BM_HistoryLookupsOfAnAddress",
                      .maxMilliseconds = 10}) &&
    bench::addFigure({.title = "run: one address with the history (reference: without)",
                      .benchmark = "BM_RunPerAddress/1",
                      .reference = "BM_RunPerAddress/0"});

}  // namespace
}  // namespace qarvo
