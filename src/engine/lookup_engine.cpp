// The run controller: the window's start button and right-click query over
// the look-up core.

#include "engine/lookup_engine.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "engine/address_text.h"
#include "engine/page_extraction.h"
#include "engine/row_story.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"

namespace qarvo {

namespace {

const Text& idleCaption() {
  static const Text text = gbk("开始查询");
  return text;
}
const Text& infoTitle() {
  static const Text text = gbk("信息：");
  return text;
}

}  // namespace

// The core's waits: by the clock, pumping the window's events, or through
// the test hook.
class LookupEngine::WindowClock : public LookupClock {
 public:
  explicit WindowClock(LookupEngine& engine)
      : engine_(engine),
        hooked_(bool(engine.waitHook_)),
        windowThread_(std::this_thread::get_id()) {}
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void sleepUntil(TimePoint deadline, const StopFlag& stop) override {
    if (offWindowThread())
      return;
    if (engine_.waitHook_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now());
      wait(std::max(left, std::chrono::milliseconds(0)), stop);
      return;
    }
    clock_.sleepUntil(deadline, stop);
  }
  void wait(std::chrono::milliseconds length, const StopFlag& stop) override {
    if (offWindowThread())
      return;
    if (engine_.waitHook_) {
      WaitHook hook = engine_.waitHook_;  // a pumped event may replace the member
      hook(static_cast<int>(length.count()));
      return;
    }
    clock_.sleepUntil(now() + length, stop);
  }

 private:
  // Both services asked: the services wait on threads of their own. The
  // steady clock serves them as it is (it pumps on the window thread only);
  // a test's hook belongs to the window thread, so there the waits are
  // left out, as the hook would have left them.
  bool offWindowThread() const { return hooked_ && std::this_thread::get_id() != windowThread_; }

  LookupEngine& engine_;
  const bool hooked_;
  const std::thread::id windowThread_;
  MonotonicClock clock_;
};

// Turns the core's events into row writes. A run writes into the rows made
// for it when it started; a single query into the row it was started on.
// Rows are found by identity after every pump: a row that is gone (a nested
// run emptied the list) is left alone, and the look-up still counts.
class LookupEngine::RowWriter : public LookupListener {
 public:
  // A run over the rows `ids` (the run's first address is ids[0]).
  RowWriter(LookupEngine& engine, std::vector<long long> ids)
      : engine_(engine), view_(engine.view_), ids_(std::move(ids)) {}
  // A single query of the row `singleRowId`; `request` is what it was asked
  // with (for where its result was saved).
  RowWriter(LookupEngine& engine, long long singleRowId, const LookupRequest& request)
      : engine_(engine),
        view_(engine.view_),
        singleRowId_(singleRowId),
        save_(request.save),
        saveFolder_(request.saveFolder) {}

  const LookupResult& lastResult() const { return last_; }

