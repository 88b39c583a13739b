#pragma once
// Object mode: fills the inside of a closed mesh with non-overlapping spheres, always placing
// the largest empty sphere that the candidate grid and a local search can find.
#include <vector>

#include "MeshDistance.h"

namespace spheres {

struct ObjectFillSettings {
    int maxSpheres = 2000;
    double minRadius = 0.0;  ///< stop once the largest empty sphere is not larger than this
    int gridCells = 100;     ///< candidate spacing = longest box extent / gridCells
    int threads = 1;
};

/// Spheres in placement order (non-increasing radius up to the local search's gains).
std::vector<Sphere> FillObject(const MeshDistance& mesh, const ObjectFillSettings& settings);

}  // namespace spheres
