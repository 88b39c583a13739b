#!/usr/bin/env bash
# First steps on a fresh machine: installs dependencies, builds densepack and runs the
# bundled example configuration without a window. Arguments are passed on to densepack
# (for example a different -c CONFIG).
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/setup-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

if [ "$#" -eq 0 ]; then set -- -c configs/spheres_box.cfg; fi
mkdir -p out
exec ./build/release/bin/densepack --headless "$@"