  void progress(const LookupProgress& event) override {
    static const Text kQuerying = gbk("查询中..");
    static const Text kPageOf = gbk("第 ");
    static const Text kPagesTotal = gbk(" 页 (共 ");
    static const Text kPagesEnd = gbk(" 页)");
    using Stage = LookupProgress::Stage;
    LookupProgress forwarded = event;
    if (single()) {
      // A single query is no run of its own to the status line.
      if (event.stage == Stage::kRunStarted || event.stage == Stage::kRunEnded)
        return;
      forwarded.ofRun = false;
      forwarded.index = 0;
      forwarded.total = 0;
      forwarded.found = forwarded.none = forwarded.failed = 0;
    }
    const int row = rowOf(event.index);
    forwarded.row = row;
    switch (event.stage) {
      case Stage::kAddressStarted:
        if (row >= 0 && !single()) {
          view_.ensureRowVisible(row);
          view_.setRowImage(row, kImagePending);
          view_.setRowNote(row, Text());
          view_.setRowStory(row, RowStory());
          view_.setCellText(row, 1, kQuerying);
        }
        break;
      case Stage::kPageRead:
        if (row >= 0 && event.domainsSoFar != nullptr) {
          // Both services at once: each one's pages add to the union shown.
          if (event.page == 1 || event.part != 0)
            view_.setCellText(row, 1, *event.domainsSoFar);
          else
            view_.setCellText(row, 1,
                              kPageOf + std::to_string(event.page) + kPagesTotal +
                                  std::to_string(event.totalPages) + kPagesEnd);
        }
        break;
      case Stage::kAddressEnded:
        last_ = *event.result;
        if (row >= 0) {
          const Text note = last_.completed() ? pageLimitNote(last_) : outcomeNote(last_);
          view_.setRowImage(row, outcomeImage(last_.outcome));
          view_.setRowNote(row, note);
          view_.setCellText(row, 1, last_.domains.empty() ? note : last_.domains);
          view_.setRowStory(row, rowStoryOf(last_));
        }
        if (!single()) {
          static const Text kRunning = gbk("停止查询");
          static const Text kTotal = gbk("\r\n总 ");
          static const Text kDone = gbk(" 个，已查 ");
          static const Text kUnit = gbk(" 个");
          const int done = event.found + event.none + event.failed;
          view_.setCaption(control::kStartButton, kRunning + kTotal + std::to_string(event.total) +
                                                      kDone + std::to_string(done) + kUnit);
        } else {
          // Saved as a run saves it; the tallies shown are the list's.
          if (event.saved)
            forwarded.folder = saveFolder_;
          forwarded.unsavedFiles = save_ && last_.completed() && !event.saved ? 1 : 0;
          forwarded.total = view_.rowCount();
        }
        engine_.countRows(&forwarded);
        break;
      case Stage::kRunStarted:
        engine_.countRows(&forwarded);
        break;
      default:
        break;
    }
    if (!single()) {
      // The tallies shown are the rows', which a right-click query between
      // two addresses of the run may have changed.
      forwarded.found = engine_.shownFound_;
      forwarded.none = engine_.shownNone_;
      forwarded.failed = engine_.shownFailed_;
    }
    engine_.report(forwarded);
  }

  bool signIn(const ServiceDescription& service, Text* cookies) override {
    return engine_.signIn(service, cookies);
  }
  void throttled(const ServiceDescription& service) override {
    static const Text kMessage = gbk(
        "查询过于频繁，暂时无法采集！请等半小时后查看能查询时，再根据情况设置间隔秒，如3秒尝试");
    view_.messageBox(Text(service.name) + kMessage, infoTitle(), mb::kOk | mb::kTaskModal, false);
    engine_.queryStopFlag_ = true;
  }
  void beep() override { view_.beep(); }
  bool passWall(const ServiceDescription& service, const Text& keptPage, const std::string& url,
                Text* cookies) override {
    return engine_.passWall(service, keptPage, url, cookies);
  }
  // The window waits for the service as long as the user lets it: the stop
  // button ends the wait.
  bool waitOffline(std::chrono::milliseconds, std::chrono::milliseconds) override { return true; }

 private:
  bool single() const { return singleRowId_ >= 0; }
  int rowOf(int index) const {
    if (single())
      return view_.rowOfId(singleRowId_);
    if (index < 1 || index > static_cast<int>(ids_.size()))
      return -1;
    return view_.rowOfId(ids_[static_cast<size_t>(index - 1)]);
  }

  LookupEngine& engine_;
  MainWindowView& view_;
  const std::vector<long long> ids_;  // run position - 1 -> row identity
  const long long singleRowId_ = -1;
  const bool save_ = false;
  const Text saveFolder_;
  LookupResult last_;
};

LookupEngine::LookupEngine(MainWindowView& view, ServiceEndpoints endpoints)
    : view_(view),
      endpoints_(std::move(endpoints)),
      services_{builtInDescription(Service::kAizhan, endpoints_),
                builtInDescription(Service::kChinaz, endpoints_)} {}

LookupEngine::~LookupEngine() = default;

Activity LookupEngine::activity() const {
  if (sorting_)
    return Activity::kSort;
  if (saving_)
    return Activity::kSave;
  // The button's caption is the run state (a run may be under way further
  // down the call stack).
  if (runDepth_ > 0 || view_.caption(control::kStartButton) != idleCaption())
    return Activity::kRun;
  if (activeLookups_ > 0)
    return Activity::kSingleQuery;
  return Activity::kIdle;
}

