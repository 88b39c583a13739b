// Random sequential addition on hand-made scenes whose trees are single spheres, so every kept
// object can be checked against the others and the walls by brute force.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "Stubs.h"
#include "algorithms/construction/RandomSequentialAddition.h"
#include "collision/FibRand.h"
#include "geometry/MovingObject.h"
#include "geometry/Random.h"
#include "support/TestScene.h"

using testscene::Scene;

namespace {

// The box container's walls are spheres of radius 1000: a ball may reach that far past a wall
// plane at the box's edge (1.5 off the axis) without touching the wall sphere.
constexpr float kWallCurvatureSlack = 2e-3f;

/// Brute force: every pair of balls of radius `r` at least 2r apart (touching is no overlap) and
/// every centre at least r inside the box [-h, h]^3.
void ExpectNoOverlap(const std::list<MovingObject*>& placed, float r, float h) {
    for (auto a = placed.begin(); a != placed.end(); ++a) {
        for (int i = 0; i < 3; ++i) EXPECT_LE(std::fabs((*a)->m_position[i]), h - r + kWallCurvatureSlack);
        for (auto b = std::next(a); b != placed.end(); ++b)
            EXPECT_GE(length((*a)->m_position - (*b)->m_position), 2 * r * (1 - 1e-5f));
    }
}

template <class Rsa>
Rsa* Fill(Scene& scene, int64_t failureLimit, unsigned seed) {
    seedGlobalRandom(seed);
    auto* rsa = scene.Make<Rsa*>();
    rsa->SetFailureLimit(failureLimit);
    const std::string out = StdoutOf([&] {
        rsa->Init();
        if constexpr (std::is_same_v<Rsa, RandomSequentialAddition>)
            rsa->ConstructionHeuristic();
        else
            rsa->ImprovementHeuristic();
    });
    EXPECT_EQ(out, "Random sequential addition ended: " + std::to_string(rsa->stats().added) + " objects added in " +
                       std::to_string(rsa->stats().attempts) + " attempts.\n");
    return rsa;
}

}  // namespace

// The filling ends exactly at the limit of failures in a row, keeps only free objects, and a
// larger limit only adds to the same sequence.
TEST(RandomSequentialAdditionTest, KeepsFreeObjectsUntilTheFailureLimitInARow) {
    std::vector<std::vector<Vector3>> runs;
    for (int64_t limit : {50, 400}) {
        Scene scene(2.0f, {MakeType("ball", 100, 0.5f, 0.5f)});
        const RsaStats stats = Fill<RandomSequentialAddition>(scene, limit, 11)->stats();
        EXPECT_EQ(stats.attempts, stats.lastAddedAttempt + limit);
        EXPECT_EQ(stats.added, static_cast<int64_t>(scene.placed.size()));
        ExpectNoOverlap(scene.placed, 0.5f, 2.0f);
        for (const MovingObject* o : scene.placed) EXPECT_TRUE(o->m_stopped);
        runs.emplace_back();
        for (const MovingObject* o : scene.placed) runs.back().push_back(o->m_position);
    }
    // The same seed draws the same sequence; the longer run goes on where the shorter stopped.
    // At most 27 balls fit the 3 x 3 x 3 room of the centres; RSA jams far below that.
    ASSERT_GE(runs[0].size(), 4u);
    ASSERT_GT(runs[1].size(), runs[0].size());
    EXPECT_LE(runs[1].size(), 27u);
    for (size_t i = 0; i < runs[0].size(); ++i) EXPECT_EQ(length(runs[0][i] - runs[1][i]), 0.0f) << i;

    // A ball wider than the container never fits: exactly `limit` attempts, nothing kept.
    Scene tight(0.4f, {MakeType("ball", 100, 0.5f, 0.5f)});
    const RsaStats none = Fill<RandomSequentialAddition>(tight, 30, 11)->stats();
    EXPECT_EQ(std::pair(none.attempts, none.added), std::pair(int64_t{30}, int64_t{0}));
    EXPECT_TRUE(tight.placed.empty());
}

