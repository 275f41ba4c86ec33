#!/usr/bin/env bash
# Wall time of a 100-frame 1280 x 720 sequence through quorvex-farm on the
# local Slurm cluster against one quorvex-render --frames command.
#
#   scripts/local-slurm.sh start && eval "$(scripts/local-slurm.sh env)"
#   bench/farm_vs_local.sh build/bin [FRAMES] [CHUNK]
set -euo pipefail
BIN=$(cd "${1:?usage: farm_vs_local.sh BIN_DIR [FRAMES] [CHUNK]}" && pwd)
FRAMES=${2:-100}
CHUNK=${3:-10}
COMP=$(cd "$(dirname "$0")/.." && pwd)/examples/example.comp
WORK=$(mktemp -d /tmp/quorvex-farm-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
mkdir in
"$BIN/make_example" base.exr 1280 720 >/dev/null
for f in $(seq -f %04g 1 "$FRAMES"); do cp base.exr "in/shot.$f.exr"; done
seconds() { echo "$(($(date +%s%N) / 1000000))"; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
t0=$(seconds)
"$BIN/quorvex-farm" submit --engine slurm --chunk "$CHUNK" -- -i in/shot.####.exr -o farm/shot.####.exr \
  --frames "1-$FRAMES" --comp "$COMP" -q >/dev/null
while [ -n "$(squeue --noheader --format=%i)" ]; do sleep 0.5; done
t1=$(seconds)
echo "farm ($CHUNK frames a task, check job included): $(((t1 - t0) / 1000)).$(((t1 - t0) % 1000 / 100)) s"
grep "frames done" farm/shot.farm/report.txt
t0=$(seconds)
"$BIN/quorvex-render" -i in/shot.####.exr -o local/shot.####.exr --frames "1-$FRAMES" --comp "$COMP" -q
t1=$(seconds)
echo "one quorvex-render --frames 1-$FRAMES: $(((t1 - t0) / 1000)).$(((t1 - t0) % 1000 / 100)) s"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
