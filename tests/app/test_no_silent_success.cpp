// Runs that cannot do what was asked say so: settings that make sampling meaningless or endless
// end start-up with one line and status 1 before sampling starts; a run without interior points
// goes on but says that nothing can be placed; view mode names an empty placement file.

#include <gtest/gtest.h>

#include <string>

#include "support/Subprocess.h"

namespace {

// Spheres of diameter 1 in the 6 x 6 x 6 box, or in the cube of edge 0.8 where none fits.
std::string Config(const std::string& preprocessing, const std::string& container = "box") {
    return "[Construction Heuristic]\nPlacementAlgorithm\n[Improvement Heuristic]\nNone\n[Preprocessing]\n" +
           preprocessing + "\n[ModelPath]\n" + DENSEPACK_SOURCE_DIR + "/models/\n[Container]\n" + container +
           " 0.8 0.8 0.8 0.2\n[Objects]\nsphere 100 0.9 0.3 0.2 1.0\n";
}

class NoSilentSuccess : public ::testing::Test {
 protected:
    ProcessResult Run(const std::string& config, const std::string& args = "") {
        WriteFile(dir + "/run.cfg", config);
        return RunCommand(
            "ASAN_OPTIONS=detect_leaks=0 " + std::string(DENSEPACK_EXE) + " --headless --seed 1 -c run.cfg " + args,
            dir);
    }
    size_t Count(const std::string& text, const std::string& piece) {
        size_t n = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
        return n;
    }
    std::string dir = MakeTempDir("no-silent-success");
};

TEST_F(NoSilentSuccess, StepFactorOrVolumeWithoutAPositiveStepEndsBeforeSampling) {
    // "abc" does not read as a number and leaves the factor 0.
    for (const auto& [given, shown] : {std::pair{"0", "0"}, {"-0.5", "-0.5"}, {"abc", "0"}}) {
        ProcessResult r = Run(Config(std::string("none.txt smallest ") + given + " 2"));
        EXPECT_EQ(r.status, 1) << given;
        EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
        EXPECT_NE(r.err.find(std::string("[Preprocessing] step factor ") + shown + " is not a number above 0"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("Volume for preprocessing"), std::string::npos) << "sampling started";
    }
    for (const char* volume : {"0", "-1"}) {
        ProcessResult r = Run(Config(std::string("none.txt ") + volume + " 0.8 2"));
        EXPECT_EQ(r.status, 1) << volume;
        EXPECT_NE(r.err.find(std::string("[Preprocessing] sampling volume ") + volume + " gives no probe sphere"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("Volume for preprocessing"), std::string::npos) << "sampling started";
    }
}

TEST_F(NoSilentSuccess, GridBeyondTheLimitIsRefusedWithALargerStepSuggested) {
    // Step 9.9e-7 (the factor times the sphere's diameter 0.99) in the 6 x 6 x 6 box: about 2e20
    // candidate points.
    ProcessResult r = Run(Config("none.txt smallest 1e-6 2"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
    EXPECT_NE(r.err.find("[Preprocessing] step factor 1e-06 gives a sampling step of 9.8"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("candidate points, more than the limit of 1e+07; use a larger step factor (at least 0.0"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("Volume for preprocessing"), std::string::npos) << "sampling started";
    // A point file is taken as it is, whatever the step factor.
    WriteFile(dir + "/points.txt", "0 0 0\n");
    ProcessResult loaded = Run(Config("points.txt smallest 1e-6 2"));
    EXPECT_EQ(loaded.status, 0) << loaded.err;
}

TEST_F(NoSilentSuccess, NoInteriorPointRunsOnAndSaysNothingCanBePlaced) {
    ProcessResult sampled = Run(Config("none.txt smallest 0.5 2", "cube"));
    EXPECT_EQ(sampled.status, 0) << sampled.err;
    EXPECT_NE(sampled.out.find("Sampling Points: 0\n"), std::string::npos) << sampled.out;
    EXPECT_EQ(Count(sampled.err, "nothing can be placed"), 1u) << sampled.err;
    EXPECT_NE(sampled.err.find("sampling found no point inside the container"), std::string::npos) << sampled.err;
    EXPECT_NE(sampled.out.find("Construction Run"), std::string::npos) << "the run stopped";

    WriteFile(dir + "/points.txt", "\n");
    ProcessResult empty = Run(Config("points.txt smallest 0.5 2"));
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_NE(empty.err.find("point file points.txt holds no points; nothing can be placed."), std::string::npos)
        << empty.err;
    EXPECT_EQ(empty.out.find("Sampling Points"), std::string::npos);

    // A point where an object fits (the box's centre on a grid of step 3): no such line.
    ProcessResult fine = Run(Config("none.txt smallest 3 2"));
    EXPECT_EQ(fine.status, 0) << fine.err;
    EXPECT_NE(fine.out.find("Sampling Points: 1\n"), std::string::npos) << fine.out;
    EXPECT_EQ(fine.err.find("nothing can be placed"), std::string::npos) << fine.err;
}

TEST_F(NoSilentSuccess, ViewModeNamesAnEmptyPlacementFile) {
    WriteFile(dir + "/points.txt", "0 0 0\n");
    for (const char* content : {"", " \n\n\t\n"}) {
        WriteFile(dir + "/empty.txt", content);
        ProcessResult r = Run(Config("points.txt smallest 0.8 2"), "-v empty.txt");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Placement file empty.txt holds no objects.\n"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Objects loaded to display."), std::string::npos) << r.out;
    }
}

}  // namespace
