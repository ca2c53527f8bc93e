#include "app/status_line.h"

#include <QTimer>
#include <algorithm>

#include "app/qt_text.h"
#include "engine/lookup_engine.h"

namespace qarvo {

namespace {
// The countdown of a pause is redrawn this often.
constexpr int kCountdownTickMs = 100;
}  // namespace

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("状态栏"));
  setTextFormat(Qt::PlainText);
  setText(QStringLiteral("就绪"));
  countdownTimer_ = new QTimer(this);
  countdownTimer_->setInterval(kCountdownTickMs);
  connect(countdownTimer_, &QTimer::timeout, this, [this] { showStatus(); });
}

void StatusLine::onProgress(const LookupProgress& progress) {
  using Stage = LookupProgress::Stage;
  if (progress.part != 0 && progress.stage != Stage::kNotice) {
    showPart(progress);
    return;
  }
  const QString address = toDisplay(progress.address);
  if (progress.total > 0) {
    tallyText_ = QStringLiteral("已找到 %1 个，无结果 %2 个，失败 %3 个")
                     .arg(progress.found)
                     .arg(progress.none)
                     .arg(progress.failed);
  }
  if (progress.stage != Stage::kPausing) {
    pauseText_.clear();
    countdownTimer_->stop();
  }
  switch (progress.stage) {
    case Stage::kRunStarted:
      partText_[0].clear();
      partText_[1].clear();
      tallyText_.clear();
      cutShort_ = 0;
      statusText_ = QStringLiteral("开始查询，共 %1 个邮箱").arg(progress.total);
      break;
    case Stage::kFetching: {
      const QString which = progress.index > 0 ? QStringLiteral("第 %1/%2 个邮箱 %3")
                                                     .arg(progress.index)
                                                     .arg(progress.total)
                                                     .arg(address)
                                               : QStringLiteral(" %1").arg(address);
      const QString page =
          progress.totalPages > 0
              ? QStringLiteral("第 %1 页（共 %2 页）").arg(progress.page).arg(progress.totalPages)
              : QStringLiteral("第 %1 页").arg(progress.page);
      statusText_ = QStringLiteral("正在查询%1，%2").arg(which, page);
      break;
    }
    case Stage::kPausing:
      switch (progress.pause) {
        case LookupProgress::Pause::kRateLimit:
          pauseText_ = QStringLiteral("查询过于频繁，%1 秒后重试");
          break;
        case LookupProgress::Pause::kInterval:
          pauseText_ = QStringLiteral("每页间隔，%1 秒后继续");
          break;
        case LookupProgress::Pause::kRetry:
          pauseText_ = QStringLiteral("页面无法识别，%1 秒后再试一次");
          break;
        case LookupProgress::Pause::kOffline:
          pauseText_ = QStringLiteral("无法连接服务，%1 秒后重试（点击“停止查询”可结束）");
          break;
        default:
          pauseText_ = QStringLiteral("%1 秒后查询下一页");
          break;
      }
      pauseMs_ = progress.pauseMs;
      pauseClock_.start();
      countdownTimer_->start();
      break;
    case Stage::kAddressEnded: {
      // A result cut short by the page limit says so; a single query
      // (right-click) has no run end to say it is over.
      const Text cut = progress.result != nullptr ? pageLimitNote(*progress.result) : Text();
      const QString pages =
          cut.empty() ? QString()
                      : QStringLiteral("%1 个域名，%2").arg(progress.domains).arg(toDisplay(cut));
      if (progress.index == 0) {
        statusText_ = QStringLiteral("%1 查询结束").arg(address);
        if (!pages.isEmpty())
          statusText_ += u'：' + pages;
        if (!progress.folder.empty())
          statusText_ += QStringLiteral("，结果已保存到 %1").arg(toDisplay(progress.folder));
        if (progress.unsavedFiles > 0)
          statusText_ += QStringLiteral("，结果文件未能写入");
      } else if (!pages.isEmpty()) {
        ++cutShort_;
        statusText_ = QStringLiteral("%1：%2").arg(address, pages);
      }
      break;
    }
    case Stage::kAddressStarted:
    case Stage::kPageRead:
    case Stage::kPartEnded:
      break;
    case Stage::kNotice:
      statusText_ = toDisplay(progress.notice);
      // What a list gave stays in view through the run it is for.
      if (progress.ofRun)
        listText_ = statusText_;
      break;
    case Stage::kRunEnded:
      statusText_ = QStringLiteral("查询结束");
      if (!progress.folder.empty())
        statusText_ += QStringLiteral("，结果已保存到 %1").arg(toDisplay(progress.folder));
      if (progress.unsavedFiles > 0)
        statusText_ += QStringLiteral("，%1 个结果文件未能写入").arg(progress.unsavedFiles);
      if (cutShort_ > 0)
        statusText_ += QStringLiteral("，%1 个邮箱达到页数上限，未查完全部页").arg(cutShort_);
      break;
  }
  showStatus();
}

void StatusLine::showPart(const LookupProgress& progress) {
  using Stage = LookupProgress::Stage;
  // Each service at its own place in the list: "爱站：第 3/10 个 a@b.cn 第 2 页".
  const bool aizhan = progress.part == kFromAizhan;
  QString& place = partText_[aizhan ? 0 : 1];
  QString text = (aizhan ? QStringLiteral("爱站：") : QStringLiteral("站长：")) +
                 (progress.index > 0 ? QStringLiteral("第 %1/%2 个 %3")
                                           .arg(progress.index)
                                           .arg(progress.total)
                                           .arg(toDisplay(progress.address))
                                     : toDisplay(progress.address));
  switch (progress.stage) {
    case Stage::kFetching:
      text +=
          progress.totalPages > 0
              ? QStringLiteral(" 第 %1 页（共 %2 页）").arg(progress.page).arg(progress.totalPages)
              : QStringLiteral(" 第 %1 页").arg(progress.page);
      break;
    case Stage::kPausing:
      text += progress.pause == LookupProgress::Pause::kRateLimit
                  ? QStringLiteral(" 查询过于频繁，等待 %1 秒")
                        .arg(double(progress.pauseMs) / 1000.0, 0, 'f', 1)
                  : QStringLiteral(" 等待 %1 秒").arg(double(progress.pauseMs) / 1000.0, 0, 'f', 1);
      break;
    case Stage::kPartEnded:
      text += QStringLiteral(" 已查完");
      break;
    default:
      return;  // a page read changes no place
  }
  place = text;
  QStringList places;
  for (const QString& part : partText_)
    if (!part.isEmpty())
      places.push_back(part);
  statusText_ = QStringLiteral("正在查询　") + places.join(QStringLiteral("；"));
  showStatus();
}

void StatusLine::showStatus() {
  QString line = statusText_;
  if (!pauseText_.isEmpty()) {
    const qint64 left = std::max<qint64>(0, pauseMs_ - pauseClock_.elapsed());
    if (left == 0)
      countdownTimer_->stop();
    line += QStringLiteral("　") + pauseText_.arg(double(left) / 1000.0, 0, 'f', 1);
  }
  QString tally = tallyText_;
  if (!listText_.isEmpty() && listText_ != statusText_)
    tally = tally.isEmpty() ? listText_ : listText_ + u'：' + tally;
  if (!tally.isEmpty())
    line += QStringLiteral("　｜　") + tally;
  setText(line);
}

}  // namespace qarvo
