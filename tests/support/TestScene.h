#pragma once
// Small in-memory scenes for the tests: box meshes whose tree is one sphere, a box container whose
// outside six huge spheres cover (a probe overlaps it where it crosses a wall plane, up to their
// curvature of about 1/2000), and scenes around an algorithm that only reports.

#include <algorithm>
#include <cmath>
#include <list>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "algorithms/Limits.h"
#include "algorithms/PackingAlgorithm.h"
#include "collision/ExtraData.h"
#include "collision/SphereTree.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingObjectInfo.h"
#include "support/Subprocess.h"

namespace testscene {

using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

/// Outward triangles of the box [-h, h] with corner i at ((i & 1) ? +x : -x, (i & 2) ..., (i & 4) ...).
inline const std::vector<std::vector<unsigned>> kBoxTriangles = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6},
                                                                 {0, 1, 5}, {0, 5, 4}, {2, 6, 7}, {2, 7, 3},
                                                                 {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};

/// Collision points and triangles, and the render mesh, of the box; no sphere tree.
inline PackingGeometry* MakeBox(float hx, float hy, float hz) {
    std::vector<Point3> p;
    for (int i = 0; i < 8; ++i) p.emplace_back((i & 1) ? hx : -hx, (i & 2) ? hy : -hy, (i & 4) ? hz : -hz);
    auto* g = new PackingGeometry(p, kBoxTriangles, col::PRIM_TRIANGLES);
    for (const auto& t : kBoxTriangles)
        for (unsigned k : t) g->m_vertices.push_back(Vector3(p[k]));
    g->m_normals.resize(g->m_vertices.size(), Vector3(0.0f));
    g->m_numVertices = g->m_vertices.size();
    g->updateBBox();
    g->m_pointsPtr = g->editPointsPtr(), g->m_primitivesPtr = g->editPrimitivesPtr();
    return g;
}

/// OBJ text of the cube [-h, h]^3 with the same triangles, wound outward or inward.
inline std::string BoxObj(float h, bool inward = false) {
    std::ostringstream s;
    for (int i = 0; i < 8; ++i)
        s << "v " << (i & 1 ? h : -h) << " " << (i & 2 ? h : -h) << " " << (i & 4 ? h : -h) << "\n";
    for (const auto& t : kBoxTriangles)
        s << "f " << t[0] + 1 << " " << t[inward ? 2 : 1] + 1 << " " << t[inward ? 1 : 2] + 1 << "\n";
    return s.str();
}

constexpr float kWallRadius = 1000.0f;  ///< the six spheres that cover a box container's outside

/// Centre of wall sphere i (+x, -x, +y, -y, +z, -z) of the box container [-h, h]^3, just outside its face.
inline Point3 WallCentre(int i, float h) {
    Vector3 c(0.0f);
    c[i / 2] = (i % 2 ? -1.0f : 1.0f) * (kWallRadius + h);
    return Point3(c);
}

/// Tree file of the box [-h, h]^3 as a container.
inline std::string ContainerSpheres(float h) {
    std::ostringstream s;
    s << "densepack-spheres 1\nkind container\nnodes 7 leaves 6\n0 0 0 " << 2 * kWallRadius + 2 * h
      << " 0 0 0 3.14159265 1 6\n";
    for (int i = 0; i < 6; ++i) {
        const Point3 c = WallCentre(i, h);
        s << c[0] << " " << c[1] << " " << c[2] << " " << kWallRadius << " 0 0 0 0 -1 0\n";
    }
    s << "end\n";
    return s.str();
}

/// The tiny run folder of the end-to-end tests: the container "tray" (a 3 x 3 x 3 box with its
/// tree), the bundled sphere and mm models from `modelsDir`, and points.txt, 5 x 5 x 5 points
/// 0.5 apart around the centre.
inline void WriteTinyRun(const std::string& dir, const std::string& modelsDir) {
    WriteFile(dir + "/tray.obj", BoxObj(1.5f));
    WriteFile(dir + "/tray.spheres", ContainerSpheres(1.5f));
    for (const char* model : {"sphere.obj", "sphere_l.obj", "sphere.spheres", "mm.obj", "mm_l.obj", "mm.spheres"})
        WriteFile(dir + "/" + model, ReadFile(modelsDir + "/" + model));
    std::ostringstream points;
    for (int i = 0; i < 125; ++i)
        points << -1.0 + 0.5 * (i % 5) << " " << -1.0 + 0.5 * (i / 5 % 5) << " " << -1.0 + 0.5 * (i / 25) << "\n";
    WriteFile(dir + "/points.txt", points.str());
}

/// Lines of a text file's content (objects of a placement file).
inline int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

/// Point-file text of an n x n x n lattice: first, first + step, ... on each axis, x slowest.
inline std::string LatticePoints(int n, double first, double step) {
    std::string text;
    for (int i = 0; i < n * n * n; ++i)
        text += std::to_string(first + step * (i / (n * n))) + " " + std::to_string(first + step * (i / n % n)) + " " +
                std::to_string(first + step * (i % n)) + "\n";
    return text;
}

