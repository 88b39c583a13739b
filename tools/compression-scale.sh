#!/usr/bin/env bash
# The compression at scale: one bundled shape (SHAPE: sphere, mm, cube, torus...; default sphere)
# in a WIDTH x WIDTH x WIDTH box (default 22, about 10,000 spheres), made here with
# densepack-modelgen and densepack-spheres, with the default [Compression] settings and a
# wall-clock limit of LIMIT seconds (default 900). Prints the run's line, its wall time and peak
# memory, and the exact-mesh analysis (global and bulk fraction, order, worst penetration).
# EXTRA adds words to the [Compression] line (say EXTRA="threads=1").
# usage: tools/compression-scale.sh [BUILD_DIR [OUT_DIR [SEED]]]   (defaults: build/release, out/scale, 1)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BIN="${1:-$ROOT/build/release}/bin"
OUT="${2:-$ROOT/out/scale}"
SEED="${3:-1}"
SHAPE="${SHAPE:-sphere}"
WIDTH="${WIDTH:-22}"
LIMIT="${LIMIT:-900}"
EXTRA="${EXTRA:-}"
MODE="${MODE:-time}"
mkdir -p "$OUT"
BOX="box$WIDTH"
[ -f "$OUT/$BOX.spheres" ] || {
  "$BIN/densepack-modelgen" --box "$OUT" "$BOX" "$WIDTH" "$WIDTH" "$WIDTH"
  "$BIN/densepack-spheres" --container "$OUT/$BOX.obj" "$OUT/$BOX.spheres" >/dev/null
}
for f in "$SHAPE.obj" "${SHAPE}_l.obj" "$SHAPE.spheres"; do
  [ -f "$ROOT/models/$f" ] && cp "$ROOT/models/$f" "$OUT/"
done
NAME="${SHAPE}_${WIDTH}_s${SEED}"
cat >"$OUT/$NAME.cfg" <<CFG
[Construction Heuristic]
CompressionAlgorithm $OUT/$NAME.txt
[Improvement Heuristic]
None $OUT/${NAME}_improvement.txt
[Compression]
limitSeconds=$LIMIT $EXTRA
[Preprocessing]
$OUT/points_$WIDTH.txt smallest 2 2
[ModelPath]
$OUT/
[Container]
$BOX 0.8 0.8 0.8 0.2
[Objects]
$SHAPE 100 0.9 0.3 0.2 1.0
CFG
rm -f "$OUT/$NAME.txt"
/usr/bin/time -f "wall %e s, peak memory %M kB" "$BIN/densepack" -c "$OUT/$NAME.cfg" --headless --seed "$SEED" \
  --limits "$MODE" --quiet 2>"$OUT/$NAME.stderr" | grep -E "^Compression: " || true
tail -n 1 "$OUT/$NAME.stderr"
"$BIN/densepack-analyze" "$OUT/$NAME.cfg" "$OUT/$NAME.txt" | head -n 12
