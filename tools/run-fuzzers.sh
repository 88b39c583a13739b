#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (the "fuzz" preset: libFuzzer with the address
# and undefined-behaviour sanitizers) and runs each for a fixed time. Exit status 1 when a target
# crashed, hung, ran out of memory or broke one of its checks; the input that did it is kept
# under build/fuzz/findings/ (add it to tests/fuzz/regressions/<target>/ once the reader is mended).
#
#   DENSEPACK_FUZZ_SECONDS  run time per target (default 60)
#   DENSEPACK_FUZZ_TARGETS  targets to run (default: all six)
set -euo pipefail
cd "$(dirname "$0")/.."

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
  # The corpus grows from run to run; the seeds are the committed ones and the bundled files.
  corpus="$work/corpus/$t" seeds="$work/seeds/$t"
  rm -rf "$seeds"
  mkdir -p "$corpus" "$seeds"
  cp tests/fuzz/seeds/"$t"/* "$seeds"/
  case "$t" in
    config) cp configs/*.cfg "$seeds"/ ;;
    obj | mesh) cp models/*.obj "$seeds"/ ;;
    spheres) cp models/*.spheres "$seeds"/ ;;
  esac
  regressions=()
  if [ -d tests/fuzz/regressions/"$t" ]; then regressions=(tests/fuzz/regressions/"$t"); fi
  dict=()
  case "$t" in mesh) d=obj ;; pointfile) d=placement ;; *) d="$t" ;; esac
  if [ -f tests/fuzz/dictionaries/"$d".dict ]; then dict=(-dict=tests/fuzz/dictionaries/"$d".dict); fi
  echo "== fuzz_$t for ${seconds} s"
  # Leaks are findings too; the readers' own messages are not wanted on the console.
  if ! ASAN_OPTIONS="detect_leaks=1" ./build/fuzz/bin/fuzz_"$t" -max_total_time="$seconds" -timeout=5 \
      -rss_limit_mb=2048 -max_len=8192 -close_fd_mask=3 -print_final_stats=1 "${dict[@]}" \
      -artifact_prefix="$findings/$t-" "$corpus" "$seeds" "${regressions[@]}" >"$work/$t.log" 2>&1; then
    failed+=("$t")
    echo "fuzz_$t: FINDING (log: $work/$t.log)"
    grep -E "ERROR|SUMMARY|fuzz check failed|Test unit written" "$work/$t.log" | head -20 || true
  else
    grep -E "stat::number_of_executed_units|cov: " "$work/$t.log" | tail -2 || true
  fi
done

if [ "${#failed[@]}" -ne 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing: no findings in $targets"
