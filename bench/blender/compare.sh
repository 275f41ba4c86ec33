#!/usr/bin/env bash
# A whole quorvex-render command against Blender's compositor (Vector Blur
# then Defocus) on the same 1280 x 720 passes: motion of 9 to 33 pixels and
# depth blur up to about 43 pixels, both on. Blender's start-up is excluded:
# its time is the render with the two nodes less the render without them.
#   bench/blender/compare.sh      (needs Debian's blender package)
set -euo pipefail
cd "$(dirname "$0")/../.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
build/bin/make_example "$work/scene.exr" 1280 720 >/dev/null
shutter=0.44   # the example's motion (up to 75 px at this size) scaled to 9..33 px
# Blender's multilayer names and conventions: depth in metres, vectors X,Y
# towards the previous frame and Z,W from the next (so -(X + Z) / 2 = VectX).
oiiotool "$work/scene.exr" \
  --ch "ViewLayer.Combined.R=R,ViewLayer.Combined.G=G,ViewLayer.Combined.B=B,ViewLayer.Combined.A=A,ViewLayer.Depth.Z=Z,ViewLayer.Vector.X=VectX,ViewLayer.Vector.Y=VectY,ViewLayer.Vector.Z=VectX,ViewLayer.Vector.W=VectY" \
  --mulc 1,1,1,1,0.001,-1,-1,-1,-1 -d float -o "$work/passes.exr"

time_quorvex() {
  local start end
  start=$(date +%s.%N)
  build/bin/quorvex-render -i "$work/passes.exr" -o "$work/quorvex.exr" --vectors blender --depth-scale 1000 -q \
    --set EnableDepth=on --set SettingsType=Advanced --set FocusPosition=2000 --set FocalLength=50 \
    --set FStop=1.53 --set "Scale Velocity=$shutter"
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
time_blender() {
  blender -b --factory-startup --python bench/blender/compositor.py -- "$work/passes.exr" "$work/blender_$1.exr" \
    "$1" "$shutter" 1.53 43 1280 720 2>/dev/null | sed -n 's/^RENDER_SECONDS //p'
}
q=$(for i in 1 2 3; do time_quorvex; done | sort -n | head -1)
b=$(for i in 1 2 3; do time_blender blur; done | sort -n | head -1)
p=$(for i in 1 2 3; do time_blender plain; done | sort -n | head -1)
bc_net=$(echo "$b - $p" | bc)
echo "quorvex-render, whole command:           ${q} s"
echo "Blender render with Vector Blur+Defocus: ${b} s (plain render ${p} s; nodes ${bc_net} s)"
echo "ratio (quorvex / Blender nodes):         $(echo "scale=3; $q / $bc_net" | bc)"
