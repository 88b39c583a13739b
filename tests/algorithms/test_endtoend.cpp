// Whole runs through the executable, with the report, and every heuristic on a tiny packing under
// iteration budgets: each passes the exact-mesh check, loads in view mode and repeats byte for byte.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace {

const std::string kBin = "ASAN_OPTIONS=detect_leaks=0 " + std::string(DENSEPACK_BIN);

double NumberAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    return at == std::string::npos ? NAN : std::stod(text.substr(at + key.size()));
}

// The exact-mesh check passes on `file` (with `checkOptions`) and counts `placed` objects, view mode
// loads them all, and the same run without its cached construction writes `file` byte for byte again.
void ExpectCheckedLoadedAndRepeated(const std::string& run, const std::string& dir, const std::string& file, int placed,
                                    const std::string& checkOptions = "") {
    const ProcessResult check =
        RunCommand(std::string(DENSEPACK_CHECK_EXE) + " -c run.cfg " + file + checkOptions, dir);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    for (const std::string& line :
         {"Objects: " + std::to_string(placed) + "\n", std::string("beyond tolerance: 0)"), std::string("\nOK\n")})
        EXPECT_NE(check.out.find(line), std::string::npos) << line << "\n" << check.out;
    const ProcessResult view = RunCommand(kBin + " -c run.cfg -v " + file + " --headless", dir);
    ASSERT_EQ(view.status, 0) << view.err;
    EXPECT_NE(view.out.find("Placed objects: " + std::to_string(placed) + "\n"), std::string::npos) << view.out;

    const std::string before = ReadFile(dir + "/" + file);
    std::remove((dir + "/construction.txt").c_str());
    const ProcessResult again = RunCommand(run, dir);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile(dir + "/" + file), before);
}

}  // namespace

