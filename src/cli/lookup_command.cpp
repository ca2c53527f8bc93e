#include "cli/lookup_command.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>
#include <map>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "cli/address_list.h"
#include "cli/cookie_file.h"
#include "cli/history_command.h"
#include "cli/progress_display.h"
#include "cli/resume_journal.h"
#include "engine/address_text.h"
#include "engine/kept_pages.h"
#include "engine/lookup_core.h"
#include "engine/lookup_history.h"
#include "engine/page_reading.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/file_places.h"
#include "platform/native_file.h"

#ifndef QARVO_VERSION
#define QARVO_VERSION "1.2.0"
#endif

namespace qarvo::cli {

namespace {

// The window's limits.
constexpr double kLongestInterval = 3600.0;
constexpr int kMostPages = 9999;

const char kDescription[] =
    "qarvo-lookup: reverse WHOIS look-ups by e-mail address (aizhan.com, chinaz.com) without\n"
    "a window, on the same engine as the Qarvo·Dorvane window.\n"
    "qarvo-lookup：按邮箱反查注册的域名（爱站 aizhan.com、站长 chinaz.com），无需窗口，\n"
    "与 Qarvo·Dorvane 窗口使用同一查询引擎。\n";

const char kFooter[] =
    "FILE holds the addresses (UTF-8; a byte-order mark and CR LF are fine): one per line,\n"
    "several on a line, in name lines such as \"Wang <a@b.cn>\" or in pasted text; each is\n"
    "looked up once. Without FILE, or with \"-\", the list is read from standard input.\n"
    "Results go to standard output (UTF-8); progress and problems to standard error.\n"
    "\n"
    "Examples:\n"
    "  qarvo-lookup -s aizhan -o results list.txt > results.csv\n"
    "  qarvo-lookup -s aizhan -o results --resume list.txt > results.csv   # after Ctrl+C\n"
    "  qarvo-lookup -s chinaz --cookie-file cookies.txt -f jsonl list.txt\n"
    "  qarvo-lookup -s both --max-age 7d list.txt > results.csv\n"
    "  qarvo-lookup history --domains a@example.com\n"
    "\n"
    "CSV columns, in this order: address, domain, status, pages, reason, more_pages, source\n"
    "(service: the service's answer; history: taken from the history by --max-age), new (1 the "
    "domain was not in the previous completed look-up of the\n"
    "address by that service, 0 it was, empty when there was none), first_seen (the date,\n"
    "UTC, the history first saw the domain), service (aizhan, chinaz or aizhan+chinaz: who\n"
    "listed the domain; the services asked on a row without a domain). JSONL: one object\n"
    "per address with address, status, domains, pages, more_pages, reason (when it did not\n"
    "complete), source, new and first_seen (arrays beside domains, null when unknown) and\n"
    "services (per service asked: status, pages, domains, reason).\n"
    "Every look-up that ends is kept in the history (history.sqlite3 in the settings\n"
    "folder; --no-history leaves it alone); `qarvo-lookup history --help` shows what it\n"
    "holds.\n"
    "\n"
    "Exit status: 0 every address completed (found or none); 1 some address failed, was\n"
    "incomplete or stopped; 2 usage error or unreadable FILE; 130 stopped by SIGINT or\n"
    "SIGTERM (a second one ends at once). http_proxy, https_proxy and no_proxy are honoured.\n"
    "\n"
    "用法：qarvo-lookup [选项] [文件]\n"
    "  文件                         含邮箱的文本（UTF-8），每行一个或多个均可，重复的只查一次；\n"
    "                               省略或为 \"-\" 时读标准输入\n"
    "  -s, --service aizhan|chinaz|both\n"
    "                               查询的服务：aizhan 爱站（默认）、chinaz 站长或 both 两者同时\n"
    "  -p, --pages N                每个邮箱最多查询的页数，1 到 9999（默认 50）\n"
    "  -i, --interval 秒            两页之间的间隔秒，0 到 3600，可带小数（默认 0）\n"
    "  -o, --out 文件夹             每个查完的邮箱写入 <邮箱>.txt，与窗口的自动保存相同\n"
    "  -f, --format csv|jsonl|none  标准输出上合并结果的格式（默认 csv）\n"
    "  --cookie-file 文件           浏览器导出的 cookies.txt，用于站长登录（第 10 页以后）\n"
    "  --resume                     与 -o 同用：跳过以前已在该文件夹查完的邮箱\n"
    "  --max-age 时长               "
    "在此时长内（30m、12h、7d）已查完的邮箱直接取自查询历史，不再请求\n"
    "  --history 文件               查询历史文件（默认为设置文件夹中的 history.sqlite3）\n"
    "  --no-history                 本次不读也不写查询历史\n"
    "  qarvo-lookup history [--domains] [邮箱...]   列出查询历史\n"
    "  -q, --quiet                  只报告问题\n"
    "  --version                    显示版本\n"
    "  -h, --help                   显示本帮助\n"
    "退出状态：0 全部查完；1 有查询失败、未查完或已停止的邮箱；2 用法错误或无法读取文件；\n"
    "130 被 SIGINT 或 SIGTERM 停止（再按一次 Ctrl+C 立即退出）。";

// Stop requests from SIGINT / SIGTERM. The handler only counts; the event
// pump, which the core calls every few milliseconds while it waits or
// fetches, turns the first request into the run's stop flag.
std::atomic<int> gStopRequests{0};
static_assert(std::atomic<int>::is_always_lock_free);
StopFlag gStop{false};

extern "C" void onStopSignal(int) {
  if (gStopRequests.exchange(1) != 0)
    ::_exit(kExitInterrupted);  // the second request: at once
}

void stopPump() {
  if (gStopRequests.load() != 0)
    gStop = true;
}

// The status line's countdown, redrawn by the run's own thread only: with
// both services asked, the clock also sleeps on the services' threads.
ProgressDisplay* gTicking = nullptr;
std::thread::id gRunThread;

void runThreadPump() {
  stopPump();
  if (gTicking != nullptr && std::this_thread::get_id() == gRunThread)
    gTicking->tick(std::chrono::steady_clock::now());
}

// The core's clock: asleep until the deadline or a stop signal. The stop
// signals are let in only while asleep (ppoll), so one that comes between
// the check and the sleep still ends the sleep at once. A countdown on the
// status line is redrawn between the slices of a sleep. Safe to call from
// several threads at once: it keeps no state of its own.
class SignalClock : public LookupClock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void sleepUntil(TimePoint deadline, const StopFlag& stop) override {
    sigset_t stopSignals;
    sigset_t previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    for (;;) {
      stopPump();
      if (stop)
        break;
      const TimePoint at = now();
      runThreadPump();
      const auto left = deadline - at;
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
};

void installSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// "90", "90s", "30m", "2h": seconds; -1 when it is none of these (or more
// seconds than a long long holds).
long long parseDuration(const std::string& text) {
  long long value = 0;
  const char* const last = text.data() + text.size();
  auto [end, problem] = std::from_chars(text.data(), last, value);
  if (text.empty() || problem != std::errc() || value < 0)
    return -1;
  const std::string_view unit(end, static_cast<size_t>(last - end));
  const long long scale = unit.empty() || unit == "s" ? 1
                          : unit == "m"               ? 60
                          : unit == "h"               ? 3600
                                                      : 0;
  if (scale == 0 || value > LLONG_MAX / scale)
    return -1;
  return value * scale;
}

// A whole number from `low` to `high` and nothing else.
bool parseWholeNumber(const std::string& text, int low, int high, int* value) {
  int parsed = 0;
  const char* const last = text.data() + text.size();
  auto [end, problem] = std::from_chars(text.data(), last, parsed);
  if (text.empty() || problem != std::errc() || end != last || parsed < low || parsed > high)
    return false;
  *value = parsed;
  return true;
}

// A number from `low` to `high`, fractions allowed, and nothing else.
bool parseNumber(const std::string& text, double low, double high, double* value) {
  double parsed = 0;
  const char* const last = text.data() + text.size();
  auto [end, problem] = std::from_chars(text.data(), last, parsed);
  if (text.empty() || problem != std::errc() || end != last || !std::isfinite(parsed) ||
      parsed < low || parsed > high)
    return false;
  *value = parsed;
  return true;
}

// What an option with a value wants, in plain words as the help says it.
struct ValueRule {
  const char* longName;
  const char* names;
  const char* wanted;
  const char* chinese;
};
constexpr ValueRule kService = {"--service", "-s/--service", "aizhan, chinaz or both",
                                "服务应为 aizhan、chinaz 或 both"};
constexpr ValueRule kPages = {"--pages", "-p/--pages", "a whole number from 1 to 9999",
                              "页数应为 1 到 9999 的整数"};
constexpr ValueRule kInterval = {"--interval", "-i/--interval",
                                 "seconds from 0 to 3600, fractions allowed",
                                 "间隔应为 0 到 3600 秒，可带小数"};
constexpr ValueRule kFormat = {"--format", "-f/--format", "csv, jsonl or none",
                               "格式应为 csv、jsonl 或 none"};
constexpr ValueRule kWaitOffline = {"--wait-offline", "--wait-offline",
                                    "a time such as 90s, 30m or 2h",
                                    "等待时间应写成 90s、30m 或 2h 这样"};
constexpr ValueRule kMaxAge = {"--max-age", "--max-age",
                               "an age such as 30m, 12h or 7d (a whole number and s, m, h or d)",
                               "时长应写成 30m、12h 或 7d 这样（整数加 s、m、h 或 d）"};

int badValue(const ValueRule& rule) {
  std::fprintf(stderr, "qarvo-lookup: %s wants %s (%s)\n", rule.names, rule.wanted, rule.chinese);
  return kExitUsage;
}

}  // namespace

int parseCommandLine(int argc, char** argv, CommandOptions* options) {
  CLI::App app(kDescription, "qarvo-lookup");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("qarvo-lookup ") + QARVO_VERSION,
                       "Show the version and exit");
  app.get_formatter()->column_width(34);

