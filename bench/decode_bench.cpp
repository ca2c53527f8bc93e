// Decoding a large body while the window's event pump is installed: the UTF-8
// check pumps once per byte, so the pump's own cost decides the figure. The
// reference pump processes events on every call.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <string>

#include "bench/bench_figures.h"
#include "bench/bench_pages.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "testing/resident_memory.h"
#include "web/decode_response.h"
#include "web/http_request.h"

namespace qarvo {
namespace {

constexpr std::size_t kBody = 1024 * 1024;

const Bytes& undeclaredBody() {
  static const Bytes body = [] {
    const std::string html = bench::undeclaredUtf8Page(kBody);
    return Bytes(html.begin(), html.end());
  }();
  return body;
}

void processEventsEveryCall() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Decodes with the pump main() installed (the program's own), or with the
// reference pump in its place.
void decodeWith(benchmark::State& state, bool referencePump) {
  const Bytes& body = undeclaredBody();
  EventPump programPump = setEventPump(nullptr);
  setEventPump(programPump);
  if (programPump == nullptr) {
    state.SkipWithError("the program's event pump is not installed");
    return;
  }
  // Both pumps must give the text a pump-free decoding gives: the page taken
  // for UTF-8 (mode 2) and converted.
  int settled = 0;
  setEventPump(nullptr);
  const Text expected = decodeResponse(body, 0, &settled);
  setEventPump(referencePump ? &processEventsEveryCall : programPump);
  int pumpedSettled = 0;
  const Text pumped = decodeResponse(body, 0, &pumpedSettled);
  if (settled != 2 || pumpedSettled != 2 || pumped != expected || expected.empty()) {
    setEventPump(programPump);
    state.SkipWithError("decoding with the pump gives another text");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(decodeResponse(body, 0));
  setEventPump(programPump);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
}

void BM_DecodeResponse1MB_ProgramPump(benchmark::State& state) {
  decodeWith(state, false);
}
BENCHMARK(BM_DecodeResponse1MB_ProgramPump)->Unit(benchmark::kMillisecond);

void BM_DecodeResponse1MB_PumpEveryCall(benchmark::State& state) {
  decodeWith(state, true);
}
BENCHMARK(BM_DecodeResponse1MB_PumpEveryCall)->Unit(benchmark::kMillisecond)->Iterations(1);

const bool kDecodeFigure =
    bench::addFigure({.title = "decodeResponse, 1 MB UTF-8 page, program's Qt pump",
                      .benchmark = "BM_DecodeResponse1MB_ProgramPump",
                      .reference = "BM_DecodeResponse1MB_PumpEveryCall/iterations:1",
                      .maxMilliseconds = 10,
                      .minSpeedup = 100});

// Peak memory of decoding the largest body a fetch accepts: 64 MiB of UTF-8
// result rows without a declared charset (found by looking, then converted),
// as the growth of the resident size at its peak against the body's size.
void BM_DecodeResponse64MB_PeakMemory(benchmark::State& state) {
  const std::string row =
      "<tr><td>\xE4\xB8\xAD\xE6\x96\x87\xE7\xBD\x91\xE9\xA1\xB5</td>"
      "<td>qarvo-example.com</td></tr>\n";
  std::string page;
  page.reserve(kMaxResponseBodyBytes);
  while (page.size() + row.size() <= kMaxResponseBodyBytes)
    page += row;
  const Bytes body(page.begin(), page.end());
  page = std::string();
  double ratio = 0;
  for (auto _ : state) {
    Text text;
    const long growth = testing::peakGrowthKiB([&] { text = decodeResponse(body, 0); });
    if (growth < 0 || text.empty()) {
      state.SkipWithError("the peak resident size cannot be measured here");
      return;
    }
    ratio = static_cast<double>(growth) * 1024.0 / static_cast<double>(body.size());
    state.counters["peak_MiB"] = static_cast<double>(growth) / 1024.0;
  }
  state.counters["peak_per_body_byte"] = ratio;
  if (ratio > 3.0)
    state.SkipWithError("decoding held more than three times the body");
}
BENCHMARK(BM_DecodeResponse64MB_PeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace qarvo
