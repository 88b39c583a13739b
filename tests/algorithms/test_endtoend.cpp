// A whole run through the executable: placement on given points, compaction, the report on the
// console and as JSON, and the exact-mesh check of the resulting packing.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "support/Subprocess.h"

namespace {

// 4 x 4 x 4 points 1.2 apart in the 6 x 6 x 6 box: the unit spheres fit without touching, so
// the construction places one per point and the compaction has room for its insertions.
std::string GridPoints() {
    std::string s;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                s += std::to_string(-1.8 + 1.2 * i) + " " + std::to_string(-1.8 + 1.2 * j) + " " +
                     std::to_string(-1.8 + 1.2 * k) + "\n";
    return s;
}

double NumberAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return NAN;
    return std::stod(text.substr(at + key.size()));
}

}  // namespace

TEST(EndToEnd, PlacementCompactionReportAndExactCheck) {
    const std::string dir = MakeTempDir("e2e");
    WriteFile(dir + "/points.txt", GridPoints());
    WriteFile(dir + "/run.cfg",
              std::string("[Construction Heuristic]\nPlacementAlgorithm construction.txt\n") +
                  "[Improvement Heuristic]\nCompactionAlgorithm improvement.txt\n[Grid]\n10 10 10\n" +
                  "[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.2 2\n" +
                  "[Preprocessing]\npoints.txt smallest 0.5 1\n[ModelPath]\n" + DENSEPACK_SOURCE_DIR +
                  "/models/\n[Container]\nbox 0.8 0.8 0.8 0.2\n[Objects]\nsphere 100 0.9 0.3 0.2 1.0\n");

    const ProcessResult run = RunCommand("ASAN_OPTIONS=detect_leaks=0 " + std::string(DENSEPACK_BIN) +
                                             " --headless --seed 3 -c run.cfg --report report.json",
                                         dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string& out = run.out;

    // The construction puts one sphere on each of the 64 points.
    EXPECT_EQ(NumberAfter(out, "\nEnd\n"), 64) << out.substr(0, 2000);

    // The report, in its order.
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
    for (const char* line : lines) {
        const size_t next = out.find(line, at);
        ASSERT_NE(next, std::string::npos) << "missing after offset " << at << ": " << line;
        at = next;
    }

    const int placed = static_cast<int>(NumberAfter(out, "Num. placed objects: "));
    EXPECT_GE(placed, 64);
    EXPECT_LE(placed, 64 + 3);  // points 0, 30 and 60 are the only insertion tries
    const double density = NumberAfter(out, "Packing density/fraction: ");
    EXPECT_NEAR(density, placed * NumberAfter(out, "sphere Vol: ") / 216.0 * 100.0, 1e-3 * density);

    // Two Hopkins repetitions, each a value in [0, 1].
    const std::string hopkinsKey = "sphere | Hopkins Value: ";
    ASSERT_NE(out.find(hopkinsKey), std::string::npos);
    std::istringstream hopkins(out.substr(out.find(hopkinsKey) + hopkinsKey.size()));
    double h[2] = {-1, -1};
    std::string rest;
    hopkins >> h[0] >> h[1];
    std::getline(hopkins, rest);
    EXPECT_TRUE(rest.empty()) << "more than two values: " << rest;
    for (const double v : h) {
        EXPECT_GE(v, 0.0);
        EXPECT_LE(v, 1.0);
    }

    const std::string json = ReadFile(dir + "/report.json");
    EXPECT_NE(json.find("\"configuration\": \"run.cfg\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"seed\": 3"), std::string::npos);
    EXPECT_NE(json.find("\"statisticsComputed\": true"), std::string::npos);
    EXPECT_NE(json.find("\"numObjects\": " + std::to_string(placed)), std::string::npos);
    EXPECT_EQ(json.find("null"), std::string::npos) << json;  // every phase ran and was timed

    // Same seed, same packing: nothing here comes near a relaxation time limit, so the second
    // run must write the same files byte for byte.
    const std::string first = ReadFile(dir + "/improvement.txt");
    ASSERT_FALSE(first.empty());
    std::remove((dir + "/construction.txt").c_str());
    const ProcessResult again = RunCommand(
        "ASAN_OPTIONS=detect_leaks=0 " + std::string(DENSEPACK_BIN) + " --headless --seed 3 -c run.cfg", dir);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile(dir + "/improvement.txt"), first);

    // The sphere trees keep the objects apart; the exact meshes may touch within the small gap
    // between tree and mesh, well inside 5 % of the object size.
    const ProcessResult check =
        RunCommand(std::string(DENSEPACK_CHECK_EXE) + " -c run.cfg improvement.txt --tolerance 0.05", dir);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("Objects: " + std::to_string(placed) + "\n"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("\nOK\n"), std::string::npos) << check.out;
}
