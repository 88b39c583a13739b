#include "benchscenes.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace colscene {

std::vector<Sphere> ellipsoidFill(float a, float b, float c, int cellsAcross) {
    const float cell = 2 * std::max({a, b, c}) / static_cast<float>(cellsAcross);
    const float r = cell * 0.5f * std::sqrt(3.0f);
    // Centres inside the ellipsoid shrunk by r, so the union stays (about) inside the shape.
    const float ia = std::max(a - r, 0.0f), ib = std::max(b - r, 0.0f), ic = std::max(c - r, 0.0f);
    auto inside = [&](float x, float y, float z) {
        const float u = ia > 0 ? x / ia : (x == 0 ? 0.0f : 2.0f), v = ib > 0 ? y / ib : (y == 0 ? 0.0f : 2.0f),
                    w = ic > 0 ? z / ic : (z == 0 ? 0.0f : 2.0f);
        return u * u + v * v + w * w <= 1.0f;
    };
    std::vector<Sphere> out;
    const int n = cellsAcross / 2 + 1;
    for (int i = -n; i <= n; ++i)
        for (int j = -n; j <= n; ++j)
            for (int k = -n; k <= n; ++k) {
                const float x = cell * float(i), y = cell * float(j), z = cell * float(k);
                if (inside(x, y, z)) out.push_back({x, y, z, r});
            }
    // A surface layer on the shrunk ellipsoid makes the union hug the shape, as a fitted tree would.
    const float big = std::max({ia, ib, ic});
    const int m = static_cast<int>(std::ceil(4 * 3.14159265f * big * big / (cell * cell)));
    for (int s = 0; s < m && big > 0; ++s) {
        const float y = 1 - 2 * (float(s) + 0.5f) / float(m), rad = std::sqrt(std::max(0.0f, 1 - y * y));
        const float phi = 2.39996323f * float(s);  // golden angle
        out.push_back({ia * rad * std::cos(phi), ib * y, ic * rad * std::sin(phi), r});
    }
    if (out.empty()) out.push_back({0, 0, 0, std::min({a, b, c})});
    return out;
}

PackedScene packedScene(std::mt19937& rng, int objects, int leavesAcross) {
    PackedScene s;
    // Simple cubic lattice, spacing 2: radius 1.0164 gives 55% volume fraction with small overlaps.
    const float spacing = 2.0f, radius = 1.0164f;
    const int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(objects))));
    s.halfBox = side * spacing / 2;
    s.trees.push_back(std::make_unique<col::ExtraData_SphereTree>(
        buildTree(boxShell(s.halfBox, spacing / 2), 8, col::SphereTreeKind::Container)));
    // A few shape variants shared by many objects, as object types are in a run.
    const float axes[3][3] = {{1, 1, 1}, {1.1f, 0.95f, 0.9f}, {1.15f, 1.0f, 0.85f}};
    for (const auto& ax : axes)
        s.trees.push_back(std::make_unique<col::ExtraData_SphereTree>(
            buildTree(ellipsoidFill(ax[0] * radius, ax[1] * radius, ax[2] * radius, leavesAcross), 8)));
    s.geoms.resize(static_cast<size_t>(objects) + 1);
    s.geoms[0].m_extraData = s.trees[0].get();
    s.poses.push_back(Matrix4::identity());
    std::uniform_real_distribution<float> jitter(-0.02f, 0.02f);
    for (int i = 0; i < objects; ++i) {
        const int x = i % side, y = (i / side) % side, z = i / (side * side);
        const Vector3 p(-s.halfBox + spacing * (float(x) + 0.5f) + jitter(rng),
                        -s.halfBox + spacing * (float(y) + 0.5f) + jitter(rng),
                        -s.halfBox + spacing * (float(z) + 0.5f) + jitter(rng));
        Matrix4 pose = randomPose(rng, 0);
        pose.setTranslation(p);
        s.poses.push_back(pose);
        s.geoms[static_cast<size_t>(i) + 1].m_extraData = s.trees[1 + static_cast<size_t>(i) % 3].get();
    }
    return s;
}

std::vector<NeighbourPose> neighbourPoses(const col::SphereTree& tree, float diameter, int count, std::mt19937& rng,
                                          float minShare, float maxShare) {
    std::uniform_real_distribution<float> u(-1, 1), share(minShare, maxShare);
    std::vector<NeighbourPose> out;
    col::OverlapResult r;
    while (static_cast<int>(out.size()) < count) {
        const Matrix4 p1 = randomPose(rng, 0), rot2 = randomPose(rng, 0);
        Vector3 dir(u(rng), u(rng), u(rng));
        if (lengthSqr(dir) < 1e-3f) continue;
        dir = normalize(dir);
        auto overlaps = [&](float t) {
            col::queryOverlap(&tree, p1, 1, &tree, Matrix4::translation(t * dir) * rot2, 1, r);
            return !r.intersections.empty();
        };
        // Bisect the contact distance between an overlapping and a separated offset.
        float lo = 0, hi = 2 * tree.enclosingRadius() + 1e-3f;
        if (!overlaps(lo)) continue;
        for (int it = 0; it < 40; ++it) {
            const float mid = 0.5f * (lo + hi);
            (overlaps(mid) ? lo : hi) = mid;
        }
        const float t = hi - share(rng) * diameter;
        out.push_back({p1, Matrix4::translation(t * dir) * rot2});
    }
    return out;
}

Packing loadPacking(const std::string& path) {
    Packing p;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        int type = 0;
        Matrix4 m[3];
        if (!(s >> type)) continue;
        for (Matrix4& x : m)
            for (int c = 0; c < 4; ++c)
                for (int r = 0; r < 4; ++r) {
                    float v = 0;
                    s >> v;
                    x.setElem(c, r, v);
                }
        if (!s) continue;
        p.types.push_back(type);
        p.poses.push_back(m[0] * m[1] * m[2]);
    }
    return p;
}

bool loadModelMesh(const std::string& name, col::ColGeometry& outGeom, std::vector<std::vector<unsigned>>& outTris) {
    const std::string base = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name;
    const std::string obj = std::ifstream(base + "_l.obj") ? base + "_l.obj" : base + ".obj";
    if (col::loadGeometryFromFile(&outGeom, obj.c_str()) != 0) return false;
    outTris.clear();
    for (const auto& poly : outGeom.getPrimitives())
        for (size_t k = 1; k + 1 < poly.size(); ++k) outTris.push_back({poly[0], poly[k], poly[k + 1]});
    return true;
}

std::vector<NeighbourPose> packingNeighbours(const Packing& packing, float radius) {
    std::vector<NeighbourPose> out;
    const size_t n = packing.poses.size();
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            if (length(packing.poses[i].getTranslation() - packing.poses[j].getTranslation()) < 2.0f * radius)
                out.push_back({packing.poses[i], packing.poses[j]});
    return out;
}

}  // namespace colscene
