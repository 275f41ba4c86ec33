#!/usr/bin/env bash
# Builds the engine and its tests for arm64 with Debian's cross compiler and
# runs them under qemu-user at every level qemu offers (SVE2, SVE, NEON,
# scalar).
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
packages=(g++-aarch64-linux-gnu qemu-user libhwy-dev:arm64 libboost-thread-dev:arm64 libtbb-dev:arm64
  libgtest-dev:arm64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -qx arm64 || $SUDO dpkg --add-architecture arm64
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
fi
cmake -S . -B build-arm64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEX_ENGINE_ONLY=ON \
  -DCMAKE_TOOLCHAIN_FILE=scripts/aarch64-toolchain.cmake >/dev/null
cmake --build build-arm64
# Emulated floating point is slow and qemu-user starts no threads here: the
# same kinds of frame, a few rows high, on one thread.
QUORVEX_TEST_EMULATED=1 qemu-aarch64 -L /usr/aarch64-linux-gnu build-arm64/bin/engine_tests
