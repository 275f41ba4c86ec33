#!/usr/bin/env bash
# CI: quorvex-farm on a real one-node Slurm cluster started on this machine
# (scripts/local-slurm.sh), stopped again when the tests end. About a minute
# once the project is built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target quorvex-render quorvex-farm make_example
scripts/local-slurm.sh start
trap 'scripts/local-slurm.sh stop' EXIT
eval "$(scripts/local-slurm.sh env)"
tests/farm/cluster_test.sh build/bin
