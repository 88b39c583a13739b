// The improvement heuristics on small box scenes: batch, cavity and compaction heuristics, their
// insertion points, time-outs, remembered orientations, pair matrix and callbacks.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Stubs.h"
#include "algorithms/Relaxation.h"
#include "algorithms/improvement/CavityFilling.h"
#include "algorithms/improvement/CavityFillingGrowing.h"
#include "algorithms/improvement/CompactionAlgorithm.h"
#include "algorithms/improvement/SGAlgorithm.h"
#include "algorithms/improvement/ShuffleAlgorithm.h"
#include "algorithms/improvement/TestAlgorithm.h"
#include "collision/CollisionPipeline.h"
#include "geometry/MovingObject.h"
#include "geometry/Random.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace {

// The scene kit's box scene in a fresh working directory (the batch heuristics write timing.txt
// there), remembering the poses its objects start from.
struct Scene : testscene::Scene {
    std::vector<Matrix4> before;
    std::string cwd = std::filesystem::current_path();

    Scene(std::vector<PackingObjectInfo> t, float h, std::vector<Vector3> pts)
        : testscene::Scene(h, std::move(t), std::move(pts), {}, 2.0f) {
        seedGlobalRandom(3);
        std::filesystem::current_path(MakeTempDir("improve-unit"));
    }
    ~Scene() { std::filesystem::current_path(cwd); }

    // Heuristic T with objects of type 0 at `at` (after those already placed); Init already run,
    // its line left to the caller's capture.
    template <class T>
    T* Start(const std::vector<Vector3>& at) {
        for (const Vector3& p : at) before.push_back(Place(0, p)->m_modelMatrix);
        T* algo = Make<T*>();
        algo->Init();
        return algo;
    }
    // The objects given to Start, in their order and at their poses, at full size.
    void ExpectUnchanged() const {
        ASSERT_EQ(placed.size(), before.size());
        size_t i = 0;
        for (const MovingObject* o : placed) {
            for (int k = 0; k < 16; ++k) EXPECT_EQ(o->m_modelMatrix[k / 4][k % 4], before[i][k / 4][k % 4]) << i;
            EXPECT_EQ(std::pair(o->m_scaleMatrix[0][0], o->m_geometry->getScale()), std::pair(1.0f, 1.0f)) << i;
            ++i;
        }
    }
};

