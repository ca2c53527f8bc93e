#include "testing/resident_memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qarvo::testing {

long statusKiB(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr)
    return -1;
  long value = -1;
  char line[256];
  const std::size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      value = std::strtol(line + length + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return value;
}

long peakGrowthKiB(const std::function<void()>& work) {
  // Writing 5 sets the peak back to the present resident size.
  std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
  if (clear == nullptr)
    return -1;
  const bool reset = std::fputs("5", clear) >= 0;
  if (std::fclose(clear) != 0 || !reset)
    return -1;
  const long before = statusKiB("VmRSS");
  work();
  const long peak = statusKiB("VmHWM");
  if (before < 0 || peak < 0)
    return -1;
  return peak > before ? peak - before : 0;
}

}  // namespace qarvo::testing
