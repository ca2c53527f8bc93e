// The flag a user's stop raises.
//
// A stop is raised on one thread (the window's, a signal handler) and read on
// whichever thread runs the fetch or the wait it ends, so it is atomic: safe
// to raise from a signal handler and to read from any thread.
#pragma once

#include <atomic>

namespace qarvo {

using StopFlag = std::atomic<bool>;

}  // namespace qarvo
