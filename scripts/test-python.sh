#!/usr/bin/env bash
# CI: the quorvex Python module (pytest, on Debian's own /usr/bin/python3) and
# the Blender add-on (a tiny Cycles frame rendered through it, checked
# against quorvex-render). Installs Debian's blender on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
if ! dpkg-query -W -f='${Status}' blender 2>/dev/null | grep -q "install ok installed"; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  start=$SECONDS
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y blender >/dev/null
  echo "test-python: installed blender in $((SECONDS - start)) s"
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target quorvex-render quorvex _quorvex
export QUORVEX_BUILD_DIR="$PWD/build"
start=$SECONDS
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python
echo "test-python: pytest took $((SECONDS - start)) s"
start=$SECONDS
blender -b --factory-startup --python-exit-code 1 --python tests/blender/render_with_addon.py > build/blender-test.log 2>&1 || {
  grep -v '^Fra:' build/blender-test.log | tail -40
  exit 1
}
grep -E "^(Quorvex|Saved)" build/blender-test.log
echo "test-python: Blender test took $((SECONDS - start)) s"
