#!/usr/bin/env bash
# Installs every Debian package densepack needs to build, test and benchmark.
# Nothing is fetched from anywhere but the Debian archive.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libglm-dev freeglut3-dev libglew-dev libgl1-mesa-dev libglu1-mesa-dev
  libgl1-mesa-dri mesa-utils
  xvfb xauth x11-utils xdotool imagemagick
  libfcl-dev libbullet-dev
  clang-format-14 clang-14 libclang-rt-14-dev
  slurm-wlm munge parallel python3 python3-matplotlib python3-numpy
  python3-gsd python3-vtk9 pybind11-dev python3-dev python3-pytest
  nlohmann-json3-dev
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup-deps: all ${#PACKAGES[@]} packages already installed"
  exit 0
fi

echo "setup-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
