#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each for a bounded time on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
seconds="${FUZZ_SECONDS:-45}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_FUZZ=ON \
  -DQUORVEX_TESTS=OFF -DQUORVEX_BENCH=OFF -DQUORVEX_SANITIZE=address,undefined >/dev/null
cmake --build build-fuzz --target comp_file_fuzz arguments_fuzz frame_fuzz image_reader_fuzz
for target in comp_file arguments frame image_reader; do
  work="$(mktemp -d)"
  cp -r "fuzz/corpus/$target/." "$work/"
  echo "== ${target}_fuzz for ${seconds}s"
  leaks=1
  # The image libraries leak on their own error paths (libpng's longjmp past
  # OpenImageIO's strings) and keep per-thread caches: checking leaks there
  # reports the libraries and slows every run to a crawl. The command's own
  # code is leak-checked by the sanitizer test runs.
  # The image reader must refuse what a header claims before allocating it:
  # any single allocation beyond 512 MB is a finding.
  limits=""
  [ "$target" = image_reader ] && leaks=0 && limits="-malloc_limit_mb=512"
  ASAN_OPTIONS=detect_leaks=$leaks LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
    "build-fuzz/bin/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 $limits -artifact_prefix="$work/" -seed=1 \
      -max_len=4096 -print_final_stats=1 "$work" 2>&1 | tail -n 12
  rm -rf "$work"
done
