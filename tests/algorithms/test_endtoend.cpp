// Whole runs through the executable, with the report, and every heuristic on a tiny packing under
// iteration budgets: each passes the exact-mesh check, loads in view mode and repeats byte for byte.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
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
    const char* config = "";  ///< further sections of the configuration
    /// The object lines; the one-at-a-time growth gets spheres only, a third of the work of two types.
    const char* objects = "sphere 60 0.9 0.3 0.2 1.0\nmm 40 0.2 0.3 0.9 1.0\n";
};

class HeuristicEndToEnd : public ::testing::TestWithParam<RunCase> {};

// 3 x 3 x 3 box, 125 points 0.5 apart, spheres and M&Ms by default, default check tolerance; an improvement
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
    WriteFile(dir + "/run.cfg", "[Construction Heuristic]\n" + phases + c.config +
                                    "[Preprocessing]\npoints.txt smallest 0.5 1\n[ModelPath]\n./\n[Container]\n" +
                                    "tray 0.8 0.8 0.8 0.2\n[Objects]\n" + c.objects);
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
                      RunCase{"SGAlgorithm", true},
                      RunCase{"TestAlgorithm", true, nullptr, "", "", "sphere 100 0.9 0.3 0.2 1.0\n"},
                      // Nothing relaxes: only the trees' fit to the meshes can overlap.
                      RunCase{"RandomSequentialAddition", false, nullptr, " --tolerance 0.01"},
                      RunCase{"RandomSequentialAddition", true, "RandomSequentialAdditionAfterPlacement"},
                      // Every test on the exact meshes: not even the trees' fit can overlap.
                      RunCase{"CompressionAlgorithm", false, nullptr, " --tolerance 0"},
                      // Room to finish at 3 sweeps a second; where it ends thinner than the placement
                      // (a tray three objects wide), the placement stays as it was.
                      RunCase{"CompressionAlgorithm", true, "CompressionAlgorithmAfterPlacement", "",
                              "[Compression]\nlimitSeconds=5000\n"}),
    [](const ::testing::TestParamInfo<RunCase>& info) {
        return info.param.name != nullptr ? info.param.name : info.param.heuristic;
    });

}  // namespace

// The compression on shapes that are not convex: spheres and coarse rings in an L-shaped room.
// Every test there goes through the triangle trees; the result still passes the exact check with
// no tolerance and repeats byte for byte.
TEST(NonConvexEndToEnd, CompressionPacksRingsInAnLShapedContainer) {
    const std::string dir = MakeTempDir("nonconvex");
    std::ostringstream room;  // the L: 3 x 3 minus its 1.5 x 1.5 corner, 2 high, centred on the origin
    const float xy[6][2] = {{0, 0}, {3, 0}, {3, 1.5f}, {1.5f, 1.5f}, {1.5f, 3}, {0, 3}};
    for (int z = 0; z < 2; ++z)
        for (const auto& p : xy) room << "v " << p[0] - 1.5f << " " << p[1] - 1.5f << " " << 2.0f * z - 1.0f << "\n";
    // Floor and ceiling fanned from the inner corner (index 3), then the six walls.
    for (int t = 0; t < 4; ++t) {
        const int a = 3, b = (4 + t) % 6, c = (5 + t) % 6;
        room << "f " << a + 1 << " " << c + 1 << " " << b + 1 << "\nf " << a + 7 << " " << b + 7 << " " << c + 7
             << "\n";
    }
    for (int k = 0; k < 6; ++k) {
        const int n = (k + 1) % 6;
        room << "f " << k + 1 << " " << n + 1 << " " << n + 7 << "\nf " << k + 1 << " " << n + 7 << " " << k + 7
             << "\n";
    }
    WriteFile(dir + "/room.obj", room.str());
    WriteFile(dir + "/room.spheres", testscene::ContainerSpheres(1.5f));  // the compression reads no trees
    std::ostringstream ring;                                              // 8 x 6 segments, radii 0.35 and 0.15
    const float kPi = 3.14159265f;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 6; ++j) {
            const float u = 2 * kPi * i / 8, v = 2 * kPi * j / 6, r = 0.35f + 0.15f * std::cos(v);
            ring << "v " << r * std::cos(u) << " " << r * std::sin(u) << " " << 0.15f * std::sin(v) << "\n";
        }
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 6; ++j) {
            const int a = i * 6 + j, b = (i + 1) % 8 * 6 + j, c = (i + 1) % 8 * 6 + (j + 1) % 6,
                      d = i * 6 + (j + 1) % 6;
            ring << "f " << a + 1 << " " << b + 1 << " " << c + 1 << "\nf " << a + 1 << " " << c + 1 << " " << d + 1
                 << "\n";
        }
    WriteFile(dir + "/ring.obj", ring.str());
    WriteFile(dir + "/ring.spheres",
              "densepack-spheres 1\nkind object\nnodes 1 leaves 1\n0 0 0 0.5 0 0 0 3.14159265 -1 0\nend\n");
    for (const char* model : {"sphere.obj", "sphere_l.obj", "sphere.spheres"})
        WriteFile(dir + "/" + model, ReadFile(std::string(DENSEPACK_SOURCE_DIR) + "/models/" + model));
    WriteFile(dir + "/points.txt", "0 0 0\n");
    WriteFile(dir + "/run.cfg",
              std::string("[Construction Heuristic]\nCompressionAlgorithm construction.txt\n") +
                  "[Improvement Heuristic]\nNone improvement.txt\n[Compression]\n" +
                  "maxGrowth=0.02 relaxSweeps=2 clearSweeps=50 limitSeconds=2000\n" +
                  "[Preprocessing]\npoints.txt smallest 0.5 1\n[ModelPath]\n./\n[Container]\n" +
                  "room 0.8 0.8 0.8 0.2\n[Objects]\nring 50 0.9 0.3 0.2 1.0\nsphere 50 0.2 0.3 0.9 1.0\n");
    const std::string run = kBin + " --headless --seed 2 --limits steps --steps-per-second 5 -c run.cfg";
    const ProcessResult first = RunCommand(run, dir);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find("Compression: "), std::string::npos) << first.out;
    const int placed = testscene::CountLines(ReadFile(dir + "/construction.txt"));
    EXPECT_GE(placed, 8) << first.out;  // 12 when written, a fraction of 0.28 in a room three rings wide
    ExpectCheckedLoadedAndRepeated(run, dir, "construction.txt", placed, " --tolerance 0");
}
