#!/usr/bin/env bash
# Fails when a layer includes or links a layer above it. Layers, lowest first:
#   vectormath < collision < geometry < preprocessing < statistics < algorithms < viewer < app
# tools/, tests/ and bench/ may use anything.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

layers=(vectormath collision geometry preprocessing statistics algorithms viewer app)
declare -A rank library
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; library[${layers[$i]}]=densepack_${layers[$i]}; done
library[app]=densepack_appcore

bad=0
for layer in "${layers[@]}"; do
  [ -d "$layer" ] || { echo "check-layers: missing layer folder $layer"; bad=$((bad + 1)); continue; }
  for above in "${layers[@]}"; do
    [ "${rank[$above]}" -gt "${rank[$layer]}" ] || continue
    while IFS= read -r hit; do
      echo "climbs: $hit"
      bad=$((bad + 1))
    done < <(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]$above/" "$layer" \
               --include='*.h' --include='*.cpp' --include='*.inl' || true)
    while IFS= read -r hit; do
      echo "links upward: $hit"
      bad=$((bad + 1))
    done < <(grep -nwE "${library[$above]}" "$layer/CMakeLists.txt" | sed "s#^#$layer/CMakeLists.txt:#" || true)
  done
done
echo "check-layers: $bad upward dependencies"
[ "$bad" -eq 0 ]
