// What the user may do while the engine is busy, decided in one place.
//
// The window stays usable while a run, a single query, a sort or a save is
// in progress: its clicks arrive from events pumped inside that work. Each
// click the engine can be asked for is answered here, and every entry point
// of LookupEngine asks before it acts:
//
//   action \ busy with   | nothing | run      | single query | sort    | save
//   ---------------------+---------+----------+--------------+---------+--------
//   start                | allowed | stops it | allowed      | refused | refused
//   stop                 | -       | allowed  | allowed      | -       | -
//   right-click query    | allowed | allowed  | allowed      | refused | refused
//   sort                 | allowed | refused  | refused      | refused | refused
//   save, export table   | allowed | allowed  | allowed      | refused | refused
//   edit the list        | allowed | queued   | allowed      | allowed | allowed
//   service, limits,     | allowed | queued   | queued       | allowed | allowed
//     folder
//   close the window     | allowed | stops the work first, then closes
//
// "queued": the change is kept and the next run uses it; the run in progress
// read its settings when it started and goes on with them. The service, the
// number boxes, auto-save and its folder are moreover disabled while a
// look-up runs (LookupEngine), so a change cannot seem to reach it; an
// entered list shows as rows only once nothing runs. A refusal is told
// in the status line, never in a message box (a box opened from a pumped
// event would hold up the work beneath it until it closes).
#pragma once

#include "platform/text.h"

namespace qarvo {

enum class Activity { kIdle, kRun, kSingleQuery, kSort, kSave };

enum class UserAction {
  kStart,
  kStop,
  kRightClickQuery,
  kSort,
  kSave,
  kEditList,
  kChangeSettings,  // service, page limit, interval, auto-save and its folder
  kCloseWindow,
};

struct PolicyAnswer {
  enum Kind { kAllowed, kRefused, kQueued } kind = kAllowed;
  Text reason;  // GBK, for the status line; empty when allowed
  bool allowed() const { return kind != kRefused; }
};

PolicyAnswer userActionAnswer(Activity busyWith, UserAction action);

}  // namespace qarvo
