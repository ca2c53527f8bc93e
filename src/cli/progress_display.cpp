#include "cli/progress_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace qarvo::cli {

namespace {

// Cuts `text` to at most `columns` terminal columns, counting characters
// beyond ASCII as two (the Chinese ones are), so the line never wraps.
std::string fitColumns(const std::string& text, int columns) {
  int used = 0;
  size_t at = 0;
  while (at < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    int width = lead < 0x80 ? 1 : 2;
    if (used + width > columns)
      break;
    used += width;
    at += length;
  }
  return text.substr(0, at);
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::FILE* stream, bool terminal, bool quiet)
    : stream_(stream), terminal_(terminal), quiet_(quiet) {
  winsize size{};
  if (terminal_ && ::ioctl(::fileno(stream_), TIOCGWINSZ, &size) == 0 && size.ws_col > 10)
    width_ = size.ws_col;
}

void ProgressDisplay::clearStatus() {
  if (statusShown_) {
    std::fputs("\r\x1b[K", stream_);
    statusShown_ = false;
  }
}

void ProgressDisplay::line(const std::string& text) {
  clearStatus();
  std::fputs(text.c_str(), stream_);
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

void ProgressDisplay::problem(const std::string& text) {
  line("qarvo-lookup: " + text);
}

void ProgressDisplay::note(const std::string& text) {
  if (!quiet_)
    line("qarvo-lookup: " + text);
}

void ProgressDisplay::status(int index, int total, const std::string& address, int page,
                             int totalPages, int domains, int notCompleted, bool force) {
  if (!terminal_ || quiet_)
    return;
  countdownWhat_.clear();  // the wait is over
  // Pauses report every few milliseconds; redrawing that often only costs.
  const auto now = Clock::now();
  if (!force && now - lastStatus_ < std::chrono::milliseconds(100))
    return;
  lastStatus_ = now;
  std::string text = "[" + std::to_string(index) + "/" + std::to_string(total) + "] " + address;
  if (page > 0) {
    text += "  page " + std::to_string(page);
    if (totalPages > 0)
      text += "/" + std::to_string(totalPages);
  }
  text += "  " + std::to_string(domains) + (domains == 1 ? " domain" : " domains");
  if (notCompleted > 0)
    text += "  " + std::to_string(notCompleted) + " not completed";
  statusText_ = std::move(text);
  draw(statusText_);
}

void ProgressDisplay::partStatus(int part, int index, int total, int page, int totalPages,
                                 int notCompleted, bool force) {
  if (!terminal_ || quiet_ || part < 0 || part > 1)
    return;
  parts_[part] = {index, page, totalPages};
  countdownWhat_.clear();
  const auto now = Clock::now();
  if (!force && now - lastStatus_ < std::chrono::milliseconds(100))
    return;
  lastStatus_ = now;
  static const char* const kNames[] = {"爱站", "站长"};
  std::string text;
  for (int n = 0; n < 2; ++n) {
    const Part& at = parts_[n];
    if (at.index == 0)
      continue;
    if (!text.empty())
      text += " · ";
    text += std::string(kNames[n]) + " [" + std::to_string(at.index) + "/" + std::to_string(total) +
            "]";
    if (at.page > 0)
      text += " " + std::to_string(at.page) +
              (at.totalPages > 0 ? "/" + std::to_string(at.totalPages) : "");
  }
  if (notCompleted > 0)
    text += "  " + std::to_string(notCompleted) + " not completed";
  statusText_ = std::move(text);
  draw(statusText_);
}

void ProgressDisplay::draw(const std::string& text) {
  std::fputs(("\r" + fitColumns(text, width_ - 1) + "\x1b[K").c_str(), stream_);
  std::fflush(stream_);
  statusShown_ = true;
}

void ProgressDisplay::countdown(const std::string& what, Clock::time_point until,
                                Clock::time_point now) {
  if (!terminal_ || quiet_)
    return;
  countdownWhat_ = what;
  countdownUntil_ = until;
  countdownShown_ = -1;  // drawn at once
  tick(now);
}

void ProgressDisplay::tick(Clock::time_point now) {
  if (!terminal_ || quiet_ || countdownWhat_.empty())
    return;
  // Whole seconds, rounded up: "again in 1 s" until the wait is over.
  const auto left = std::max(Clock::duration::zero(), countdownUntil_ - now);
  const long long seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
  if (seconds == countdownShown_ && statusShown_)
    return;
  countdownShown_ = seconds;
  draw(statusText_ + "  " + countdownWhat_ +
       (seconds > 0 ? ", again in " + std::to_string(seconds) + " s" : ", asking again"));
}

std::string ProgressDisplay::describe(const AddressRecord& record) {
  std::string text = record.status;
  // A stopped look-up needs no "(stopped)" after it.
  if (!record.reason.empty() && record.reason != record.status)
    text += " (" + record.reason + ")";
  if (!record.domains.empty())
    text += ", " + std::to_string(record.domains.size()) +
            (record.domains.size() == 1 ? " domain" : " domains");
  if (record.morePages > 0)
    text += ", " + std::to_string(record.pages) + " of " +
            std::to_string(record.pages + record.morePages) + " pages (page limit)";
  else if (record.pages > 0)
    text += ", " + std::to_string(record.pages) + (record.pages == 1 ? " page" : " pages");
  return text;
}

void ProgressDisplay::addressEnded(int index, int total, const AddressRecord& record,
                                   bool skipped) {
  const bool completed = record.status == "found" || record.status == "none";
  const std::string text = "[" + std::to_string(index) + "/" + std::to_string(total) + "] " +
                           record.address + ": " + (skipped ? "done before, " : "") +
                           describe(record);
  // Problems stay on screen; on a terminal completed addresses only pass
  // through the status line, unless the page limit left pages unread.
  if (!completed)
    line(text);
  else if (!quiet_ && (!terminal_ || record.morePages > 0))
    line(text);
}

std::string ProgressDisplay::summary(const RunTally& tally, const std::string& folder,
                                     bool interrupted) {
  std::string text = interrupted ? "stopped: " : "done: ";
  text += std::to_string(tally.done()) + " of " + std::to_string(tally.total) +
          (tally.total == 1 ? " address" : " addresses");
  auto add = [&text](int count, const char* what) {
    if (count > 0)
      text += ", " + std::to_string(count) + " " + what;
  };
  add(tally.found, "found");
  add(tally.none, "none");
  add(tally.failed, "failed");
  add(tally.incomplete, "incomplete");
  add(tally.stopped, "stopped");
  add(tally.skipped, "done before");
  add(tally.fromHistory, "from the history");
  add(tally.unsaved, "not saved");
  add(tally.notAsked, "not asked");
  add(tally.cutShort, "cut short by the page limit (-p)");
  add(tally.duplicates, tally.duplicates == 1 ? "duplicate dropped" : "duplicates dropped");
  add(tally.linesWithoutAddress,
      tally.linesWithoutAddress == 1 ? "line without an address" : "lines without an address");
  for (const RunTally::OfService& service : tally.byService) {
    text += "; " + service.service + ": " + std::to_string(service.completed) + " completed";
    if (service.notCompleted > 0)
      text += ", " + std::to_string(service.notCompleted) + " not completed";
    text +=
        ", " + std::to_string(service.domains) + (service.domains == 1 ? " domain" : " domains");
  }
  if (!tally.byService.empty())
    text += "; " + std::to_string(tally.sharedDomains) + " listed by both";
  if (!folder.empty())
    text += "; files in " + folder;
  return text;
}

void ProgressDisplay::finish(const RunTally& tally, const std::string& folder, bool interrupted) {
  if (quiet_) {
    clearStatus();
    std::fflush(stream_);
    return;
  }
  line("qarvo-lookup: " + summary(tally, folder, interrupted));
}

}  // namespace qarvo::cli
