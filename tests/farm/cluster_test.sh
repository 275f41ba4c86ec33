#!/usr/bin/env bash
# quorvex-farm on a running Slurm cluster (scripts/local-slurm.sh start):
#   1. 10 frames in chunks of 3 come out as the bytes a local quorvex-render writes;
#   2. a frame whose input is broken fails its task, the report names it and its
#      log, and a re-submission after mending renders only that frame;
#   3. cancel stops a running array and leaves only complete frames behind.
#
#   tests/farm/cluster_test.sh BIN_DIR
set -euo pipefail
BIN=$(cd "${1:?usage: cluster_test.sh BIN_DIR}" && pwd)
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d /tmp/quorvex-farm-test.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() {  # check "what" command...
  local what=$1
  shift
  "$@" || fail "$what"
}
contains() { grep -qF -- "$2" "$1"; }

# Waits until the scheduler has finished every listed job (60 s at most).
wait_jobs() {
  for _ in $(seq 1 300); do
    [ -z "$(squeue --noheader --jobs="$1" --format=%i 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  fail "jobs $1 still listed after 60 s"
  squeue >&2
  return 1
}

# The check job's id, from the submission record.
check_job_of() { sed -n 's/.*"check_job_id": "\([0-9]*\)".*/\1/p' "$1/job.json"; }

# The same bytes, apart from the write time OpenImageIO stamps into every EXR
# header (capDate): a frame written a second later differs there only.
same_bytes() {
  local blank='s/(capDate\0string\0.{4})\d{4}:\d\d:\d\d \d\d:\d\d:\d\d/$1<time>/s'
  cmp -s <(perl -0777 -pe "$blank" "$1") <(perl -0777 -pe "$blank" "$2")
}

"$BIN/make_example" base.exr 64 48 >/dev/null
mkdir in
for f in $(seq -f %04g 1 10); do cp base.exr "in/shot.$f.exr"; done
# A focus pull over the shot, so that every frame differs; one thread, so
# that the sums come out in the same order on the farm and here.
ARGS=(-i in/shot.####.exr -o out/shot.####.exr --frames 1-10 --comp "$SOURCE/examples/example.comp"
  --set FocusPosition=1:800,10:5000 --threads 1)
"$BIN/quorvex-render" -q "${ARGS[@]/out\//local/}"

echo "== 10 frames in chunks of 3 render as a local quorvex-render does"
job=$("$BIN/quorvex-farm" submit --engine slurm --chunk 3 -- "${ARGS[@]}")
wait_jobs "$job,$(check_job_of out/shot.farm)"
for f in $(seq -f %04g 1 10); do
  check "frame $f has the bytes of the local render" same_bytes "out/shot.$f.exr" "local/shot.$f.exr"
done
check "frame 1 and 10 differ (the pull is keyframed)" bash -c '! cmp -s local/shot.0001.exr local/shot.0010.exr'
for log in frames-0001-0003 frames-0004-0006 frames-0007-0009 frames-0010-0010; do
  check "task log $log.log" test -s "out/shot.farm/logs/$log.log"
done
check "report: all done" contains out/shot.farm/report.txt "frames done: 10 of 10"
"$BIN/quorvex-farm" status "$job" >status.txt
check "status counts the frames" contains status.txt "frames done: 10 of 10"
check "status names the report" contains status.txt "report: out/shot.farm/report.txt"

echo "== a broken input fails its task; the report names it; re-submission renders only it"
rm -rf out
mv in/shot.0005.exr good.exr
echo "not an image" >in/shot.0005.exr
job=$("$BIN/quorvex-farm" submit --engine slurm --chunk 3 --retries 1 -- "${ARGS[@]}")
wait_jobs "$job,$(check_job_of out/shot.farm)"
report=out/shot.farm/report.txt
check "report counts 9 done" contains $report "frames done: 9 of 10"
check "report counts 1 failed" contains $report "frames failed: 1"
check "report names frame 5" contains $report "frame 5: out/shot.0005.exr not written"
check "report names the task log" contains $report "task 2 log: out/shot.farm/logs/frames-0004-0006.log"
check "report quotes the log's line" contains $report "quorvex-render: frame 5: cannot read in/shot.0005.exr"
check "the failed task was tried again" contains out/shot.farm/logs/frames-0004-0006.log "attempt 2 of 2"
check "frames 4 and 6 of that task rendered" test -f out/shot.0004.exr -a -f out/shot.0006.exr
"$BIN/quorvex-farm" status "$job" >status.txt
check "the scheduler saw the task fail" contains status.txt "1 FAILED"
before=$(stat -c '%n %i %Y' out/shot.00{01,02,03,04,06,07,08,09,10}.exr)
mv good.exr in/shot.0005.exr
sleep 1
job=$("$BIN/quorvex-farm" submit --engine slurm --chunk 3 --retries 1 -- "${ARGS[@]}")
wait_jobs "$job,$(check_job_of out/shot.farm)"
check "report after re-submission: all done" contains $report "frames done: 10 of 10"
check "the nine finished frames were not rendered again" \
  test "$before" = "$(stat -c '%n %i %Y' out/shot.00{01,02,03,04,06,07,08,09,10}.exr)"
check "frame 5 has the bytes of the local render" same_bytes out/shot.0005.exr local/shot.0005.exr
check "the task kept its finished frames" contains out/shot.farm/logs/frames-0004-0006.log "frame 4 kept"

echo "== cancel stops a running array and leaves only complete frames"
mkdir cin
"$BIN/make_example" cbase.exr 320 180 >/dev/null
for f in $(seq -f %04g 1 300); do ln -s ../cbase.exr "cin/c.$f.exr"; done
job=$("$BIN/quorvex-farm" submit --engine slurm --chunk 150 -- -i cin/c.####.exr -o cout/c.####.exr \
  --frames 1-300 --comp "$SOURCE/examples/example.comp" --set MaxBlurSize=4)
for _ in $(seq 1 300); do
  [ -n "$(ls cout 2>/dev/null | grep -v farm)" ] && break
  sleep 0.1
done
"$BIN/quorvex-farm" cancel "$job" 2>cancel.txt
check "cancel reports" contains cancel.txt "cancelled job $job"
check "no task runs after cancel returns" test -z "$(squeue --noheader --array --jobs="$job" --states=PENDING,RUNNING,COMPLETING --format=%i)"
done_frames=$(ls cout | grep -c '^c\.[0-9]*\.exr$' || true)
check "cancel stopped the array before the end ($done_frames of 300 done)" test "$done_frames" -lt 300
check "no temporary is left behind" test -z "$(ls -A cout | grep tmp || true)"
wait_jobs "$(check_job_of cout/c.farm)"
check "every frame on disk reads back complete" bash -c "! grep -q 'does not read back' cout/c.farm/report.txt"
check "the report counts what is there" contains cout/c.farm/report.txt "frames done: $done_frames of 300"
check "the task log says it was cancelled" grep -qh "exit status 130" cout/c.farm/logs/frames-*.log

echo "== errors"
if "$BIN/quorvex-farm" status 999999 2>err.txt; then fail "status of an unknown job succeeds"; fi
check "unknown job is named" contains err.txt "does not know job 999999"
if "$BIN/quorvex-farm" submit --engine slurm -- -i in/shot.####.exr -o out/shot.####.exr 2>err.txt; then
  fail "submit without --frames succeeds"
fi
check "missing --frames is named" contains err.txt "need --frames"

if [ $failures -ne 0 ]; then
  echo "cluster tests: $failures failure(s)" >&2
  exit 1
fi
echo "cluster tests: all passed"
