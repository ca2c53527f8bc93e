#include "platform/event_pump.h"

#include <chrono>
#include <thread>

namespace qarvo {

namespace detail {
EventPump currentEventPump = nullptr;
}

EventPump setEventPump(EventPump pump) {
  EventPump previous = detail::currentEventPump;
  detail::currentEventPump = pump;
  return previous;
}

void sleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace qarvo
