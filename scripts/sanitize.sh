#!/usr/bin/env bash
# Builds the library and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARVO_SANITIZE=ON \
  -DQARVO_BUILD_GUI=OFF -DQARVO_BUILD_BENCH=OFF
cmake --build build-asan -j "$(nproc)"
cd build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$(nproc)"
