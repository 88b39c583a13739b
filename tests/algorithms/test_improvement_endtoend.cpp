// Every impulse improvement heuristic through the executable on a tiny packing under iteration
// budgets: the run ends, keeps what the construction placed, passes the exact-mesh check and
// repeats byte for byte.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/Subprocess.h"

namespace {

// A box of half size h as an OBJ with outward faces.
std::string BoxObj(double h) {
    std::string s;
    for (int i = 0; i < 8; ++i)
        s += "v " + std::to_string(i & 1 ? h : -h) + " " + std::to_string(i & 2 ? h : -h) + " " +
             std::to_string(i & 4 ? h : -h) + "\n";
    return s + "f 1 3 4\nf 1 4 2\nf 5 6 8\nf 5 8 7\nf 1 2 6\nf 1 6 5\n" +
           "f 3 7 8\nf 3 8 4\nf 1 5 7\nf 1 7 3\nf 2 4 8\nf 2 8 6\n";
}

// Six huge spheres just outside the faces of the box [-h, h]^3.
std::string ContainerSpheres(double h) {
    const double R = 1000.0;
    std::string s = "densepack-spheres 1\nkind container\nnodes 7 leaves 6\n0 0 0 " + std::to_string(2 * R + 2 * h) +
                    " 0 0 0 3.14159265 1 6\n";
    for (int i = 0; i < 6; ++i) {
        double c[3] = {0, 0, 0};
        c[i / 2] = (i % 2 ? -1 : 1) * (R + h);
        s += std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]) + " " + std::to_string(R) +
             " 0 0 0 0 -1 0\n";
    }
    return s + "end\n";
}

// 5 x 5 x 5 points 0.5 apart around the centre of the box.
std::string GridPoints() {
    std::string s;
    for (int i = 0; i < 125; ++i)
        s += std::to_string(-1.0 + 0.5 * (i % 5)) + " " + std::to_string(-1.0 + 0.5 * (i / 5 % 5)) + " " +
             std::to_string(-1.0 + 0.5 * (i / 25)) + "\n";
    return s;
}

int Lines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

class ImprovementEndToEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(ImprovementEndToEnd, EndsKeepsTheConstructionPassesTheCheckAndRepeats) {
    const std::string dir = MakeTempDir("improve");
    WriteFile(dir + "/tray.obj", BoxObj(1.5));
    WriteFile(dir + "/tray.spheres", ContainerSpheres(1.5));
    for (const char* model : {"sphere.obj", "sphere_l.obj", "sphere.spheres", "mm.obj", "mm_l.obj", "mm.spheres"})
        WriteFile(dir + "/" + model, ReadFile(std::string(DENSEPACK_SOURCE_DIR) + "/models/" + model));
    WriteFile(dir + "/points.txt", GridPoints());
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
    const int constructed = Lines(ReadFile(dir + "/construction.txt"));
    const std::string improved = ReadFile(dir + "/improvement.txt");
    ASSERT_GT(constructed, 0);
    EXPECT_GE(Lines(improved), constructed);
    const size_t at = first.out.find("Num. placed objects: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::stoi(first.out.substr(at + 21)), Lines(improved));

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
