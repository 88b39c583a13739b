// Compaction heuristic on small box scenes: relaxation, insertion points, remembered
// orientations, the pair matrix and the callback's bookkeeping.

#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "algorithms/improvement/CompactionAlgorithm.h"
#include "collision/CollisionPipeline.h"
#include "geometry/MovingObject.h"
#include "geometry/Random.h"
#include "support/TestScene.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace heurtest {
PackingObjectInfo MakeRodType(float share);  // test_placement.cpp
}

namespace {

using testscene::MakeType;

class CompactionTest : public ::testing::Test {
 protected:
    void SetUp() override {
        seedGlobalRandom(11);
        CompactionAlgorithm::PointIndex() = 0;
    }
    // Box container [-5, 5]^3 holding objects of type 0 at `at`; Init already run.
    CompactionAlgorithm& Make(std::vector<PackingObjectInfo> t, std::vector<Vector3> at, std::vector<Vector3> pts,
                              float half = 5.0f) {
        types = std::move(t);
        points = std::move(pts);
        MovingObject::AllocateTypeTables(types.size());
        container.m_geometry = testscene::MakeBoxContainer(half);
        algo = new CompactionAlgorithm(types, &container, points, &placed, Vector3(1.0f));
        for (const Vector3& p : at) {
            MovingObject* o = algo->GenerateObject(0);
            o->m_position = p;
            o->m_translationMatrix = o->m_modelMatrix = Matrix4::translation(p);
            placed.push_back(o);
        }
        testing::internal::CaptureStdout();
        algo->Init();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Objects callback registered.\n");
        return *algo;
    }
    std::string RunMain() {
        testing::internal::CaptureStdout();
        algo->Main();
        return testing::internal::GetCapturedStdout();
    }

    std::vector<PackingObjectInfo> types;
    MovingObject container;
    std::vector<Vector3> points;
    std::list<MovingObject*> placed;
    CompactionAlgorithm* algo = nullptr;
};

TEST_F(CompactionTest, OverlapFreePackingSettlesAfterOneIteration) {
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, {Vector3(-2, 0, 0), Vector3(2, 0, 0)}, {});
    EXPECT_EQ(algo->isecMatrix()->size(), 3u);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(algo->Compact());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Counter : 1\n", 0), 0u);
    EXPECT_EQ(out.find("Counter : 2"), std::string::npos);
    EXPECT_NE(out.find("\nPlaced Objs nr: 2\n"), std::string::npos);
}

TEST_F(CompactionTest, OverlapsAreRelaxedAgainstEachOtherAndTheWall) {
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, {Vector3(-0.3f, 0, 0), Vector3(0.3f, 0, 0), Vector3(0, 4.8f, 0)}, {});
    testing::internal::CaptureStdout();
    EXPECT_TRUE(algo->Compact());
    testing::internal::GetCapturedStdout();
    const std::vector<MovingObject*> o(placed.begin(), placed.end());
    EXPECT_GE(length(o[0]->m_position - o[1]->m_position), 1.0f);
    EXPECT_LE(o[2]->m_position[1], 4.5f + 1e-4f);  // off the wall plane y = 5
    EXPECT_EQ(container.m_inverseMass, 0.0f);
}

TEST_F(CompactionTest, FewerThanThirtyPointsInsertNothing) {
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, {}, std::vector<Vector3>(29, Vector3(0.0f)));
    EXPECT_EQ(algo->isecMatrix()->size(), 1u);
    const std::string out = RunMain();
    EXPECT_NE(out.find("End\n0\nTime Sec.: "), std::string::npos);
    EXPECT_TRUE(placed.empty());
}

