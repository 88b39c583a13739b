// Convex shapes and the GJK overlap test against the exact mesh distance and a vertex-in-hull test.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "collision/ColGeometry.h"
#include "collision/ConvexShape.h"
#include "collision/TriangleTree.h"

namespace {

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

struct Model {
    col::ColGeometry geom;
    col::ConvexShape shape;
    col::TriangleTree tree;
};

bool Load(const std::string& name, Model& m) {
    const std::string path = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name + ".obj";
    if (col::loadGeometryFromFile(&m.geom, path.c_str()) != 0) return false;
    m.tree.build(m.geom.getPoints(), m.geom.getPrimitives());
    return m.shape.build(m.geom.getPoints(), m.geom.getPrimitives());
}

// Whether any vertex of `inner` (posed by m) lies strictly inside `outer`'s hull.
bool VertexInside(const col::ConvexShape& outer, const col::ConvexShape& inner, const Matrix4& m) {
    for (const Vector3& v : inner.vertices()) {
        const Vector3 p = (m * Point3(v)).getXYZ();
        bool in = true;
        for (const col::Plane& pl : outer.planes()) in = in && dot(pl.normal, p) < pl.offset;
        if (in) return true;
    }
    return false;
}

// Two convex meshes intersect when their surfaces meet or one holds a vertex of the other.
bool Reference(const Model& a, const Model& b, const Matrix4& X_WA, const Matrix4& X_WB) {
    const Matrix4 m_BA = inverse(X_WB) * X_WA;  // A into B's frame
    if (col::meshDistance(a.tree, b.tree, m_BA).distance == 0.0f) return true;
    return VertexInside(b.shape, a.shape, m_BA) || VertexInside(a.shape, b.shape, inverse(m_BA));
}

TEST(ConvexShape, BuildsConvexMeshesAndRejectsOthers) {
    Model cube, sphere, torus;
    ASSERT_TRUE(Load("cube", cube));
    ASSERT_TRUE(Load("sphere_l", sphere));
    EXPECT_FALSE(Load("torus", torus));
    EXPECT_EQ(cube.shape.vertices().size(), 8u);
    EXPECT_EQ(cube.shape.planes().size(), 6u);  // two triangles per face merge into one plane
    EXPECT_NEAR(cube.shape.innerRadius(), 0.4f, 1e-6f);
    EXPECT_NEAR(cube.shape.outerRadius(), 0.4f * std::sqrt(3.0f), 1e-6f);
    EXPECT_NEAR(sphere.shape.outerRadius(), 0.5f, 1e-5f);
    EXPECT_GT(sphere.shape.innerRadius(), 0.45f);

    // Hill climbing finds the brute-force maximum from any start.
    std::mt19937 rng(11u);
    std::normal_distribution<float> g;
    for (int n = 0; n < 500; ++n) {
        const Vector3 d(g(rng), g(rng), g(rng));
        const auto& v = sphere.shape.vertices();
        float best = -1e30f;
        for (const Vector3& p : v) best = std::max(best, dot(p, d));
        const int start = static_cast<int>(rng() % v.size());
        EXPECT_FLOAT_EQ(dot(v[static_cast<size_t>(sphere.shape.support(d, start))], d), best);
    }
}

TEST(ConvexOverlap, MatchesExactMeshesAtNearContactPoses) {
    const char* names[] = {"cube", "sphere_l", "mm_l", "tetrahedron", "cylinder_l"};
    Model models[5];
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Load(names[i], models[i])) << names[i];