  app.add_option("FILE", options->file,
                 "Text with the addresses, one or more per line (default: standard input)")
      ->type_name("");
  // Values are read as text and checked below, so that a bad one is told in
  // the help's words.
  std::string service = options->service;
  app.add_option("-s,--service", service,
                 "Service to ask: aizhan (default), chinaz, or both side by side")
      ->type_name("SERVICE");
  std::string pages = std::to_string(options->pages);
  app.add_option("-p,--pages", pages, "Most result pages per address, 1 to 9999 (default 50)")
      ->type_name("N");
  std::string interval = "0";
  app.add_option("-i,--interval", interval,
                 "Seconds to wait between two pages, 0 to 3600, fractions allowed (default 0)")
      ->type_name("SECONDS");
  app.add_option("-o,--out", options->outFolder,
                 "Write <address>.txt per completed address into DIR, as the window's auto-save")
      ->type_name("DIR");
  std::string format = "csv";
  app.add_option("-f,--format", format, "Results on standard output: csv (default), jsonl, none")
      ->type_name("FORMAT");
  app.add_option("--cookie-file", options->cookieFile,
                 "Browser cookies.txt with the chinaz.com sign-in (pages beyond 10)")
      ->type_name("FILE");
  app.add_flag("--resume", options->resume,
               "With --out: skip addresses that completed into DIR in an earlier run");
  app.add_flag("-q,--quiet", options->quiet, "Report problems only");
  app.add_flag("--check", options->check,
               "Ask each service for one address (the first of FILE, if given) and say whether "
               "its page is still recognised");
  std::string waitOffline = "10m";
  app.add_option("--wait-offline", waitOffline,
                 "How long to wait for a service that cannot be reached before stopping "
                 "(90s, 30m, 2h; default 10m)")
      ->type_name("TIME");
  std::string maxAge;
  app.add_option("--max-age", maxAge,
                 "Answer an address from the history, without a request, when it completed "
                 "this recently (30m, 12h, 7d; default: always ask)")
      ->type_name("AGE");
  app.add_option("--history", options->historyFile,
                 "The history file (default: history.sqlite3 in the settings folder)")
      ->type_name("FILE");
  app.add_flag("--no-history", options->noHistory, "Neither read nor write the history");
  app.add_option("--services", options->servicesFile,
                 "services.ini overriding what the program knows of the services' pages "
                 "(default: the one in the settings folder, if any)")
      ->type_name("FILE");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion& version) {
    std::printf("%s\n", version.what());
    return 0;
  } catch (const CLI::ParseError& error) {
    // A value left out is told as a wrong one is (CLI11 names the option
    // first: "--pages: 1 required N missing").
    const std::string_view what = error.what();
    for (const ValueRule* rule :
         {&kService, &kPages, &kInterval, &kFormat, &kWaitOffline, &kMaxAge}) {
      if (what.starts_with(std::string(rule->longName) + ":"))
        return badValue(*rule);
    }
    std::fprintf(stderr,
                 "qarvo-lookup: %s\nRun 'qarvo-lookup --help' for the options "
                 "(运行 qarvo-lookup --help 查看选项).\n",
                 error.what());
    return kExitUsage;
  }
  if (service != "aizhan" && service != "chinaz" && service != "both")
    return badValue(kService);
  options->service = service;
  if (!parseWholeNumber(pages, 1, kMostPages, &options->pages))
    return badValue(kPages);
  if (!parseNumber(interval, 0.0, kLongestInterval, &options->intervalSeconds))
    return badValue(kInterval);
  if (format != "csv" && format != "jsonl" && format != "none")
    return badValue(kFormat);
  options->format = format == "jsonl"  ? OutputFormat::kJsonl
                    : format == "none" ? OutputFormat::kNone
                                       : OutputFormat::kCsv;
  options->waitOfflineSeconds = parseDuration(waitOffline);
  if (options->waitOfflineSeconds < 0)
    return badValue(kWaitOffline);
  if (!maxAge.empty() || app.count("--max-age") > 0) {
    options->maxAge = parseAge(maxAge);
    if (!options->maxAge)
      return badValue(kMaxAge);
    if (options->noHistory) {
      std::fprintf(stderr,
                   "qarvo-lookup: --max-age answers from the history, which --no-history leaves "
                   "alone (--max-age 不能与 --no-history 同用)\n");
      return kExitUsage;
    }
  }
  if (options->resume && options->outFolder.empty()) {
    std::fprintf(stderr,
                 "qarvo-lookup: --resume needs --out DIR, the folder of the earlier run "
                 "(--resume 须与 -o 同用，指定上次的结果文件夹)\n");
    return kExitUsage;
  }
  return -1;
}