TEST_F(CompactionTest, RetriedObjectKeepsItsSlotAndTheTypeKeepsItsTurn) {
    // Point 0 is in the wall for every orientation; at point 30 the rod fits only turned by
    // 45 degrees about z; the rod inserted at point 60 starts in that turn and fits as it is.
    std::vector<Vector3> pts(90, Vector3(0.0f));
    pts[0] = Vector3(4.9f, 0, 0);
    pts[30] = Vector3(4.2f, 0, 0);
    pts[60] = Vector3(4.2f, -3, 0);
    Make({heurtest::MakeRodType(100)}, {}, pts);
    const std::string out = RunMain();
    EXPECT_NE(out.find("End\n2\n"), std::string::npos);
    EXPECT_EQ(out.find("THEORY"), std::string::npos);
    EXPECT_EQ(algo->isecMatrix()->size(), 3u);  // container + two objects: the retry made none
    for (const auto& row : *algo->isecMatrix()) EXPECT_EQ(row.size(), 3u);

    ASSERT_EQ(placed.size(), 2u);
    EXPECT_FLOAT_EQ(MovingObject::m_angle[0], 0.78539f);
    EXPECT_EQ(MovingObject::m_rotDir[0][2], 1.0f);
    EXPECT_NEAR(placed.front()->m_position[0], 4.2002f, 1e-5f);  // two tries at point 30
    const MovingObject* second = placed.back();
    EXPECT_EQ(second->m_position[0], 4.2f);  // no try needed: no nudge
    EXPECT_EQ(second->m_position[1], -3.0f);
    EXPECT_FLOAT_EQ(second->m_rotationMatrix[0][0], std::cos(0.78539f));
    EXPECT_FLOAT_EQ(second->m_rotationMatrix[0][1], std::sin(0.78539f));
}

TEST_F(CompactionTest, InsertionIntoAFullBoxTimesOutIsParkedAndRetriedWithoutANewObject) {
    // Eight balls fill the 2 x 2 x 2 box; a ninth at the centre can never settle (30 iterations
    // per relaxation here).
    const testscene::StepLimits limits(1);
    std::vector<Vector3> at;
    for (int i = 0; i < 8; ++i) at.emplace_back(i & 1 ? 0.5f : -0.5f, i & 2 ? 0.5f : -0.5f, i & 4 ? 0.5f : -0.5f);
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, at, std::vector<Vector3>(60, Vector3(0.0f)), 1.0f);
    const std::string out = RunMain();
    EXPECT_NE(out.find("THEORY\n"), std::string::npos);
    EXPECT_NE(out.find("End\n0\n"), std::string::npos);
    EXPECT_NE(out.find("Counter : 30\n"), std::string::npos);
    EXPECT_EQ(out.find("Counter : 31\n"), std::string::npos);
    EXPECT_EQ(placed.size(), 8u);
    EXPECT_EQ(algo->m_objects.size(), 8u);
    EXPECT_EQ(algo->isecMatrix()->size(), 10u);  // one insertion object, retried
    // The run ended on a failed relaxation: the packing written is the last settled one, which a
    // check finds free at once.
    testing::internal::CaptureStdout();
    EXPECT_TRUE(algo->Compact());
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Counter : 2\n"), std::string::npos);
}

TEST_F(CompactionTest, InsertionTypeFallsBackToTheSmallestWhenSharesLeaveNone) {
    Make({MakeType("a", 0, 0.5f, 0.5f), MakeType("b", 0, 0.2f, 0.2f)}, {}, {});
    auto* placement = algo->CreatePipeline("PlacementPipeline", 2);
    algo->MakeObjectCollidable(placement, &container);
    EXPECT_EQ(algo->CreateObject(algo->collisionPipeline(), placement)->m_typeIndex, 1);
    EXPECT_EQ(algo->isecMatrix()->size(), 2u);
}

