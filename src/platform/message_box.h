// The message-box seam for code below the window.
//
// The settings store reports its two failure messages as message boxes, but
// it lies below the window and must not know it. It calls showMessageBox();
// the GUI installs the real box at start-up, tests install a recorder. Without
// a handler the call does nothing and answers "OK".
#pragma once

#include <functional>

#include "platform/text.h"

namespace qarvo {

// text and title are GBK; style uses the Windows message box values
// (0x40 information icon, 0x1000 system-modal, ...). Returns the button
// pressed (1 = OK, 6 = Yes, 7 = No).
using MessageBoxHandler = std::function<int(const Text& text, const Text& title, unsigned style)>;

void setMessageBoxHandler(MessageBoxHandler handler);
int showMessageBox(const Text& text, const Text& title, unsigned style);

}  // namespace qarvo
