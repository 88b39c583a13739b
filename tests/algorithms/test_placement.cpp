// Placement heuristic on hand-made sphere-tree scenes: wall tests, orientation tries, type
// replacement, relaxation, rejection and the callback's pushes.

#include <gtest/gtest.h>

#include <cmath>
#include <list>
#include <vector>

#include "algorithms/construction/PlacementAlgorithm.h"
#include "collision/col.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/Random.h"
#include "support/TestScene.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace heurtest {

// Long along x: half extent 0.9, about 0.72 in x and y after a 45 degree turn about z.
PackingObjectInfo MakeRodType(float share) {
    std::vector<col::SphereNode> nodes(3);
    nodes[0].radius = 0.91f, nodes[0].firstChild = 1, nodes[0].childCount = 2;
    for (int i = 1; i < 3; ++i) nodes[i].center = Point3(i == 1 ? -0.6f : 0.6f, 0, 0), nodes[i].radius = 0.3f;
    PackingObjectInfo t;
    t.name = "rod";
    t.percentage = share;
    t.geometry = testscene::MakeBox(0.9f, 0.3f, 0.3f);
    t.geometry->m_extraData = new col::ExtraData_SphereTree(col::SphereTree(nodes));
    return t;
}

}  // namespace heurtest

namespace {

using heurtest::MakeRodType;
using testscene::MakeBoxContainer;
using testscene::MakeType;

class PlacementTest : public ::testing::Test {
 protected:
    void SetUp() override {
        seedGlobalRandom(7);
        PlacementAlgorithm::PointIndex() = 0;
    }
    // Box container [-h, h]^3; the remembered angles start at -1 to show whether they were set.
    PlacementAlgorithm& Make(std::vector<PackingObjectInfo> t, float h, std::vector<Vector3> pts) {
        types = std::move(t);
        points = std::move(pts);
        MovingObject::AllocateTypeTables(types.size());
        for (size_t i = 0; i < types.size(); ++i) MovingObject::m_angle[i] = -1.0f;  // "never set"
        container.m_geometry = MakeBoxContainer(h);
        algo = new PlacementAlgorithm(types, &container, points, &placed, Vector3(1.0f));
        algo->Init();
        return *algo;
    }
    // The placement pipeline as the construction sets it up.
    col::CollisionPipeline* PlacementPipeline() {
        auto* p = algo->CreatePipeline("PlacementPipeline", 2);
        algo->MakeObjectCollidable(p, &container);
        algo->FillUpBuffer(p);
        return p;
    }

    std::vector<PackingObjectInfo> types;
    MovingObject container;
    std::vector<Vector3> points;
    std::list<MovingObject*> placed;
    PlacementAlgorithm* algo = nullptr;
};

TEST_F(PlacementTest, NoInteriorPointsPlacesNothing) {
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, 20, {});
    testing::internal::CaptureStdout();
    algo->ConstructionHeuristic();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "End\n0\n");
    EXPECT_TRUE(placed.empty());
}

TEST_F(PlacementTest, FreeCandidatesKeepTheirPoseAndOverlapsAreRelaxed) {
    // Points 0.8 apart: every ball fits the wall test, then neighbours must be pushed apart.
    std::vector<Vector3> pts;
    for (int i = 0; i < 5; ++i) pts.push_back(Vector3(0.8f * i, 0, 0));
    pts.push_back(Vector3(0, 10, 0));  // far from all others: placed exactly where it is
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, 20, pts);
    testing::internal::CaptureStdout();
    algo->ConstructionHeuristic();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "End\n6\n");
    ASSERT_EQ(placed.size(), 6u);
    for (auto a = placed.begin(); a != placed.end(); ++a)
        for (auto b = std::next(a); b != placed.end(); ++b)
            EXPECT_GE(length((*a)->m_position - (*b)->m_position), 1.0f - 1e-5f);
    const MovingObject* last = placed.back();
    EXPECT_EQ(last->m_position[1], 10.0f);
    EXPECT_EQ(last->m_position[0], 0.0f);  // no orientation nudge: RotateObject never ran
    EXPECT_FALSE(last->m_rotationMatrix[0][0] == 1.0f && last->m_rotationMatrix[1][1] == 1.0f);
    EXPECT_EQ(MovingObject::m_angle[0], -1.0f);
    for (const MovingObject* o : placed) EXPECT_TRUE(o->m_stopped);
}

TEST_F(PlacementTest, CandidateThatTouchesTheWallIsTurnedAndTheTurnRemembered) {
    Make({MakeRodType(100)}, 0.8f, {Vector3(0, 0, 0), Vector3(0, 0, 0)});
    auto* p = PlacementPipeline();
    MovingObject* rod = algo->m_buffer[0];

    rod->m_rotationMatrix = Matrix4::rotation(0.7f, Vector3(0, 0, 1));  // fits as it is
    MovingObject* obj = rod;
    EXPECT_EQ(algo->PlaceObject(p, false, &obj), 1);
    EXPECT_EQ(obj, rod);
    EXPECT_EQ(rod->m_position[0], 0.0f);
    EXPECT_FLOAT_EQ(rod->m_rotationMatrix[0][0], std::cos(0.7f));
    EXPECT_EQ(MovingObject::m_angle[0], -1.0f);

    rod->m_rotationMatrix = Matrix4::identity();  // along x: touches both walls
    EXPECT_EQ(algo->PlaceObject(p, false, &obj), 1);
    EXPECT_NEAR(rod->m_position[0], 0.0002f, 1e-7f);  // one nudge per try: try 1 fits
    EXPECT_FLOAT_EQ(MovingObject::m_angle[0], 0.78539f);
    EXPECT_EQ(MovingObject::m_rotDir[0][2], 1.0f);
    EXPECT_FLOAT_EQ(rod->m_rotationMatrix[0][0], std::cos(0.78539f));
}

