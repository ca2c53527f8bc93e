#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one
# for a while, starting from its seeds in fuzz/corpus/<target>/. Fails when a
# target finds a crash, a hang or a broken invariant.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 20, or QARVO_FUZZ_SECONDS); TARGET names such as
# markup_extractor (default: all). What a target adds to its corpus stays in
# build-fuzz/corpus/<target>/; a finding is written to build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-${QARVO_FUZZ_SECONDS:-20}}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(markup_extractor text_between decode_response settings_store com_regex cookie_merge
    header_names utf16_decode)
fi

bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQARVO_FUZZ=ON \
  -DQARVO_BUILD_GUI=OFF -DQARVO_BUILD_BENCH=OFF -DQARVO_BUILD_TESTS=OFF
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:abort_on_error=1:print_stacktrace=1}"

mkdir -p build-fuzz/artifacts
failed=()
for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target: ${seconds}s"
  if ! build-fuzz/fuzz/"${target}_fuzzer" "$corpus" "fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/${target}-" \
      > "build-fuzz/${target}.log" 2>&1; then
    failed+=("$target")
    tail -n 60 "build-fuzz/${target}.log"
  fi
  grep -E '^(stat::number_of_executed_units|Done)' "build-fuzz/${target}.log" || true
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs in build-fuzz/artifacts/)"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, no findings"
