#!/usr/bin/env bash
# Measures the program's start: the time from launch until its main window is
# viewable on the X display, and its resident memory once it has settled
# (before the browser is first used; the browser module must not be loaded).
# Runs under xvfb-run when no display is set. Prints each run and the medians;
# exits non-zero when a median misses its target (0.5 s, 120 MB).
#
#   scripts/measure-startup.sh [runs]        (default 5; builds build-bench/ first)
#   WARM=1 scripts/measure-startup.sh        (keep the page cache: a warm start)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

if [ -z "${DISPLAY:-}" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARVO_BUILD_BENCH=ON >/dev/null
  cmake --build build-bench -j "$(nproc)" --target qarvo-dorvane qarvo-browser >/dev/null
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi

program=build-bench/src/app/qarvo-dorvane
[ -x "$program" ] || { echo "no $program; run without DISPLAY set to build it" >&2; exit 1; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# A window of the program, titled "... v1.2.0.0 - ...", that X reports viewable.
window_viewable() {
  local id
  for id in $(xwininfo -root -tree 2>/dev/null | awk '/v1\.2\.0\.0 - / {print $1}'); do
    if xwininfo -id "$id" 2>/dev/null | grep -q IsViewable; then
      return 0
    fi
  done
  return 1
}

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

starts=()
residents=()
for run in $(seq 1 "$runs"); do
  # Cold as far as this machine allows: drop the page cache when permitted.
  cold="warm cache"
  if [ -z "${WARM:-}" ] && sync && echo 3 2>/dev/null >/proc/sys/vm/drop_caches; then
    cold="page cache dropped"
  fi
  begin=$(now_ms)
  "$program" >/dev/null 2>&1 &
  pid=$!
  visible=-1
  while [ $(($(now_ms) - begin)) -lt 10000 ]; do
    if window_viewable; then
      visible=$(($(now_ms) - begin))
      break
    fi
  done
  if [ "$visible" -lt 0 ]; then
    kill "$pid" 2>/dev/null || true
    echo "run $run: the window never showed" >&2
    exit 1
  fi
  # Let it settle (fonts, first paints, the header animation), then look.
  sleep 1
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  if grep -q WebEngine "/proc/$pid/maps"; then
    echo "run $run: the browser module is loaded before the browser is used" >&2
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "run $run: window viewable after ${visible} ms, ${rss} kB resident (${cold})"
  starts+=("$visible")
  residents+=("$rss")
done

start_ms=$(printf '%s\n' "${starts[@]}" | median)
rss_kb=$(printf '%s\n' "${residents[@]}" | median)
rss_mb=$(awk -v k="$rss_kb" 'BEGIN {printf "%.1f", k / 1024}')
verdict() { if [ "$1" = 1 ]; then echo met; else echo MISSED; fi; }
start_ok=$(awk -v v="$start_ms" 'BEGIN {print (v <= 500) ? 1 : 0}')
rss_ok=$(awk -v v="$rss_kb" 'BEGIN {print (v <= 120 * 1024) ? 1 : 0}')
echo
echo "median over $runs runs:"
echo "  start to a viewable window: ${start_ms} ms   (target <= 500 ms: $(verdict "$start_ok"))"
echo "  resident memory, settled:   ${rss_mb} MB   (target <= 120 MB: $(verdict "$rss_ok"))"
[ "$start_ok" = 1 ] && [ "$rss_ok" = 1 ]
