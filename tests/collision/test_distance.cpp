// TriDist against an independent double-precision reference; meshDistance against all-pairs
// brute force and against FCL's mesh distance.
#include <fcl/fcl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <glm/glm.hpp>
#include <memory>
#include <random>

#include "collision/TriangleTree.h"

namespace {

using namespace Vectormath::Aos;
using Polys = std::vector<std::vector<unsigned>>;
using Tri = std::array<Point3, 3>;
using D3 = glm::dvec3;
using DTri = std::array<D3, 3>;

D3 d3(const Point3& p) { return {p.getX(), p.getY(), p.getZ()}; }
DTri d3(const Tri& t) { return {d3(t[0]), d3(t[1]), d3(t[2])}; }

double pointSeg(D3 p, D3 a, D3 b) {
    const D3 ab = b - a;
    const double l = dot(ab, ab);
    return distance(p, a + ab * (l > 0 ? std::clamp(dot(p - a, ab) / l, 0.0, 1.0) : 0.0));
}

// x = projection of p onto the plane of t; true if t is not flat and x lies inside it.
bool projectsInside(D3 p, const DTri& t, D3& x) {
    const D3 e0 = t[1] - t[0], e1 = t[2] - t[0], w = p - t[0];
    const double m00 = dot(e0, e0), m01 = dot(e0, e1), m11 = dot(e1, e1), det = m00 * m11 - m01 * m01;
    if (det <= 1e-14 * m00 * m11) return false;
    const double u = (m11 * dot(w, e0) - m01 * dot(w, e1)) / det, v = (m00 * dot(w, e1) - m01 * dot(w, e0)) / det;
    x = t[0] + u * e0 + v * e1;
    return u >= 0 && v >= 0 && u + v <= 1;
}

double pointTri(D3 p, const DTri& t) {
    D3 x;
    if (projectsInside(p, t, x)) return distance(p, x);
    return std::min({pointSeg(p, t[0], t[1]), pointSeg(p, t[1], t[2]), pointSeg(p, t[2], t[0])});
}

// Segment pair: interior stationary point if it lies in the unit square, else the four borders.
double segSeg(D3 p1, D3 q1, D3 p2, D3 q2) {
    const D3 d1 = q1 - p1, d2 = q2 - p2, r = p1 - p2;
    const double a = dot(d1, d1), b = dot(d1, d2), e = dot(d2, d2), det = a * e - b * b;
    if (det > 1e-12 * a * e) {
        const double s = (b * dot(d2, r) - e * dot(d1, r)) / det, t = (a * dot(d2, r) - b * dot(d1, r)) / det;
        if (s >= 0 && s <= 1 && t >= 0 && t <= 1) return distance(p1 + s * d1, p2 + t * d2);
    }
    return std::min({pointSeg(p1, p2, q2), pointSeg(q1, p2, q2), pointSeg(p2, p1, q1), pointSeg(q2, p1, q1)});
}

bool edgeCrosses(const DTri& a, const DTri& b) {
    const D3 n = cross(b[1] - b[0], b[2] - b[0]);
    D3 x;
    for (int i = 0; i < 3; ++i) {
        const D3 p = a[i], q = a[(i + 1) % 3];
        const double dp = dot(n, p - b[0]), dq = dot(n, q - b[0]);
        if (dp * dq < 0 && projectsInside(p + (q - p) * (dp / (dp - dq)), b, x)) return true;
    }
    return false;
}

double reference(const Tri& s, const Tri& t) {
    const DTri a = d3(s), b = d3(t);
    if (edgeCrosses(a, b) || edgeCrosses(b, a)) return 0;
    double best = INFINITY;
    for (int i = 0; i < 3; ++i) {
        best = std::min({best, pointTri(a[i], b), pointTri(b[i], a)});
        for (int j = 0; j < 3; ++j) best = std::min(best, segSeg(a[i], a[(i + 1) % 3], b[j], b[(j + 1) % 3]));
    }
    return best;
}

// Float inputs of magnitude ~10: a few float ulps of the coordinates.
constexpr double kTol = 1e-4;

// Distance plus the checks every result must pass: p on s, q on t, |p - q| = distance.
float checkedDist(const Tri& s, const Tri& t) {
    Point3 p, q;
    const float d = col::TriDist(p, q, s.data(), t.data());
    EXPECT_LT(pointTri(d3(p), d3(s)), kTol);
    EXPECT_LT(pointTri(d3(q), d3(t)), kTol);
    EXPECT_NEAR(distance(d3(p), d3(q)), d, kTol);
    return d;
}

Point3 P(double x, double y, double z) { return Point3(float(x), float(y), float(z)); }

TEST(TriDist, RandomPairsMatchReferenceUnderPermutation) {
    std::mt19937 rng(20240611u);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    int touching = 0;
    const int kPairs = 4000;
    for (int n = 0; n < kPairs; ++n) {
        Tri s, t;
        const float off = 1.5f * u(rng);
        auto draw = [&](float dx, float dz) {
            const float x = u(rng), y = u(rng), z = u(rng);
            return Point3(3.f * (x + dx), 3.f * y, 3.f * (z + dz));
        };
        for (int k = 0; k < 3; ++k) s[k] = draw(0.f, 0.f);
        for (int k = 0; k < 3; ++k) t[k] = draw(off, -off);
        const double ref = reference(s, t);
        const float d = checkedDist(s, t);
        ASSERT_NEAR(d, ref, kTol) << "pair " << n;
        touching += ref == 0;
        // All six corner orders of s, with the triangles swapped as well.
        std::array<int, 3> perm{0, 1, 2};
        do {
            const Tri sp{s[perm[0]], s[perm[1]], s[perm[2]]};
            Point3 p, q;
            EXPECT_NEAR(col::TriDist(p, q, sp.data(), t.data()), d, kTol);
            EXPECT_NEAR(col::TriDist(p, q, t.data(), sp.data()), d, kTol);
        } while (std::next_permutation(perm.begin(), perm.end()));
    }
    // The sample must exercise both outcomes.
    EXPECT_GT(touching, kPairs / 10);
    EXPECT_LT(touching, kPairs * 6 / 10);
}

// Hand-made pairs with known distances, each checked in both argument orders; touching is exactly 0.
TEST(TriDist, FeatureRegionsAndDegenerateTriangles) {
    const Tri base{P(0, 0, 0), P(4, 0, 0), P(0, 4, 0)}, point{P(1, 1, 3), P(1, 1, 3), P(1, 1, 3)};
    const Tri segment{P(1, 1, 2), P(1, 1, 5), P(1, 1, 8)};  // collinear corners
    const struct {
        Tri s, t;
        double d;
    } cases[] = {
        // corner over the face, corner to corner, edge across edge, face parallel above face
        {base, {P(1, 1, 2), P(1, 2, 5), P(2, 1, 5)}, 2.0},
        {base, {P(-1, -1, -1), P(-3, -1, -1), P(-1, -3, -1)}, std::sqrt(3.0)},
        {base, {P(3, 3, -1), P(3, 3, 1), P(5, 5, 0)}, std::sqrt(2.0)},
        {base, {P(0.5, 0.5, 1.5), P(1.5, 0.5, 1.5), P(0.5, 1.5, 1.5)}, 1.5},
        // coplanar: apart, overlapping edges, one inside the other
        {base, {P(5, 0, 0), P(9, 0, 0), P(5, 3, 0)}, 1.0},
        {base, {P(1, 1, 0), P(6, 1, 0), P(1, 6, 0)}, 0},
        {base, {P(0.5, 0.5, 0), P(1, 0.5, 0), P(0.5, 1, 0)}, 0},
        // piercing through the face, touching with one corner on the face
        {base, {P(1, 1, -1), P(1, 1, 1), P(9, 9, 0.5)}, 0},
        {base, {P(1, 1, 0), P(1, 2, 3), P(2, 1, 3)}, 0},
        // degenerate: a point, a segment, a zero-area triangle crossing the face
        {base, point, 3.0},
        {base, segment, 2.0},
        {segment, point, 0},
        {{P(1, 1, -2), P(1, 1, 0.5), P(1, 1, 2)}, base, 0},
        {point, {P(1, 1, 3), P(1, 1, 3), P(4, 5, 3)}, 0},
        {point, {P(2, 1, 3), P(2, 1, 3), P(2, 1, 3)}, 1.0},
    };
    for (const auto& c : cases)
        for (const float d : {checkedDist(c.s, c.t), checkedDist(c.t, c.s)}) {
            if (c.d == 0)
                EXPECT_EQ(d, 0.f) << "case " << &c - cases;
            else
                EXPECT_NEAR(d, c.d, kTol) << "case " << &c - cases;
        }
}

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

// Two triangles per cell of a rows x cols vertex grid; columns wrap around, rows only if `closed`.
template <class F>
Mesh grid(int rows, int cols, bool closed, F vertex) {
    Mesh m;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) m.pts.push_back(vertex(float(i), float(j)));
    for (int i = 0; i < (closed ? rows : rows - 1); ++i)
        for (int j = 0; j < cols; ++j) {
            const unsigned a = i * cols + j, b = ((i + 1) % rows) * cols + j,
                           c = ((i + 1) % rows) * cols + (j + 1) % cols, d = i * cols + (j + 1) % cols;
            m.polys.push_back({a, b, c});
            m.polys.push_back({a, c, d});
        }
    return m;
}

Mesh torus(float big, float small, int nu, int nv) {
    return grid(nu, nv, true, [&](float i, float j) {
        const float u = 6.2831853f * i / nu, v = 6.2831853f * j / nv;
        return Point3((big + small * std::cos(v)) * std::cos(u), (big + small * std::cos(v)) * std::sin(u),
                      small * std::sin(v));
    });
}

// Bumpy sphere: latitude/longitude grid with a radial ripple, so faces are not all alike; the
// rings at the poles collapse to a point and give zero-area triangles.
Mesh blob(float r, int n) {
    return grid(n + 1, 2 * n, false, [&](float i, float j) {
        const float th = 3.14159265f * i / n, ph = 3.14159265f * j / n;
        const float rr = r * (1 + 0.15f * std::sin(3 * th) * std::cos(2 * ph));
        return Point3(rr * std::sin(th) * std::cos(ph), rr * std::sin(th) * std::sin(ph), rr * std::cos(th));
    });
}

std::vector<Tri> triangles(const Mesh& m, const Matrix4& x) {
    std::vector<Tri> out;
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
        auto contains = [](const std::vector<Tri>& tris, const Point3* t) {
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