// The incremental check must not change a run: the same settled packing, bit for bit, and the
// same console output, whether every pair is queried at every check or only the changed ones.
// Overlapping start, insertions at random points, some of them timing out, under step limits.
TEST(CompactionIncremental, SameRunWithFullChecks) {
    const testscene::StepLimits limits(2);
    auto run = [](bool incremental, std::string& out) {
        col::CollisionPipeline::setIncrementalDefault(incremental);
        seedGlobalRandom(5);
        CompactionAlgorithm::PointIndex() = 0;
        std::vector<PackingObjectInfo> types{MakeType("ball", 100, 0.5f, 0.5f)};
        MovingObject::AllocateTypeTables(types.size());
        std::mt19937 rng(9);
        std::uniform_real_distribution<float> u(-1.4f, 1.4f);
        std::vector<Vector3> points;
        for (int i = 0; i < 150; ++i) points.emplace_back(u(rng), u(rng), u(rng));
        auto* container = new MovingObject;
        container->m_geometry = testscene::MakeBoxContainer(2.0f);
        std::list<MovingObject*> placed;
        auto* algo = new CompactionAlgorithm(types, container, points, &placed, Vector3(1.0f));
        for (int i = 0; i < 27; ++i) {
            MovingObject* o = algo->GenerateObject(0);
            const Vector3 p(0.9f * float(i % 3 - 1) + 0.1f * u(rng), 0.9f * float(i / 3 % 3 - 1) + 0.1f * u(rng),
                            0.9f * float(i / 9 - 1) + 0.1f * u(rng));
            o->m_position = p;
            o->m_translationMatrix = o->m_modelMatrix = Matrix4::translation(p);
            placed.push_back(o);
        }
        testing::internal::CaptureStdout();
        algo->Init();
        algo->Main();
        // The console without its timings.
        std::istringstream all(testing::internal::GetCapturedStdout());
        out.clear();
        for (std::string line; std::getline(all, line) && line.rfind("Time Sec.: ", 0) != 0;)
            if (line.find(" Avg: ") == std::string::npos) out += line + "\n";
        std::vector<float> poses;
        for (const MovingObject* o : placed)
            for (int c = 0; c < 4; ++c)
                for (int r = 0; r < 4; ++r) poses.push_back(o->m_modelMatrix[c][r]);
        return poses;
    };
    std::string outOn, outOff;
    const std::vector<float> on = run(true, outOn), off = run(false, outOff);
    col::CollisionPipeline::setIncrementalDefault(true);
    ASSERT_EQ(on.size(), off.size());
    EXPECT_GT(on.size(), 27u * 16u);  // some insertions settled
    EXPECT_EQ(std::memcmp(on.data(), off.data(), on.size() * sizeof(float)), 0);
    EXPECT_EQ(outOn, outOff);
    EXPECT_NE(outOn.find("Counter : 2\n"), std::string::npos);
}

TEST(CompCallbackTest, RecordsOnlyPairsWhoseIdsStillMatch) {
    IsecMatrix matrix(3, std::vector<std::vector<col::SphereIntersectionData>*>(3, nullptr));
    MovingObject a, b;
    a.m_id = 1, b.m_id = 2;
    CompCallback cb(a, b, col::LEVEL_CONTACT, &matrix);
    std::vector<col::SphereIntersectionData> isec = {{Point3(0, 0, 0), 0.5f, Point3(0, 0, 0), 0.5f}};
    col::Data data;
    data.sphereIntersections = &isec;

    CompactionAlgorithm::M_overlapConverged = true;
    cb(&data);
    EXPECT_FALSE(CompactionAlgorithm::M_overlapConverged);
    EXPECT_EQ(matrix[1][2], &isec);

    matrix[1][2] = nullptr;
    isec.clear();
    CompactionAlgorithm::M_overlapConverged = true;
    testing::internal::CaptureStdout();
    cb(&data);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "IsecData was NULL!\n");
    EXPECT_FALSE(CompactionAlgorithm::M_overlapConverged);  // still an overlap, just no impulse
    EXPECT_EQ(matrix[1][2], nullptr);

    a.m_id = 7;  // re-registered elsewhere since
    CompactionAlgorithm::M_overlapConverged = true;
    testing::internal::CaptureStderr();
    cb(&data);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MovemCallback: mobj.node != obj !\n");
    EXPECT_TRUE(CompactionAlgorithm::M_overlapConverged);
}

}  // namespace
