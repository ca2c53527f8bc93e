#include "cli/lookup_command.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "cli/address_list.h"
#include "cli/cookie_file.h"
#include "cli/headless_window_view.h"
#include "cli/progress_display.h"
#include "cli/result_saver.h"
#include "cli/resume_journal.h"
#include "engine/lookup_engine.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"

#ifndef QARVO_VERSION
#define QARVO_VERSION "1.2.0"
#endif

namespace qarvo::cli {

namespace {

constexpr double kLongestInterval = 86400.0;
constexpr int kMostPages = 100000;

const char kDescription[] =
    "qarvo-lookup: reverse WHOIS look-ups by e-mail address (aizhan.com, chinaz.com) without\n"
    "a window, on the same engine as the Qarvo·Dorvane window.\n"
    "qarvo-lookup：按邮箱反查注册的域名（爱站 aizhan.com、站长 chinaz.com），无需窗口，\n"
    "与 Qarvo·Dorvane 窗口使用同一查询引擎。\n";

const char kFooter[] =
    "FILE holds one address per line (UTF-8; a byte-order mark and CR LF are fine); without\n"
    "FILE, or with \"-\", the list is read from standard input. Results go to standard output\n"
    "(UTF-8); progress and problems to standard error.\n"
    "\n"
    "Examples:\n"
    "  qarvo-lookup -s aizhan -o results list.txt > results.csv\n"
    "  qarvo-lookup -s aizhan -o results --resume list.txt > results.csv   # after Ctrl+C\n"
    "  qarvo-lookup -s chinaz --cookie-file cookies.txt -f jsonl list.txt\n"
    "\n"
    "Exit status: 0 every address completed (found or none); 1 some address failed, was\n"
    "incomplete or stopped; 2 usage error or unreadable FILE; 130 stopped by SIGINT or\n"
    "SIGTERM (a second one ends at once). http_proxy, https_proxy and no_proxy are honoured.\n"
    "\n"
    "用法：qarvo-lookup [选项] [文件]\n"
    "  文件                         每行一个邮箱（UTF-8）；省略或为 \"-\" 时读标准输入\n"
    "  -s, --service aizhan|chinaz  查询的服务：aizhan 爱站（默认）或 chinaz 站长\n"
    "  -p, --pages N                每个邮箱最多查询的页数（默认 50）\n"
    "  -i, --interval 秒            两页之间的间隔秒，可带小数（默认 0）\n"
    "  -o, --out 文件夹             每个查完的邮箱写入 <邮箱>.txt，与窗口的自动保存相同\n"
    "  -f, --format csv|jsonl|none  标准输出上合并结果的格式（默认 csv）\n"
    "  --cookie-file 文件           浏览器导出的 cookies.txt，用于站长登录（第 10 页以后）\n"
    "  --resume                     与 -o 同用：跳过以前已在该文件夹查完的邮箱\n"
    "  -q, --quiet                  只报告问题\n"
    "  --version                    显示版本\n"
    "  -h, --help                   显示本帮助\n"
    "退出状态：0 全部查完；1 有查询失败、未查完或已停止的邮箱；2 用法错误或无法读取文件；\n"
    "130 被 SIGINT 或 SIGTERM 停止（再按一次 Ctrl+C 立即退出）。";

// Stop requests from SIGINT / SIGTERM. The handler only counts; the event
// pump, which the engine calls every few milliseconds while it waits or
// fetches, turns the first request into the engine's stop flag.
volatile std::sig_atomic_t gStopRequests = 0;
LookupEngine* gEngine = nullptr;

extern "C" void onStopSignal(int) {
  if (gStopRequests != 0)
    ::_exit(kExitInterrupted);  // the second request: at once
  gStopRequests = 1;
}

void stopPump() {
  if (gStopRequests != 0 && gEngine != nullptr && !gEngine->queryStopFlag())
    gEngine->setQueryStopFlag(true);
}

// Sleeps until `end` or until a stop signal comes (then raising the engine's
// stop flag). The stop signals are let in only while asleep (ppoll), so one
// that comes between the check and the sleep still ends the sleep at once.
void waitUntil(std::chrono::steady_clock::time_point end, LookupEngine& engine) {
  sigset_t stopSignals;
  sigset_t previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  for (;;) {
    stopPump();
    if (engine.queryStopFlag())
      break;
    const auto left = end - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
      break;
    // At most 100 ms at a time: a signal taken by another thread of the
    // process does not end this sleep.
    const auto slice = std::min<std::chrono::nanoseconds>(left, std::chrono::milliseconds(100));
    timespec sleep{};
    sleep.tv_sec = static_cast<time_t>(slice.count() / 1'000'000'000);
    sleep.tv_nsec = static_cast<long>(slice.count() % 1'000'000'000);
    ::ppoll(nullptr, 0, &sleep, &previous);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void installSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed output pipe is a write error to handle, not a reason to die.
  std::signal(SIGPIPE, SIG_IGN);
}

// The interval as the window's edit box holds it: decimal seconds.
std::string intervalContent(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

}  // namespace

int parseCommandLine(int argc, char** argv, CommandOptions* options) {
  CLI::App app(kDescription, "qarvo-lookup");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("qarvo-lookup ") + QARVO_VERSION,
                       "Show the version and exit");
  app.get_formatter()->column_width(34);

  app.add_option("FILE", options->file, "Address list, one per line (default: standard input)")
      ->type_name("");
  app.add_option("-s,--service", options->service, "Service to ask: aizhan (default) or chinaz")
      ->type_name("SERVICE")
      ->check(CLI::IsMember({"aizhan", "chinaz"}));
  app.add_option("-p,--pages", options->pages, "Most result pages per address (default 50)")
      ->type_name("N")
      ->check(CLI::Range(1, kMostPages));
  app.add_option("-i,--interval", options->intervalSeconds,
                 "Seconds to wait between two pages, fractions allowed (default 0)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.0, kLongestInterval));
  app.add_option("-o,--out", options->outFolder,
                 "Write <address>.txt per completed address into DIR, as the window's auto-save")
      ->type_name("DIR");
  std::string format = "csv";
  app.add_option("-f,--format", format, "Results on standard output: csv (default), jsonl, none")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"csv", "jsonl", "none"}));
  app.add_option("--cookie-file", options->cookieFile,
                 "Browser cookies.txt with the chinaz.com sign-in (pages beyond 10)")
      ->type_name("FILE");
  app.add_flag("--resume", options->resume,
               "With --out: skip addresses that completed into DIR in an earlier run");
  app.add_flag("-q,--quiet", options->quiet, "Report problems only");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion& version) {
    std::printf("%s\n", version.what());
    return 0;
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "qarvo-lookup: %s\nRun 'qarvo-lookup --help' for the options.\n",
                 error.what());
    return kExitUsage;
  }
  if (!std::isfinite(options->intervalSeconds)) {
    std::fprintf(stderr, "qarvo-lookup: --interval wants a number of seconds\n");
    return kExitUsage;
  }
  if (options->resume && options->outFolder.empty()) {
    std::fprintf(stderr,
                 "qarvo-lookup: --resume needs --out DIR (the folder of the earlier run)\n"
                 "Run 'qarvo-lookup --help' for the options.\n");
    return kExitUsage;
  }
  options->format = format == "jsonl"  ? OutputFormat::kJsonl
                    : format == "none" ? OutputFormat::kNone
                                       : OutputFormat::kCsv;
  return -1;
}