std::vector<Vector3> Octants(float d) {
    std::vector<Vector3> at;
    for (int i = 0; i < 8; ++i) at.emplace_back(i & 1 ? d : -d, i & 2 ? d : -d, i & 4 ? d : -d);
    return at;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct BatchCase {
    const char* name;
    void (*run)(Scene&);  // makes the heuristic on the scene and runs it
    std::vector<std::string> expected;
    std::vector<std::string> unexpected;
    const char* firstScale;  // first line of timing.txt; null: timing.txt cannot be opened
};

class BatchTest : public ::testing::TestWithParam<BatchCase> {};

template <class T>
void Runs(Scene& s) {
    s.Start<T>(Octants(0.5f))->ForceApproach();
}

// Eight balls fill the 2 x 2 x 2 box; the beads (a fifth of a ball's volume, but too wide for
// the gaps between the balls) fit only at half size. No batch can come back to true size.
TEST_P(BatchTest, ABatchThatCannotReturnToTrueSizeLeavesThePackingExactlyAsItWas) {
    const testscene::StepLimits limits(1);
    Scene s({MakeType("ball", 0, 0.5f, 0.5f), MakeType("bead", 100, 0.3f, 0.4f)}, 1.0f, {});
    s.GridPoints(0.5f, 0.5f);
    ASSERT_TRUE(GetParam().firstScale != nullptr || mkdir("timing.txt", 0755) == 0);
    std::string out;
    const std::string err = StderrOf([&] { out = StdoutOf([&] { GetParam().run(s); }); });

    s.ExpectUnchanged();
    EXPECT_EQ(s.container.m_scaleMatrix[0][0], 1.0f);
    for (const std::string& e : GetParam().expected) EXPECT_NE(out.find(e), std::string::npos) << e;
    for (const std::string& e : GetParam().unexpected) EXPECT_EQ(out.find(e), std::string::npos) << e;
    if (GetParam().firstScale != nullptr) {
        // Nothing on standard error but the phase's progress line.
        EXPECT_EQ(Count(err, "\n"), Count(err, ", time-outs ")) << err;
        EXPECT_EQ(ReadFile("timing.txt").rfind(std::string(GetParam().firstScale) + " ", 0), 0u);
    } else {
        EXPECT_EQ(Count(err, "timing.txt"), 1u) << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Heuristics, BatchTest,
    ::testing::Values(
        BatchCase{"Shuffle", Runs<ShuffleAlgorithm>, {"Objects added: 2\n", "ScaleUp 1.044\n"}, {}, "1.578"},
        // 0.8 of volume do not grow back, nor do 0.4; 0.2 is below the bead.
        BatchCase{"SG",
                  Runs<SGAlgorithm>,
                  {"Current volume: 0.8\nPlaced Objects: 12\nObjects added: 4\n",
                   "Current volume: 0.4\nPlaced Objects: 10\nObjects added: 2\n", "ScaleDown "},
                  {"Current volume: 0.2", "NAN"},
                  "0.522"},
        // No place for a ball at all; three attempts for the bead, the percentage halving after
        // every failure, the scale stepping back no lower than 0.1.
        BatchCase{"Test",
                  Runs<TestAlgorithm>,
                  {"Current percentage: 0.00625\n", "ScaleDown 0.1\n"},
                  {"Current percentage: 0.003125", "ScaleDown -", "ScaleDown 0\n"},
                  nullptr}),
    [](const ::testing::TestParamInfo<BatchCase>& info) { return std::string(info.param.name); });

TEST(CavityFillingTest, SkipsOrRejectsDeepCandidatesAndNeverEndsHalfRelaxedOrHalfGrown) {
    const testscene::StepLimits limits(1);
    {
        // Point 0 lies inside the ball at the centre; point 60 is free.
        std::vector<Vector3> pts(61, Vector3(0.0f));
        pts[0] = Vector3(0.2f, 0, 0);
        pts[60] = Vector3(3, 0, 0);
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 5.0f, pts);
        CavityFilling* algo = nullptr;
        const std::string out =
            StdoutOf([&] { (algo = s.Start<CavityFilling>({Vector3(0.0f)}))->ImprovementHeuristic(); });
        EXPECT_NE(out.find("tries: 2 | skipped: 1\n"), std::string::npos) << out;
        EXPECT_EQ(Count(out, "Counter : "), 1u);  // the skipped one was never relaxed
        ASSERT_EQ(s.placed.size(), 2u);
        EXPECT_EQ(s.placed.back()->m_position[0], 3.0f);
        EXPECT_NE(algo->m_buffer[0].front(), s.placed.back());  // a new candidate waits
    }
    {
        // A ninth ball at the centre of the full box never settles: both tries end in THEORY, and
        // the packing written is the one before them.
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 1.0f, std::vector<Vector3>(61, Vector3(0.0f)));
        const std::string out = StdoutOf([&] { s.Start<CavityFilling>(Octants(0.5f))->ImprovementHeuristic(); });
        EXPECT_EQ(Count(out, "THEORY\n"), 2u);
        EXPECT_NE(out.find("tries: 2 | skipped: 0\n"), std::string::npos);
        s.ExpectUnchanged();
    }
    {
        // Growing: point 0 is inside the ball at the centre in every orientation; at point 1 the
        // candidate grows to full size.
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 5.0f, {Vector3(0.2f, 0, 0), Vector3(3, 0, 0)});
        const std::string out =
            StdoutOf([&] { s.Start<CavityFillingGrowing>({Vector3(0.0f)})->ImprovementHeuristic(); });
        EXPECT_NE(out.find("Index: 1 | Percent: 50 %\nIndex: 2 | Percent: 100 %\n"), std::string::npos) << out;
        ASSERT_EQ(s.placed.size(), 2u);
        EXPECT_EQ(std::pair(s.placed.back()->m_scaleMatrix[0][0], s.placed.back()->m_geometry->getScale()),
                  std::pair(1.0f, 1.0f));
        EXPECT_NEAR(s.placed.back()->m_position[0], 3.0f, 0.01f);
    }
    // A half-size ball fits at the centre of the full box but cannot grow there.
    Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 1.0f, {Vector3(0.0f)});
    EXPECT_NE(StdoutOf([&] {
                  s.Start<CavityFillingGrowing>(Octants(0.5f))->ImprovementHeuristic();
              }).find("Index: 1 | Percent: 100 %\n"),
              std::string::npos);
    s.ExpectUnchanged();
}

