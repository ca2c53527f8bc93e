// A run that asks both services for every address, side by side.
//
// Each service works through the list on a thread of its own, with the very
// walk, pauses, throttling and streaks of a run of that service alone; it
// hears nothing of the other. What a side says or asks goes through a
// mailbox to the calling thread, which keeps the run's book: it merges an
// address's two answers once both came, saves, records the history and tells
// the front end, so that the listener only ever hears from one thread.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "engine/run_book.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "text/split_text.h"

namespace qarvo {

namespace {

// How long the calling thread waits for a side before it lets the window's
// events through again.
constexpr std::chrono::milliseconds kWaitSlice(10);

// Work handed from the sides' threads to the calling thread.
class Mailbox {
 public:
  void post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    arrived_.notify_one();
  }

  // On a side's thread: `question` runs on the calling thread, and its
  // answer comes back here.
  template <typename Answer>
  Answer ask(std::function<Answer()> question) {
    std::promise<Answer> answer;
    std::future<Answer> answered = answer.get_future();
    post([&question, &answer] {
      try {
        answer.set_value(question());
      } catch (...) {
        answer.set_exception(std::current_exception());
      }
    });
    return answered.get();
  }

  // On the calling thread: runs what came, after waiting up to `slice` for
  // the first of it.
  void runArrived(std::chrono::milliseconds slice) {
    std::deque<std::function<void()>> batch;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      arrived_.wait_for(lock, slice, [this] { return !tasks_.empty(); });
      batch.swap(tasks_);
    }
    for (std::function<void()>& task : batch)
      task();
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::function<void()>> tasks_;
};

// An event of a side, with copies of what it pointed to.
struct SideEvent {
  LookupProgress progress;
  std::optional<LookupResult> result;
  std::optional<Text> domainsSoFar;
};

class BothRun;

// What a side's walk tells and asks, sent to the calling thread.
class SideListener : public LookupListener {
 public:
  SideListener(BothRun& run, int side) : run_(run), side_(side) {}
  void progress(const LookupProgress& progress) override;
  bool signIn(const ServiceDescription& service, Text* cookies) override;
  void throttled(const ServiceDescription& service) override;
  void beep() override;
  bool passWall(const ServiceDescription& service, const Text& keptPage, const std::string& url,
                Text* cookies) override;
  bool waitOffline(std::chrono::milliseconds waitedSoFar, std::chrono::milliseconds next) override;

 private:
  BothRun& run_;
  int side_;
};

class BothRun {
 public:
  BothRun(const LookupRequest& request, LookupContext& context);
  RunTallies run();

  Mailbox& mailbox() { return mailbox_; }
  LookupListener& listener() { return context_.listener; }
  void onEvent(int side, SideEvent& event);

 private:
  struct Side {
    Service service = Service::kAizhan;
    LookupRequest request;    // the addresses this side asks
    std::vector<int> places;  // their positions in the run
    std::unique_ptr<SideListener> listener;
    std::unique_ptr<LookupContext> context;
    std::thread thread;
    bool ended = true;
    RunTallies tallies;
    bool broke = false;  // the side's thread ended on an error
  };
  struct Address {
    std::optional<LookupResult> part[2];
    Text soFar[2];
    std::vector<Text> gone[2];
    bool started = false;
    bool finished = false;
    int shared = 0;  // domains both listed, once finished
  };

  void startSide(int side);
  void onPart(int side, int index, LookupResult result);
  void onSideEnded(int side);
  // Finishes the address once both answers are in (or the side that owes
  // one has ended).
  void tryFinish(int index);
  LookupResult owedAnswer(int side) const;
  void noteMergedHistory(const Address& address, LookupResult* merged) const;
  void tally();

