#!/usr/bin/env bash
# The command's hostile-input tests (docs/reliability.md): builds the command
# and its test programs, mounts a small full tmpfs for the full-disk test
# where the machine allows it, and runs the app and end-to-end suites.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target quorvex-render app_tests e2e_tests

full="$(mktemp -d)"
cleanup() {
  umount "$full" 2>/dev/null || true
  rm -rf "$full"
}
trap cleanup EXIT
if [ "$(id -u)" -eq 0 ] && mount -t tmpfs -o size=128k tmpfs "$full" 2>/dev/null; then
  echo old >"$full/keep.png"
  dd if=/dev/zero of="$full/filler" bs=4k 2>/dev/null || true  # until the disk is full
  export QUORVEX_FULL_DISK_DIR="$full"
else
  echo "(no tmpfs can be mounted here: the full-disk test is skipped; the file-size-limit tests still run)"
fi
build/bin/app_tests
build/bin/e2e_tests --gtest_filter='Reliability.*'
