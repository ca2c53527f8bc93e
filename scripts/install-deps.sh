#!/usr/bin/env bash
# Installs the Debian packages this project builds, tests and runs with.
# Only what is missing is installed; uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev llvm
  qt6-base-dev qt6-webengine-dev libqt6opengl6-dev
  libcurl4-openssl-dev libpcre2-dev zlib1g-dev libopencc-dev opencc libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libgumbo-dev
  xvfb xauth x11-utils fonts-wqy-microhei libgl1-mesa-dri
  libcli11-dev libssl-dev openssl qt6-translations-l10n desktop-file-utils appstream
  dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