namespace {

// The services as this run knows them: built in, then services.ini.
ServiceDescriptions loadServices(const CommandOptions& options, const ServiceEndpoints& endpoints,
                                 ProgressDisplay& display) {
  std::string path = options.servicesFile;
  if (path.empty())
    path = nativePath(settingsFolder() + kPathSeparator + kServicesFileName);
  std::vector<std::string> problems;
  ServiceDescriptions services = loadServiceDescriptions(endpoints, path, &problems);
  for (const std::string& problem : problems)
    display.problem(problem + " (built-in value used)");
  return services;
}

std::string keptPageNote(const Text& keptPage) {
  return keptPage.empty() ? std::string() : "; the page is kept in " + gbkToUtf8(keptPage);
}

// The run as qarvo-lookup shows it: progress on stderr, records on stdout,
// the journal after each saved file.
class CommandListener : public LookupListener {
 public:
  CommandListener(const CommandOptions& options, const std::vector<ListedAddress>& entries,
                  ProgressDisplay& display, ResultOutput& output, ResumeJournal& journal,
                  std::string journalKey, Text gbkFolder, unsigned char asked)
      : options_(options),
        asked_(asked),
        entries_(entries),
        display_(display),
        output_(output),
        journal_(journal),
        journalKey_(std::move(journalKey)),
        gbkFolder_(std::move(gbkFolder)) {
    tally.total = static_cast<int>(entries.size());
  }

