#pragma once
// Container mode: covers the outside of the container mesh, out to its bounding box enlarged
// by a margin, with (overlapping) spheres that reach at most `intrusion` into the inside.
//
// Coverage guarantee, by construction:
//  1. Wall: every point of the mesh surface lies inside some sphere with at least
//     surfaceMargin to spare (checked exactly: a sub-triangle counts as covered only when its
//     three corners lie inside one sphere shrunk by the margin). Hence any probe sphere that
//     touches the wall from the inside overlaps a leaf.
//  2. Shell: the same sphere also holds the sub-triangle's corners moved outward along the
//     vertex normals by shellDepth, so the layer just outside the wall is covered too.
//  3. Far region: an octree over the enlarged box marks every cell as inside the mesh, within
//     shellDepth/2 of the wall (left to 2), inside one existing sphere, or gives it a sphere
//     of its own; so every point farther out than shellDepth/2 is covered exactly.
// No sphere reaches deeper than `intrusion` into the inside: a sphere with centre c has radius
// at most (signed distance of c to the wall, positive outside) + intrusion.
#include <vector>

#include "MeshDistance.h"

namespace spheres {

struct ContainerCoverSettings {
    double margin = 1.5;      ///< band width beyond the mesh's bounding box
    double intrusion = 0.01;  ///< how far a sphere may reach into the inside
    int threads = 1;
};

struct ContainerCover {
    std::vector<Sphere> spheres;
    int wallSpheres = 0;  ///< the first wallSpheres entries cover the wall, the rest the band
    int wallGaps = 0;     ///< wall pieces no sphere could hold (0 for the bundled containers)
};

ContainerCover CoverContainer(const MeshDistance& mesh, const ContainerCoverSettings& settings);

/// Share of random band points (outside the mesh, inside the enlarged box) covered by spheres.
double BandCoverage(const MeshDistance& mesh, const std::vector<Sphere>& spheres, double margin, int samples,
                    int threads);

}  // namespace spheres
