// The hybrid, growing-seed and distance constructions: each through the executable on a tiny
// configuration under iteration budgets, and their corner cases on hand-made scenes.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "algorithms/construction/DistanceAlgorithm.h"
#include "algorithms/construction/GrowingSeedAlgorithm.h"
#include "algorithms/construction/HybridAlgorithm.h"
#include "collision/CollisionPipeline.h"
#include "collision/ExtraData.h"
#include "geometry/MovingObject.h"
#include "geometry/Random.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

using testscene::MakeType;
using testscene::Scene;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace {

class ConstructionEndToEnd : public ::testing::TestWithParam<const char*> {};

// 3 x 3 x 3 box, 125 points 0.5 apart, spheres and M&Ms: the run ends, what it placed is inside
// and apart by the exact meshes, loads back in view mode and repeats byte for byte.
TEST_P(ConstructionEndToEnd, EndsPassesTheCheckLoadsAndRepeats) {
    const std::string dir = MakeTempDir("construct");
    testscene::WriteTinyRun(dir, std::string(DENSEPACK_SOURCE_DIR) + "/models");
    WriteFile(dir + "/run.cfg", std::string("[Construction Heuristic]\n") + GetParam() +
                                    " construction.txt\n[Grid]\n1 1 1\n[Preprocessing]\npoints.txt smallest 0.5 1\n" +
                                    "[ModelPath]\n./\n[Container]\ntray 0.8 0.8 0.8 0.2\n[Objects]\n" +
                                    "sphere 60 0.9 0.3 0.2 1.0\nmm 40 0.2 0.3 0.9 1.0\n");
    const std::string bin = "ASAN_OPTIONS=detect_leaks=0 " + std::string(DENSEPACK_BIN);
    const std::string run = bin + " --headless --seed 1 --limits steps --steps-per-second 5 -c run.cfg";

    const ProcessResult first = RunCommand(run, dir);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string placed = ReadFile(dir + "/construction.txt");
    ASSERT_GT(testscene::CountLines(placed), 1);

    // Default tolerance; objects outside the container beyond it fail the check too.
    const ProcessResult check = RunCommand(std::string(DENSEPACK_CHECK_EXE) + " -c run.cfg construction.txt", dir);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("beyond tolerance: 0)"), std::string::npos) << check.out;

    const ProcessResult view = RunCommand(bin + " -c run.cfg -v construction.txt --headless", dir);
    ASSERT_EQ(view.status, 0) << view.err;
    EXPECT_NE(view.out.find("Placed objects: " + std::to_string(testscene::CountLines(placed)) + "\n"),
              std::string::npos)
        << view.out;

    std::remove((dir + "/construction.txt").c_str());
    const ProcessResult again = RunCommand(run, dir);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile(dir + "/construction.txt"), placed);
}

INSTANTIATE_TEST_SUITE_P(Heuristics, ConstructionEndToEnd,
                         ::testing::Values("HybridAlgorithm", "GrowingSeedAlgorithm", "DistanceAlgorithm"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

class ConstructionTest : public ::testing::Test {
 protected:
    void SetUp() override { seedGlobalRandom(3); }
};

// Settling ends when the newest object rests on the floor, and when it falls through a container
// that has only a lid.
TEST_F(ConstructionTest, GravitySettlingEndsAtRestOrWhenTheObjectFallsOut) {
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
        EXPECT_EQ(rested, floor);
        EXPECT_EQ(obj->m_stopped, floor);
        EXPECT_EQ(algo->bounds().settling, 0);  // ended by its own rule, not by the bound
        if (floor) {
            EXPECT_NEAR(obj->m_position.getY(), -1.5f, 0.15f);
        } else {
            EXPECT_LT(obj->m_position.getY(), -1000.0f);
        }
        scene.placed.clear();  // the algorithm owns its objects
    }
}

// A seed that cannot reach full size is removed and the packing goes back to how it was before
// it grew; the type choice ends whatever the shares and the disabled types.
TEST_F(ConstructionTest, GrowingSeedRemovesASeedThatCannotGrowAndTheTypeChoiceEnds) {
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
TEST_F(ConstructionTest, DistanceAttachMeetsTheTargetAndFarObjectsStayAtTheirPoint) {
    Scene scene(20.0f, {MakeType("cube", 100, 0.5f, 0.5f)});
    MovingObject::AllocateTypeTables(1);
    MovingObject* target = scene.Place(0, Vector3(0.0f));
    MovingObject* obj = scene.Place(0, Vector3(3.0f, 0.25f, 0.0f));
    scene.placed.pop_back();
    auto* algo = scene.Make<DistanceAlgorithm*>();
    const float gap = algo->Attach(obj, target);
    EXPECT_GT(gap, 1.5f);
    EXPECT_LT(gap, 2.02f);
    EXPECT_NEAR(obj->m_position.getX(), 1.0f, 0.02f);
    EXPECT_NEAR(algo->Attach(obj, target), 0.0f, 1e-3f);  // in contact now
    delete obj->m_geometry;
    delete obj;

    scene.placed.clear();
    delete target->m_geometry;
    delete target;
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
