#pragma once
// In-memory scenes for the statistics tests: box object types whose tree is one sphere, and a
// box container whose outside is covered by six huge spheres, so an object overlaps the
// container exactly where its sphere crosses a wall plane (curvature about 1/2000).

#include <list>
#include <vector>

#include "algorithms/PackingAlgorithm.h"
#include "collision/ExtraData.h"
#include "collision/SphereTree.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingObjectInfo.h"

namespace statscene {

using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

constexpr float kWallSphereRadius = 1000.0f;

inline PackingGeometry* MakeBox(float h) {
    std::vector<Point3> p;
    for (int i = 0; i < 8; ++i) p.emplace_back((i & 1) ? h : -h, (i & 2) ? h : -h, (i & 4) ? h : -h);
    const std::vector<std::vector<unsigned>> prims = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                                                      {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    auto* g = new PackingGeometry(p, prims, col::PRIM_TRIANGLES);
    g->updateBBox();
    g->m_pointsPtr = g->editPointsPtr();
    g->m_primitivesPtr = g->editPrimitivesPtr();
    return g;
}

/// A cube type of half size `half` whose tree is one sphere of radius `r`; `volume` as given.
inline PackingObjectInfo MakeType(const char* name, float half, float r, float volume) {
    PackingObjectInfo t;
    t.name = name;
    t.percentage = 50.0f;
    t.geometry = MakeBox(half);
    t.geometry->m_extraData = new col::ExtraData_SphereTree(Point3(0.0f, 0.0f, 0.0f), r);
    t.volume = volume;
    return t;
}

inline PackingGeometry* MakeContainer(float h) {
    PackingGeometry* g = MakeBox(h);
    const float R = kWallSphereRadius;
    std::vector<col::SphereNode> nodes(7);
    nodes[0].radius = 2 * R + 2 * h;
    nodes[0].firstChild = 1;
    nodes[0].childCount = 6;
    for (int i = 0; i < 6; ++i) {
        Vector3 c(0.0f);
        c[i / 2] = (i % 2 ? -1.0f : 1.0f) * (R + h);
        nodes[1 + i].center = Point3(c);
        nodes[1 + i].radius = R;
    }
    g->m_extraData = new col::ExtraData_SphereTree(col::SphereTree(nodes, col::SphereTreeKind::Container));
    return g;
}

/// IPackingAlgorithm with nothing to run: the statistics are base operations.
class ReportOnly : public IPackingAlgorithm {
 public:
    using IPackingAlgorithm::IPackingAlgorithm;
    void Run() override {}
};

/// Container [-h, h]^3 of the given volume, the types, interior points and the placed list.
struct Scene {
    std::vector<PackingObjectInfo> types;
    MovingObject container;
    std::vector<Vector3> points;
    std::list<MovingObject*> placed;
    ReportOnly* algorithm = nullptr;

    Scene(float h, std::vector<PackingObjectInfo> t) : types(std::move(t)) {
        container.m_geometry = MakeContainer(h);
        container.m_volume = 8.0f * h * h * h;
        algorithm = new ReportOnly(types, &container, points, &placed, Vector3(1.0f));
    }

    ~Scene() {
        for (MovingObject* o : placed) {
            delete o->m_geometry;
            delete o;
        }
        for (PackingObjectInfo& t : types) {
            delete t.geometry->m_extraData;
            delete t.geometry;
        }
        delete container.m_geometry->m_extraData;
        delete container.m_geometry;
        // An algorithm never frees its generator; kept reachable so leak checks stay quiet.
        static auto* kept = new std::vector<ReportOnly*>;
        kept->push_back(algorithm);
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    /// Replaces type k (the old record's mesh and tree are freed).
    void SetType(size_t k, PackingObjectInfo t) {
        delete types[k].geometry->m_extraData;
        delete types[k].geometry;
        types[k] = std::move(t);
    }

    MovingObject* Place(int type, const Vector3& at) {
        MovingObject* o = algorithm->GenerateObject(type);
        o->m_position = at;
        o->m_translationMatrix.setTranslation(at);
        o->m_modelMatrix = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
        placed.push_back(o);
        return o;
    }

    /// A regular grid of interior points with spacing `step` inside [-extent, extent]^3.
    void GridPoints(float extent, float step) {
        for (float x = -extent; x <= extent + 1e-4f; x += step)
            for (float y = -extent; y <= extent + 1e-4f; y += step)
                for (float z = -extent; z <= extent + 1e-4f; z += step) points.emplace_back(x, y, z);
    }
};

}  // namespace statscene