bool LookupEngine::allowed(UserAction action) {
  const PolicyAnswer answer = this->answer(action);
  if (answer.kind != PolicyAnswer::kAllowed && !answer.reason.empty()) {
    LookupProgress notice;
    notice.stage = LookupProgress::Stage::kNotice;
    notice.notice = answer.reason;
    report(notice);
  }
  return answer.allowed();
}

void LookupEngine::report(const LookupProgress& progress) {
  if (!progress_)
    return;
  ProgressListener listener = progress_;  // the listener may replace itself
  listener(progress);
}

RunTallies LookupEngine::runCore(const LookupRequest& request, LookupListener& listener) {
  WindowClock clock(*this);
  LookupContext context{.services = services_,
                        .clock = clock,
                        .listener = listener,
                        .session = session_,
                        .stop = stopRequested_,
                        .fetch = pageFetcher_ ? pageFetcher_ : PageFetcher(fetchServicePage),
                        .fetchTimeoutSeconds = fetchTimeoutSeconds_,
                        .keepPages = keepPages_,
                        .history = history_};
  return runLookups(request, context);
}

LookupRequest LookupEngine::requestFromControls() const {
  LookupRequest request;
  request.service = view_.checked(control::kAizhanRadio) ? Service::kAizhan : Service::kChinaz;
  request.both = view_.checked(control::kBothRadio);
  if (view_.checked(control::kSkipRecentCheck)) {
    const int days = std::clamp(leadingInteger(view_.content(control::kSkipDaysEdit)), 1, 365);
    request.maxAge = std::chrono::hours(24) * days;
  }
  request.pageLimit = leadingInteger(view_.content(control::kMaxPagesEdit));
  request.intervalMs = intervalMilliseconds(view_.content(control::kIntervalEdit));
  request.save = view_.checked(control::kAutoSaveCheck);
  if (request.save)
    request.saveFolder = autoSaveFolder();
  return request;
}

bool LookupEngine::signIn(const ServiceDescription& service, Text* cookies) {
  static const Text kPrompt = gbk("要求登录才能查询更多页！登录完成点击确定按钮继续");
  static const Text kBanner =
      gbk(" 要求登录才能查询更多页：请在下面的页面中登录，完成后点击窗口右下角提示框中的“确定”按钮"
          "继续查询。");
  view_.setBrowserBanner(Text(service.name) + kBanner);
  if (!view_.browserNavigate(service.signInUrl))
    return false;  // no browser to sign in with; the window has said why
  view_.setVisible(control::kBrowser, true);
  // Ownerless, so the browser stays usable while the box waits.
  view_.messageBox(Text(service.name) + kPrompt, infoTitle(), mb::kOk | mb::kSystemModal, true);
  view_.setVisible(control::kBrowser, false);
  *cookies = view_.browserCookieText();
  return true;
}

bool LookupEngine::passWall(const ServiceDescription& service, const Text& keptPage,
                            const std::string& url, Text* cookies) {
  static const Text kWall1 = gbk(" 连续返回本程序无法识别的页面（可能是验证页面或页面改版）。");
  static const Text kWall2 = gbk("\r\n最后一个页面已保存到：");
  static const Text kWall3 =
      gbk("\r\n\r\n是否在内置浏览器中打开该页面，完成验证后继续查询？\r\n"
          "是：打开页面；否：停止查询。");
  static const Text kPassed = gbk("在浏览器中完成验证后点击确定按钮继续查询");
  Text question = Text(service.name) + kWall1;
  if (!keptPage.empty())
    question += kWall2 + keptPage;
  question += kWall3;
  if (view_.messageBox(question, infoTitle(), mb::kYesNo | mb::kIconInformation, false) !=
      mb::kIdYes)
    return false;
  static const Text kBanner = gbk(
      " 显示了本程序无法识别的页面：如果是验证页面，请在下面完成验证，然后点击窗口右下角提示框中的"
      "“确定”按钮继续查询。");
  view_.setBrowserBanner(Text(service.name) + kBanner);
  if (!view_.browserNavigate(url))
    return false;
  view_.setVisible(control::kBrowser, true);
  view_.messageBox(kPassed, infoTitle(), mb::kOk | mb::kSystemModal, true);
  view_.setVisible(control::kBrowser, false);
  const Text fresh = view_.browserCookieText();
  if (!fresh.empty())
    *cookies = fresh;
  return !stopRequested_;
}

