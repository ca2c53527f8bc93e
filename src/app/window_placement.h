// Where the program's secondary windows open, and which title-bar buttons
// they get.
#pragma once

class QWidget;

namespace qarvo {

// The program's main window when it is on screen, else nullptr.
QWidget* shownMainWindow();

// A small box or a dialog: title and close button only, no minimise or
// maximise button.
void keepOnlyCloseButton(QWidget* window);

// Moves `window` so that it is centred on `over` (on the primary screen when
// `over` is null).
void centreOn(QWidget* window, const QWidget* over);

// Moves `window` into the bottom right corner of `over`, out of the way of
// what `over` shows in its middle.
void placeAtBottomRight(QWidget* window, const QWidget* over);

}  // namespace qarvo
