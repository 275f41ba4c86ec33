#!/usr/bin/env bash
# quorvex-render against Blender 3.4's compositor (Vector Blur then Defocus),
# whole command against the two nodes, Blender's start-up excluded: its time
# is the render with the two nodes less the render without them.
#
# 1. The synthetic frame: make_example's 1280 x 720 passes, motion of 9 to 33
#    pixels and depth blur up to about 43 pixels, both on.
# 2. A real frame: a 1280 x 720 Cycles render made now by make_real_frame.py
#    (objects near, mid and far, motion on most pixels), through a 35 mm
#    thin lens at f/1.4 focused far (5 m: the background blurred by a few
#    pixels) and near (1.5 m: the background blurred by about 28 pixels), with
#    the near/far ratio of quorvex's times.
#
#   bench/blender/compare.sh [--runs N] [--frame FILE] [--previews DIR]
#   bench/blender/compare.sh --quorvex-only [--runs N] [--frame FILE]
#
# --quorvex-only   time only quorvex-render on the real frame, near and far,
#                  N times each (interleaved), and print every time
# --runs N         repetitions per measurement (default 3; 5 with --quorvex-only);
#                  the fastest counts, as the machine may be shared
# --frame FILE     keep the real frame in FILE (with FILE.lens): made there if
#                  missing, reused if present, so repeated runs skip Cycles
# --previews DIR   write PNG previews of the real frame and of both programs'
#                  near and far results into DIR
# Needs Debian's blender package (installed on first use) and oiiotool.
set -euo pipefail
cd "$(dirname "$0")/../.."

usage() {
  echo "usage: bench/blender/compare.sh [--runs N] [--frame FILE] [--previews DIR]" >&2
  echo "       bench/blender/compare.sh --quorvex-only [--runs N] [--frame FILE]" >&2
  exit 2
}
quorvex_only=0 runs="" frame="" previews=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quorvex-only) quorvex_only=1 ;;
    --runs) [ $# -ge 2 ] || usage; runs="$2"; shift ;;
    --frame) [ $# -ge 2 ] || usage; frame="$2"; shift ;;
    --previews) [ $# -ge 2 ] || usage; previews="$2"; shift ;;
    -h|--help) usage ;;
    *) echo "compare.sh: unknown argument \"$1\"" >&2; usage ;;
  esac
  shift
done
[ -n "$runs" ] || runs=$([ $quorvex_only = 1 ] && echo 5 || echo 3)
case "$runs" in ''|*[!0-9]*|0) echo "compare.sh: --runs needs a whole number above 0, not \"$runs\"" >&2; exit 2 ;; esac
[ -x build/bin/quorvex-render ] || { echo "compare.sh: build quorvex-render first (build/bin/quorvex-render)" >&2; exit 1; }
if ! command -v blender >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "compare.sh: installing Debian's blender package" >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y blender >/dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
seconds_since() { printf "%.3f\n" "$(echo "$(date +%s.%N) - $1" | bc)"; }
fastest() { sort -n | head -1; }
ratio() { printf "%.3f" "$(echo "scale=4; $1 / $2" | bc)"; }

# Blender's compositor: MODE blur (Vector Blur then Defocus) or plain.
time_blender() {  # PASSES MODE SHUTTER FSTOP BLUR_MAX [LENS SENSOR FOCUS]
  local passes="$1" mode="$2"
  shift 2
  blender -b --factory-startup --python bench/blender/compositor.py -- "$passes" "$work/blender_$mode.exr" \
    "$mode" "$1" "$2" "$3" 1280 720 "${@:4}" 2>/dev/null | sed -n 's/^RENDER_SECONDS //p'
}
# The nodes' own time: fastest render with them less fastest without.
blender_nodes() {  # PASSES SHUTTER FSTOP BLUR_MAX [LENS SENSOR FOCUS]
  local passes="$1" b p i
  shift
  b=$(for i in $(seq "$runs"); do time_blender "$passes" blur "$@"; done | fastest)
  p=$(for i in $(seq "$runs"); do time_blender "$passes" plain "$@"; done | fastest)
  echo "$b $p $(echo "$b - $p" | bc)"
}

