// Decoding a hostile page: nothing but "<meta a>" tags and no charset, so
// decoding looks for a declared charset in every tag and then at every byte.
// Doing so must walk the page once: doubling such a page may about double its
// decoding time, no more. A search that starts again from the page's start
// for every tag quadruples it (a 1 MiB page took three minutes so), and the
// doubling benchmark then fails the run.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <string>

#include "bench/bench_figures.h"
#include "platform/text.h"
#include "web/decode_response.h"

namespace qarvo {
namespace {

// Doubling the page may cost at most this many times the time (2 for a walk
// that is linear, with room for the noise of a shared machine).
constexpr double kMostTimeForTwiceThePage = 2.5;

Bytes metaTagPage(std::size_t bytes) {
  std::string page;
  page.reserve(bytes);
  while (page.size() + 8 <= bytes)
    page += "<meta a>";
  return Bytes(page.begin(), page.end());
}

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The least CPU time of a few decodings of `page`: the one that the others'
// load on the machine disturbed least.
double leastDecodingSeconds(const Bytes& page) {
  double least = 1e300;
  for (int run = 0; run < 5; ++run) {
    const double start = threadCpuSeconds();
    benchmark::DoNotOptimize(decodeResponse(page, 0));
    const double took = threadCpuSeconds() - start;
    least = std::min(least, took);
    if (took > 1.0)
      break;  // slow enough to tell without more runs
  }
  return least;
}

void BM_DecodeMetaTagPage(benchmark::State& state) {
  const Bytes page = metaTagPage(static_cast<std::size_t>(state.range(0)));
  int settled = 0;
  if (decodeResponse(page, 0, &settled).size() != page.size() || settled != 1) {
    state.SkipWithError("the page did not come back as it is");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(decodeResponse(page, 0));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_DecodeMetaTagPage)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_DecodeMetaTagPage_Doubled(benchmark::State& state) {
  const Bytes half = metaTagPage(256 << 10);
  const Bytes whole = metaTagPage(512 << 10);
  double ratio = 0;
  for (auto _ : state)
    ratio = leastDecodingSeconds(whole) / leastDecodingSeconds(half);
  state.counters["time_ratio"] = ratio;
  if (ratio > kMostTimeForTwiceThePage) {
    state.SkipWithError(("twice the page took " + std::to_string(ratio) +
                         " times as long to decode: some search over the page is no longer linear")
                            .c_str());
  }
}
BENCHMARK(BM_DecodeMetaTagPage_Doubled)->Iterations(1)->Unit(benchmark::kMillisecond);

const bool kMetaTagFigure =
    bench::addFigure({.title = "decodeResponse, 1 MiB of <meta> tags, program's Qt pump",
                      .benchmark = "BM_DecodeMetaTagPage/1048576",
                      .maxMilliseconds = 50});

}  // namespace
}  // namespace qarvo
