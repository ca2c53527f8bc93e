// How much resident memory a piece of work needs at its peak, for tests and
// benchmarks that bound it.
#pragma once

#include <functional>

namespace qarvo::testing {

// A value of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when unreadable.
long statusKiB(const char* field);

// Runs `work` and returns by how much the process's peak resident memory
// rose above its resident memory just before: the memory the work held at
// its fullest, in KiB. -1 when the peak cannot be reset or read here.
long peakGrowthKiB(const std::function<void()>& work);

}  // namespace qarvo::testing
