// The construction heuristics on hand-made sphere-tree scenes: placement, gravity settling,
// growing seeds and distance attach.

#include <gtest/gtest.h>

#include <cmath>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Stubs.h"
#include "algorithms/construction/DistanceAlgorithm.h"
#include "algorithms/construction/GrowingSeedAlgorithm.h"
#include "algorithms/construction/HybridAlgorithm.h"
#include "algorithms/construction/PlacementAlgorithm.h"
#include "collision/CollisionPipeline.h"
#include "collision/ExtraData.h"
#include "collision/col.h"
#include "geometry/MovingObject.h"
#include "geometry/Random.h"
#include "support/TestScene.h"

using testscene::Scene;

namespace {

class PlacementTest : public ::testing::Test {
 protected:
    // Box container [-h, h]^3; the remembered angles start at -1 to show whether they were set.
    void Make(std::vector<PackingObjectInfo> t, float h, std::vector<Vector3> pts) {
        seedGlobalRandom(7);
        PlacementAlgorithm::PointIndex() = 0;
        s = std::make_unique<testscene::Scene>(h, std::move(t), std::move(pts), std::vector<Vector3>{}, 1.0f);
        for (size_t i = 0; i < s->types.size(); ++i) MovingObject::m_angle[i] = -1.0f;
        algo = s->Make<PlacementAlgorithm*>();
        algo->Init();
    }
    // The placement pipeline as the construction sets it up.
    col::CollisionPipeline* PlacementPipeline() {
        auto* p = algo->CreatePipeline("PlacementPipeline", 2);
        algo->MakeObjectCollidable(p, &s->container);
        algo->FillUpBuffer(p);
        return p;
    }
    std::unique_ptr<testscene::Scene> s;
    PlacementAlgorithm* algo = nullptr;
};

TEST_F(PlacementTest, FreeCandidatesKeepTheirPoseOverlapsAreRelaxedAndUnsettledOnesRetried) {
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, 20, {});
    EXPECT_EQ(StdoutOf([&] { algo->ConstructionHeuristic(); }), "End\n0\n");
    EXPECT_TRUE(s->placed.empty());

    // Points 0.8 apart: every ball fits the wall test, then neighbours must be pushed apart.
    std::vector<Vector3> pts;
    for (int i = 0; i < 5; ++i) pts.push_back(Vector3(0.8f * i, 0, 0));
    pts.push_back(Vector3(0, 10, 0));  // far from all others: placed exactly where it is
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, 20, pts);
    EXPECT_EQ(StdoutOf([&] { algo->ConstructionHeuristic(); }), "End\n6\n");
    ASSERT_EQ(s->placed.size(), 6u);
    for (auto a = s->placed.begin(); a != s->placed.end(); ++a)
        for (auto b = std::next(a); b != s->placed.end(); ++b)
            EXPECT_GE(length((*a)->m_position - (*b)->m_position), 1.0f - 1e-5f);
    const MovingObject* last = s->placed.back();
    EXPECT_EQ(last->m_position[1], 10.0f);
    EXPECT_EQ(last->m_position[0], 0.0f);  // no orientation nudge: RotateObject never ran
    EXPECT_FALSE(last->m_rotationMatrix[0][0] == 1.0f && last->m_rotationMatrix[1][1] == 1.0f);
    EXPECT_EQ(MovingObject::m_angle[0], -1.0f);
    for (const MovingObject* o : s->placed) EXPECT_TRUE(o->m_stopped);

    // Two balls on the same point have no separating direction, so the relaxation runs into
    // its limit (5 iterations here); the same ball then fits at the far point.
    const testscene::StepLimits limits(1);
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, 20, {Vector3(0, 0, 0), Vector3(0, 0, 0), Vector3(5, 0, 0)});
    EXPECT_EQ(StdoutOf([&] { algo->ConstructionHeuristic(); }), "THEORY\nEnd\n2\n");
    ASSERT_EQ(s->placed.size(), 2u);
    ASSERT_EQ(algo->m_generatedObjects.size(), 3u);
    EXPECT_EQ(s->placed.back(), algo->m_generatedObjects[1]);
    EXPECT_EQ(std::pair(s->placed.front()->m_position[0], s->placed.back()->m_position[0]), std::pair(0.0f, 5.0f));
}