  RunTally tally;
  bool outputLost = false;

  void progress(const LookupProgress& event) override {
    using Stage = LookupProgress::Stage;
    using Pause = LookupProgress::Pause;
    const int index = event.index;
    const bool offline = event.stage == Stage::kPausing && event.pause == Pause::kOffline;
    const bool throttled = event.stage == Stage::kPausing && event.pause == Pause::kRateLimit;
    switch (event.stage) {
      case Stage::kAddressStarted:
        if (event.part == 0 && asked_ != kFromBoth)
          display_.status(index, tally.total, entries_[index - 1].address, 0, 0, 0,
                          tally.notCompleted(), true);
        break;
      case Stage::kFetching:
      case Stage::kPausing:
      case Stage::kPageRead:
        if (offline)
          display_.problem(hostOf(event.part) + " cannot be reached; trying again in " +
                           std::to_string(event.pauseMs / 1000) + " s");
        if (event.part != 0)
          display_.partStatus(event.part == kFromChinaz ? 1 : 0, index, tally.total, event.page,
                              event.totalPages, tally.notCompleted(),
                              event.stage == Stage::kFetching || offline || throttled);
        else if (event.stage != Stage::kPageRead)
          display_.status(index, tally.total, entries_[index - 1].address, event.page,
                          event.totalPages, event.domains, tally.notCompleted(),
                          event.stage == Stage::kFetching || offline || throttled);
        if (offline || throttled) {
          // The user sits through these: the status line counts them down.
          const auto now = std::chrono::steady_clock::now();
          display_.countdown(
              offline ? hostOf(event.part) + " cannot be reached"
                      : (event.part != 0 ? hostOf(event.part) + ": " : "") + "too many queries",
              now + std::chrono::milliseconds(event.pauseMs), now);
        }
        break;
      case Stage::kAddressEnded: {
        // A result the run may ask again waits until it stands (a later
        // address ended otherwise, or the run did), so that an address is
        // written and counted once.
        const int position = index - 1;
        held_.erase(position);
        if (mayBeAskedAgain(*event.result)) {
          held_[position] = {*event.result, event.saved};
        } else {
          writeHeldBefore(position);
          addressEnded(position, *event.result, event.saved);
        }
        break;
      }
      case Stage::kRunEnded:
        writeHeldBefore(INT_MAX);
        break;
      case Stage::kNotice:
        display_.problem(gbkToUtf8(event.notice));
        break;
      default:
        break;
    }
  }

