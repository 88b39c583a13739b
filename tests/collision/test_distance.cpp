// meshDistance against all-pairs brute force and against FCL's mesh distance.
#include <fcl/fcl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "collision/TriangleTree.h"

namespace {

using namespace Vectormath::Aos;
using Polys = std::vector<std::vector<unsigned>>;

struct Mesh {
    std::vector<Point3> pts;
    Polys polys;
};

Mesh box(float x, float y, float z) {  // quads, fan-triangulated by the tree
    Mesh m;
    for (int i = 0; i < 8; ++i) m.pts.emplace_back(i & 1 ? x : -x, i & 2 ? y : -y, i & 4 ? z : -z);
    m.polys = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    return m;
}

Mesh torus(float big, float small, int nu, int nv) {
    Mesh m;
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            const float u = 6.2831853f * i / nu, v = 6.2831853f * j / nv;
            m.pts.emplace_back((big + small * std::cos(v)) * std::cos(u), (big + small * std::cos(v)) * std::sin(u),
                               small * std::sin(v));
        }
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            const unsigned a = i * nv + j, b = ((i + 1) % nu) * nv + j, c = ((i + 1) % nu) * nv + (j + 1) % nv,
                           d = i * nv + (j + 1) % nv;
            m.polys.push_back({a, b, c});
            m.polys.push_back({a, c, d});
        }
    return m;
}

// Bumpy sphere: latitude/longitude grid with a radial ripple, so faces are not all alike.
Mesh blob(float r, int n) {
    Mesh m;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j < 2 * n; ++j) {
            const float th = 3.14159265f * i / n, ph = 3.14159265f * j / n;
            const float rr = r * (1 + 0.15f * std::sin(3 * th) * std::cos(2 * ph));
            m.pts.emplace_back(rr * std::sin(th) * std::cos(ph), rr * std::sin(th) * std::sin(ph), rr * std::cos(th));
        }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < 2 * n; ++j) {
            const unsigned a = i * 2 * n + j, b = (i + 1) * 2 * n + j, c = (i + 1) * 2 * n + (j + 1) % (2 * n),
                           d = i * 2 * n + (j + 1) % (2 * n);
            m.polys.push_back({a, b, c});
            m.polys.push_back({a, c, d});
        }
    return m;
}

std::vector<std::array<Point3, 3>> triangles(const Mesh& m, const Matrix4& x) {
    std::vector<std::array<Point3, 3>> out;
    auto map = [&](unsigned i) { return Point3((x * m.pts[i]).getXYZ()); };
    for (const auto& p : m.polys)
        for (size_t k = 1; k + 1 < p.size(); ++k) out.push_back({map(p[0]), map(p[k]), map(p[k + 1])});
    return out;
}

float bruteForce(const Mesh& a, const Mesh& b, const Matrix4& m12) {
    float best = INFINITY;
    Point3 p, q;
    for (const auto& s : triangles(a, m12))
        for (const auto& t : triangles(b, Matrix4::identity()))
            best = std::min(best, col::TriDist(p, q, s.data(), t.data()));
    return best;
}

double fclDistance(const Mesh& a, const Mesh& b, const Matrix4& m12) {
    using Model = fcl::BVHModel<fcl::OBBRSSd>;
    // FCL poses are rigid: bake any scale of m12 into mesh 1's vertices.
    const float s = length(m12.getCol0().getXYZ());
    auto make = [](const Mesh& m, float scale) {
        std::vector<fcl::Vector3d> v;
        std::vector<fcl::Triangle> t;
        for (const auto& p : m.pts) v.emplace_back(scale * p.getX(), scale * p.getY(), scale * p.getZ());
        for (const auto& p : m.polys)
            for (size_t k = 1; k + 1 < p.size(); ++k) t.emplace_back(p[0], p[k], p[k + 1]);
        auto model = std::make_shared<Model>();
        model->beginModel();
        model->addSubModel(v, t);
        model->endModel();
        return model;
    };
    fcl::Transform3d tf = fcl::Transform3d::Identity();
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) tf.linear()(r, c) = m12.getElem(c, r) / s;
        tf.translation()(r) = m12.getElem(3, r);
    }
    fcl::CollisionObjectd o1(make(a, s), tf), o2(make(b, 1.f), fcl::Transform3d::Identity());
    fcl::DistanceRequestd req(true);
    fcl::DistanceResultd res;
    fcl::distance(&o1, &o2, req, res);
    return res.min_distance;
}

