// The settings store rewriting one key of a settings file again and again,
// as the window does when it saves its controls.

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/bench_figures.h"
#include "settings/settings_store.h"

namespace qarvo {
namespace {

constexpr int kKeys = 100;
constexpr int kRewrites = 1000;

// A settings file of kKeys keys over four sections, as the store writes it.
Text hundredKeyFile() {
  Text file;
  for (int k = 0; k < kKeys; ++k) {
    if (k % 25 == 0) {
      if (!file.empty())
        file += "\r\n";
      file += "[section" + std::to_string(k / 25) + "]";
    }
    file += "\r\nkey" + std::to_string(k) + "=value of key " + std::to_string(k);
  }
  return file;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void BM_SettingsRewrite(benchmark::State& state) {
  char folder[] = "/tmp/qarvo-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    state.SkipWithError("no scratch folder");
    return;
  }
  const std::string path = std::string(folder) + "/qarvo-dorvane.ini";
  int round = 0;
  Text last;
  for (auto _ : state) {
    state.PauseTiming();
    { std::ofstream(path, std::ios::binary) << hundredKeyFile(); }
    SettingsStore store;
    const bool held = store.openSettingsFile(path);
    store.useSection("section2");
    state.ResumeTiming();
    if (!held) {
      state.SkipWithError("the settings file cannot be held");
      break;
    }
    // A key in the middle of the file, values of changing length.
    for (int i = 0; i < kRewrites; ++i) {
      last = "value " + std::to_string(round * kRewrites + i) + std::string(i % 17, 'x');
      store.writeText("key60", last);
    }
    ++round;
  }
  // The last value stands in the file, everything else as it was.
  Text expected = hundredKeyFile();
  const std::string old = "key60=value of key 60";
  expected.replace(expected.find(old), old.size(), "key60=" + last);
  if (!state.error_occurred() && readFile(path) != expected)
    state.SkipWithError("the file does not hold what was written");
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(state.iterations() * kRewrites);
}
BENCHMARK(BM_SettingsRewrite)->Unit(benchmark::kMillisecond);

const bool kSettingsFigure =
    bench::addFigure({.title = "settings store: 1,000 rewrites of one key, 100-key file",
                      .benchmark = "BM_SettingsRewrite"});

}  // namespace
}  // namespace qarvo