TEST_F(PlacementTest, WallCandidateIsTurnedAndRememberedAndASmallerTypeReplacesOnceSomethingIsPlaced) {
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

    // At x = 0.6 the ball reaches the wall at 1.0, the small sphere does not.
    Make({MakeType("ball", 50, 0.5f, 0.5f), MakeType("small", 50, 0.2f, 0.2f)}, 1.0f,
         {Vector3(0.6f, 0, 0), Vector3(0, 0, 0), Vector3(0.6f, 0.5f, 0)});
    p = PlacementPipeline();
    MovingObject* ball = obj = algo->m_buffer[0];
    EXPECT_EQ(algo->PlaceObject(p, false, &obj), 1);  // empty packing: the ball moves on to point 1
    EXPECT_EQ(obj, ball);
    EXPECT_EQ(PlacementAlgorithm::PointIndex(), 2);

    s->placed.push_back(ball);  // type 1 now has 0 % of its 50 % share
    algo->m_buffer[0] = nullptr;
    algo->FillUpBuffer(p);
    MovingObject* other = obj = algo->m_buffer[0];
    EXPECT_EQ(algo->PlaceObject(p, false, &obj), 2);
    EXPECT_EQ(obj, algo->m_buffer[1]);
    EXPECT_TRUE(obj->m_stopped);
    EXPECT_EQ(obj->m_position[1], 0.5f);
    EXPECT_GE(other->m_position[0], 500.0f);  // the ball is parked
}

TEST(PCallbackTest, WallContactPushesInwardAlongTheNormalCones) {
    MovingObject wall, obj;
    wall.m_inverseMass = 0.0f, wall.m_id = 0, obj.m_id = 1;
    obj.m_position = Vector3(0.5f, 0, 0);
    obj.m_modelMatrix = Matrix4::translation(obj.m_position);
    col::SphereNode a, b1, b2;
    a.direction = normalize(Vector3(1, 1, 1)), a.angle = 0.1f;
    b1.direction = Vector3(1, 0, 0), b2.direction = Vector3(-1, 0, 0);  // b's cones cancel: no push for the wall itself
    std::vector<col::SphereIntersectionData> isec = {{Point3(1, 0, 0), 0.5f, Point3(0, 0, 0), 0.5f}};
    std::vector<col::NodePair> pairs = {{&a, &b1}, {&a, &b2}};
    col::Data data;
    data.sphereIntersections = &isec, data.nodePairs = &pairs, data.overlap = 0.25f;

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
    EXPECT_EQ(StdoutOf([&] { PCallback(obj, other, col::LEVEL_CONTACT)(&data); }), "IsecData was NULL!\n");
    EXPECT_TRUE(PlacementAlgorithm::M_overlapConverged);
}

// Settling ends when the newest object rests on the floor, and when it falls through a container
// that has only a lid.
TEST(ConstructionTest, GravitySettlingEndsAtRestOrWhenTheObjectFallsOut) {
    seedGlobalRandom(3);
    testscene::StepLimits limits(1000);
    for (bool floor : {true, false}) {
        Scene scene(2.0f, {MakeType("ball", 100, 0.5f, 0.5f)});
        MovingObject::AllocateTypeTables(1);
        if (!floor) {
            std::vector<col::SphereNode> nodes(2);
            nodes[0].radius = 2004.0f, nodes[0].firstChild = 1, nodes[0].childCount = 1;
            nodes[1].center = Point3(0.0f, 1002.0f, 0.0f), nodes[1].radius = 1000.0f;
            delete scene.container.m_geometry->m_extraData;
            scene.container.m_geometry->m_extraData =
                new col::ExtraData_SphereTree(col::SphereTree(nodes, col::SphereTreeKind::Container));
        }
        auto* algo = scene.Make<HybridAlgorithm*>();
        StdoutOf([&] { algo->Init(); });
        col::CollisionPipeline* main = algo->collisionPipeline();
        col::CollisionPipeline* placement = algo->CreatePipeline("PlacementPipeline", 2);
        col::CollisionPipeline* container = algo->CreatePipeline("ContainerPipeline", 3);
        algo->MakeObjectCollidable(placement, &scene.container);
        algo->MakeObjectCollidable(container, &scene.container);
        MovingObject* obj = algo->CreateObject(main, placement, container);
        algo->m_objects.push_back(obj);
        obj->m_position = Vector3(0.0f);
        obj->m_translationMatrix = obj->m_rotationMatrix = obj->m_modelMatrix = Matrix4::identity();
        scene.placed.push_back(obj);
        main->activate(obj->m_id);

        const bool rested = algo->Compact2();
        EXPECT_EQ(std::pair(rested, obj->m_stopped), std::pair(floor, floor));
        EXPECT_EQ(algo->bounds().settling, 0);  // ended by its own rule, not by the bound
        const float y = obj->m_position.getY();
        EXPECT_TRUE(floor ? std::fabs(y + 1.5f) <= 0.15f : y < -1000.0f) << y;
        scene.placed.clear();  // the algorithm owns its objects
    }
}

// Cells that cannot hold the widest object (the rod, 1.8 long, not the larger ball) are named,
// with the finest grid whose cells would hold it; cells that do are not.
TEST(ConstructionTest, HybridSaysWhenItsCellsCannotHoldTheWidestObject) {
    const std::string finest = "; the finest grid whose cells hold it is [Grid] 2 2 2.\n";
    const std::pair<float, std::string> cases[] = {
        {3.0f,
         "densepack: HybridAlgorithm: [Grid] 3 3 3 gives cells of 1.33333 x 1.33333 x 1.33333, smaller than the "
         "largest object (1.8 across)" +
             finest},
        {2.0f, ""},
        {0.5f, "densepack: HybridAlgorithm: [Grid] 0.5 0.5 0.5 gives no cells" + finest},
    };
    for (const auto& [cells, message] : cases) {
        Scene scene(2.0f, {MakeType("ball", 50, 0.5f, 0.5f), MakeRodType(50)}, {}, {}, cells);
        auto* algo = scene.Make<HybridAlgorithm*>();
        std::string err;
        StdoutOf([&] {
            algo->Init();
            err = StderrOf([&] { algo->ConstructionHeuristic(); });
        });
        EXPECT_EQ(WithoutProgress(err), message) << cells;
    }
}