// As improvement it leaves the packing it is handed where it is and adds around it; shares that
// leave a draw without a type give the smallest type.
TEST(RandomSequentialAdditionTest, AddsAroundAHandedPackingWithoutMovingIt) {
    Scene scene(2.0f, {MakeType("ball", 30, 0.5f, 0.5f), MakeType("small", 0, 0.5f, 0.5f)});
    std::vector<Vector3> before;
    for (float x : {-1.2f, 1.2f}) before.push_back(scene.Place(0, Vector3(x, 0, 0))->m_position);
    Fill<RandomSequentialAdditionImprovement>(scene, 200, 5);
    ASSERT_GT(scene.placed.size(), 2u);
    auto it = scene.placed.begin();
    for (const Vector3& p : before) EXPECT_EQ(length((*it++)->m_position - p), 0.0f);
    ExpectNoOverlap(scene.placed, 0.5f, 2.0f);
    int small = 0;
    for (const MovingObject* o : scene.placed) small += o->m_typeIndex == 1;
    EXPECT_GT(small, 0);  // 70 % of the draws find no type
}

// Positions come from the container's inside, not its box: with a wall tree that nothing reaches,
// only the inside test keeps the centres in an octahedron |x| + |y| + |z| <= 2.
TEST(RandomSequentialAdditionTest, PositionsLieInsideTheContainerMeshNotJustItsBox) {
    Scene scene(2.0f, {MakeType("grain", 100, 0.15f, 0.15f)});
    std::vector<Point3> corners;
    for (int i = 0; i < 6; ++i) {
        Vector3 c(0.0f);
        c[i / 2] = i % 2 ? -2.0f : 2.0f;
        corners.emplace_back(c);
    }
    std::vector<std::vector<unsigned>> faces;
    for (unsigned x : {0u, 1u})
        for (unsigned y : {2u, 3u})
            for (unsigned z : {4u, 5u}) faces.push_back({x, y, z});  // the inside test ignores the winding
    testscene::FreeMesh(scene.container.m_geometry);
    scene.container.m_geometry = new PackingGeometry(corners, faces, col::PRIM_TRIANGLES);
    std::vector<col::SphereNode> far(1);
    far[0].center = Point3(50, 50, 50), far[0].radius = 0.1f;
    scene.container.m_geometry->m_extraData =
        new col::ExtraData_SphereTree(col::SphereTree(far, col::SphereTreeKind::Container));

    Fill<RandomSequentialAddition>(scene, 20, 3);
    ASSERT_GE(scene.placed.size(), 50u);
    float outermost = 0.0f;
    for (const MovingObject* o : scene.placed) {
        const Vector3& p = o->m_position;
        const float l1 = std::fabs(p[0]) + std::fabs(p[1]) + std::fabs(p[2]);
        EXPECT_LE(l1, 2.0f) << p[0] << " " << p[1] << " " << p[2];
        outermost = std::max(outermost, l1);
    }
    EXPECT_GT(outermost, 1.5f);  // the whole octahedron is used, not a small core
}

// Haar-uniform orientations turn a fixed axis to a point uniform on the sphere, so its z
// component is uniform on [-1, 1] (a random axis from a cube and a uniform angle is not).
TEST(RandomSequentialAdditionTest, UniformRotationSpreadsAnAxisEvenlyOverTheSphere) {
    col::FibRand random(17);
    const auto u = [&] { return static_cast<float>(random.mrand(1u << 20)) / static_cast<float>(1u << 20); };
    constexpr int kDraws = 8000;
    int bins[4] = {0, 0, 0, 0};
    for (int k = 0; k < kDraws; ++k) {
        const Matrix4 m = Packing::UniformRotation(u(), u(), u());
        const Vector3 z = m.getCol2().getXYZ();
        ASSERT_NEAR(length(z), 1.0f, 1e-5f);
        ASSERT_NEAR(dot(cross(m.getCol0().getXYZ(), m.getCol1().getXYZ()), z), 1.0f, 1e-4f);  // no mirror
        ++bins[std::min(3, static_cast<int>((z[2] + 1.0f) * 2.0f))];
    }
    for (int b : bins) EXPECT_NEAR(b, kDraws / 4, kDraws / 40) << bins[0] << " " << bins[1] << " " << bins[2];
}