synthetic() {
  build/bin/make_example "$work/scene.exr" 1280 720 >/dev/null
  local shutter=0.44   # the example's motion (up to 75 px at this size) scaled to 9..33 px
  # Blender's multilayer names and conventions: depth in metres, vectors X,Y
  # towards the previous frame and Z,W from the next (so -(X + Z) / 2 = VectX).
  oiiotool "$work/scene.exr" \
    --ch "ViewLayer.Combined.R=R,ViewLayer.Combined.G=G,ViewLayer.Combined.B=B,ViewLayer.Combined.A=A,ViewLayer.Depth.Z=Z,ViewLayer.Vector.X=VectX,ViewLayer.Vector.Y=VectY,ViewLayer.Vector.Z=VectX,ViewLayer.Vector.W=VectY" \
    --mulc 1,1,1,1,0.001,-1,-1,-1,-1 -d float -o "$work/passes.exr"
  time_quorvex() {
    local start
    start=$(date +%s.%N)
    build/bin/quorvex-render -i "$work/passes.exr" -o "$work/quorvex.exr" --vectors blender --depth-scale 1000 -q \
      --set EnableDepth=on --set SettingsType=Advanced --set FocusPosition=2000 --set FocalLength=50 \
      --set FStop=1.53 --set "Scale Velocity=$shutter"
    seconds_since "$start"
  }
  local q b p net
  q=$(for i in $(seq "$runs"); do time_quorvex; done | fastest)
  # Defocus limits the blur's radius: half of quorvex's 43-pixel diameter.
  read -r b p net < <(blender_nodes "$work/passes.exr" "$shutter" 1.53 21.5)
  echo "Synthetic frame (make_example, 1280 x 720, motion and depth):"
  echo "  quorvex-render, whole command:           ${q} s"
  echo "  Blender render with Vector Blur+Defocus: ${b} s (plain render ${p} s; nodes ${net} s)"
  echo "  ratio (quorvex / Blender nodes):         $(ratio "$q" "$net")"
}

# --- the real frame --------------------------------------------------------
[ -n "$frame" ] || frame="$work/real.exr"
if [ ! -s "$frame" ] || [ ! -s "$frame.lens" ]; then
  echo "Rendering the real frame with Cycles (about 10 to 40 s on 2 cores)..." >&2
  mkdir -p "$(dirname "$frame")"
  blender -b --factory-startup --python-exit-code 1 --python bench/blender/make_real_frame.py -- "$work/new.exr" \
    >"$work/make.log" 2>&1 && [ -s "$work/new.exr" ] || {
    grep -v '^Fra:' "$work/make.log" | tail -20 >&2
    echo "compare.sh: the real frame could not be rendered" >&2
    exit 1
  }
  grep '^LENS ' "$work/make.log" >"$work/new.lens"
  # Put the frame in place only once it is whole.
  mv "$work/new.exr" "$frame"
  mv "$work/new.lens" "$frame.lens"
  echo "  Cycles render: $(sed -n 's/^RENDER_SECONDS //p' "$work/make.log") s" >&2
fi
lens_value() {
  local v
  v=$(awk -v k="$1" '$1 == "LENS" && $2 == k { print $3 }' "$frame.lens")
  [ -n "$v" ] || { echo "compare.sh: $frame.lens lacks \"$1\"" >&2; exit 1; }
  echo "$v"
}
focal=$(lens_value focal_length_mm)
sensor=$(lens_value sensor_width_mm)
fstop=$(lens_value fstop)
near=$(lens_value focus_near_m)
far=$(lens_value focus_far_m)
real_shutter=0.5   # a 180-degree shutter: half of the frame-to-frame motion
# The thin lens's blur diameter for a point at infinity, in pixels of the
# 1280-wide frame: W * F^2 / ((S - F) * filmback * N). It is quorvex's
# largest blur (nearer points are held to it too); half of it limits the
# radius of Blender's Defocus.
infinity_blur() { awk -v s="$1" -v f="$focal" -v w="$sensor" -v n="$fstop" \
  'BEGIN { printf "%.1f", 1280 * f * f / ((s * 1000 - f) * w * n) }'; }

