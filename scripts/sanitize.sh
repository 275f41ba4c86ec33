#!/usr/bin/env bash
# The test suite under AddressSanitizer with UndefinedBehaviorSanitizer (leaks
# reported), then the threaded suites under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
jobs="$(nproc)"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_BENCH=OFF \
  -DQUORVEX_SANITIZE=address,undefined >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_BENCH=OFF \
  -DQUORVEX_SANITIZE=thread >/dev/null
cmake --build build-tsan --target host_tests motion_tests process_tests engine_tests
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L 'host_tests|motion_tests|process_tests|engine_tests'
