// qarvo-lookup: the reverse look-up without a window.
//
//   qarvo-lookup [options] [FILE]
//   qarvo-lookup history [options] [ADDRESS...]   (see history_command.h)
//
// Reads the addresses of FILE (or standard input), looks each one up with
// the same engine, page walk and throttling as the window, writes the merged
// results to standard output and, with --out, one result file per completed
// address exactly as the window's auto-save does. See usageText() for the
// options and exit statuses.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "cli/result_output.h"

namespace qarvo::cli {

inline constexpr int kExitCompleted = 0;
inline constexpr int kExitNotCompleted = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

struct CommandOptions {
  std::string file = "-";
  std::string service = "aizhan";  // "chinaz", or "both" side by side
  int pages = 50;
  double intervalSeconds = 0.0;
  std::string outFolder;  // UTF-8; empty: no result files
  OutputFormat format = OutputFormat::kCsv;
  std::string cookieFile;
  bool resume = false;
  bool quiet = false;
  bool check = false;                  // ask each service once and say what came
  long long waitOfflineSeconds = 600;  // how long to wait for a service that cannot be reached
  std::string servicesFile;            // services.ini; empty: the one in the settings folder
  std::string historyFile;             // the history; empty: historyPath()
  bool noHistory = false;              // leave the history alone
  std::optional<std::chrono::seconds> maxAge;  // answer from the history when younger
};

// Reads the command line. Returns -1 when the run should go on, else the
// exit status (0 after --help or --version, kExitUsage after a usage error,
// whose message went to standard error).
int parseCommandLine(int argc, char** argv, CommandOptions* options);

// Runs the look-ups; returns the exit status.
int runLookups(const CommandOptions& options);

// The whole program.
int lookupMain(int argc, char** argv);

}  // namespace qarvo::cli
