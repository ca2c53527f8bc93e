#!/usr/bin/env bash
# Runs the test suite again and again while a second build of the project
# loads the machine, and stops at the first failure: a test that depends on
# timing fails here rather than in CI.
#
#   scripts/soak.sh                 # the whole suite, 20 runs
#   scripts/soak.sh 50 -L app       # the window tests only, 50 runs
#   scripts/soak.sh 20 -R AskText   # any further arguments go to ctest
#
# The suite runs from build/ (SOAK_BUILD=<folder> for another; it is brought
# up to date first) in random order. The load is a clean compile of the
# project into build-soak-load/ (SOAK_LOAD_BUILD=<folder>), without ccache,
# over and over; SOAK_LOAD=0 soaks without it. Each run's output is kept in
# <build>/soak/run-<n>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-20}
shift || true
case $runs in
  '' | *[!0-9]*)
    echo "usage: $0 [runs] [ctest arguments...]" >&2
    exit 2
    ;;
esac
build=${SOAK_BUILD:-build}
load_build=${SOAK_LOAD_BUILD:-build-soak-load}
jobs=$(nproc)

if [ "$build" = build ]; then
  bash scripts/build.sh
else
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j "$jobs"
fi

load_pid=
stop_load() {
  if [ -n "$load_pid" ]; then
    # The loop leads a process group of its own: end the compilers with it.
    kill -TERM -- "-$load_pid" 2>/dev/null || kill -TERM "$load_pid" 2>/dev/null || true
    wait "$load_pid" 2>/dev/null || true
    load_pid=
  fi
}
trap stop_load EXIT
trap 'exit 130' INT TERM

if [ "${SOAK_LOAD:-1}" != 0 ]; then
  cmake -S . -B "$load_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -UCMAKE_CXX_COMPILER_LAUNCHER >/dev/null
  # shellcheck disable=SC2016 # expanded by the inner shell
  setsid bash -c '
    while true; do
      cmake --build "$1" --target clean >/dev/null 2>&1 || true
      CCACHE_DISABLE=1 cmake --build "$1" -j "$2" >/dev/null 2>&1 || sleep 1
    done' soak-load "$load_build" "$jobs" &
  load_pid=$!
  echo "load: compiling into $load_build (-j $jobs) in a loop"
fi

logs=$build/soak
mkdir -p "$logs"
started=$SECONDS
for ((run = 1; run <= runs; ++run)); do
  log=$logs/run-$run.log
  run_started=$SECONDS
  if (cd "$build" && ctest --output-on-failure --schedule-random -j "$jobs" "$@") >"$log" 2>&1; then
    echo "run $run/$runs passed in $((SECONDS - run_started)) s (load $(cut -d' ' -f1 /proc/loadavg))"
  else
    echo "run $run/$runs FAILED after $((SECONDS - run_started)) s; log: $log"
    sed -n '/tests failed out of/,$p' "$log"
    exit 1
  fi
done
echo "all $runs runs passed in $((SECONDS - started)) s"
