#!/usr/bin/env bash
# Installs the Debian packages the project builds with. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake ninja-build
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libboost-thread-dev libtbb-dev
  libopenimageio-dev openimageio-tools
  libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
  libhwy-dev libopenexr-dev libdeflate-dev
  clang libclang-rt-14-dev
  pybind11-dev python3-dev python3-numpy python3-pytest
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
