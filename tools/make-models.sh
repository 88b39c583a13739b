#!/usr/bin/env bash
# Regenerates every OBJ and .spheres file under models/ with the built tools.
# usage: tools/make-models.sh [BUILD_DIR [MODELS_DIR]]   (defaults: build-tools, models)
# An object's tree is built from "<name>_l.obj" when that exists, because that is the mesh
# the program loads in its place; containers use the plain "<name>.obj". Object trees are covers
# to a depth tolerance (TOLERANCE, default 0.01 of the thickness; the sphere and the M&M 0.005:
# two covers to 1 % let two objects cross by up to twice that, 1.27 % for two coarse spheres and
# 1.32 % for two M&Ms in the density study); within 6 % of the thickness of a sharp edge
# EDGE_TOLERANCE (default 0.006) and of a sharp corner CORNER_TOLERANCE (default 0.003): a cube's
# corner pressed into a face, or two edges crossing, crossed by up to 1.48 % of the thickness with
# 1 % there. Only the cube, the tetrahedron and the cylinder have such features. Containers keep
# their mode.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build-tools}"
OUT="${2:-$ROOT/models}"
GEN="$BUILD/bin/densepack-modelgen"
SPHERES="$BUILD/bin/densepack-spheres"
THREADS="${THREADS:-$(nproc)}"
TOLERANCE="${TOLERANCE:-0.01}"
EDGE_TOLERANCE="${EDGE_TOLERANCE:-0.006}"
CORNER_TOLERANCE="${CORNER_TOLERANCE:-0.003}"

OBJECTS=(sphere cube mm prolate tetrahedron cylinder torus)
CONTAINERS=(box cylinder_container sphere_container)

for tool in "$GEN" "$SPHERES"; do
  [ -x "$tool" ] || { echo "make-models: $tool not built" >&2; exit 1; }
done
mkdir -p "$OUT"
"$GEN" "$OUT"
for name in "${OBJECTS[@]}"; do
  mesh="$OUT/$name.obj"
  [ -f "$OUT/${name}_l.obj" ] && mesh="$OUT/${name}_l.obj"
  tolerance="$TOLERANCE"
  [ "$name" = sphere ] && tolerance="${SPHERE_TOLERANCE:-0.005}"
  [ "$name" = mm ] && tolerance="${MM_TOLERANCE:-0.005}"
  "$SPHERES" --threads "$THREADS" --tolerance "$tolerance" --edge-tolerance "$EDGE_TOLERANCE" \
    --corner-tolerance "$CORNER_TOLERANCE" --max-spheres 5000 "$mesh" "$OUT/$name.spheres"
done
for name in "${CONTAINERS[@]}"; do
  "$SPHERES" --threads "$THREADS" --container "$OUT/$name.obj" "$OUT/$name.spheres"
done