time_quorvex_real() {  # FOCUS_M OUT [extra options]; the render's own ms go to $work/stats
  local start focus="$1" out="$2"
  shift 2
  start=$(date +%s.%N)
  build/bin/quorvex-render -i "$frame" -o "$out" --vectors blender --stats "$@" \
    --set EnableDepth=on --set SettingsType=Advanced --set DepthMapUnits=meter --set "FocusPosition=$focus" \
    --set "FocalLength=$focal" --set "FStop=$fstop" --set "FilmbackWidth=$sensor" \
    --set "Scale Velocity=$real_shutter" 2>"$work/stats" >/dev/null || {
    cat "$work/stats" >&2
    echo "compare.sh: quorvex-render failed on the real frame" >&2
    exit 1
  }
  seconds_since "$start"
}
render_ms() { sed -n 's/.*, render \([0-9]*\) ms,.*/\1/p' "$work/stats"; }

lens_line="Real frame (Cycles, 1280 x 720): ${focal} mm lens, ${sensor} mm filmback, f/${fstop}, shutter ${real_shutter}"
if [ $quorvex_only = 1 ]; then
  echo "$lens_line"
  for which in near far; do : >"$work/$which"; : >"$work/${which}_ms"; done
  for i in $(seq "$runs"); do
    for which in near far; do
      time_quorvex_real "${!which}" "$work/q.exr" >>"$work/$which"
      render_ms >>"$work/${which}_ms"
    done
  done
  for which in near far; do
    printf "  focused %-4s (%s m), whole command: %s-> fastest %s s\n" "$which" "${!which}" \
      "$(tr '\n' ' ' <"$work/$which")" "$(fastest <"$work/$which")"
    printf "  focused %-4s (%s m), render alone (ms): %s-> fastest %s ms\n" "$which" "${!which}" \
      "$(tr '\n' ' ' <"$work/${which}_ms")" "$(fastest <"$work/${which}_ms")"
  done
  echo "  ratio near / far, whole command: $(ratio "$(fastest <"$work/near")" "$(fastest <"$work/far")")"
  echo "  ratio near / far, render alone:  $(ratio "$(fastest <"$work/near_ms")" "$(fastest <"$work/far_ms")")"
  exit 0
fi

synthetic
echo "$lens_line"
for which in far near; do
  focus=${!which}
  limit=$(infinity_blur "$focus")
  radius=$(echo "scale=2; $limit / 2" | bc)
  : >"$work/$which"; : >"$work/${which}_ms"
  for i in $(seq "$runs"); do
    time_quorvex_real "$focus" "$work/quorvex_$which.exr" >>"$work/$which"
    render_ms >>"$work/${which}_ms"
  done
  q=$(fastest <"$work/$which")
  read -r b p net < <(blender_nodes "$frame" "$real_shutter" "$fstop" "$radius" "$focal" "$sensor" "$focus")
  [ -z "$previews" ] || { mkdir -p "$previews"
    oiiotool "$work/blender_blur.exr" --ch R,G,B --colorconvert linear sRGB -d uint8 -o "$previews/blender_$which.png"; }
  echo "  focused $which (${focus} m; depth blur up to ${limit} px across):"
  echo "    quorvex-render, whole command:           ${q} s (its render alone $(fastest <"$work/${which}_ms") ms)"
  echo "    Blender render with Vector Blur+Defocus: ${b} s (plain render ${p} s; nodes ${net} s)"
  echo "    ratio (quorvex / Blender nodes):         $(ratio "$q" "$net")"
done
echo "  quorvex near / far, whole command:         $(ratio "$(fastest <"$work/near")" "$(fastest <"$work/far")")"
echo "  quorvex near / far, render alone:          $(ratio "$(fastest <"$work/near_ms")" "$(fastest <"$work/far_ms")")"
if [ -n "$previews" ]; then
  rgb() { oiiotool "$1" --ch ViewLayer.Combined.R,ViewLayer.Combined.G,ViewLayer.Combined.B --colorconvert linear sRGB \
    -d uint8 -o "$2"; }
  rgb "$frame" "$previews/real_frame.png"
  for which in far near; do rgb "$work/quorvex_$which.exr" "$previews/quorvex_$which.png"; done
  echo "Previews in $previews"
fi