TEST(BatchDirectionsTest, RefuseAContainerOffTheOriginAndStayNumbersBetweenSymmetricNeighbours) {
    {
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 3.0f, {Vector3(1.0f)});
        for (auto& p : *s.container.m_geometry->editPointsPtr()) p += Vector3(2.0f, 0, 0);
        std::string out;
        const std::string err = StderrOf([&] {
            out = StdoutOf([&] {
                s.Start<ShuffleAlgorithm>({Vector3(2.0f, 0, 0)})->ForceApproach();
                s.Start<TestAlgorithm>({})->ForceApproach();
            });
        });
        EXPECT_EQ(Count(err, "not at the origin"), 2u);
        EXPECT_EQ(out.find("Current percentage"), std::string::npos);
        s.ExpectUnchanged();
    }
    // Objects at the centre or between symmetric neighbours get no NaN direction.
    const testscene::StepLimits limits(1);
    const std::vector<Vector3> row = {Vector3(-1.2f, 0, 0), Vector3(0.0f), Vector3(1.2f, 0, 0)};
    for (int sg = 0; sg < 2; ++sg) {
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 3.0f, row);
        StdoutOf([&] {
            EXPECT_TRUE(sg ? s.Start<SGAlgorithm>(row)->Optimize(Packing::kImpulseTimeStep)
                           : s.Start<TestAlgorithm>(row)->Optimize(Packing::kImpulseTimeStep));
        });
        for (const MovingObject* o : s.placed)
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isfinite(o->m_modelMatrix[3][k]));
    }
}

class CompactionTest : public ::testing::Test {
 protected:
    // Box container [-h, h]^3 holding objects of type 0 at `at`; Init already run.
    void Make(std::vector<PackingObjectInfo> t, const std::vector<Vector3>& at, std::vector<Vector3> pts,
              float h = 5.0f) {
        seedGlobalRandom(11);
        CompactionAlgorithm::PointIndex() = 0;
        s = std::make_unique<testscene::Scene>(h, std::move(t), std::move(pts), at, 1.0f);
        algo = s->Make<CompactionAlgorithm*>();
        EXPECT_EQ(StdoutOf([&] { algo->Init(); }), "Objects callback registered.\n");
    }
    std::unique_ptr<testscene::Scene> s;
    CompactionAlgorithm* algo = nullptr;
};

TEST_F(CompactionTest, AFreePackingSettlesAtOnceOverlapsRelaxTooFewPointsInsertNothingAndNoShareTakesTheSmallest) {
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, {Vector3(-2, 0, 0), Vector3(2, 0, 0)}, {});
    EXPECT_EQ(algo->isecMatrix()->size(), 3u);
    std::string out = StdoutOf([&] { EXPECT_TRUE(algo->Compact()); });
    EXPECT_EQ(out.rfind("Counter : 1\n", 0), 0u);
    EXPECT_EQ(out.find("Counter : 2"), std::string::npos);
    EXPECT_NE(out.find("\nPlaced Objs nr: 2\n"), std::string::npos);

    Make({MakeType("ball", 100, 0.5f, 0.5f)}, {Vector3(-0.3f, 0, 0), Vector3(0.3f, 0, 0), Vector3(0, 4.8f, 0)}, {});
    StdoutOf([&] { EXPECT_TRUE(algo->Compact()); });
    const std::vector<MovingObject*> o(s->placed.begin(), s->placed.end());
    EXPECT_GE(length(o[0]->m_position - o[1]->m_position), 1.0f);
    EXPECT_LE(o[2]->m_position[1], 4.5f + 1e-4f);  // off the wall plane y = 5
    EXPECT_EQ(s->container.m_inverseMass, 0.0f);

    Make({MakeType("ball", 100, 0.5f, 0.5f)}, {}, std::vector<Vector3>(29, Vector3(0.0f)));
    EXPECT_EQ(algo->isecMatrix()->size(), 1u);
    EXPECT_NE(StdoutOf([&] { algo->Main(); }).find("End\n0\nTime Sec.: "), std::string::npos);
    EXPECT_TRUE(s->placed.empty());

    // With no share left, the insertion type is the smallest.
    Make({MakeType("a", 0, 0.5f, 0.5f), MakeType("b", 0, 0.2f, 0.2f)}, {}, {});
    auto* placement = algo->CreatePipeline("PlacementPipeline", 2);
    algo->MakeObjectCollidable(placement, &s->container);
    EXPECT_EQ(algo->CreateObject(algo->collisionPipeline(), placement)->m_typeIndex, 1);
    EXPECT_EQ(algo->isecMatrix()->size(), 2u);
}