  bool recall(int index, const Text&, LookupResult* result) override {
    const ListedAddress& entry = entries_[index];
    if (!options_.resume)
      return false;
    const AddressRecord* earlier = journal_.find(journalKey_, entry.address);
    if (earlier == nullptr || !pathExists(gbkFolder_ + kPathSeparator + entry.gbkAddress + ".txt"))
      return false;
    *result = resultOf(earlier->status, earlier->pages, earlier->morePages, earlier->domains);
    result->service = asked_ == kFromChinaz ? Service::kChinaz : Service::kAizhan;
    if (asked_ == kFromBoth && earlier->services.size() == 2) {
      // The merged result as it was: each service's answer, and who listed
      // each domain.
      for (size_t n = 0; n < 2; ++n) {
        const ServiceAnswer& answer = earlier->services[n];
        result->answers.push_back(
            resultOf(answer.status, answer.pages, answer.morePages, answer.domains));
        result->answers.back().service = n == 0 ? Service::kAizhan : Service::kChinaz;
        result->answers.back().recalled = true;
      }
      result->announcedPages = 0;  // each answer says its own
      for (const std::string& listedBy : earlier->listedBy)
        result->sources.push_back(listedBy == "aizhan"   ? kFromAizhan
                                  : listedBy == "chinaz" ? kFromChinaz
                                                         : kFromBoth);
    }
    result->recalled = true;
    fromJournal_ = true;
    return true;
  }

