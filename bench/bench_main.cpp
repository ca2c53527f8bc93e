// The benchmark program's entry: a Qt application on the offscreen platform
// (so the program's own event pump can be installed), the benchmarks, and a
// summary that sets every figure beside its reference and its target.
//
//   scripts/bench.sh                      (all figures, medians of 5 runs)
//   build/bench/qarvo_bench --benchmark_filter=Sort

#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "app/desktop_glue.h"
#include "bench/bench_figures.h"

namespace qarvo::bench {

namespace {

std::vector<Figure>& figures() {
  static std::vector<Figure> all;
  return all;
}

struct Measured {
  double milliseconds = 0;
  bool median = false;  // from the median of repetitions
  bool failed = false;
  std::string error;
};

double toMilliseconds(double value, benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond:
      return value / 1e6;
    case benchmark::kMicrosecond:
      return value / 1e3;
    case benchmark::kMillisecond:
      return value;
    case benchmark::kSecond:
      return value * 1e3;
  }
  return value;
}

// Prints as usual and keeps each benchmark's time: the median when the runs
// were repeated, else the single run's. The summary uses the CPU time of the
// benchmark thread: on a machine shared with builds the wall time mostly
// measures the others' load (both are in the table above it). Benchmarks that
// time themselves count with their own time.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const std::string name = run.run_name.str();
      Measured& m = measured_[name];
      if (run.error_occurred) {
        m.failed = true;
        m.error = run.error_message;
        continue;
      }
      const bool isMedian = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !isMedian)
        continue;
      if (m.median && !isMedian)
        continue;
      // A benchmark that times itself (a wait, a gap in the event loop)
      // reports its own time as the real one.
      const bool manualTime = name.ends_with("/manual_time");
      m.milliseconds = toMilliseconds(
          manualTime ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime(), run.time_unit);
      m.median = isMedian;
    }
  }

  // Returns false when a figure's check failed or a benchmark reported an error.
  bool printSummary() const {
    bool allSound = true;
    std::printf("\n%-58s %12s %12s %9s  %-26s %s\n", "figure (median CPU time)", "measured",
                "reference", "speed-up", "target", "");
    for (const Figure& f : figures()) {
      const auto own = measured_.find(f.benchmark);
      if (own == measured_.end())
        continue;  // filtered out
      const auto ref = f.reference.empty() ? measured_.end() : measured_.find(f.reference);
      std::string target;
      bool met = true;
      char buffer[64];
      if (own->second.failed || (ref != measured_.end() && ref->second.failed)) {
        const std::string& why = own->second.failed ? own->second.error : ref->second.error;
        std::printf("%-58s  FAILED: %s\n", f.title.c_str(), why.c_str());
        allSound = false;
        continue;
      }
      const double ms = own->second.milliseconds;
      std::string refText = "-";
      std::string speedText = "-";
      if (ref != measured_.end()) {
        std::snprintf(buffer, sizeof buffer, "%.3f ms", ref->second.milliseconds);
        refText = buffer;
        const double speedup = ref->second.milliseconds / ms;
        std::snprintf(buffer, sizeof buffer, "%.1fx", speedup);
        speedText = buffer;
        if (f.minSpeedup > 0) {
          met = met && speedup >= f.minSpeedup;
          std::snprintf(buffer, sizeof buffer, ">= %gx faster", f.minSpeedup);
          target += buffer;
        }
      } else if (!f.reference.empty()) {
        refText = "(not run)";
      }
      if (f.maxMilliseconds > 0) {
        met = met && ms <= f.maxMilliseconds;
        std::snprintf(buffer, sizeof buffer, "%s<= %g ms", target.empty() ? "" : ", ",
                      f.maxMilliseconds);
        target += buffer;
      }
      if (target.empty())
        target = "(reported)";
      std::snprintf(buffer, sizeof buffer, "%.3f ms", ms);
      std::printf("%-58s %12s %12s %9s  %-26s %s\n", f.title.c_str(), buffer, refText.c_str(),
                  speedText.c_str(), target.c_str(),
                  target == "(reported)" ? "" : (met ? "met" : "MISSED"));
    }
    for (const auto& [name, m] : measured_) {
      if (m.failed)
        allSound = false;
    }
    return allSound;
  }

 private:
  std::map<std::string, Measured> measured_;
};

}  // namespace

bool addFigure(Figure figure) {
  figures().push_back(std::move(figure));
  return true;
}

}  // namespace qarvo::bench

int main(int argc, char** argv) {
  // The program's event pump needs a Qt application; no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Everything is measured with the pump the program runs with.
  qarvo::installDesktopGlue();

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  qarvo::bench::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const bool sound = reporter.printSummary();
  benchmark::Shutdown();
  return sound ? 0 : 1;
}