/// One placement-file line: type, then translation, rotation about z by `angleZ` and uniform
/// scale, each column by column.
inline std::string PlacementLine(int type, float x, float y, float z, float angleZ = 0.0f, float scale = 1.0f) {
    const float c = std::cos(angleZ), s = std::sin(angleZ), k = scale;
    std::ostringstream o;
    o << type << " 1 0 0 0 0 1 0 0 0 0 1 0 " << x << " " << y << " " << z << " 1 " << c << " " << s << " 0 0 " << -s
      << " " << c << " 0 0 0 0 1 0 0 0 0 1 " << k << " 0 0 0 0 " << k << " 0 0 0 0 " << k << " 0 0 0 0 1 \n";
    return o.str();
}

/// A cube type of half size `half` (volume 8 half^3) whose tree is one sphere of radius `r`.
inline PackingObjectInfo MakeType(const char* name, float percentage, float half, float r) {
    PackingObjectInfo t;
    t.name = name;
    t.percentage = percentage;
    t.geometry = MakeBox(half, half, half);
    t.geometry->m_extraData = new col::ExtraData_SphereTree(Point3(0.0f, 0.0f, 0.0f), r);
    t.volume = 8 * half * half * half;
    t.color[0] = 0.25f, t.vertexBuffer = 7, t.normalBuffer = 8, t.mvpLocation = 3;  // copied to its objects
    return t;
}

/// Container [-h, h]^3 whose tree covers the outside.
inline PackingGeometry* MakeBoxContainer(float h) {
    PackingGeometry* g = MakeBox(h, h, h);
    std::vector<col::SphereNode> nodes(7);
    nodes[0].radius = 2 * kWallRadius + 2 * h, nodes[0].firstChild = 1, nodes[0].childCount = 6;
    for (int i = 0; i < 6; ++i) nodes[1 + i].center = WallCentre(i, h), nodes[1 + i].radius = kWallRadius;
    g->m_extraData = new col::ExtraData_SphereTree(col::SphereTree(nodes, col::SphereTreeKind::Container));
    return g;
}

inline void FreeMesh(PackingGeometry* g) {
    delete g->m_extraData;
    delete g;
}

/// IPackingAlgorithm with nothing to run: object creation, files and statistics are base operations.
class ReportOnly : public IPackingAlgorithm {
 public:
    using IPackingAlgorithm::IPackingAlgorithm;
    void Run() override {}
};

/// Container [-h, h]^3 of volume 8 h^3, the types, interior points and the placed list. Frees
/// the meshes and the placed objects at the end (the product never does).
struct Scene {
    std::vector<PackingObjectInfo> types;
    MovingObject container;
    std::vector<Vector3> points;
    std::list<MovingObject*> placed;
    Vector3 grid = Vector3(4.0f);  ///< cells per axis of the algorithms that Make builds
    ReportOnly* algorithm = nullptr;

    Scene(float h, std::vector<PackingObjectInfo> t) : types(std::move(t)) {
        container.m_geometry = MakeBoxContainer(h);
        container.m_volume = 8.0f * h * h * h;
        algorithm = Make<ReportOnly*>();
    }
    /// The same with the type tables, interior points `pts`, objects of type 0 at `at` and `cells` grid cells.
    Scene(float h, std::vector<PackingObjectInfo> t, std::vector<Vector3> pts, const std::vector<Vector3>& at,
          float cells)
        : Scene(h, std::move(t)) {
        MovingObject::AllocateTypeTables(types.size());
        points = std::move(pts);
        grid = Vector3(cells);
        for (const Vector3& p : at) Place(0, p);
    }
    ~Scene() {
        for (MovingObject* o : placed) {
            delete o->m_geometry;
            delete o;
        }
        for (PackingObjectInfo& t : types) FreeMesh(t.geometry);
        FreeMesh(container.m_geometry);
        // An algorithm never frees its generator; kept reachable so leak checks stay quiet.
        static auto* kept = new std::vector<ReportOnly*>;
        kept->push_back(algorithm);
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    /// An algorithm of class T (or a new one for T = X*) on this scene.
    template <class T>
    T Make() {
        if constexpr (std::is_pointer_v<T>)
            return new std::remove_pointer_t<T>(types, &container, points, &placed, grid);
        else
            return T(types, &container, points, &placed, grid);
    }

    /// Replaces type k (the old record's mesh and tree are freed).
    void SetType(size_t k, PackingObjectInfo t) {
        FreeMesh(types[k].geometry);
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

/// Iteration budgets of K steps per limit second for one test; the defaults come back after it.
struct StepLimits {
    explicit StepLimits(int k) { Packing::SetLimits({Packing::LimitMode::Steps, k}); }
    ~StepLimits() { Packing::SetLimits({}); }
};

}  // namespace testscene
