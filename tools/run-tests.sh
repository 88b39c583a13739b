#!/usr/bin/env bash
# The whole test suite: installs dependencies, builds and tests the release build
# (benchmarks included, so they keep compiling), then builds and tests once more with
# the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${DENSEPACK_JOBS:-$(nproc)}"

./tools/setup-deps.sh

echo "== release build and tests"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

echo "== sweep and plot tools, locally and on a one-node Slurm cluster"
./tools/slurm-local.sh start > build/release/slurm-env.sh
trap './tools/slurm-local.sh stop' EXIT
(source build/release/slurm-env.sh && tests/tools/test_sweep.py build/release/bin)
./tools/slurm-local.sh stop
trap - EXIT

echo "== address+undefined sanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
