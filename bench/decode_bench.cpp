// Decoding a large body while the window's event pump is installed: the UTF-8
// check pumps once per byte, so the pump's own cost decides the figure. The
// reference pump processes events on every call.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <string>

#include "bench/bench_figures.h"
#include "bench/bench_pages.h"
#include "platform/event_pump.h"
#include "web/decode_response.h"

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

}  // namespace
}  // namespace qarvo
