#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing the tool need.
# Run as root on a fresh machine; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n
  libgl-dev
  libhidapi-dev libudev-dev libmodbus-dev socat libboost-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
  xvfb xauth x11-utils fonts-dejavu-core
  clang libclang-rt-14-dev
  dpkg-dev file lintian valgrind
  # tarvenctl.exe: MinGW-w64 (posix threads), GoogleTest's source built for it, Wine for its tests
  g++-mingw-w64-x86-64-posix googletest wine wine64 python3
)

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: run as root (apt-get needs it)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${packages[@]}"
