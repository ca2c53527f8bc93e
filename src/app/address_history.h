// The window's history of look-ups: opened once at start-up, and an
// address's look-ups shown in a small window of their own (Ctrl+H on a row).
#pragma once

#include "platform/text.h"

class QWidget;

namespace qarvo {

class LookupHistory;

// Opens `history` at `path` (GBK; historyPath() by default). Returns what
// the user is to be told once (GBK), empty when there is nothing to say: a
// damaged file was moved aside and a new history made, or the history cannot
// be used (a newer version's, a folder that cannot be written) and the
// window goes on without one.
Text openWindowHistory(LookupHistory& history, const Text& path);

// Shows the look-ups of `address` and the first and last time each of its
// domains was seen, in a window that does not hold up the main window (a
// run goes on beneath it). Its object name is "查询历史".
QWidget* showAddressHistory(QWidget* parent, LookupHistory& history, const Text& address);

}  // namespace qarvo
