// The "process pending events" hook.
//
// Long operations keep the window responsive by pumping the window's events
// themselves, at the points where the program's operations say so (some of
// them once per byte or per search step). The core calls processPendingEvents()
// there; the GUI installs the real pump at start-up. Until then the call does
// nothing. An installed pump must itself be cheap per call: the GUI's pump
// checks a clock and only every few milliseconds really processes events.
#pragma once

namespace qarvo {

using EventPump = void (*)();

// Installs `pump` for the calling thread (nullptr removes it). Returns the
// previous pump.
EventPump setEventPump(EventPump pump);

namespace detail {
// Per thread: the pump is the installing thread's (the window's); a worker
// thread that calls processPendingEvents() finds none and does nothing.
extern thread_local EventPump currentEventPump;
extern thread_local bool sleptSinceMark;
}  // namespace detail

// Lets the user interface process pending events; a no-op without a pump.
inline void processPendingEvents() {
  if (detail::currentEventPump != nullptr)
    detail::currentEventPump();
}

// Sleeps the calling thread for `milliseconds` (nothing for 0 or less).
void sleepMilliseconds(int milliseconds);

// Tells the pump that the caller has just waited (on a socket, say) as a
// sleep would, so its next call processes events at once.
inline void noteSlept() {
  detail::sleptSinceMark = true;
}

// True once after the calling code slept: a pump that skips most calls uses it
// to serve the first call after a sleep at once.
inline bool takeSleepMark() {
  bool slept = detail::sleptSinceMark;
  detail::sleptSinceMark = false;
  return slept;
}

}  // namespace qarvo
