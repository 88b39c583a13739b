#pragma once
// Small in-memory scenes for the framework tests: box meshes with one-sphere trees as object
// types, and a box container whose outside is covered by six huge spheres (so a probe overlaps
// it exactly when it reaches a wall plane, up to the spheres' curvature of about 1/2000).

#include <list>
#include <vector>

#include "collision/ExtraData.h"
#include "collision/SphereTree.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingObjectInfo.h"

namespace testscene {

using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

inline PackingGeometry* MakeBox(float hx, float hy, float hz) {
    std::vector<Point3> p;
    for (int i = 0; i < 8; ++i) p.emplace_back((i & 1) ? hx : -hx, (i & 2) ? hy : -hy, (i & 4) ? hz : -hz);
    // Outward triangles of the six faces.
    const std::vector<std::vector<unsigned>> prims = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                                                      {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    auto* g = new PackingGeometry(p, prims, col::PRIM_TRIANGLES);
    g->updateBBox();
    g->m_pointsPtr = g->editPointsPtr();
    g->m_primitivesPtr = g->editPrimitivesPtr();
    return g;
}

/// A box object type carrying one sphere of radius `r` as its tree.
inline PackingObjectInfo MakeType(const char* name, float percentage, float half, float r) {
    PackingObjectInfo t;
    t.name = name;
    t.percentage = percentage;
    t.geometry = MakeBox(half, half, half);
    t.geometry->m_extraData = new col::ExtraData_SphereTree(Point3(0.0f, 0.0f, 0.0f), r);
    t.volume = 8 * half * half * half;
    t.color[0] = 0.25f;
    t.vertexBuffer = 7;
    t.normalBuffer = 8;
    t.mvpLocation = 3;
    return t;
}

/// Container [-h, h]^3 whose tree covers the outside.
inline PackingGeometry* MakeBoxContainer(float h) {
    PackingGeometry* g = MakeBox(h, h, h);
    const float R = 1000.0f;
    std::vector<col::SphereNode> nodes(7);
    nodes[0].center = Point3(0.0f, 0.0f, 0.0f);
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

}  // namespace testscene
