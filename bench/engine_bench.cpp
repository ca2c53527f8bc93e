// Benchmarks of the engine's heavy steps: sorting the report list and
// reading a result page.
//
//   build/bench/qarvo_bench --benchmark_min_time=0.5

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/page_extraction.h"
#include "engine/report_sort.h"
#include "platform/code_page.h"
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

// Checks once that sortReportList gives the selection's order.
void checkSameOrder(int column, bool ascending, int kind) {
  const auto table = makeTable();
  FakeMainWindowView view;
  view.setRows(table);
  sortReportList(view, column, ascending, false, kind);
  const std::vector<int> expected = plainSelection(table, column, ascending, kind);
  for (size_t i = 0; i < table.size(); ++i) {
    if (view.rows[i].cells != table[static_cast<size_t>(expected[i])]) {
      std::fprintf(stderr, "sortReportList differs from the selection at row %zu\n", i);
      std::abort();
    }
  }
}

void BM_SortReportList(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const int column = kind == kSortText ? 0 : 1;
  static bool checked[11] = {};
  if (!checked[kind]) {
    checkSameOrder(column, true, kind);
    checkSameOrder(column, false, kind);
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

// A 爱站 result page of 500 rows, padded the way the site pads its cells.
Text aizhanPage(int rows) {
  std::string html =
      "<html><head><meta charset=\"utf-8\"></head><body>\r\n<div class=\"reverse-content\">"
      "<table>\r\n<tr><td>序号</td><td>域名</td><td>注册商</td></tr>\r\n";
  for (int i = 1; i <= rows; ++i) {
    html += "<tr class=\"row\">\r\n  <td>" + std::to_string(i) +
            "</td>\r\n  <td> \r\n\xE3\x80\x80<a href=\"http://www.d" + std::to_string(i) +
            ".com/\" target=\"_blank\">d" + std::to_string(i) +
            ".com</a>\r\n  </td>\r\n  <td><a href=\"/r?x=1\">Registrar 有限公司</a></td>\r\n"
            "</tr>\r\n";
  }
  html +=
      "</table></div>\r\n<ul><li><a href=\"?q=a&page=9\"><i class=\"ico-pager-end\"></i>"
      "</a></li></ul></body></html>\r\n";
  return utf8ToGbk(html);
}

Text chinazPage(int rows) {
  std::string html = "<html><body><div id=\"ajaxInfo\"><ul>\r\n";
  html += "<li><div class=\"w13-0 domain\">域名</div><div class=\"w30-0\">注册商</div></li>\r\n";
  for (int i = 1; i <= rows; ++i) {
    html += "<li class=\"ReLists\"><div class=\"w13-0 domain\"><a href=\"//whois.chinaz.com/d" +
            std::to_string(i) + ".com\" target=\"_blank\">d" + std::to_string(i) +
            ".com</a></div><div class=\"w30-0\"><span>Registrar</span></div></li>\r\n";
  }
  html += "</ul></div><span>共9页，到第<input value=\"1\">页</span></body></html>\r\n";
  return utf8ToGbk(html);
}

void BM_ExtractResultPage(benchmark::State& state) {
  constexpr int kPageRows = 500;
  const Service service = state.range(0) == 0 ? Service::kAizhan : Service::kChinaz;
  const Text page = service == Service::kAizhan ? aizhanPage(kPageRows) : chinazPage(kPageRows);
  PageExtractor extractor;
  const Text domains = extractor.domains(service, page);
  size_t lines = domains.empty() ? 0 : 1;
  for (char c : domains)
    lines += c == '\n';
  if (lines != kPageRows || PageExtractor::totalPages(service, page) != 9) {
    std::fprintf(stderr, "extraction found %zu domains\n", lines);
    std::abort();
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(extractor.domains(service, page));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
  state.SetLabel(service == Service::kAizhan ? "aizhan" : "chinaz");
}
BENCHMARK(BM_ExtractResultPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qarvo

BENCHMARK_MAIN();