TEST(MeshDistance, RandomPosesMatchBruteForceAndFcl) {
    const Mesh meshes[] = {box(1.0f, 0.6f, 0.3f), torus(1.2f, 0.35f, 18, 10), blob(0.9f, 9)};
    col::TriangleTree trees[3];
    for (int i = 0; i < 3; ++i) trees[i].build(meshes[i].pts, meshes[i].polys);
    EXPECT_EQ(trees[0].triangleCount(), 12u);

    std::mt19937 rng(777u);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    int touching = 0, fclCompared = 0;
    const int kPoses = 60;
    for (int n = 0; n < kPoses; ++n) {
        const int i = n % 3, j = (n / 3) % 3;
        const float ax = u(rng), ay = u(rng), az = u(rng), angle = 3.f * u(rng);
        const float tx = 2.2f * u(rng), ty = 2.2f * u(rng), tz = 1.2f * u(rng);
        const float scale = n % 2 ? 1.f : 0.6f + 0.3f * (u(rng) + 1.f);
        const Matrix4 m12 = Matrix4::translation(Vector3(tx, ty, tz)) *
                            Matrix4::rotation(angle, normalize(Vector3(ax, ay, az) + Vector3(0, 0, 1e-3f))) *
                            Matrix4::scale(Vector3(scale));
        const col::MeshDistanceResult r = col::meshDistance(trees[i], trees[j], m12);
        ASSERT_TRUE(r.valid);
        const float ref = bruteForce(meshes[i], meshes[j], m12);
        ASSERT_NEAR(r.distance, ref, 1e-5f) << "pose " << n;
        touching += ref == 0.f;

        // The returned pair is a closest pair: tri2 is a face of mesh 2, tri1 a mapped face of mesh 1.
        Point3 p, q;
        EXPECT_NEAR(col::TriDist(p, q, r.tri1, r.tri2), r.distance, 1e-5f);
        auto contains = [](const std::vector<std::array<Point3, 3>>& tris, const Point3* t) {
            for (const auto& c : tris)
                if (length(c[0] - t[0]) + length(c[1] - t[1]) + length(c[2] - t[2]) < 1e-4f) return true;
            return false;
        };
        EXPECT_TRUE(contains(triangles(meshes[i], m12), r.tri1));
        EXPECT_TRUE(contains(triangles(meshes[j], Matrix4::identity()), r.tri2));

        if (ref > 0.f) {
            EXPECT_NEAR(r.distance, fclDistance(meshes[i], meshes[j], m12), 1e-4) << "pose " << n;
            ++fclCompared;
        }
    }
    EXPECT_GT(touching, kPoses / 10);
    EXPECT_GT(fclCompared, kPoses / 4);
}

TEST(MeshDistance, EmptyTreesAndSkippedPolygons) {
    col::TriangleTree a, b;
    const Mesh m = box(1, 1, 1);
    a.build(m.pts, m.polys);
    EXPECT_FALSE(col::meshDistance(a, b, Matrix4::identity()).valid);
    b.build(m.pts, {{0, 1}, {0, 1, 99}});  // too short, index out of range
    EXPECT_TRUE(b.empty());
    // One face apart by 1 along z in mesh 2's units, whatever the scale of mesh 1.
    b.build(m.pts, m.polys);
    const Matrix4 m12 = Matrix4::translation(Vector3(0, 0, 3.5f)) * Matrix4::scale(Vector3(0.5f));
    EXPECT_NEAR(col::meshDistance(a, b, m12).distance, 2.0f, 1e-6f);
}

}  // namespace
