#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The window tests
# need no display here: each starts an X server of its own (Xvfb) or runs on
# Qt's offscreen platform (src/app/test_main.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build
ctest --output-on-failure -j "$(nproc)"
