#include "platform/event_pump.h"

#include <chrono>
#include <thread>

namespace qarvo {

namespace detail {
thread_local EventPump currentEventPump = nullptr;
thread_local bool sleptSinceMark = false;
}  // namespace detail

EventPump setEventPump(EventPump pump) {
  EventPump previous = detail::currentEventPump;
  detail::currentEventPump = pump;
  return previous;
}

void sleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0)
    return;
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  detail::sleptSinceMark = true;
}

}  // namespace qarvo
