#!/usr/bin/env bash
# Builds everything and renders the bundled example with depth and motion blur.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
build/bin/quorvex-render --input examples/scene.exr --comp examples/example.comp \
  --output out/example.exr --preview out/example.png
