#!/usr/bin/env bash
# The whole test suite: installs dependencies, builds and tests the release build
# (benchmarks included, so they keep compiling), then builds and tests once more with
# the address and undefined-behaviour sanitizers, runs the threaded tests (collision
# pipelines, the window, the end-to-end run) under the thread sanitizer, and sends
# DENSEPACK_FUZZ_RUNS (default 100000) inputs with a fixed seed through the fuzz target of
# every reader of outside input.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${DENSEPACK_JOBS:-$(nproc)}"
export DENSEPACK_JOBS="$jobs"

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

echo "== thread sanitizer: pipelines, window and end-to-end run"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target test_collision test_viewer test_algorithms densepack
# Every process writes its reports to a file, so a report from a window the test ends with a
# signal (which never reaches the sanitizer's exit status) still fails the suite.
reports="$PWD/build/tsan/reports"
rm -rf "$reports" && mkdir -p "$reports"
TSAN_OPTIONS="suppressions=$PWD/tests/viewer/tsan.supp log_path=$reports/report" \
  ctest --preset tsan -j "$jobs" -R '^(CollisionPipeline\.|ViewWindow\.|EndToEnd\.|Compressor\.Sweeps)'
if compgen -G "$reports/report.*" >/dev/null; then
  cat "$reports"/report.*
  echo "thread sanitizer reports above" >&2
  exit 1
fi

echo "== fuzzing the readers"
# A fixed number of inputs, so the result does not depend on the machine's speed; longer,
# exploring runs are tools/run-fuzzers.sh on its own.
DENSEPACK_FUZZ_RUNS="${DENSEPACK_FUZZ_RUNS:-100000}" ./tools/run-fuzzers.sh