namespace {

// What was taken of an entered list, for the status line: "已读取 N 个邮箱",
// and what was dropped.
Text takenText(const PickedAddresses& picked) {
  static const Text kRead1 = gbk("已读取 ");
  static const Text kRead2 = gbk(" 个邮箱");
  static const Text kOpen = gbk("（");
  static const Text kClose = gbk("）");
  static const Text kComma = gbk("，");
  static const Text kDuplicates1 = gbk("去掉重复 ");
  static const Text kDuplicates2 = gbk(" 个");
  static const Text kSkipped1 = gbk("跳过没有邮箱的 ");
  static const Text kSkipped2 = gbk(" 行");
  Text text = kRead1 + std::to_string(picked.addresses.size()) + kRead2;
  Text dropped;
  if (picked.duplicates > 0)
    dropped = kDuplicates1 + std::to_string(picked.duplicates) + kDuplicates2;
  if (!picked.linesWithoutAddress.empty())
    dropped += (dropped.empty() ? Text() : kComma) + kSkipped1 +
               std::to_string(picked.linesWithoutAddress.size()) + kSkipped2;
  if (!dropped.empty())
    text += kOpen + dropped + kClose;
  return text;
}

}  // namespace

void LookupEngine::lookupBegins() {
  if (activeLookups_++ > 0)
    return;
  // What a look-up read when it started is locked until the last one ends:
  // a change now would only seem to change the look-ups under way.
  for (std::string_view name :
       {control::kAizhanRadio, control::kChinazRadio, control::kBothRadio, control::kMaxPagesEdit,
        control::kIntervalEdit, control::kAutoSaveCheck, control::kAutoSaveFolderButton,
        control::kSkipRecentCheck, control::kSkipDaysEdit})
    view_.setEnabled(name, false);
}

void LookupEngine::lookupEnds() {
  if (--activeLookups_ > 0)
    return;
  for (std::string_view name :
       {control::kAizhanRadio, control::kChinazRadio, control::kBothRadio, control::kMaxPagesEdit,
        control::kIntervalEdit, control::kAutoSaveCheck, control::kSkipRecentCheck,
        control::kSkipDaysEdit})
    view_.setEnabled(name, true);
  view_.setEnabled(control::kAutoSaveFolderButton, view_.checked(control::kAutoSaveCheck));
}

void LookupEngine::countRows(LookupProgress* progress) {
  int found = 0, none = 0, failed = 0;
  for (int row = 0, rows = view_.rowCount(); row < rows; ++row) {
    switch (view_.rowImage(row)) {
      case kImageFound:
        ++found;
        break;
      case kImageNone:
        ++none;
        break;
      case kImageNotCompleted:
        ++failed;
        break;
      default:
        break;
    }
  }
  shownFound_ = progress->found = found;
  shownNone_ = progress->none = none;
  shownFailed_ = progress->failed = failed;
}

void LookupEngine::showEnteredList() {
  static const Text kNoAddress = gbk("输入的邮箱列表中没有邮箱地址");
  const PolicyAnswer answer = this->answer(UserAction::kEditList);
  LookupProgress notice;
  notice.stage = LookupProgress::Stage::kNotice;
  if (answer.kind != PolicyAnswer::kAllowed || activity() != Activity::kIdle) {
    // The list waits for the next run; the rows of the work under way stay.
    notice.notice = answer.reason;
    if (!notice.notice.empty())
      report(notice);
    return;
  }
  const PickedAddresses picked = pickAddresses(view_.tag(control::kInputButton));
  if (picked.addresses.empty()) {
    notice.notice = kNoAddress;
    report(notice);
    return;
  }
  view_.deleteAllRows();
  for (const Text& address : picked.addresses)
    view_.appendRow(address, kImagePending);
  notice.ofRun = true;  // what the next run takes
  notice.notice = takenText(picked);
  report(notice);
}

