// The impulse improvement heuristics on small box scenes: batches that cannot come back to true
// size leave the packing exactly as it was, shrink-and-grow halves its batch and stops, cavity
// filling skips deep candidates and never ends on a half-relaxed packing, and objects at the
// centre or between symmetric neighbours get no NaN direction.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "algorithms/Relaxation.h"
#include "algorithms/improvement/CavityFilling.h"
#include "algorithms/improvement/CavityFillingGrowing.h"
#include "algorithms/improvement/SGAlgorithm.h"
#include "algorithms/improvement/ShuffleAlgorithm.h"
#include "algorithms/improvement/TestAlgorithm.h"
#include "geometry/MovingObject.h"
#include "geometry/Random.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

using testscene::MakeType;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

namespace {

// A box container [-h, h]^3 with objects of type 0 at `at`, in a fresh working directory (the
// batch heuristics write timing.txt there).
struct Scene {
    std::vector<PackingObjectInfo> types;
    MovingObject container;
    std::vector<Vector3> points;
    std::list<MovingObject*> placed;
    std::vector<Matrix4> before;
    char cwd[4096] = {};

    Scene(std::vector<PackingObjectInfo> t, float h, std::vector<Vector3> pts) : types(std::move(t)), points(pts) {
        seedGlobalRandom(3);
        MovingObject::AllocateTypeTables(types.size());
        container.m_geometry = testscene::MakeBoxContainer(h);
        container.m_volume = 8 * h * h * h;
        EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
        EXPECT_EQ(chdir(MakeTempDir("improve-unit").c_str()), 0);
    }
    ~Scene() { EXPECT_EQ(chdir(cwd), 0); }

    template <class T>
    T* Make(const std::vector<Vector3>& at) {
        T* algo = new T(types, &container, points, &placed, Vector3(2.0f));
        for (const Vector3& p : at) {
            MovingObject* o = algo->GenerateObject(0);
            o->m_position = p;
            o->m_translationMatrix = o->m_modelMatrix = Matrix4::translation(p);
            placed.push_back(o);
            before.push_back(o->m_modelMatrix);
        }
        algo->Init();  // callers capture its line with what follows
        return algo;
    }
    // The objects given to Make, in their order and at their poses, at full size.
    void ExpectUnchanged() const {
        ASSERT_EQ(placed.size(), before.size());
        size_t i = 0;
        for (const MovingObject* o : placed) {
            for (int c = 0; c < 4; ++c)
                for (int r = 0; r < 4; ++r) EXPECT_EQ(o->m_modelMatrix[c][r], before[i][c][r]) << "object " << i;
            EXPECT_EQ(o->m_scaleMatrix[0][0], 1.0f);
            EXPECT_EQ(o->m_geometry->getScale(), 1.0f);
            ++i;
        }
    }
    void ExpectFinite() const {
        for (const MovingObject* o : placed)
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isfinite(o->m_modelMatrix[3][k]));
    }
};

std::vector<Vector3> Octants(float d) {
    std::vector<Vector3> at;
    for (int i = 0; i < 8; ++i) at.emplace_back(i & 1 ? d : -d, i & 2 ? d : -d, i & 4 ? d : -d);
    return at;
}

