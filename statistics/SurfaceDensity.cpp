// Surface density: how much of a thin shell along the inside of the container wall the objects
// fill, the shell lying between the wall and a copy of the container shrunk by 1 - epsilon.
//
// Measured on the exact meshes, not on the sphere trees: summed per leaf, the shell volume of a
// tree whose leaves overlap one another counts their shared volume once per leaf, and no tree
// holds the layer under the surface that its tolerance leaves uncovered. Weighting each leaf by
// its share of the tree's volume would be right only where leaves overlap evenly, and they do
// not: near a flat face few overlap, inside many.

#include <iostream>
#include <vector>

#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "statistics/ShellVolume.h"
#include "statistics/Statistics.h"

namespace {
/// Sample points per object type: the stratified estimate of a wall object's share in the shell
/// is then within about 0.5 % of its volume (tests/statistics), far below what the packings vary.
constexpr size_t kPointsPerType = 8192;

bool BuildMesh(const col::ColGeometry* g, col::ExactMesh& out) {
    return g != nullptr && out.build(g->getPoints(), g->getPrimitives());
}
}  // namespace

namespace Packing {

float SurfaceDensity(const PackingView& view, float epsilon) {
    // The shell between the container and its shrunk copy is empty for epsilon 0 and turns the
    // copy inside out from 1 on; neither has a density.
    if (!(epsilon > 0.0f && epsilon < 1.0f)) {
        std::cerr << "Surface density needs an epsilon between 0 and 1 (got " << epsilon << "); reported as 0"
                  << std::endl;
        return 0.0f;
    }
    const MovingObject* container = view.container;
    col::ExactMesh wall;
    if (!BuildMesh(container->m_geometry, wall)) return 0.0f;
    // The shell belongs to the container at its own size, whatever scale a heuristic left on it.
    const float s = 1.0f - epsilon;
    const Shell shell(wall, container->m_translationMatrix * container->m_rotationMatrix, s);

    // Types are sampled when their first object needs them.
    const std::vector<PackingObjectInfo>& types = *view.types;
    std::vector<VolumeSamples> samples(types.size());
    std::vector<bool> sampled(types.size(), false);
    double filled = 0.0;
    for (const MovingObject* o : *view.placedObjects) {
        const size_t t = static_cast<size_t>(o->m_typeIndex);
        if (!sampled[t]) {
            col::ExactMesh mesh;
            if (BuildMesh(types[t].geometry, mesh)) samples[t] = SampleVolume(mesh, types[t].volume, kPointsPerType);
            sampled[t] = true;
        }
        filled += shell.objectVolume(samples[t], o->m_modelMatrix);
    }
    const float volume = container->m_volume;
    return static_cast<float>(filled / double(volume - s * s * s * volume));
}

}  // namespace Packing