  const LookupRequest& request_;
  LookupContext& context_;
  RunBook book_;
  Mailbox mailbox_;
  Side sides_[2];
  std::vector<Address> addresses_;
};

void SideListener::progress(const LookupProgress& progress) {
  auto event = std::make_shared<SideEvent>();
  event->progress = progress;
  if (progress.result != nullptr)
    event->result = *progress.result;
  if (progress.domainsSoFar != nullptr)
    event->domainsSoFar = *progress.domainsSoFar;
  event->progress.result = nullptr;
  event->progress.domainsSoFar = nullptr;
  BothRun& run = run_;
  const int side = side_;
  run_.mailbox().post([&run, side, event] { run.onEvent(side, *event); });
}

bool SideListener::signIn(const ServiceDescription& service, Text* cookies) {
  LookupListener& outer = run_.listener();
  return run_.mailbox().ask<bool>(
      [&outer, &service, cookies] { return outer.signIn(service, cookies); });
}

void SideListener::throttled(const ServiceDescription& service) {
  LookupListener& outer = run_.listener();
  run_.mailbox().ask<bool>([&outer, &service] {
    outer.throttled(service);
    return true;
  });
}

void SideListener::beep() {
  LookupListener& outer = run_.listener();
  run_.mailbox().post([&outer] { outer.beep(); });
}

bool SideListener::passWall(const ServiceDescription& service, const Text& keptPage,
                            const std::string& url, Text* cookies) {
  LookupListener& outer = run_.listener();
  return run_.mailbox().ask<bool>([&] { return outer.passWall(service, keptPage, url, cookies); });
}

bool SideListener::waitOffline(std::chrono::milliseconds waitedSoFar,
                               std::chrono::milliseconds next) {
  LookupListener& outer = run_.listener();
  return run_.mailbox().ask<bool>([&] { return outer.waitOffline(waitedSoFar, next); });
}

BothRun::BothRun(const LookupRequest& request, LookupContext& context)
    : request_(request),
      context_(context),
      book_(request, context),
      addresses_(request.addresses.size()) {
  for (int side = 0; side < 2; ++side) {
    Side& s = sides_[side];
    s.service = side == 0 ? Service::kAizhan : Service::kChinaz;
    s.request = request;
    s.request.both = false;
    s.request.service = s.service;
    s.request.save = false;  // the merged result is saved, not a side's
    s.request.maxAge.reset();
    s.request.addresses.clear();
    s.listener = std::make_unique<SideListener>(*this, side);
    s.context.reset(new LookupContext{.services = context.services,
                                      .clock = context.clock,
                                      .listener = *s.listener,
                                      .session = context.session,
                                      .stop = context.stop,
                                      .fetch = context.fetch,
                                      .fetchTimeoutSeconds = context.fetchTimeoutSeconds,
                                      .keepPages = context.keepPages});
  }
}

RunTallies BothRun::run() {
  book_.start();
  // Answers known without a request: an earlier run's, or the history's.
  for (int i = 0; i < static_cast<int>(request_.addresses.size()); ++i) {
    const Text& address = request_.addresses[i];
    LookupResult recalled;
    if (context_.listener.recall(i, address, &recalled)) {
      recalled.recalled = true;
      addresses_[i].finished = true;
      book_.finish(i, recalled);
      continue;
    }
    for (int side = 0; side < 2; ++side) {
      if (std::optional<LookupResult> answered = book_.fromHistory(sides_[side].service, address)) {
        addresses_[i].part[side] = std::move(*answered);
      } else {
        sides_[side].request.addresses.push_back(address);
        sides_[side].places.push_back(i);
      }
    }
    tryFinish(i);
  }

  for (int side = 0; side < 2; ++side)
    startSide(side);
  while (!sides_[0].ended || !sides_[1].ended) {
    mailbox_.runArrived(kWaitSlice);
    noteSlept();
    processPendingEvents();
  }
  for (Side& side : sides_)
    if (side.thread.joinable())
      side.thread.join();

  tally();
  book_.end();
  return book_.tallies();
}

void BothRun::startSide(int side) {
  Side& s = sides_[side];
  if (s.request.addresses.empty())
    return;
  s.ended = false;
  s.thread = std::thread([this, side] {
    Side& s = sides_[side];
    RunTallies tallies;
    bool broke = false;
    try {
      RunBook book(s.request, *s.context);
      runService(s.request, *s.context, book);
      tallies = book.tallies();
    } catch (...) {
      broke = true;  // out of memory, say: what it did not answer is owed
    }
    mailbox_.post([this, side, tallies, broke] {
      sides_[side].tallies = tallies;
      sides_[side].broke = broke;
      onSideEnded(side);
    });
  });
}

void BothRun::onEvent(int side, SideEvent& event) {
  LookupProgress& progress = event.progress;
  using Stage = LookupProgress::Stage;
  if (progress.stage == Stage::kRunStarted || progress.stage == Stage::kRunEnded)
    return;
  const bool ofAddress = progress.index > 0;
  const int index = ofAddress ? sides_[side].places[progress.index - 1] : -1;
  progress = book_.withTallies(progress);
  progress.total = book_.tallies().total;
  progress.index = index + 1;
  progress.part = serviceMask(sides_[side].service);
  switch (progress.stage) {
    case Stage::kAddressStarted:
      // The address is taken up once, by whichever service comes first.
      if (addresses_[index].started)
        return;
      addresses_[index].started = true;
      progress.part = 0;
      break;
    case Stage::kPageRead: {
      Address& address = addresses_[index];
      if (event.domainsSoFar)
        address.soFar[side] = std::move(*event.domainsSoFar);
      // The row shows both services' domains so far.
      LookupResult a, c;
      a.domains = address.part[0] ? address.part[0]->domains : address.soFar[0];
      c.domains = address.part[1] ? address.part[1]->domains : address.soFar[1];
      static thread_local Text merged;
      merged = mergeAnswers(std::move(a), std::move(c)).domains;
      progress.domainsSoFar = &merged;
      progress.domains = countLines(merged);
      break;
    }
    case Stage::kAddressEnded:
      if (event.result)
        onPart(side, index, std::move(*event.result));
      return;
    default:
      break;
  }
  context_.listener.progress(progress);
}

void BothRun::onPart(int side, int index, LookupResult result) {
  Address& address = addresses_[index];
  if (address.finished) {
    // Asked again after a wall or an outage: the first answer is taken back.
    book_.takeBack(index);
    address.finished = false;
  }
  const Text& text = request_.addresses[index];
  result.service = sides_[side].service;
  book_.record(result.service, text, &result, &address.gone[side]);
  address.part[side] = std::move(result);
  address.soFar[side].clear();

  LookupProgress ended = book_.where();
  ended.stage = LookupProgress::Stage::kPartEnded;
  ended.index = index + 1;
  ended.address = text;
  ended.part = serviceMask(sides_[side].service);
  ended.result = &*address.part[side];
  ended.domains = countLines(address.part[side]->domains);
  context_.listener.progress(ended);
  tryFinish(index);
}

void BothRun::onSideEnded(int side) {
  sides_[side].ended = true;
  const int other = 1 - side;
  for (int index : sides_[side].places)
    if (!addresses_[index].part[side] && addresses_[index].part[other])
      tryFinish(index);
}

LookupResult BothRun::owedAnswer(int side) const {
  const Side& s = sides_[side];
  LookupResult owed;
  owed.service = s.service;
  if (context_.stop) {
    owed.outcome = LookupOutcome::kStopped;
    owed.reason = FailureReason::kStopped;
    return owed;
  }
  owed.outcome = LookupOutcome::kFailed;
  if (s.tallies.endedByThrottle)
    owed.reason = FailureReason::kRateLimited;
  else if (s.tallies.endedByWall)
    owed.reason = FailureReason::kUnrecognised;
  else
    owed.reason = FailureReason::kConnection;
  return owed;
}

void BothRun::tryFinish(int index) {
  Address& address = addresses_[index];
  if (address.finished)
    return;
  for (int side = 0; side < 2; ++side) {
    if (address.part[side])
      continue;
    // A side still at work will answer; one that ended owes the answer.
    if (!sides_[side].ended || !address.part[1 - side])
      return;
  }
  LookupResult merged = mergeAnswers(address.part[0] ? *address.part[0] : owedAnswer(0),
                                     address.part[1] ? *address.part[1] : owedAnswer(1));
  noteMergedHistory(address, &merged);
  address.shared = static_cast<int>(std::count(merged.sources.begin(), merged.sources.end(),
                                               static_cast<unsigned char>(kFromBoth)));
  address.finished = true;
  book_.finish(index, merged);
}

void BothRun::noteMergedHistory(const Address& address, LookupResult* merged) const {
  HistoryNote& note = merged->history;
  note.fromHistory =
      merged->answers[0].history.fromHistory && merged->answers[1].history.fromHistory;
  if (note.fromHistory)
    note.answeredAt =
        std::min(merged->answers[0].history.answeredAt, merged->answers[1].history.answeredAt);

  // What each service listed last time, and when it first listed each domain.
  std::unordered_set<std::string> before;
  std::unordered_map<std::string, HistoryNote::TimePoint> firstSeen;
  bool anyFirstSeen = false;
  for (int side = 0; side < 2; ++side) {
    const LookupResult& part = merged->answers[side];
    const HistoryNote& partNote = part.history;
    const std::vector<Text> lines = splitText(part.domains, "\r\n");
    if (partNote.since) {
      note.since = note.since ? std::min(*note.since, *partNote.since) : *partNote.since;
      for (size_t j = 0; j < lines.size() && j < partNote.isNew.size(); ++j)
        if (!partNote.isNew[j])
          before.insert(asciiToLower(lines[j]));
      for (const Text& gone : address.gone[side])
        before.insert(asciiToLower(gone));
    }
    for (size_t j = 0; j < lines.size() && j < partNote.firstSeen.size(); ++j) {
      anyFirstSeen = true;
      auto [at, inserted] = firstSeen.try_emplace(asciiToLower(lines[j]), partNote.firstSeen[j]);
      if (!inserted)
        at->second = std::min(at->second, partNote.firstSeen[j]);
    }
  }
  const std::vector<Text> lines = splitText(merged->domains, "\r\n");
  std::unordered_set<std::string> now;
  for (const Text& line : lines) {
    const std::string key = asciiToLower(line);
    if (note.since)
      note.isNew.push_back(before.count(key) ? 0 : 1);
    if (anyFirstSeen) {
      auto at = firstSeen.find(key);
      note.firstSeen.push_back(at != firstSeen.end() ? at->second
                                                     : std::chrono::system_clock::now());
    }
    now.insert(key);
  }
  if (note.since) {
    std::unordered_set<std::string> gone;
    for (int side = 0; side < 2; ++side)
      for (const Text& domain : address.gone[side])
        if (!now.count(asciiToLower(domain)))
          gone.insert(asciiToLower(domain));
    note.gone = static_cast<int>(gone.size());
  }
}

void BothRun::tally() {
  RunTallies& tallies = book_.tallies();
  tallies.byService.clear();
  for (int side = 0; side < 2; ++side) {
    RunTallies::OfService of;
    of.service = sides_[side].service;
    for (const Address& address : addresses_) {
      if (!address.part[side]) {
        ++of.notCompleted;
        continue;
      }
      const LookupResult& part = *address.part[side];
      ++(part.completed() ? of.completed : of.notCompleted);
      of.domains += countLines(part.domains);
    }
    tallies.byService.push_back(of);
    const Side& s = sides_[side];
    tallies.endedByWall = tallies.endedByWall || s.tallies.endedByWall;
    tallies.endedOffline = tallies.endedOffline || s.tallies.endedOffline;
    tallies.endedByThrottle = tallies.endedByThrottle || s.tallies.endedByThrottle;
    if (s.tallies.endedByWall || s.tallies.endedOffline || s.tallies.endedByThrottle || s.broke)
      tallies.endedService = context_.services.of(s.service).name;
    if (tallies.lastKeptPage.empty())
      tallies.lastKeptPage = s.tallies.lastKeptPage;
  }
  tallies.sharedDomains = 0;
  for (const Address& address : addresses_)
    if (address.finished)
      tallies.sharedDomains += address.shared;
}

}  // namespace

RunTallies runBothServices(const LookupRequest& request, LookupContext& context) {
  context.halted = false;
  return BothRun(request, context).run();
}

}  // namespace qarvo
