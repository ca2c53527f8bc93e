#include "app/window_placement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace qarvo {

namespace {
// Room left between a box and the edges of the window it sits in.
constexpr int kCornerMargin = 16;
}  // namespace

QWidget* shownMainWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->inherits("qarvo::MainWindow"))
      return widget;
  }
  return nullptr;
}

void keepOnlyCloseButton(QWidget* window) {
  window->setWindowFlags((window->windowFlags() & ~(Qt::WindowMinMaxButtonsHint)) | Qt::Dialog |
                         Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

void centreOn(QWidget* window, const QWidget* over) {
  QRect area;
  if (over != nullptr) {
    area = over->frameGeometry();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  } else {
    return;
  }
  window->move(area.center().x() - window->width() / 2, area.center().y() - window->height() / 2);
}

void placeAtBottomRight(QWidget* window, const QWidget* over) {
  if (over == nullptr)
    return;
  const QRect area = over->geometry();
  const QSize size = window->frameGeometry().size().expandedTo(window->size());
  window->move(std::max(area.left(), area.right() + 1 - size.width() - kCornerMargin),
               std::max(area.top(), area.bottom() + 1 - size.height() - kCornerMargin));
}

}  // namespace qarvo
