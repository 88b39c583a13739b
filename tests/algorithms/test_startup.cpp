// Start-up through the executable: interior points from the point file or from sampling, the
// construction file as a cache, and the headless view mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/Subprocess.h"

namespace {

std::string Config(const std::string& preprocessing) {
    return std::string(
               "[Construction Heuristic]\nPlacementAlgorithm construction.txt\n[Improvement Heuristic]\nNone\n") +
           "[Grid]\n4 4 4\n[Preprocessing]\n" + preprocessing + "\n[ModelPath]\n" + DENSEPACK_SOURCE_DIR +
           "/models/\n[Container]\nbox 0.8 0.8 0.8 0.2\n[Objects]\nsphere 60 rand 1.0\ncube 40 0.2 0.4 0.9 1.0\n";
}

ProcessResult Densepack(const std::string& dir, const std::string& args) {
    // The program frees nothing before exit by design; under the leak checker that is no fault.
    return RunCommand("ASAN_OPTIONS=detect_leaks=0 " + std::string(DENSEPACK_BIN) + " --headless --seed 5 " + args,
                      dir);
}

}  // namespace

TEST(StartUp, PointFileThenConstructionFileCacheThenViewMode) {
    const std::string dir = MakeTempDir("startup");
    WriteFile(dir + "/points.txt", "0 0 0\n1 1 1\n-1 0.5 0\n");
    WriteFile(dir + "/run.cfg", Config("points.txt smallest 1.0 2"));

    ProcessResult first = Densepack(dir, "-c run.cfg");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.find("Sampling Points: "), std::string::npos);
    EXPECT_NE(first.out.find("Construction Run\nError. File not found: construction.txt\n"), std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find("Construction Heuristic time: "), std::string::npos);
    const std::string written = ReadFile(dir + "/construction.txt");
    ASSERT_FALSE(written.empty());

    ProcessResult second = Densepack(dir, "-c run.cfg");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("Construction Run\n"), std::string::npos);
    EXPECT_EQ(second.out.find("Construction Heuristic time: "), std::string::npos) << second.out;
    EXPECT_EQ(ReadFile(dir + "/construction.txt"), written);

    const int lines = static_cast<int>(std::count(written.begin(), written.end(), '\n'));
    ProcessResult view = Densepack(dir, "-c run.cfg -v construction.txt");
    ASSERT_EQ(view.status, 0) << view.err;
    EXPECT_NE(view.out.find("Loading packing file... : construction.txt\nObjects loaded to display.\nPlaced objects: " +
                            std::to_string(lines) + "\n"),
              std::string::npos)
        << view.out;

    WriteFile(dir + "/damaged.txt", written + "9 1 2\n");
    ProcessResult damaged = Densepack(dir, "-c run.cfg -v damaged.txt");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("damaged.txt: line " + std::to_string(lines + 1) + ":"), std::string::npos)
        << damaged.err;
    EXPECT_EQ(damaged.out.find("Objects loaded to display."), std::string::npos);

    ProcessResult missing = Densepack(dir, "-c run.cfg -v missing.txt");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("Error. File not found: missing.txt\n"), std::string::npos);
}

TEST(StartUp, AverageSamplingPrintsEveryTypeAndTheWeightedVolume) {
    const std::string dir = MakeTempDir("startup");
    WriteFile(dir + "/run.cfg", Config("nopoints.txt average 2.5 2"));
    ProcessResult r = Densepack(dir, "-c run.cfg");
    ASSERT_EQ(r.status, 0) << r.err;
    // Types sorted by volume: the cube (0.512) before the sphere mesh; each line is name, box
    // volume, cube of the smallest extent and their ratio.
    EXPECT_NE(r.out.find("Preprocessing file not found: nopoints.txt\ncube 0.512 0.512 1\nsphere "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nWeighted Average Volume: "), std::string::npos);
    EXPECT_NE(r.out.find("\nConfig Step Size: 2.5\nVolume for preprocessing: "), std::string::npos);
    const size_t at = r.out.find("Sampling Points: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(std::stoi(r.out.substr(at + 17)), 0);
    EXPECT_EQ(r.out.find("Sampling Points: ", at + 1), std::string::npos);

    WriteFile(dir + "/bad.cfg", Config("nopoints.txt large 1.0 2"));
    ProcessResult bad = Densepack(dir, "-c bad.cfg");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("'large'"), std::string::npos) << bad.err;
}