  void throttled(const ServiceDescription& service) override {
    display_.problem(
        service.name +
        "查询过于频繁，暂时无法采集！请等半小时后查看能查询时，再根据情况设置间隔秒，如3秒尝试 "
        "(too many queries: the run stops; wait half an hour, then resume with "
        "--interval 3 or so)");
  }

  bool passWall(const ServiceDescription& service, const Text& keptPage, const std::string& url,
                Text*) override {
    display_.problem(service.name + " shows pages this program does not recognise (" + url + ")" +
                     keptPageNote(keptPage) +
                     ". The run stops: open the page in a browser to see why (a verification "
                     "wall, a changed layout), then resume; a changed layout can be described "
                     "in services.ini");
    return false;
  }

  bool waitOffline(std::chrono::milliseconds waitedSoFar, std::chrono::milliseconds next) override {
    const auto limit = std::chrono::seconds(options_.waitOfflineSeconds);
    if (waitedSoFar + next <= limit)
      return true;
    display_.problem(hostOf(0) + " cannot be reached; stopping after waiting " +
                     std::to_string(waitedSoFar.count() / 1000) + " s (--wait-offline)");
    return false;
  }

 private:
  // The service an event is about, as messages name it.
  std::string hostOf(unsigned char part) const {
    const unsigned char which = part != 0 ? part : asked_;
    return which == kFromAizhan   ? "aizhan.com"
           : which == kFromChinaz ? "chinaz.com"
                                  : "aizhan.com or chinaz.com";
  }

  // A completed look-up as an earlier run's journal kept it.
  static LookupResult resultOf(const std::string& status, int pages, int morePages,
                               const std::vector<std::string>& domains) {
    LookupResult result;
    result.outcome =
        status == outcomeName(LookupOutcome::kFound) ? LookupOutcome::kFound : LookupOutcome::kNone;
    result.pages = pages;
    // What the pager said is known only as far as it cut the result short.
    result.announcedPages = pages + morePages;
    for (const std::string& domain : domains) {
      if (!result.domains.empty())
        result.domains += "\r\n";
      result.domains += utf8ToGbk(domain);
    }
    return result;
  }

  // Writes the held results of the addresses before `position`: the run
  // has gone past them, so they stand.
  void writeHeldBefore(int position) {
    while (!held_.empty() && held_.begin()->first < position) {
      auto held = held_.extract(held_.begin());
      addressEnded(held.key(), held.mapped().first, held.mapped().second);
    }
  }

  void addressEnded(int position, const LookupResult& result, bool saved) {
    const ListedAddress& entry = entries_[position];
    const bool skipped = fromJournal_ && !result.history.fromHistory;
    fromJournal_ = false;
    AddressRecord record = makeRecord(entry.address, result, asked_);
    if (result.history.fromHistory)
      ++tally.fromHistory;
    if (skipped) {
      ++tally.skipped;
    } else {
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
    }
    if (record.morePages > 0)
      ++tally.cutShort;
    if (!skipped && result.completed() && !gbkFolder_.empty()) {
      // The file first, then its journal line: a crash in between only
      // means the address is asked again.
      if (!saved) {
        ++tally.unsaved;
        display_.problem("cannot write the result file of " + entry.address + " in " +
                         options_.outFolder);
      } else if (!journal_.record(journalKey_, record)) {
        display_.problem("cannot write the journal line of " + entry.address +
                         "; it will be asked again on --resume");
      }
    }
    if (!result.keptPage.empty() && !result.completed())
      display_.problem(entry.address + ": " + reasonName(result.reason) +
                       keptPageNote(result.keptPage));
    if (result.reason == FailureReason::kSignInMissing && !signInHinted_) {
      signInHinted_ = true;
      display_.problem(
          "chinaz.com answers beyond page 10 only when signed in: sign in with a "
          "browser, export its cookies.txt and give it with --cookie-file");
    }
    output_.write(record);
    display_.addressEnded(position + 1, tally.total, record, skipped);
    if (!output_.good() && !outputLost) {
      outputLost = true;
      display_.problem(std::string("cannot write the results to standard output: ") +
                       std::strerror(errno));
      gStop = true;
    }
  }