TEST_F(PlacementTest, SmallerTypeReplacesOnlyOnceSomethingIsPlaced) {
    // At x = 0.6 the ball reaches the wall at 1.0, the small sphere does not.
    Make({MakeType("ball", 50, 0.5f, 0.5f), MakeType("small", 50, 0.2f, 0.2f)}, 1.0f,
         {Vector3(0.6f, 0, 0), Vector3(0, 0, 0), Vector3(0.6f, 0.5f, 0)});
    auto* p = PlacementPipeline();
    MovingObject* ball = algo->m_buffer[0];
    MovingObject* obj = ball;

    EXPECT_EQ(algo->PlaceObject(p, false, &obj), 1);  // empty packing: the ball moves on to point 1
    EXPECT_EQ(obj, ball);
    EXPECT_EQ(PlacementAlgorithm::PointIndex(), 2);

    placed.push_back(ball);  // type 1 now has 0 % of its 50 % share
    algo->m_buffer[0] = nullptr;
    algo->FillUpBuffer(p);
    MovingObject* other = obj = algo->m_buffer[0];
    EXPECT_EQ(algo->PlaceObject(p, false, &obj), 2);
    EXPECT_EQ(obj, algo->m_buffer[1]);
    EXPECT_TRUE(obj->m_stopped);
    EXPECT_EQ(obj->m_position[1], 0.5f);
    EXPECT_GE(other->m_position[0], 500.0f);  // the ball is parked
}

TEST_F(PlacementTest, UnsettledInsertionIsRejectedAndRetriedAtTheNextPoint) {
    // Two balls on the same point have no separating direction, so the relaxation runs into
    // its limit (5 iterations here); the same ball then fits at the far point.
    const testscene::StepLimits limits(1);
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, 20, {Vector3(0, 0, 0), Vector3(0, 0, 0), Vector3(5, 0, 0)});
    testing::internal::CaptureStdout();
    algo->ConstructionHeuristic();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "THEORY\nEnd\n2\n");
    ASSERT_EQ(placed.size(), 2u);
    ASSERT_EQ(algo->m_generatedObjects.size(), 3u);
    EXPECT_EQ(placed.back(), algo->m_generatedObjects[1]);
    EXPECT_EQ(placed.front()->m_position[0], 0.0f);
    EXPECT_EQ(placed.back()->m_position[0], 5.0f);
}

TEST(PCallbackTest, WallContactPushesInwardAlongTheNormalCones) {
    MovingObject wall, obj;
    wall.m_inverseMass = 0.0f;
    wall.m_id = 0, obj.m_id = 1;
    obj.m_position = Vector3(0.5f, 0, 0);
    obj.m_modelMatrix = Matrix4::translation(obj.m_position);
    col::SphereNode a, b1, b2;
    a.direction = normalize(Vector3(1, 1, 1));
    a.angle = 0.1f;
    b1.direction = Vector3(1, 0, 0);
    b2.direction = Vector3(-1, 0, 0);  // b's cones cancel: no push for the wall itself
    std::vector<col::SphereIntersectionData> isec = {{Point3(1, 0, 0), 0.5f, Point3(0, 0, 0), 0.5f}};
    std::vector<col::NodePair> pairs = {{&a, &b1}, {&a, &b2}};
    col::Data data;
    data.sphereIntersections = &isec;
    data.nodePairs = &pairs;
    data.overlap = 0.25f;

    PlacementAlgorithm::M_overlapConverged = true;
    PCallback(wall, obj, col::LEVEL_CONTACT)(&data);
    EXPECT_FALSE(PlacementAlgorithm::M_overlapConverged);
    EXPECT_EQ(wall.m_velocity[0], 0.0f);
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(obj.m_velocity[i], -2.0f / std::sqrt(3.0f));
    EXPECT_EQ(obj.m_overlap, 0.25f);

    // Between two objects: a unit push each, away from each other.
    MovingObject other;
    other.m_id = 2;
    pairs.clear();
    obj.m_velocity = Vector3(0.0f);
    PCallback(obj, other, col::LEVEL_CONTACT)(&data);
    EXPECT_FLOAT_EQ(obj.m_velocity[0], 1.0f);
    EXPECT_FLOAT_EQ(other.m_velocity[0], -1.0f);

    isec.clear();
    PlacementAlgorithm::M_overlapConverged = true;
    testing::internal::CaptureStdout();
    PCallback(obj, other, col::LEVEL_CONTACT)(&data);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "IsecData was NULL!\n");
    EXPECT_TRUE(PlacementAlgorithm::M_overlapConverged);
}

}  // namespace
