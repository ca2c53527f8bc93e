// Sorting the report list, against the selection it stands for.

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "engine/report_sort.h"
#include "platform/dbcs.h"
#include "testing/fake_main_window_view.h"

namespace qarvo {
namespace {

constexpr int kRows = 10000;

// A report list as a run leaves it: addresses in column 0 (with duplicates
// and mixed case), domain lists in column 1.
std::vector<std::vector<Text>> makeTable() {
  std::mt19937 random(42);
  std::vector<std::vector<Text>> table;
  table.reserve(kRows);
  for (int r = 0; r < kRows; ++r) {
    const unsigned user = random() % 4000;
    Text address = (random() % 2 ? "User" : "user") + std::to_string(user) + "@example" +
                   std::to_string(random() % 50) + ".com";
    Text domains;
    const unsigned count = random() % 4;
    for (unsigned d = 0; d < count; ++d) {
      if (!domains.empty())
        domains += "\r\n";
      domains += (random() % 3 ? std::to_string(random() % 1000) : Text()) + "site" +
                 std::to_string(random() % 100000) + ".cn";
    }
    table.push_back({address, domains});
  }
  return table;
}

// The sort as the selection describes it: every pass scans the remaining
// rows and takes the last of the equal extremes. Keys are converted once per
// row (converting per comparison would only make it slower still).
std::vector<int> plainSelection(const std::vector<std::vector<Text>>& table, int column,
                                bool ascending, int kind) {
  std::vector<std::pair<Text, int>> textKeys;
  std::vector<std::pair<double, int>> numberKeys;
  for (int r = 0; r < static_cast<int>(table.size()); ++r) {
    const Text& cell = table[static_cast<size_t>(r)][static_cast<size_t>(column)];
    if (kind == kSortText) {
      textKeys.emplace_back(asciiToUpper(cell), r);
    } else {
      numberKeys.emplace_back(leadingNumber(cell), r);
    }
  }
  std::vector<int> order;
  order.reserve(table.size());
  auto run = [&](auto& keys, auto replaces) {
    while (keys.size() >= 2) {
      size_t candidate = 0;
      for (size_t i = 1; i < keys.size(); ++i) {
        if (replaces(keys[candidate].first, keys[i].first))
          candidate = i;
      }
      order.push_back(keys[candidate].second);
      keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(candidate));
    }
    if (!keys.empty())
      order.push_back(keys.front().second);
  };
  if (kind == kSortText) {
    run(textKeys, [&](const Text& a, const Text& b) {
      int c = a.compare(b);
      return ascending ? c >= 0 : c <= 0;
    });
  } else {
    run(numberKeys, [&](double a, double b) { return ascending ? a - b >= -1e-7 : a - b <= 1e-7; });
  }
  return order;
}

// Whether sortReportList leaves the rows in the selection's order.
bool sameOrderAsSelection(int column, bool ascending, int kind) {
  const auto table = makeTable();
  FakeMainWindowView view;
  view.setRows(table);
  sortReportList(view, column, ascending, false, kind);
  const std::vector<int> expected = plainSelection(table, column, ascending, kind);
  for (size_t i = 0; i < table.size(); ++i) {
    if (view.rows[i].cells != table[static_cast<size_t>(expected[i])])
      return false;
  }
  return true;
}

void BM_SortReportList(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const int column = kind == kSortText ? 0 : 1;
  static bool checked[11] = {};
  if (!checked[kind]) {
    if (!sameOrderAsSelection(column, true, kind) || !sameOrderAsSelection(column, false, kind)) {
      state.SkipWithError("sortReportList gives another order than the plain selection");
      return;
    }
    checked[kind] = true;
  }
  const auto table = makeTable();
  FakeMainWindowView view;
  bool ascending = true;
  for (auto _ : state) {
    state.PauseTiming();
    view.setRows(table);
    state.ResumeTiming();
    benchmark::DoNotOptimize(sortReportList(view, column, ascending, false, kind));
    ascending = !ascending;
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SortReportList)->Arg(kSortText)->Arg(kSortInteger)->Unit(benchmark::kMillisecond);

void BM_PlainSelection(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const auto table = makeTable();
  for (auto _ : state) {
    benchmark::DoNotOptimize(plainSelection(table, kind == kSortText ? 0 : 1, true, kind));
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_PlainSelection)
    ->Arg(kSortText)
    ->Arg(kSortInteger)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

const bool kSortFigures =
    bench::addFigure({.title = "sortReportList, 10,000 addresses, kind 10 (text)",
                      .benchmark = "BM_SortReportList/10",
                      .reference = "BM_PlainSelection/10/iterations:1",
                      .maxMilliseconds = 20}) &&
    bench::addFigure({.title = "sortReportList, 10,000 rows, kind 3 (integer)",
                      .benchmark = "BM_SortReportList/3",
                      .reference = "BM_PlainSelection/3/iterations:1",
                      .maxMilliseconds = 20});

}  // namespace
}  // namespace qarvo
