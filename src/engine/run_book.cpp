#include "engine/run_book.h"

#include <unordered_map>
#include <unordered_set>

#include "engine/lookup_history.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "text/split_text.h"

namespace qarvo {

namespace {}  // namespace

int countLines(const Text& joined) {
  if (joined.empty())
    return 0;
  int lines = 1;
  for (size_t at = joined.find("\r\n"); at != Text::npos; at = joined.find("\r\n", at + 2))
    ++lines;
  return lines;
}

RunBook::RunBook(const LookupRequest& request, LookupContext& context)
    : request_(request), context_(context) {
  tallies_.total = static_cast<int>(request.addresses.size());
}

LookupProgress RunBook::where() const {
  LookupProgress where;
  where.ofRun = true;
  where.total = tallies_.total;
  return withTallies(where);
}

LookupProgress RunBook::withTallies(LookupProgress progress) const {
  progress.found = tallies_.found;
  progress.none = tallies_.none;
  progress.failed = tallies_.failed + tallies_.incomplete + tallies_.stopped;
  return progress;
}

void RunBook::start() {
  LookupProgress started = where();
  started.stage = LookupProgress::Stage::kRunStarted;
  context_.listener.progress(started);
}

void RunBook::finish(int index, LookupResult& result) {
  bool saved = false;
  // An answer of an earlier run was saved then; one from the history is
  // written again, as the look-up it repeats wrote it.
  if (result.completed() && request_.save && (!result.recalled || result.history.fromHistory)) {
    saved = writeResultFile(request_.saveFolder, request_.addresses[index], result.domains);
    ++(saved ? tallies_.saved : tallies_.unsaved);
  }
  switch (result.outcome) {
    case LookupOutcome::kFound:
      ++tallies_.found;
      break;
    case LookupOutcome::kNone:
      ++tallies_.none;
      break;
    case LookupOutcome::kFailed:
      ++tallies_.failed;
      break;
    case LookupOutcome::kIncomplete:
      ++tallies_.incomplete;
      break;
    case LookupOutcome::kStopped:
      ++tallies_.stopped;
      break;
  }
  if (result.recalled)
    ++tallies_.recalled;
  if (result.history.fromHistory)
    ++tallies_.fromHistory;
  if (!result.keptPage.empty())
    keptPages_[index] = result.keptPage;
  outcomes_[index] = result.outcome;
  ++ended_;
  LookupProgress progress = where();
  progress.stage = LookupProgress::Stage::kAddressEnded;
  progress.index = index + 1;
  progress.address = request_.addresses[index];
  progress.result = &result;
  progress.saved = saved;
  progress.domains = countLines(result.domains);
  context_.listener.progress(progress);
}

void RunBook::takeBack(int index) {
  auto at = outcomes_.find(index);
  if (at == outcomes_.end())
    return;
  keptPages_.erase(index);
  switch (at->second) {
    case LookupOutcome::kFound:
      --tallies_.found;
      break;
    case LookupOutcome::kNone:
      --tallies_.none;
      break;
    case LookupOutcome::kFailed:
      --tallies_.failed;
      break;
    case LookupOutcome::kIncomplete:
      --tallies_.incomplete;
      break;
    case LookupOutcome::kStopped:
      --tallies_.stopped;
      break;
  }
  outcomes_.erase(at);
  --ended_;
}

void RunBook::end() {
  if (!keptPages_.empty())
    tallies_.lastKeptPage = keptPages_.rbegin()->second;
  tallies_.notReached = tallies_.total - ended_;
  LookupProgress ended = where();
  ended.stage = LookupProgress::Stage::kRunEnded;
  if (tallies_.saved > 0)
    ended.folder = request_.saveFolder;
  ended.unsavedFiles = tallies_.unsaved;
  context_.listener.progress(ended);
}

std::optional<LookupResult> RunBook::fromHistory(Service service, const Text& address) {
  LookupHistory* history = context_.history;
  if (history == nullptr || !history->isOpen() || !request_.maxAge)
    return std::nullopt;
  std::optional<HistoryEntry> entry =
      history->lastCompleted(service, address, std::max(1, request_.pageLimit), request_.maxAge);
  if (!entry)
    return std::nullopt;
  LookupResult result = recalledResult(*entry);
  result.service = service;
  result.history.fromHistory = true;
  result.history.answeredAt = entry->time;
  noteFirstSeen(service, address, &result);
  return result;
}

void RunBook::noteFirstSeen(Service service, const Text& address, LookupResult* result) {
  LookupHistory* history = context_.history;
  if (history == nullptr || !history->isOpen())
    return;
  std::unordered_map<std::string, HistoryNote::TimePoint> first;
  for (const LookupHistory::DomainSeen& seen : history->domainsSeen(service, address))
    first.emplace(asciiToLower(seen.domain), seen.first);
  const auto now = std::chrono::system_clock::now();
  result->history.firstSeen.clear();
  for (const Text& line : splitText(result->domains, "\r\n")) {
    auto at = first.find(asciiToLower(line));
    result->history.firstSeen.push_back(at == first.end() ? now : at->second);
  }
}

void RunBook::record(Service service, const Text& address, LookupResult* result,
                     std::vector<Text>* gone) {
  LookupHistory* history = context_.history;
  // A history that could not be written (locked too long, a full disk) is
  // left alone for the rest of the run: each try would hold the run up.
  if (history == nullptr || !history->isOpen() || tallies_.historyFailed)
    return;
  // What changed is read before this look-up joins the history.
  LookupHistory::Change change = history->changeSinceLast(service, address, result->domains);
  const bool written = history->record(historyEntryOf(address, service, request_.pageLimit, *result,
                                                      std::chrono::system_clock::now()));
  if (!written && !tallies_.historyFailed) {
    tallies_.historyFailed = true;
    LookupProgress notice = where();
    notice.stage = LookupProgress::Stage::kNotice;
    notice.notice =
        gbk("历史记录无法写入，本次查询不再记录，查询照常继续：") + history->lastProblem();
    context_.listener.progress(notice);
  }

  HistoryNote& note = result->history;
  note.since = change.since;
  note.isNew.clear();
  note.gone = static_cast<int>(change.gone.size());
  if (change.since) {
    std::unordered_set<Text> added;
    for (const Text& domain : change.added)
      added.insert(asciiToLower(domain));
    for (const Text& line : splitText(result->domains, "\r\n"))
      note.isNew.push_back(added.count(asciiToLower(line)) ? 1 : 0);
  }
  if (gone != nullptr)
    *gone = std::move(change.gone);
  noteFirstSeen(service, address, result);
}

}  // namespace qarvo
