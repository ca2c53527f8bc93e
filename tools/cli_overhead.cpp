// cli_overhead: what qarvo-lookup itself costs beside the services' pauses,
// and whether its memory stays flat over a long list.
//
// Runs the real program over many addresses of one result page each against
// the fake services on loopback (through their proxy, as a user would run
// it), with no interval. Every page that yields domains is followed by the
// page walk's 300 ms pause, so the run cannot be quicker than 300 ms a page;
// what it takes beyond that, divided by the pages, is the program's overhead
// per page (starting the process, reading the list, the request, decoding,
// extraction, the result file, the journal and the CSV line). The program's
// resident memory (VmRSS) is read from outside while it runs.
//
//   cli_overhead [addresses [growth-limit-KiB]]
//
// Defaults: 1000 addresses, 1024 KiB. Exits with 1 when the run failed, the
// overhead is above 5 ms a page, or the memory grew by more than the limit
// between the tenth of the run and its end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "cli/cli_test_support.h"
#include "testing/fake_services.h"

namespace {

using qarvo::cli::FakeServiceProxy;
using qarvo::cli::ProgramRun;
using qarvo::testing::FakeServices;
using qarvo::testing::FakeSite;

constexpr double kPagePauseSeconds = 0.3;
constexpr double kOverheadLimitMs = 5.0;

long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0)
      return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int addresses = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 1000;
  const long growthLimit = argc > 2 && std::atol(argv[2]) > 0 ? std::atol(argv[2]) : 1024;

  FakeServices fakes;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("cli_overhead." + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  {
    std::ofstream list(folder / "list.txt");
    for (int i = 1; i <= addresses; ++i) {
      const std::string address = "bench" + std::to_string(i) + "@example.com";
      const std::string stem = "bench" + std::to_string(i);
      fakes.setAddress(FakeSite::kAizhan, address,
                       {.domains = {stem + ".com", stem + ".cn", stem + ".net"}});
      list << address << "\n";
    }
  }
  FakeServiceProxy proxy(fakes);
  if (!proxy.start()) {
    std::fprintf(stderr, "cli_overhead: cannot start the fake services\n");
    return 1;
  }

  ProgramRun run;
  const auto started = std::chrono::steady_clock::now();
  if (!run.start(QARVO_LOOKUP_PROGRAM,
                 {.arguments = {"-s", "aizhan", "-i", "0", "-o", (folder / "out").string(),
                                (folder / "list.txt").string()},
                  .environment = {{"http_proxy", proxy.url()}},
                  .standardOutput = (folder / "out.csv").string(),
                  .standardError = (folder / "err.txt").string()})) {
    std::fprintf(stderr, "cli_overhead: cannot start %s\n", QARVO_LOOKUP_PROGRAM);
    return 1;
  }

  // Memory by progress, read from outside while the program runs. Progress
  // is told by the CSV lines written so far (three per address), read as
  // they grow: asking the fakes for their records would hold up the very
  // requests being measured.
  long tenthKiB = -1, lastKiB = -1, peakKiB = -1;
  std::optional<int> status;
  std::ifstream csvSoFar;
  long linesSoFar = 0;
  while (!(status = run.poll())) {
    if (!csvSoFar.is_open())
      csvSoFar.open(folder / "out.csv", std::ios::binary);
    char chunk[4096];
    while (csvSoFar.is_open() && csvSoFar.read(chunk, sizeof chunk).gcount() > 0)
      linesSoFar += std::count(chunk, chunk + csvSoFar.gcount(), '\n');
    csvSoFar.clear();
    const long kib = residentKiB(run.pid());
    if (kib > 0) {
      if (tenthKiB < 0 && linesSoFar * 10 >= 3L * addresses)
        tenthKiB = kib;
      lastKiB = kib;
      peakKiB = std::max(peakKiB, kib);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const size_t pages = fakes.requests().size();
  const std::string csv = qarvo::cli::fileText((folder / "out.csv").string());
  const long rows = std::count(csv.begin(), csv.end(), '\n');
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "out"))
    files += entry.path().extension() == ".txt";

  const double overheadMs = (seconds - kPagePauseSeconds * static_cast<double>(pages)) * 1000.0 /
                            static_cast<double>(std::max<size_t>(pages, 1));
  const double cpuMs = run.cpuSeconds() * 1000.0 / static_cast<double>(std::max<size_t>(pages, 1));
  const long growth = tenthKiB > 0 && lastKiB > 0 ? lastKiB - tenthKiB : 0;
  std::printf("qarvo-lookup over %d addresses of one page each (fake services, loopback):\n",
              addresses);
  std::printf("  exit status %d, %zu pages asked, %ld CSV lines, %zu result files\n",
              status.value_or(-1), pages, rows, files);
  std::printf(
      "  %.1f s in all: %.2f ms a page beyond the 300 ms pause (limit %.0f ms); "
      "%.2f ms of CPU a page\n",
      seconds, overheadMs, kOverheadLimitMs, cpuMs);
  std::printf(
      "  resident memory: %ld KiB at a tenth of the run, %ld KiB at the end, "
      "peak %ld KiB (growth %ld KiB, limit %ld KiB)\n",
      tenthKiB, lastKiB, peakKiB, growth, growthLimit);

  bool ok = status == 0 && pages == static_cast<size_t>(addresses) && rows == 1 + 3L * addresses &&
            files == static_cast<size_t>(addresses);
  if (!ok)
    std::printf("FAILED: the run did not complete every address (see %s)\n",
                folder.string().c_str());
  if (overheadMs > kOverheadLimitMs) {
    std::printf("FAILED: overhead above %.0f ms a page\n", kOverheadLimitMs);
    ok = false;
  }
  if (growth > growthLimit) {
    std::printf("FAILED: resident memory grew by more than %ld KiB\n", growthLimit);
    ok = false;
  }
  if (ok)
    std::filesystem::remove_all(folder);
  return ok ? 0 : 1;
}
