#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (GUI tests on a
# virtual X display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build
xvfb-run -a -s "-screen 0 1600x1000x24" ctest --output-on-failure -j "$(nproc)"
