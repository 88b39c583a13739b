// Every impulse improvement heuristic through the executable on a tiny packing under iteration
// budgets: the run ends, keeps what the construction placed, passes the exact-mesh check and
// repeats byte for byte.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace {

class ImprovementEndToEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(ImprovementEndToEnd, EndsKeepsTheConstructionPassesTheCheckAndRepeats) {
    const std::string dir = MakeTempDir("improve");
    testscene::WriteTinyRun(dir, std::string(DENSEPACK_SOURCE_DIR) + "/models");
    WriteFile(dir + "/run.cfg", std::string("[Construction Heuristic]\nPlacementAlgorithm construction.txt\n") +
                                    "[Improvement Heuristic]\n" + GetParam() + " improvement.txt\n[Grid]\n4 4 4\n" +
                                    "[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.5 1\n" +
                                    "[Preprocessing]\npoints.txt smallest 0.5 1\n[ModelPath]\n./\n" +
                                    "[Container]\ntray 0.8 0.8 0.8 0.2\n[Objects]\nsphere 60 0.9 0.3 0.2 1.0\n" +
                                    "mm 40 0.2 0.3 0.9 1.0\n");
    const std::string run = "ASAN_OPTIONS=detect_leaks=0 " + std::string(DENSEPACK_BIN) +
                            " --headless --seed 5 --limits steps --steps-per-second 3 -c run.cfg";

    const ProcessResult first = RunCommand(run, dir);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.find("NAN AFTER"), std::string::npos);
    const int constructed = testscene::CountLines(ReadFile(dir + "/construction.txt"));
    const std::string improved = ReadFile(dir + "/improvement.txt");
    ASSERT_GT(constructed, 0);
    EXPECT_GE(testscene::CountLines(improved), constructed);
    const size_t at = first.out.find("Num. placed objects: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::stoi(first.out.substr(at + 21)), testscene::CountLines(improved));

    const ProcessResult check = RunCommand(std::string(DENSEPACK_CHECK_EXE) + " -c run.cfg improvement.txt", dir);
    EXPECT_EQ(check.status, 0) << check.out << check.err;

    std::remove((dir + "/construction.txt").c_str());
    const ProcessResult again = RunCommand(run, dir);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile(dir + "/improvement.txt"), improved);
}

INSTANTIATE_TEST_SUITE_P(Heuristics, ImprovementEndToEnd,
                         ::testing::Values("CavityFillingAlgorithm", "CavityFillingGrowingAlgorithm",
                                           "ShuffleAlgorithm", "SGAlgorithm", "TestAlgorithm"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