// A seed that cannot reach full size is removed and the packing goes back to how it was before
// it grew; the type choice ends whatever the shares and the disabled types.
TEST(ConstructionTest, GrowingSeedRemovesASeedThatCannotGrowAndTheTypeChoiceEnds) {
    seedGlobalRandom(3);
    testscene::StepLimits limits(30);
    Scene scene(0.55f, {MakeType("ball", 100, 0.5f, 0.5f)});
    scene.points = {Vector3(-0.3f, 0.0f, 0.0f), Vector3(0.3f, 0.0f, 0.0f)};
    auto* algo = scene.Make<GrowingSeedAlgorithm*>();
    const std::string out = StdoutOf([&] {
        algo->Init();
        algo->ConstructionHeuristic();
    });
    EXPECT_NE(out.find("Objects callback registered.\nGrowing ended.\nTime Min: "), std::string::npos) << out;
    ASSERT_EQ(scene.placed.size(), 1u);  // the box holds one ball; the second seed is gone
    EXPECT_EQ(algo->removedSeeds(), 1);
    EXPECT_TRUE(scene.placed.front()->m_stopped);
    EXPECT_FLOAT_EQ(scene.placed.front()->m_scaleMatrix[0][0], 1.0f);
    EXPECT_LT(length(scene.placed.front()->m_position), 0.06f);  // pushed off the walls, centred

    scene.types.push_back(MakeType("cube", 0, 0.3f, 0.3f));
    int grown = 0;
    EXPECT_EQ(algo->ChooseType({0, 0}, {false, false}, grown), -1);  // every type disabled: the run ends
    EXPECT_EQ(algo->ChooseType({0, 0}, {false, true}, grown), 1);    // nothing grown, no type 0 left
    grown = 4;
    EXPECT_EQ(algo->ChooseType({4, 0}, {false, true}, grown), 1);  // no enabled type with a share
    EXPECT_EQ(grown, 4);
    EXPECT_EQ(algo->ChooseType({4, 0}, {true, true}, grown), 0);  // every share at its mark: count on
    EXPECT_EQ(grown, 5);
    scene.placed.clear();
}

// Attach closes the gap to the target along its shortest distance; an object whose recent
// neighbours are out of reach stays exactly at its point, in its type's remembered turn.
TEST(ConstructionTest, DistanceAttachMeetsTheTargetAndFarObjectsStayAtTheirPoint) {
    seedGlobalRandom(3);
    MovingObject::AllocateTypeTables(1);
    {
        Scene scene(20.0f, {MakeType("cube", 100, 0.5f, 0.5f)});
        MovingObject* target = scene.Place(0, Vector3(0.0f));
        MovingObject* obj = scene.Place(0, Vector3(3.0f, 0.25f, 0.0f));
        scene.placed.pop_back();
        auto* algo = scene.Make<DistanceAlgorithm*>();
        const float gap = algo->Attach(obj, target);
        EXPECT_TRUE(gap > 1.5f && gap < 2.02f) << gap;
        EXPECT_NEAR(obj->m_position.getX(), 1.0f, 0.02f);
        EXPECT_NEAR(algo->Attach(obj, target), 0.0f, 1e-3f);  // in contact now
        scene.placed.push_back(obj);
    }
    Scene scene(20.0f, {MakeType("cube", 100, 0.5f, 0.5f)});
    scene.points = {Vector3(0.0f), Vector3(0.0f, 0.0f, 0.5f), Vector3(10.0f, 2.0f, -3.0f)};
    auto* run = scene.Make<DistanceAlgorithm*>();
    run->Init();
    StdoutOf([&] { run->ConstructionHeuristic(); });
    ASSERT_EQ(scene.placed.size(), 2u);  // the second point overlaps the first object
    const MovingObject* far = scene.placed.back();
    EXPECT_EQ(far->m_id, scene.placed.front()->m_id + 1);  // the object carried over, not a new one
    EXPECT_TRUE(far->m_position.getX() == 10.0f && far->m_position.getY() == 2.0f && far->m_position.getZ() == -3.0f);
    const Matrix4 turn = Matrix4::rotation(MovingObject::m_angle[0], MovingObject::m_rotDir[0]);
    for (int c = 0; c < 3; ++c) EXPECT_LT(length(far->m_rotationMatrix.getCol(c) - turn.getCol(c)), 1e-6f);
}

}  // namespace
