#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what the committed .clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter="$(command -v clang-format-14 || command -v clang-format)"
mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
bad=0
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  if ! "$formatter" --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f (run: $formatter -i $f)"
    bad=$((bad + 1))
  fi
done
echo "check-format: ${#files[@]} files, $bad not formatted"
[ "$bad" -eq 0 ]
