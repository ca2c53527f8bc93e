// Invariant checks for the fuzz targets.
//
// A broken invariant prints what was expected and aborts, so libFuzzer keeps
// the input as a crash artifact.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace qarvo::fuzz {

[[noreturn]] inline void invariantFailed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", what, file, line);
  std::abort();
}

// True when `part` occurs somewhere in `whole` (an empty part always does).
inline bool isSubstring(std::string_view part, std::string_view whole) {
  return whole.find(part) != std::string_view::npos;
}

}  // namespace qarvo::fuzz

#define FUZZ_CHECK(condition)                                         \
  do {                                                                \
    if (!(condition))                                                 \
      ::qarvo::fuzz::invariantFailed(#condition, __FILE__, __LINE__); \
  } while (false)
