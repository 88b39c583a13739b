#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (the "fuzz" preset: libFuzzer with the address
# and undefined-behaviour sanitizers) and runs each one. Exit status 1 when a target crashed, hung,
# ran out of memory or broke one of its checks; the input that did it is kept under
# build/fuzz/findings/ (add it to tests/fuzz/regressions/<target>/ once the reader is mended).
#
# Two ways to run:
#   DENSEPACK_FUZZ_RUNS=N      N inputs per target with a fixed seed, starting from the committed
#                              seeds and findings only: the same inputs on every machine, so the
#                              result does not depend on its speed (the test command does this)
#   DENSEPACK_FUZZ_SECONDS=S   explore for S seconds per target (default 60 when RUNS is unset),
#                              keeping what it finds in build/fuzz/run/corpus/ for the next run
#   DENSEPACK_FUZZ_TARGETS     targets to run (default: all six)
set -euo pipefail
cd "$(dirname "$0")/.."

runs="${DENSEPACK_FUZZ_RUNS:-}"
seconds="${DENSEPACK_FUZZ_SECONDS:-60}"
targets="${DENSEPACK_FUZZ_TARGETS:-config obj spheres pointfile placement mesh}"
jobs="${DENSEPACK_JOBS:-$(nproc)}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target densepack_fuzzers

work=build/fuzz/run
findings=build/fuzz/findings
mkdir -p "$findings"
failed=()
for t in $targets; do
  seeds="$work/seeds/$t"
  rm -rf "$seeds"
  mkdir -p "$seeds"
  cp tests/fuzz/seeds/"$t"/* "$seeds"/
  case "$t" in
    config) cp configs/*.cfg "$seeds"/ ;;
    obj | mesh) cp models/*.obj "$seeds"/ ;;
    spheres) cp models/*.spheres "$seeds"/ ;;
  esac
  if [ -d tests/fuzz/regressions/"$t" ]; then cp tests/fuzz/regressions/"$t"/* "$seeds"/; fi
  # libFuzzer adds what it finds to the first folder: a scratch one for the fixed runs, so they
  # start from the same inputs every time, the kept corpus when exploring.
  if [ -n "$runs" ]; then
    corpus="$work/scratch/$t"
    rm -rf "$corpus"
    budget=(-runs="$runs" -seed=1)
    echo "== fuzz_$t: $runs inputs"
  else
    corpus="$work/corpus/$t"
    budget=(-max_total_time="$seconds")
    echo "== fuzz_$t for ${seconds} s"
  fi
  mkdir -p "$corpus"
  dict=()
  case "$t" in mesh) d=obj ;; pointfile) d=placement ;; *) d="$t" ;; esac
  if [ -f tests/fuzz/dictionaries/"$d".dict ]; then dict=(-dict=tests/fuzz/dictionaries/"$d".dict); fi
  # Leaks are findings too; the readers' own messages are not wanted on the console.
  if ! ASAN_OPTIONS="detect_leaks=1" ./build/fuzz/bin/fuzz_"$t" "${budget[@]}" -timeout=5 -rss_limit_mb=2048 \
      -max_len=8192 -close_fd_mask=3 -print_final_stats=1 "${dict[@]}" -artifact_prefix="$findings/$t-" \
      "$corpus" "$seeds" >"$work/$t.log" 2>&1; then
    failed+=("$t")
    echo "fuzz_$t: FINDING (log: $work/$t.log)"
    grep -E "ERROR|SUMMARY|fuzz check failed|Test unit written" "$work/$t.log" | head -20 || true
  else
    grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|cov: " "$work/$t.log" | tail -3 || true
  fi
done

if [ "${#failed[@]}" -ne 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing: no findings in $targets"
