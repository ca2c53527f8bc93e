// The line under the result list that says what a run is doing: the address
// and page being looked up, a pause counting down, how many addresses the
// list gave and the tallies of the rows.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QString>

#include "engine/lookup_outcome.h"

class QTimer;

namespace qarvo {

class StatusLine final : public QLabel {
  Q_OBJECT

 public:
  explicit StatusLine(QWidget* parent);

  // Takes the engine's report of where a run or a single query is.
  void onProgress(const LookupProgress& progress);

 private:
  void showStatus();
  // Both services asked: where each one is, from its own events.
  void showPart(const LookupProgress& progress);

  QTimer* countdownTimer_ = nullptr;
  // What is being done, the pause under way, the tallies.
  QString statusText_;
  QString pauseText_;
  int pauseMs_ = 0;
  QElapsedTimer pauseClock_;
  QString tallyText_;
  // What the entered list gave ("已读取 N 个邮箱"), kept beside the tallies
  // until another list is taken.
  QString listText_;
  // Addresses of the run whose result stopped at the page limit.
  int cutShort_ = 0;
  // Both services asked: each one's place (爱站, 站长).
  QString partText_[2];
};

}  // namespace qarvo