    std::mt19937 rng(2024u);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int overlaps = 0, apart = 0, compared = 0, withAxis = 0, remembered = 0;
    col::ConvexPairCache shared;
    const int kPoses = 3000;
    for (int n = 0; n < kPoses; ++n) {
        const Model& a = models[n % 5];
        const Model& b = models[(n / 5) % 5];
        const float sa = n % 3 ? 1.0f : 0.5f + 0.5f * (u(rng) + 1.0f);
        const float sb = 0.7f + 0.2f * u(rng);
        auto rot = [&] { return Matrix4::rotation(3.2f * u(rng), normalize(Vector3(u(rng), u(rng), u(rng) + 1e-3f))); };
        // Centre distances around contact: the sum of the two shapes' mean radii.
        const float reach = 0.5f * (sa * (a.shape.innerRadius() + a.shape.outerRadius()) +
                                    sb * (b.shape.innerRadius() + b.shape.outerRadius()));
        const Vector3 dir = normalize(Vector3(u(rng), u(rng), u(rng) + 1e-3f));
        const Matrix4 X_WA =
            Matrix4::translation(Vector3(u(rng), u(rng), u(rng))) * rot() * Matrix4::scale(Vector3(sa));
        const Matrix4 X_WB = Matrix4::translation(X_WA.getTranslation() + dir * reach * (1.0f + 0.15f * u(rng))) *
                             rot() * Matrix4::scale(Vector3(sb));

        // Poses within 1e-4 of touching may go either way: they are left out, found by shrinking
        // and growing B about its centre.
        const bool ref = Reference(a, b, X_WA, X_WB);
        const bool refShrunk = Reference(a, b, X_WA, X_WB * Matrix4::scale(Vector3(1.0f - 1e-4f)));
        const bool refGrown = Reference(a, b, X_WA, X_WB * Matrix4::scale(Vector3(1.0f + 1e-4f)));
        if (refShrunk != refGrown) continue;
        const bool got =
            col::convexOverlap(a.shape, col::ScaledPose::fromMatrix(X_WA), b.shape, col::ScaledPose::fromMatrix(X_WB));
        ASSERT_EQ(got, ref) << names[n % 5] << " / " << names[(n / 5) % 5] << " pose " << n;
        // The symmetric question has the same answer.
        ASSERT_EQ(
            col::convexOverlap(b.shape, col::ScaledPose::fromMatrix(X_WB), a.shape, col::ScaledPose::fromMatrix(X_WA)),
            ref);
        // With a direction remembered from B's pose before a small move, the answer is the same;
        // a pair still apart is then answered by that direction alone (its hints are kept), and
        // the direction it leaves points from A to B.
        col::ConvexPairCache cache;
        const Matrix4 before = Matrix4::translation(0.01f * reach * dir) * X_WB;
        const bool wasApart = !col::convexOverlap(a.shape, col::ScaledPose::fromMatrix(X_WA), b.shape,
                                                  col::ScaledPose::fromMatrix(before), cache);
        const bool hasAxis = wasApart && lengthSqr(cache.axis_W) > 0.0f;  // not decided by the radii alone
        if (hasAxis) {
            ASSERT_GT(dot(cache.axis_W, before.getTranslation() - X_WA.getTranslation()), 0.0f) << "pose " << n;
        }
        ASSERT_EQ(col::convexOverlap(a.shape, col::ScaledPose::fromMatrix(X_WA), b.shape,
                                     col::ScaledPose::fromMatrix(X_WB), cache),
                  ref)
            << "with a remembered direction, pose " << n;
        // A cache left by other pairs (other shapes, other vertex counts) costs time, never the answer.
        ASSERT_EQ(col::convexOverlap(a.shape, col::ScaledPose::fromMatrix(X_WA), b.shape,
                                     col::ScaledPose::fromMatrix(X_WB), shared),
                  ref)
            << "with another pair's cache, pose " << n;
        if (!ref && hasAxis) {
            ++withAxis;
            remembered += cache.supportA >= 0 ? 1 : 0;
        }
        ++compared;
        (ref ? overlaps : apart) += 1;
    }
    EXPECT_GT(compared, kPoses * 9 / 10);
    EXPECT_GT(overlaps, compared / 4);
    EXPECT_GT(apart, compared / 4);
    EXPECT_GT(withAxis, apart / 4);
    EXPECT_GT(remembered, withAxis / 2);
}

TEST(ConvexOverlap, FaceToFaceCubesAndEmptyShapes) {
    Model cube;
    ASSERT_TRUE(Load("cube", cube));
    // Aligned cubes of edge 0.8: gaps and overlaps of 1e-3 along each axis.
    for (int axis = 0; axis < 3; ++axis)
        for (float gap : {-1e-3f, 1e-3f}) {
            Vector3 t(0.0f);
            t.setElem(axis, 0.8f + gap);
            Vector3 slide(0.05f, -0.03f, 0.02f);  // sideways, so the faces overlap only partly
            slide.setElem(axis, 0.0f);
            col::ScaledPose b;
            b.translation = t + slide;
            EXPECT_EQ(col::convexOverlap(cube.shape, col::ScaledPose{}, cube.shape, b), gap < 0.0f)
                << "axis " << axis << " gap " << gap;
        }
    // Two pairs of a real cube packing, 2.3e-5 and 1.7e-4 apart by the exact mesh distance, that a
    // float simplex once called overlapping (translation, then the rotation's three columns).
    const float poses[4][12] = {
        {-0.0960604f, -1.66987f, 2.57224f, 0.000436386f, -0.00204516f, 0.999998f, -0.999179f, -0.0405155f, 0.000353168f,
         0.0405147f, -0.999177f, -0.00206116f},
        {0.611411f, -1.71666f, 1.74655f, -0.677602f, -0.501089f, -0.538299f, 0.614223f, -0.788143f, -0.0395112f,
         -0.404458f, -0.357408f, 0.841827f},
        {0.720371f, -0.183096f, 1.5306f, -0.824749f, -0.556489f, -0.100544f, 0.200359f, -0.121294f, -0.972185f,
         0.528815f, -0.821954f, 0.211535f},
        {0.447289f, -0.275182f, 0.600435f, 0.980298f, 0.00802712f, -0.197362f, -0.181737f, -0.354778f, -0.917117f,
         -0.0773814f, 0.934916f, -0.346329f},
    };
    auto pose = [](const float* p) {
        col::ScaledPose x;
        x.translation = Vector3(p[0], p[1], p[2]);
        x.rotation =
            Vectormath::Aos::Matrix3(Vector3(p[3], p[4], p[5]), Vector3(p[6], p[7], p[8]), Vector3(p[9], p[10], p[11]));
        return x;
    };
    for (int k = 0; k < 4; k += 2)
        EXPECT_FALSE(col::convexOverlap(cube.shape, pose(poses[k]), cube.shape, pose(poses[k + 1]))) << "pair " << k;

    col::ConvexShape empty;
    EXPECT_FALSE(col::convexOverlap(empty, col::ScaledPose{}, cube.shape, col::ScaledPose{}));
}

}  // namespace