// The 3 x 3 x 3 points -0.5, 0, 0.5 of the full box below.
std::vector<Vector3> Grid27() {
    std::vector<Vector3> p;
    for (int i = 0; i < 27; ++i)
        p.emplace_back(-0.5f + 0.5f * (i % 3), -0.5f + 0.5f * (i / 3 % 3), -0.5f + 0.5f * (i / 9));
    return p;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct BatchCase {
    const char* name;
    std::function<void(Scene&)> run;  // makes the heuristic on the scene and runs it
    std::vector<std::string> expected;
    std::vector<std::string> unexpected;
    const char* firstScale;  // first line of timing.txt; null: timing.txt cannot be opened
};

class BatchTest : public ::testing::TestWithParam<BatchCase> {};

template <class T>
std::function<void(Scene&)> Runs() {
    return [](Scene& s) { s.Make<T>(Octants(0.5f))->ForceApproach(); };
}

// Eight balls fill the 2 x 2 x 2 box; the beads (a fifth of a ball's volume, but too wide for
// the gaps between the balls) fit only at half size. No batch can come back to true size.
TEST_P(BatchTest, ABatchThatCannotReturnToTrueSizeLeavesThePackingExactlyAsItWas) {
    const testscene::StepLimits limits(1);
    Scene s({MakeType("ball", 0, 0.5f, 0.5f), MakeType("bead", 100, 0.3f, 0.4f)}, 1.0f, Grid27());
    if (GetParam().firstScale == nullptr) {
        ASSERT_EQ(mkdir("timing.txt", 0755), 0);
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    GetParam().run(s);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();

    s.ExpectUnchanged();
    EXPECT_EQ(s.container.m_scaleMatrix[0][0], 1.0f);
    for (const std::string& e : GetParam().expected) EXPECT_NE(out.find(e), std::string::npos) << e;
    for (const std::string& e : GetParam().unexpected) EXPECT_EQ(out.find(e), std::string::npos) << e;
    if (GetParam().firstScale != nullptr) {
        EXPECT_EQ(err, "");
        EXPECT_EQ(ReadFile("timing.txt").rfind(std::string(GetParam().firstScale) + " ", 0), 0u);
    } else {
        EXPECT_EQ(Count(err, "timing.txt"), 1u) << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Heuristics, BatchTest,
    ::testing::Values(
        BatchCase{"Shuffle", Runs<ShuffleAlgorithm>(), {"Objects added: 2\n", "ScaleUp 1.044\n"}, {}, "1.578"},
        // 0.8 of volume do not grow back, nor do 0.4; 0.2 is below the bead.
        BatchCase{"SG",
                  Runs<SGAlgorithm>(),
                  {"Current volume: 0.8\nPlaced Objects: 12\nObjects added: 4\n",
                   "Current volume: 0.4\nPlaced Objects: 10\nObjects added: 2\n", "ScaleDown "},
                  {"Current volume: 0.2", "NAN"},
                  "0.522"},
        // No place for a ball at all; three attempts for the bead, the percentage halving after
        // every failure, the scale stepping back no lower than 0.1.
        BatchCase{"Test",
                  Runs<TestAlgorithm>(),
                  {"Current percentage: 0.00625\n", "ScaleDown 0.1\n"},
                  {"Current percentage: 0.003125", "ScaleDown -", "ScaleDown 0\n"},
                  nullptr}),
    [](const ::testing::TestParamInfo<BatchCase>& info) { return std::string(info.param.name); });

TEST(CavityFillingTest, SkipsDeepCandidatesAndNeverEndsOnAHalfRelaxedPacking) {
    const testscene::StepLimits limits(1);
    {
        // Point 0 lies inside the ball at the centre; point 60 is free.
        std::vector<Vector3> pts(61, Vector3(0.0f));
        pts[0] = Vector3(0.2f, 0, 0);
        pts[60] = Vector3(3, 0, 0);
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 5.0f, pts);
        testing::internal::CaptureStdout();
        CavityFilling* algo = s.Make<CavityFilling>({Vector3(0.0f)});
        algo->ImprovementHeuristic();
        const std::string out = testing::internal::GetCapturedStdout();
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
        testing::internal::CaptureStdout();
        s.Make<CavityFilling>(Octants(0.5f))->ImprovementHeuristic();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(Count(out, "THEORY\n"), 2u);
        EXPECT_NE(out.find("tries: 2 | skipped: 0\n"), std::string::npos);
        s.ExpectUnchanged();
    }
}

TEST(CavityFillingGrowingTest, RejectsCandidatesThatOverlapEverywhereAndUndoesAFailedGrowth) {
    const testscene::StepLimits limits(1);
    {
        // Point 0 is inside the ball at the centre in every orientation; at point 1 the candidate
        // grows to full size.
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 5.0f, {Vector3(0.2f, 0, 0), Vector3(3, 0, 0)});
        testing::internal::CaptureStdout();
        s.Make<CavityFillingGrowing>({Vector3(0.0f)})->ImprovementHeuristic();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("Index: 1 | Percent: 50 %\nIndex: 2 | Percent: 100 %\n"), std::string::npos) << out;
        ASSERT_EQ(s.placed.size(), 2u);
        EXPECT_EQ(s.placed.back()->m_scaleMatrix[0][0], 1.0f);
        EXPECT_EQ(s.placed.back()->m_geometry->getScale(), 1.0f);
        EXPECT_NEAR(s.placed.back()->m_position[0], 3.0f, 0.01f);
    }
    {
        // A half-size ball fits at the centre of the full box but cannot grow there.
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 1.0f, {Vector3(0.0f)});
        testing::internal::CaptureStdout();
        s.Make<CavityFillingGrowing>(Octants(0.5f))->ImprovementHeuristic();
        EXPECT_NE(testing::internal::GetCapturedStdout().find("Index: 1 | Percent: 100 %\n"), std::string::npos);
        s.ExpectUnchanged();
    }
}

TEST(BatchDirectionsTest, RefuseAContainerOffTheOrigin) {
    Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 3.0f, {Vector3(1.0f)});
    for (auto& p : *s.container.m_geometry->editPointsPtr()) p += Vector3(2.0f, 0, 0);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    s.Make<ShuffleAlgorithm>({Vector3(2.0f, 0, 0)})->ForceApproach();
    s.Make<TestAlgorithm>({})->ForceApproach();
    EXPECT_EQ(Count(testing::internal::GetCapturedStderr(), "not at the origin"), 2u);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Current percentage"), std::string::npos);
    s.ExpectUnchanged();
}

TEST(BatchDirectionsTest, ObjectsAtTheCentreOrBetweenSymmetricNeighboursStayNumbers) {
    const testscene::StepLimits limits(1);
    const std::vector<Vector3> row = {Vector3(-1.2f, 0, 0), Vector3(0.0f), Vector3(1.2f, 0, 0)};
    {
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 3.0f, row);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(s.Make<TestAlgorithm>(row)->Optimize(Packing::kImpulseTimeStep));
        testing::internal::GetCapturedStdout();
        s.ExpectFinite();
    }
    {
        Scene s({MakeType("ball", 100, 0.5f, 0.5f)}, 3.0f, row);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(s.Make<SGAlgorithm>(row)->Optimize(Packing::kImpulseTimeStep));
        testing::internal::GetCapturedStdout();
        s.ExpectFinite();
    }
}

}  // namespace
