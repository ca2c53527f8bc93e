// The window-system side of the platform seams: the event pump the core calls
// while it works, and the message boxes it shows.
#pragma once

#include "platform/text.h"

namespace qarvo {

// Installs the Qt event pump and the Qt message-box handler.
void installDesktopGlue();

// Shows a message box with the Windows style bits the program's operations
// use (buttons 0x0-0x5, icons 0x10-0x40). An `ownerless` box is non-modal: the
// windows behind it (the sign-in browser above all) stay usable, and the call
// waits for the answer in a nested event loop. Returns 1 (OK), 2 (Cancel),
// 6 (Yes) or 7 (No).
int showDesktopMessageBox(const Text& text, const Text& title, unsigned style, bool ownerless);

// While quiet, message boxes are answered "OK" (or "Yes") without being shown
// and open ownerless boxes are closed: the main window is going away.
void setMessageBoxesQuiet(bool quiet);
bool messageBoxesQuiet();

}  // namespace qarvo