int runLookups(const CommandOptions& options) {
  ProgressDisplay display(stderr, ::isatty(STDERR_FILENO) == 1, options.quiet);

  std::vector<ListedAddress> entries;
  std::string error;
  if (!readAddressList(options.file, &entries, &error)) {
    display.problem(error);
    return kExitUsage;
  }

  const ServiceEndpoints endpoints;
  const bool aizhan = options.service != "chinaz";
  std::string cookies;
  if (!aizhan && !options.cookieFile.empty()) {
    if (!readCookieFile(options.cookieFile, endpoints.chinazHost, "/reverse", &cookies, &error)) {
      display.problem(error);
      return kExitUsage;
    }
    if (cookies.empty())
      display.problem("no cookies for " + endpoints.chinazHost + " in " + options.cookieFile +
                      "; pages beyond 10 will not come");
  }

  // The result folder and its journal.
  Text gbkFolder;
  ResumeJournal journal;
  if (!options.outFolder.empty()) {
    std::error_code made;
    std::filesystem::create_directories(options.outFolder, made);
    if (made || !std::filesystem::is_directory(options.outFolder)) {
      display.problem("cannot make the folder " + options.outFolder +
                      (made ? ": " + made.message() : std::string()));
      return kExitUsage;
    }
    if (!journal.open(options.outFolder, &error)) {
      display.problem(error);
      return kExitUsage;
    }
    gbkFolder = utf8ToGbk(options.outFolder);
  }

  HeadlessWindowView view([&display](const std::string& text) { display.problem(text); });
  view.setChecked(control::kAizhanRadio, aizhan);
  view.setChecked(control::kChinazRadio, !aizhan);
  view.setContent(control::kMaxPagesEdit, std::to_string(options.pages));
  view.setContent(control::kIntervalEdit, intervalContent(options.intervalSeconds));

  LookupEngine engine(view, endpoints);
  if (!cookies.empty())
    engine.setServiceCookieText(utf8ToGbk(cookies));
  std::optional<ResultSaver> saver;
  if (!options.outFolder.empty())
    saver.emplace(gbkFolder, journal, options.service);
  // The waits by the clock, asleep until the end or a stop signal: counting
  // 10 ms slices, as the window's pump does, makes every pause longer by
  // what each sleep overshoots, which on a loaded machine is more than the
  // program's whole work on a page. The result file held back is written at
  // the start of a pause, inside it.
  engine.setWaitHook([&engine, &saver](int milliseconds) {
    if (milliseconds <= 0)
      return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    if (saver)
      saver->flush();
    waitUntil(end, engine);
  });
  auto reportSaverProblems = [&] {
    if (saver) {
      for (const std::string& problem : saver->takeProblems())
        display.problem(problem);
    }
  };

  RunTally tally;
  tally.total = static_cast<int>(entries.size());
  int index = 0;
  std::string current;
  engine.setProgressListener([&](const LookupProgress& progress) {
    if (progress.stage == LookupProgress::Stage::kFetching ||
        progress.stage == LookupProgress::Stage::kPausing)
      display.status(index, tally.total, current, progress.page, progress.totalPages,
                     progress.domains, tally.notCompleted(),
                     progress.stage == LookupProgress::Stage::kFetching);
  });

  ResultOutput output(options.format, stdout);
  output.begin();

  gEngine = &engine;
  gStopRequests = 0;
  EventPump previousPump = setEventPump(stopPump);
  installSignalHandlers();

  bool signInHinted = !options.cookieFile.empty();
  bool outputLost = false;
  for (const ListedAddress& entry : entries) {
    if (gStopRequests != 0 || engine.queryStopFlag() || !output.good())
      break;
    ++index;
    current = entry.address;

    if (!entry.valid) {
      display.problem("line " + std::to_string(entry.line) + ": " + entry.problem +
                      "; not looked up");
      AddressRecord record;
      record.address = entry.address;
      record.status = outcomeName(LookupOutcome::kFailed);
      record.reason = reasonName(FailureReason::kInvalidAddress);
      ++tally.failed;
      output.write(record);
      continue;
    }

    if (options.resume) {
      const AddressRecord* earlier = journal.find(options.service, entry.address);
      if (earlier != nullptr &&
          pathExists(gbkFolder + kPathSeparator + entry.gbkAddress + ".txt")) {
        ++tally.skipped;
        output.write(*earlier);
        display.addressEnded(index, tally.total, *earlier, true);
        continue;
      }
    }

    display.status(index, tally.total, entry.address, 0, 0, 0, tally.notCompleted(), true);
    // One row at a time: the list never grows over a long run.
    view.deleteAllRows();
    const int row = view.appendRow(entry.gbkAddress, kImagePending);
    const LookupResult result = engine.queryAddress(row);
    const AddressRecord record = makeRecord(entry.address, result);

    switch (result.outcome) {
      case LookupOutcome::kFound:
        ++tally.found;
        break;
      case LookupOutcome::kNone:
        ++tally.none;
        break;
      case LookupOutcome::kFailed:
        ++tally.failed;
        break;
      case LookupOutcome::kIncomplete:
        ++tally.incomplete;
        break;
      case LookupOutcome::kStopped:
        ++tally.stopped;
        break;
    }

    if (result.completed() && saver)
      saver->save(entry.gbkAddress, result.domains, record);
    reportSaverProblems();

    output.write(record);
    display.addressEnded(index, tally.total, record, false);
    if (result.reason == FailureReason::kSignInMissing && !signInHinted) {
      signInHinted = true;
      display.problem(
          "chinaz.com answers beyond page 10 only when signed in: sign in with a "
          "browser, export its cookies.txt and give it with --cookie-file");
    }
    if (!output.good() && !outputLost) {
      outputLost = true;
      display.problem(std::string("cannot write the results to standard output: ") +
                      std::strerror(errno));
    }
  }

  // Every completed result is on disk before the summary (and the exit).
  if (saver) {
    saver->flush();
    reportSaverProblems();
    tally.unsaved = saver->unsaved();
  }
  setEventPump(previousPump);
  gEngine = nullptr;

  const bool interrupted = gStopRequests != 0;
  tally.notAsked = tally.total - tally.done();
  display.finish(tally, options.outFolder, interrupted);
  if (interrupted)
    return kExitInterrupted;
  const bool allCompleted =
      tally.notCompleted() == 0 && tally.notAsked == 0 && tally.unsaved == 0 && output.good();
  return allCompleted ? kExitCompleted : kExitNotCompleted;
}

int lookupMain(int argc, char** argv) {
  CommandOptions options;
  int status = parseCommandLine(argc, argv, &options);
  if (status >= 0)
    return status;
  return runLookups(options);
}

}  // namespace qarvo::cli