void LookupEngine::runQueries() {
  static const Text kStopping = gbk("正在停止..");
  static const Text kClipboardAsk1 = gbk("剪贴板中有 ");
  static const Text kClipboardAsk2 = gbk(" 个邮箱地址，是否查询？");
  static const Text kClipboardEmpty =
      gbk("没有要查询的邮箱：请点击“邮箱”按钮输入邮箱列表（剪贴板中也没有邮箱地址）。");
  static const Text kListEmpty = gbk("输入的邮箱列表中没有邮箱地址：请点击“邮箱”按钮修改。");

  if (view_.caption(control::kStartButton) != idleCaption()) {
    // A run is active further down this call stack; the wait or fetch in
    // flight ends at once.
    setQueryStopFlag(true);
    view_.setCaption(control::kStartButton, kStopping);
    return;
  }
  if (!allowed(UserAction::kStart))
    return;

  // The list entered, else the clipboard. Either may hold anything (names,
  // a note, a URL, "a@x.cn; b@y.cn"): only its e-mail addresses are taken,
  // each once, and the clipboard's only when the user agrees.
  const Text entered = view_.tag(control::kInputButton);
  const bool fromClipboard = entered.empty();
  PickedAddresses picked = pickAddresses(fromClipboard ? view_.clipboardText() : entered);
  if (picked.addresses.empty()) {
    view_.messageBox(fromClipboard ? kClipboardEmpty : kListEmpty, infoTitle(),
                     mb::kOk | mb::kIconInformation, false);
    return;
  }
  if (fromClipboard) {
    const Text question = kClipboardAsk1 + std::to_string(picked.addresses.size()) + kClipboardAsk2;
    if (view_.messageBox(question, infoTitle(), mb::kYesNo | mb::kIconInformation, false) !=
        mb::kIdYes) {
      return;
    }
    if (view_.caption(control::kStartButton) != idleCaption() || !allowed(UserAction::kStart))
      return;  // something started while the question was open
  }
  LookupProgress notice;
  notice.stage = LookupProgress::Stage::kNotice;
  notice.ofRun = true;
  notice.notice = takenText(picked);
  report(notice);

  // Every address shows at once, not yet queried.
  view_.deleteAllRows();
  std::vector<long long> ids;
  ids.reserve(picked.addresses.size());
  for (const Text& address : picked.addresses)
    ids.push_back(view_.rowId(view_.appendRow(address, kImagePending)));
  runRows(std::move(ids), std::move(picked.addresses));
}

void LookupEngine::runRows(std::vector<long long> ids, std::vector<Text> addresses) {
  static const Text kRunning = gbk("停止查询");
  static const Text kAgain1 = gbk("重新查询未完成的 ");
  static const Text kAgain2 = gbk(" 个邮箱");
  while (!addresses.empty()) {
    LookupRequest request = requestFromControls();
    request.addresses = std::move(addresses);
    setQueryStopFlag(false);
    view_.setCaption(control::kStartButton, kRunning);
    RunTallies tallies;
    {
      struct RunScope {
        LookupEngine& engine;
        explicit RunScope(LookupEngine& e) : engine(e) {
          engine.lookupBegins();
          ++engine.runDepth_;
        }
        ~RunScope() {
          engine.lookupEnds();
          --engine.runDepth_;
        }
      } scope(*this);
      RowWriter writer(*this, ids);
      tallies = runCore(request, writer);
      view_.setCaption(control::kStartButton, idleCaption());
    }

    // The rows of this run that did not complete and are still there.
    std::vector<long long> again;
    addresses.clear();
    for (long long id : ids) {
      const int row = view_.rowOfId(id);
      if (row < 0)
        continue;
      const int image = view_.rowImage(row);
      if (image == kImageFound || image == kImageNone)
        continue;
      again.push_back(id);
      addresses.push_back(view_.cellText(row, 0));
    }
    if (!showEndMessage(tallies, request.saveFolder, static_cast<int>(again.size())) ||
        view_.caption(control::kStartButton) != idleCaption() || !allowed(UserAction::kStart))
      return;
    ids = std::move(again);
    LookupProgress notice;
    notice.stage = LookupProgress::Stage::kNotice;
    notice.notice = kAgain1 + std::to_string(ids.size()) + kAgain2;
    report(notice);
  }
}