TEST_F(CompactionTest, RetriedObjectKeepsItsSlotAndTheTypeKeepsItsTurn) {
    // Point 0 is in the wall for every orientation; at point 30 the rod fits only turned by
    // 45 degrees about z; the rod inserted at point 60 starts in that turn and fits as it is.
    std::vector<Vector3> pts(90, Vector3(0.0f));
    pts[0] = Vector3(4.9f, 0, 0);
    pts[30] = Vector3(4.2f, 0, 0);
    pts[60] = Vector3(4.2f, -3, 0);
    Make({MakeRodType(100)}, {}, pts);
    const std::string out = StdoutOf([&] { algo->Main(); });
    EXPECT_NE(out.find("End\n2\n"), std::string::npos);
    EXPECT_EQ(out.find("THEORY"), std::string::npos);
    EXPECT_EQ(algo->isecMatrix()->size(), 3u);  // container + two objects: the retry made none
    for (const auto& row : *algo->isecMatrix()) EXPECT_EQ(row.size(), 3u);

    ASSERT_EQ(s->placed.size(), 2u);
    EXPECT_FLOAT_EQ(MovingObject::m_angle[0], 0.78539f);
    EXPECT_EQ(MovingObject::m_rotDir[0][2], 1.0f);
    EXPECT_NEAR(s->placed.front()->m_position[0], 4.2002f, 1e-5f);  // two tries at point 30
    const MovingObject* second = s->placed.back();
    EXPECT_EQ(std::pair(second->m_position[0], second->m_position[1]), std::pair(4.2f, -3.0f));  // no nudge
    EXPECT_FLOAT_EQ(second->m_rotationMatrix[0][0], std::cos(0.78539f));
    EXPECT_FLOAT_EQ(second->m_rotationMatrix[0][1], std::sin(0.78539f));
}

TEST_F(CompactionTest, InsertionIntoAFullBoxTimesOutIsParkedAndRetriedWithoutANewObject) {
    // Eight balls fill the 2 x 2 x 2 box; a ninth at the centre can never settle (30 iterations
    // per relaxation here).
    const testscene::StepLimits limits(1);
    Make({MakeType("ball", 100, 0.5f, 0.5f)}, Octants(0.5f), std::vector<Vector3>(60, Vector3(0.0f)), 1.0f);
    const std::string out = StdoutOf([&] { algo->Main(); });
    for (const char* line : {"THEORY\n", "End\n0\n", "Counter : 30\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_EQ(out.find("Counter : 31\n"), std::string::npos);
    EXPECT_EQ(std::pair(s->placed.size(), algo->m_objects.size()), std::pair(size_t{8}, size_t{8}));
    EXPECT_EQ(algo->isecMatrix()->size(), 10u);  // one insertion object, retried
    // The run ended on a failed relaxation: the packing written is the last settled one, which a
    // check finds free at once.
    EXPECT_EQ(StdoutOf([&] { EXPECT_TRUE(algo->Compact()); }).find("Counter : 2\n"), std::string::npos);
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
    EXPECT_EQ(StdoutOf([&] { cb(&data); }), "IsecData was NULL!\n");
    EXPECT_FALSE(CompactionAlgorithm::M_overlapConverged);  // still an overlap, just no impulse
    EXPECT_EQ(matrix[1][2], nullptr);

    a.m_id = 7;  // re-registered elsewhere since
    CompactionAlgorithm::M_overlapConverged = true;
    EXPECT_EQ(StderrOf([&] { cb(&data); }), "MovemCallback: mobj.node != obj !\n");
    EXPECT_TRUE(CompactionAlgorithm::M_overlapConverged);
}

}  // namespace
