#!/usr/bin/env bash
# The command's file handling against the commit before the OpenEXR route
# (OpenImageIO linked into every program, reads and writes through it, frames
# one after another), in one run on the same machine:
#   1. start-up: `quorvex-render --version`, median wall time of 10 runs;
#   2. a 48-frame 1280 x 720 sequence with depth and motion blur, --threads 2;
#   3. build/bin/file_bench: EXR reads and writes, both routes in-process.
# The earlier commit is built once into build-before/ (QUORVEX_BEFORE names
# another commit). Run from the top of the repository after scripts/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
BEFORE=${QUORVEX_BEFORE:-becf275}
NOW=build/bin/quorvex-render
OLD=build-before/bin/quorvex-render
if [ ! -x "$OLD" ]; then
  src=$(mktemp -d)
  git archive "$BEFORE" | tar -x -C "$src"
  cmake -S "$src" -B build-before -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEX_TESTS=OFF -DQUORVEX_BENCH=OFF \
    -DQUORVEX_PYTHON_MODULE=OFF > /dev/null
  cmake --build build-before -j2 --target quorvex-render quorvex
  rm -rf "$src"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== start-up: quorvex-render --version, median of 10 (ms)"
python3 - "$OLD" "$NOW" <<'PY'
import statistics, subprocess, sys, time
def median_ms(cmd):
    times = []
    for _ in range(10):
        t = time.perf_counter()
        subprocess.run([cmd, "--version"], check=True, stdout=subprocess.DEVNULL)
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times)
old, new = median_ms(sys.argv[1]), median_ms(sys.argv[2])
print(f"before {old:.1f} ms   now {new:.1f} ms   ratio {old / new:.1f}x")
PY

echo "== 48-frame 1280 x 720 sequence, --threads 2 (frames per second, best of 2)"
# Frames: the bundled example scene (R, G, B, A half; Z, VectX, VectY
# float) resized to 1280 x 720, zip.
mkdir -p "$work/in"
if command -v oiiotool > /dev/null; then
  oiiotool examples/scene.exr --resize 1280x720 --compression zip -o "$work/frame.exr"
else
  echo "oiiotool (openimageio-tools) is needed to make the 1280 x 720 frames" >&2
  exit 1
fi
for i in $(seq -w 1 48); do cp "$work/frame.exr" "$work/in/f.00$i.exr"; done
sequence() {  # binary, output folder
  mkdir -p "$2"
  python3 - "$@" <<'PY'
import subprocess, sys, time
exe, out = sys.argv[1], sys.argv[2]
work = out.rsplit("/", 1)[0]
t = time.perf_counter()
subprocess.run([exe, "--input", f"{work}/in/f.####.exr", "--output", f"{out}/f.####.exr", "--frames", "1-48",
                "--comp", "examples/example.comp", "--threads", "2", "--quiet"], check=True)
print(f"{48 / (time.perf_counter() - t):.2f}")
PY
}
best() { printf '%s\n' "$@" | sort -g | tail -1; }
o1=$(sequence "$OLD" "$work/old"); n1=$(sequence "$NOW" "$work/new")
o2=$(sequence "$OLD" "$work/old"); n2=$(sequence "$NOW" "$work/new")
old=$(best "$o1" "$o2"); new=$(best "$n1" "$n2")
echo "before $old fps ($o1, $o2)   now $new fps ($n1, $n2)   ratio $(python3 -c "print(f'{$new / $old:.2f}')")x"

echo "== EXR reads and writes (build/bin/file_bench)"
build/bin/file_bench --benchmark_min_time=0.3 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_filter="${QUORVEX_FILE_BENCH_FILTER:-.}" 2>&1 | grep -E "median|^---|^Benchmark"