  std::map<int, std::pair<LookupResult, bool>> held_;  // by position: result, saved
  const CommandOptions& options_;
  const unsigned char asked_;
  const std::vector<ListedAddress>& entries_;
  ProgressDisplay& display_;
  ResultOutput& output_;
  ResumeJournal& journal_;
  const std::string journalKey_;
  const Text gbkFolder_;
  bool fromJournal_ = false;
  bool signInHinted_ = false;
};

// --check: one page of each service, and what it was recognised as.
int checkServices(const CommandOptions& options, const std::vector<ListedAddress>& entries,
                  const ServiceDescriptions& services, ProgressDisplay& display) {
  Text address = gbk("admin@example.com");
  if (!entries.empty())
    address = entries.front().gbkAddress;
  bool allRecognised = true;
  for (Service service : {Service::kAizhan, Service::kChinaz}) {
    const ServiceDescription& description = services.of(service);
    const std::string url = pageUrl(description, encodeAddress(address), 1);
    StopFlag stop{false};
    PageResponse response = fetchServicePage(
        {.url = url, .timeoutSeconds = 30.0f, .cookies = nullptr, .cancel = &stop});
    std::string line = description.name + ": ";
    const std::string scheme = url.substr(0, url.find(':'));
    if (response.body.empty()) {
      allRecognised = false;
      line += std::string("not reachable (") +
              (response.failure == TransferFailure::kTimeout ? "timed out" : "connection failed") +
              ", " + url + ")";
    } else {
      PageReader reader(description);
      const PageReading reading = reader.read(response.body, response.status);
      line += "reachable over " + scheme + ", HTTP " + std::to_string(response.status) +
              ", page recognised as " + pageKindName(reading.kind);
      if (reading.kind == PageKind::kResult)
        line += ", " + std::to_string(reading.domainCount) +
                (reading.domainCount == 1 ? " entry, " : " entries, ") +
                std::to_string(std::max(1, reading.totalPages)) +
                (reading.totalPages > 1 ? " pages" : " page");
      if (reading.kind == PageKind::kUnrecognised) {
        allRecognised = false;
        const Text kept = keepPage({.serviceKey = description.key,
                                    .address = address,
                                    .page = 1,
                                    .url = url,
                                    .status = response.status,
                                    .body = response.body});
        line += " (" + reading.why + ")" + keptPageNote(kept);
      }
    }
    std::fprintf(stdout, "%s\n", line.c_str());
  }
  std::fflush(stdout);
  (void)options;
  (void)display;
  return allRecognised ? kExitCompleted : kExitNotCompleted;
}

}  // namespace