bool LookupEngine::showEndMessage(const RunTallies& tallies, const Text& folder, int again) {
  static const Text kFinished = gbk("查询完成！");
  static const Text kNothingCompleted = gbk("查询结束，没有邮箱查询完成。");
  static const Text kNotCompleted1 = gbk("\r\n其中 ");
  static const Text kNotCompleted2 =
      gbk(" 个邮箱查询失败或未完成（见该行说明），右击该行可重新查询。");
  static const Text kNotReached1 = gbk("\r\n另有 ");
  static const Text kNotReached2 = gbk(" 个邮箱未查询（查询已提前结束）。");
  static const Text kWall = gbk("\r\n服务连续返回无法识别的页面，查询已停止。");
  static const Text kHistory1 = gbk("\r\n其中 ");
  static const Text kHistory2 = gbk(" 个邮箱来自历史记录（近期查过，未再发送请求）。");
  static const Text kOffline = gbk("\r\n无法连接服务，查询已停止。");
  static const Text kKept = gbk("\r\n无法识别的页面已保存到：");
  static const Text kUnsaved1 = gbk("\r\n有 ");
  static const Text kUnsaved2 = gbk(" 个结果文件未能保存到：");
  static const Text kAgain1 = gbk("\r\n\r\n是否现在重新查询这 ");
  static const Text kAgain2 = gbk(" 个邮箱？");

  const int notCompleted = tallies.failed + tallies.incomplete + tallies.stopped;
  // All completed and saved: exactly the message it always was.
  Text message = tallies.completed() == 0 && tallies.total > 0 ? kNothingCompleted : kFinished;
  if (notCompleted > 0)
    message += kNotCompleted1 + std::to_string(notCompleted) + kNotCompleted2;
  if (tallies.notReached > 0)
    message += kNotReached1 + std::to_string(tallies.notReached) + kNotReached2;
  if (const Text totals = serviceTotalsText(tallies); !totals.empty())
    message += "\r\n" + totals;
  if (tallies.fromHistory > 0)
    message += kHistory1 + std::to_string(tallies.fromHistory) + kHistory2;
  if (tallies.endedByWall)
    message += kWall;
  if (tallies.endedOffline)
    message += kOffline;
  if (!tallies.lastKeptPage.empty()) {
    const size_t slash = tallies.lastKeptPage.rfind('/');
    message += kKept +
               (slash == Text::npos ? tallies.lastKeptPage : tallies.lastKeptPage.substr(0, slash));
  }
  if (tallies.unsaved > 0)
    message += kUnsaved1 + std::to_string(tallies.unsaved) + kUnsaved2 + folder;
  if (again == 0) {
    view_.messageBox(message, infoTitle(), mb::kOk | mb::kIconInformation | mb::kSystemModal,
                     false);
    return false;
  }
  // A Return that only meant to close the message starts nothing.
  message += kAgain1 + std::to_string(again) + kAgain2;
  return view_.messageBox(
             message, infoTitle(),
             mb::kYesNo | mb::kIconInformation | mb::kDefaultButton2 | mb::kSystemModal,
             false) == mb::kIdYes;
}

LookupResult LookupEngine::queryAddress(int row) {
  static const Text kQuerying = gbk("查询中..");
  LookupResult result;
  result.outcome = LookupOutcome::kStopped;
  result.reason = FailureReason::kStopped;
  if (row < 0 || row >= view_.rowCount() || !allowed(UserAction::kRightClickQuery))
    return result;

  struct Active {
    LookupEngine& engine;
    explicit Active(LookupEngine& e) : engine(e) { engine.lookupBegins(); }
    ~Active() { engine.lookupEnds(); }
  } active(*this);
  // Outside a run a single query is a fresh start: the stop of a run that
  // ended before it does not reach it.
  if (runDepth_ == 0) {
    stopRequested_ = false;
    queryStopFlag_ = false;
  }

  LookupRequest request = requestFromControls();
  request.addresses.push_back(view_.cellText(row, 0));
  const long long id = view_.rowId(row);
  view_.setRowImage(row, kImagePending);
  view_.setRowNote(row, Text());
  view_.setRowStory(row, RowStory());
  view_.setCellText(row, 1, kQuerying);

  RowWriter writer(*this, id, request);
  runCore(request, writer);
  return writer.lastResult();
}

Text pageLimitNote(const LookupResult& result) {
  static const Text kRead = gbk("已查 ");
  static const Text kLimit = gbk(" 页（页数上限）");
  if (!result.completed() || result.announcedPages <= result.pages)
    return Text();
  return kRead + std::to_string(result.pages) + "/" + std::to_string(result.announcedPages) +
         kLimit;
}

}  // namespace qarvo
