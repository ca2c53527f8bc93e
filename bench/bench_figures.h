// The figures the benchmark program reports: each names the benchmark that
// measures it, the benchmark that measures its reference in the same run (if
// any), and its target. The summary at the end of a run puts them side by side.
#pragma once

#include <string>

namespace qarvo::bench {

struct Figure {
  std::string title{};
  std::string benchmark{};     // full benchmark name, as Google Benchmark prints it
  std::string reference{};     // empty: no reference
  double maxMilliseconds = 0;  // target: at most this long (0: none)
  double minSpeedup = 0;       // target: at least this many times faster than the reference
};

// Registers a figure for the summary; returns true (for static initialisers).
bool addFigure(Figure figure);

}  // namespace qarvo::bench