TEST(EndToEnd, PlacementCompactionReportAndExactCheck) {
    // 4 x 4 x 4 points 1.2 apart in the 6 x 6 x 6 box: the unit spheres fit without touching, so
    // the construction places one per point and the compaction has room for its insertions.
    const std::string dir = MakeTempDir("e2e");
    WriteFile(dir + "/points.txt", testscene::LatticePoints(4, -1.8, 1.2));
    WriteFile(dir + "/run.cfg",
              std::string("[Construction Heuristic]\nPlacementAlgorithm construction.txt\n") +
                  "[Improvement Heuristic]\nCompactionAlgorithm improvement.txt\n[Grid]\n10 10 10\n" +
                  "[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.2 2\n" +
                  "[Preprocessing]\npoints.txt smallest 0.5 1\n[ModelPath]\n" + DENSEPACK_SOURCE_DIR +
                  "/models/\n[Container]\nbox 0.8 0.8 0.8 0.2\n[Objects]\nsphere 100 0.9 0.3 0.2 1.0\n");

    const std::string cmd = kBin + " --headless --seed 3 -c run.cfg --report report.json";
    const ProcessResult run = RunCommand(cmd, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string& out = run.out;

    EXPECT_EQ(NumberAfter(out, "\nEnd\n"), 64) << out.substr(0, 2000);

    const char* lines[] = {"Construction Heuristic time: ",
                           "Objects callback registered.\n",
                           "Improvement Heuristic time: ",
                           "EPSILON: 0.1\n### Auto packing info ###\nPacking density/fraction: ",
                           "\nSurface density/fraction: ",
                           "\nContainer Vol: 216\nObjects Vol: ",
                           "\nVolume per object type\nsphere Vol: ",
                           "\nNum. placed objects: ",
                           "\nsphere | Num.: ",
                           " | Distribution : 100 %\n",
                           "sphere | Hopkins Value: ",
                           "Statistic Calculation time: "};
    size_t at = 0;
    for (const char* line : lines)
        ASSERT_NE(at = out.find(line, at), std::string::npos) << "missing, in order: " << line;

    const int placed = static_cast<int>(NumberAfter(out, "Num. placed objects: "));
    EXPECT_TRUE(placed >= 64 && placed <= 64 + 3) << placed;  // points 0, 30 and 60 are the only insertion tries
    const double density = NumberAfter(out, "Packing density/fraction: ");
    EXPECT_NEAR(density, placed * NumberAfter(out, "sphere Vol: ") / 216.0 * 100.0, 1e-3 * density);

    // Two Hopkins repetitions, each a value in [0, 1], and nothing after them.
    const std::string key = "sphere | Hopkins Value: ";
    double h[2] = {-1, -1};
    char end = 0;
    EXPECT_EQ(std::sscanf(out.c_str() + out.find(key) + key.size(), "%lf %lf%c", &h[0], &h[1], &end), 3);
    EXPECT_EQ(end, '\n');
    for (const double v : h) EXPECT_TRUE(v >= 0.0 && v <= 1.0) << v;

    const std::string json = ReadFile(dir + "/report.json");
    for (const std::string& key :
         {std::string("\"configuration\": \"run.cfg\""), std::string("\"seed\": 3"),
          std::string("\"statisticsComputed\": true"), "\"numObjects\": " + std::to_string(placed)})
        EXPECT_NE(json.find(key), std::string::npos) << key << "\n" << json;
    EXPECT_EQ(json.find("null"), std::string::npos) << json;  // every phase ran and was timed
    // The exact-mesh figures of the same packing: its objects, the density as printed.
    ASSERT_NE(json.find("\"structure\": {"), std::string::npos) << json;
    const std::string structure = json.substr(json.find("\"structure\": {"));
    EXPECT_EQ(NumberAfter(structure, "\"objects\": "), placed) << structure;
    EXPECT_NEAR(NumberAfter(structure, "\"globalFraction\": ") * 100.0, density, 1e-3 * density);
    EXPECT_GT(NumberAfter(structure, "\"bulkFraction\": "), 0.0);

    // No relaxation comes near its time limit. The exact meshes may touch within the small gap
    // between tree and mesh, well inside 5 % of the object size.
    ExpectCheckedLoadedAndRepeated(cmd, dir, "improvement.txt", placed, " --tolerance 0.05");
}

namespace {

struct RunCase {
    const char* heuristic;
    bool improvement;            ///< on a placement construction; otherwise the construction alone
    const char* name = nullptr;  ///< test name when the heuristic plays both roles
    const char* checkOptions = "";
};

class HeuristicEndToEnd : public ::testing::TestWithParam<RunCase> {};

// 3 x 3 x 3 box, 125 points 0.5 apart, spheres and M&Ms, default check tolerance; an improvement
// keeps what the construction placed and reports what it wrote.
TEST_P(HeuristicEndToEnd, EndsPassesTheCheckLoadsAndRepeats) {
    const RunCase& c = GetParam();
    const std::string dir = MakeTempDir("heuristic");
    testscene::WriteTinyRun(dir, std::string(DENSEPACK_SOURCE_DIR) + "/models");
    const std::string phases =
        c.improvement
            ? std::string("PlacementAlgorithm construction.txt\n[Improvement Heuristic]\n") + c.heuristic +
                  " improvement.txt\n[Grid]\n4 4 4\n[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.5 1\n"
            : std::string(c.heuristic) + " construction.txt\n[Grid]\n1 1 1\n";
    WriteFile(dir + "/run.cfg",
              "[Construction Heuristic]\n" + phases +
                  "[Preprocessing]\npoints.txt smallest 0.5 1\n[ModelPath]\n./\n[Container]\n" +
                  "tray 0.8 0.8 0.8 0.2\n[Objects]\nsphere 60 0.9 0.3 0.2 1.0\nmm 40 0.2 0.3 0.9 1.0\n");
    const std::string file = c.improvement ? "improvement.txt" : "construction.txt";
    const std::string run = kBin + " --headless --seed " + (c.improvement ? "5" : "1") +
                            " --limits steps --steps-per-second " + (c.improvement ? "3" : "5") + " -c run.cfg";

    const ProcessResult first = RunCommand(run, dir);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.find("NAN AFTER"), std::string::npos);
    const int placed = testscene::CountLines(ReadFile(dir + "/" + file));
    ASSERT_GT(placed, 1);
    if (c.improvement) {
        const int constructed = testscene::CountLines(ReadFile(dir + "/construction.txt"));
        EXPECT_TRUE(constructed > 0 && placed >= constructed) << constructed << " constructed, " << placed;
        EXPECT_NE(first.out.find("Num. placed objects: " + std::to_string(placed) + "\n"), std::string::npos)
            << first.out;
    }
    ExpectCheckedLoadedAndRepeated(run, dir, file, placed, c.checkOptions);
}

INSTANTIATE_TEST_SUITE_P(
    Heuristics, HeuristicEndToEnd,
    ::testing::Values(RunCase{"HybridAlgorithm", false}, RunCase{"GrowingSeedAlgorithm", false},
                      RunCase{"DistanceAlgorithm", false}, RunCase{"CavityFillingAlgorithm", true},
                      RunCase{"CavityFillingGrowingAlgorithm", true}, RunCase{"ShuffleAlgorithm", true},
                      RunCase{"SGAlgorithm", true}, RunCase{"TestAlgorithm", true},
                      // Nothing relaxes: only the trees' fit to the meshes can overlap.
                      RunCase{"RandomSequentialAddition", false, nullptr, " --tolerance 0.01"},
                      RunCase{"RandomSequentialAddition", true, "RandomSequentialAdditionAfterPlacement"}),
    [](const ::testing::TestParamInfo<RunCase>& info) {
        return info.param.name != nullptr ? info.param.name : info.param.heuristic;
    });

}  // namespace
