#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, builds a Release
# without the tests into build-package/, and makes
# build-package/qarvo-dorvane_<version>_<arch>.deb
# (install it with: sudo apt install ./build-package/qarvo-dorvane_*.deb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQARVO_BUILD_TESTS=OFF -DQARVO_BUILD_BENCH=OFF "$@"
cmake --build build-package -j "$(nproc)"
(cd build-package && cpack -G DEB)
ls -1 build-package/qarvo-dorvane_*.deb
