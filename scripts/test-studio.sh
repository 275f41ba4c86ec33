#!/usr/bin/env bash
# quorvex-studio in CI: installs the browser, its driver and Selenium, builds
# the studio with the module and the command, then runs the studio's unit
# tests and its browser tests (headless Chromium). Screenshots of the page go
# to build/studio-test-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
packages=(libcpp-httplib-dev chromium chromium-driver python3-selenium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target quorvex quorvex-render quorvex-studio make_example studio_tests
build/bin/studio_tests
QUORVEX_BUILD="$PWD/build" QUORVEX_STUDIO_TEST_OUT="$PWD/build/studio-test-output" \
  /usr/bin/python3 tests/studio/test_studio.py
