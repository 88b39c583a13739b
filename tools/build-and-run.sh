#!/usr/bin/env bash
# First steps on a fresh machine: installs dependencies, builds densepack and runs the
# bundled example configuration without a window. Arguments are passed on to densepack
# instead of the example's (for example a different -c CONFIG).
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/setup-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

# The example runs with step budgets: it repeats byte for byte on any machine and under any load
# (with wall-clock limits each compaction time-out alone costs 30 s).
if [ "$#" -eq 0 ]; then set -- -c configs/spheres_box.cfg --seed 1 --limits steps; fi
mkdir -p out
exec ./build/release/bin/densepack --headless "$@"