int runLookups(const CommandOptions& options) {
  ProgressDisplay display(stderr, ::isatty(STDERR_FILENO) == 1, options.quiet);
  // A closed output pipe is a write error to handle, not a reason to die:
  // ignored before the first byte goes out.
  std::signal(SIGPIPE, SIG_IGN);

  AddressList list;
  std::string error;
  if ((!options.check || options.file != "-") && !readAddressList(options.file, &list, &error)) {
    display.problem(error);
    return kExitUsage;
  }
  const std::vector<ListedAddress>& entries = list.entries;
  if (!options.check) {
    for (int line : list.linesWithoutAddress)
      display.problem("line " + std::to_string(line) + ": no e-mail address; not looked up");
    if (entries.empty() && !list.linesWithoutAddress.empty()) {
      // Most likely the wrong file: nothing in it could be asked.
      display.problem("no e-mail address in " +
                      (options.file == "-" ? std::string("standard input") : options.file) +
                      " (列表中没有邮箱地址)");
      return kExitUsage;
    }
  }

  const ServiceEndpoints endpoints;
  const ServiceDescriptions services = loadServices(options, endpoints, display);
  if (options.check)
    return checkServices(options, entries, services, display);

  const unsigned char asked = options.service == "both"     ? kFromBoth
                              : options.service == "chinaz" ? kFromChinaz
                                                            : kFromAizhan;
  LookupSession session;
  if ((asked & kFromChinaz) != 0 && !options.cookieFile.empty()) {
    std::string cookies;
    if (!readCookieFile(options.cookieFile, endpoints.chinazHost, "/reverse", &cookies, &error)) {
      display.problem(error);
      return kExitUsage;
    }
    if (cookies.empty())
      display.problem("no cookies for " + endpoints.chinazHost + " in " + options.cookieFile +
                      "; pages beyond 10 will not come");
    session.chinazCookies = utf8ToGbk(cookies);
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

  // The history: opened once; a run goes on without it when it cannot be used.
  LookupHistory history;
  LookupHistory* runHistory = nullptr;
  if (!options.noHistory &&
      openCommandHistory(options.historyFile, history,
                         [&display](const std::string& text) { display.problem(text); }))
    runHistory = &history;
  else if (!options.noHistory)
    display.problem(options.maxAge ? "this run goes on without the history: every address is asked"
                                   : "this run goes on without the history");

  LookupRequest request;
  request.service = asked == kFromChinaz ? Service::kChinaz : Service::kAizhan;
  request.both = asked == kFromBoth;
  request.maxAge = options.maxAge;
  request.pageLimit = options.pages;
  request.intervalMs = static_cast<int>(std::trunc(options.intervalSeconds * 1000.0));
  request.save = !gbkFolder.empty();
  request.saveFolder = gbkFolder;
  for (const ListedAddress& entry : entries)
    request.addresses.push_back(entry.gbkAddress);

  // A result counts as done before only for the same service and at least
  // the same page limit; the key says both.
  const std::string journalKey = options.service + "/" + std::to_string(options.pages);
  ResultOutput output(options.format, stdout);
  output.begin();
  CommandListener listener(options, entries, display, output, journal, journalKey, gbkFolder,
                           asked);
  listener.tally.duplicates = list.duplicates;
  listener.tally.linesWithoutAddress = static_cast<int>(list.linesWithoutAddress.size());
  SignalClock clock;

  gStop = false;
  gStopRequests = 0;
  gTicking = &display;
  gRunThread = std::this_thread::get_id();
  EventPump previousPump = setEventPump(runThreadPump);
  installSignalHandlers();
  LookupContext context{.services = services,
                        .clock = clock,
                        .listener = listener,
                        .session = session,
                        .stop = gStop,
                        .history = runHistory};
  const RunTallies tallies = runLookups(request, context);
  setEventPump(previousPump);
  gTicking = nullptr;

  RunTally& tally = listener.tally;
  const bool interrupted = gStopRequests != 0;
  tally.notAsked = tallies.notReached;
  for (const RunTallies::OfService& of : tallies.byService)
    tally.byService.push_back({serviceKey(of.service), of.completed, of.notCompleted, of.domains});
  tally.sharedDomains = tallies.sharedDomains;
  display.finish(tally, options.outFolder, interrupted);
  if (interrupted)
    return kExitInterrupted;
  const bool allCompleted = tally.notCompleted() == 0 && tally.notAsked == 0 &&
                            tally.unsaved == 0 && output.good() && !tallies.endedByWall &&
                            !tallies.endedOffline;
  return allCompleted ? kExitCompleted : kExitNotCompleted;
}

int lookupMain(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "history")
    return historyMain(argc - 1, argv + 1);
  CommandOptions options;
  int status = parseCommandLine(argc, argv, &options);
  if (status >= 0)
    return status;
  return runLookups(options);
}

}  // namespace qarvo::cli
