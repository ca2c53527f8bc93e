#!/usr/bin/env bash
# Builds the benchmark program (Release, in build-bench/) and runs it: every
# figure beside its reference and its target, as medians of 5 repetitions.
# Extra arguments go to the program, e.g. --benchmark_filter=Sort.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARVO_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" --target qarvo_bench
QT_QPA_PLATFORM=offscreen exec build-bench/bench/qarvo_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true "$@"
