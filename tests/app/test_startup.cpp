// The densepack executable driven as a user drives it: options, messages and exit statuses,
// interior points from the point file or from sampling, the construction file as a cache, and
// the headless view mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/Subprocess.h"

namespace {

const std::string kExe = DENSEPACK_EXE;
const std::string kBundledModels = std::string(DENSEPACK_SOURCE_DIR) + "/models/";

std::string Usage(const std::string& name) {
    return "Usage: " + name + " <option(s)> SOURCES\n" + "Options:\n" + "\t-h,--help\t\tShow this help message\n" +
           "\t-c,--config CONFIG\tSpecify the config path \t Default: 'config.cfg'\n";
}

/// A run configuration; "models/" are the test's own unit cube and box, kBundledModels the project's.
std::string Config(const std::string& construction, const std::string& objects,
                   const std::string& preprocessing = "points.txt smallest 0.5 2",
                   const std::string& improvement = "CompactionAlgorithm improvement.txt",
                   const std::string& models = "models/") {
    return "[Construction Heuristic]\n" + construction + " construction.txt\n[Improvement Heuristic]\n" + improvement +
           "\n[Grid]\n4 4 4\n[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.1 2\n[Preprocessing]\n" +
           preprocessing + "\n[ModelPath]\n" + models + "\n[Container]\nbox 0.8 0.8 0.8 0.2\n[Objects]\n" + objects;
}

class Cli : public ::testing::Test {
 protected:
    void SetUp() override {
        dir = MakeTempDir("cli");
        // A unit cube with full v/vt/vn corners and a one-sphere tree, as type and container.
        RunCommand(
            "mkdir -p models && cp " + ShellQuote(std::string(DENSEPACK_SOURCE_DIR) + "/tests/app/data/") + "* models/",
            dir);
        WriteFile(dir + "/points.txt", "0 0 0\n");
    }
    // The program frees nothing before exit by design; under the leak checker that is no fault.
    ProcessResult Run(const std::string& args) {
        return RunCommand("ASAN_OPTIONS=detect_leaks=0 " + kExe + " " + args, dir);
    }
    std::string dir;
};

// Two bundled types, construction only.
std::string Bundled(const std::string& preprocessing) {
    return Config("PlacementAlgorithm", "sphere 60 rand 1.0\ncube 40 0.2 0.4 0.9 1.0\n", preprocessing, "None",
                  kBundledModels);
}

}  // namespace

TEST_F(Cli, HelpAndMissingArgumentsPrintTheExactUsage) {
    ProcessResult help = Run("-h");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, Usage(kExe));
    EXPECT_EQ(help.out, "");
    EXPECT_EQ(Run("--help -c missing.cfg").status, 0) << "help ends the program at once";

    ProcessResult c = Run("--headless -c");
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.err, "--config option requires one argument.\n" + Usage(kExe));
    EXPECT_EQ(c.out, "") << "nothing happens beyond argument parsing";

    ProcessResult v = Run("--headless --view");
    EXPECT_EQ(v.status, 1);
    EXPECT_EQ(v.err, "--view option requires one argument.\n" + Usage(kExe));
}

TEST_F(Cli, NoArgumentsUseConfigCfgAndPrintUsage) {
    ProcessResult r = Run("--headless");
    EXPECT_EQ(r.out.rfind("Error reading filename:config.cfg\n", 0), 0u) << r.out;
    EXPECT_EQ(r.err.rfind(Usage(kExe), 0), 0u) << r.err;
    // The defaults name no container, so the scene cannot be built.
    EXPECT_NE(r.err.find("Container model could not be loaded. -2"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 1);
}

TEST_F(Cli, NonOptionArgumentsAreIgnoredAndTheConfigIsRead) {
    WriteFile(dir + "/run.cfg", Config("NoSuchAlgorithm", "cube 100 0.2 0.4 0.9 1.0\n"));
    ProcessResult r = Run("stray --headless -c run.cfg");
    EXPECT_EQ(r.err, "") << "no usage text once -c was accepted";
    EXPECT_EQ(r.out, "models/cube.obj\nNr. of object types loaded: 1\nError. Missing algorithm in config.\n");
    EXPECT_EQ(r.status, 0);

    // The later of two -c options wins.
    ProcessResult twice = Run("--headless -c missing.cfg -c run.cfg");
    EXPECT_EQ(twice.out.find("Error reading filename"), std::string::npos);
    EXPECT_EQ(twice.status, 0);
}

TEST_F(Cli, StartUpFaultsEndWithStatusOneBeforeAnyAlgorithm) {
    struct Case {
        std::string config, expectErr;
    };
    const Case cases[] = {
        {Config("PlacementAlgorithm", "cube 50 0.2 0.4 0.9 1.0\ncube 50 blue 0.4 0.9 1.0\n"),
         "run.cfg:19: invalid colour value 'blue' in object line"},
        {Config("PlacementAlgorithm", ""), "names no object types"},
        {Config("PlacementAlgorithm", "sphere 100 rand 1\n"), "Object model could not be loaded. Model: sphere"},
        {Config("PlacementAlgorithm", "cube 100 rand 1\n", "nopoints.txt biggest 0.5 2"),
         "sampling volume 'biggest' is neither"},
        {Config("PlacementAlgorithm", "cube 100 rand 1\n", "nopoints.txt smallest 0.5 0"),
         "sampling thread count is 0; it must be at least 1"},
    };
    for (const Case& c : cases) {
        WriteFile(dir + "/run.cfg", c.config);
        ProcessResult r = Run("--headless -c run.cfg");
        EXPECT_EQ(r.status, 1) << c.expectErr << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.expectErr), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Construction Run"), std::string::npos);
    }
}

TEST_F(Cli, SeedOptionIsValidated) {
    WriteFile(dir + "/run.cfg", Config("NoSuchAlgorithm", "cube 100 rand 1.0\n"));
    EXPECT_EQ(Run("--headless -c run.cfg --seed 42").status, 0);
    ProcessResult bad = Run("--headless -c run.cfg --seed 4x");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("--seed expects a whole number"), std::string::npos);
    ProcessResult missing = Run("--headless -c run.cfg --seed");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "--seed option requires one argument.\n" + Usage(kExe));
}

TEST_F(Cli, WindowModeWithoutDisplayFailsClearly) {
    WriteFile(dir + "/run.cfg", Config("NoSuchAlgorithm", "cube 100 rand 1.0\n"));
    ProcessResult r = RunCommand("env -u DISPLAY " + kExe + " -c run.cfg", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no display to open a window on"), std::string::npos) << r.err;
}

TEST_F(Cli, PointFileThenConstructionFileCacheThenViewMode) {
    WriteFile(dir + "/points.txt", "0 0 0\n1 1 1\n-1 0.5 0\n");
    WriteFile(dir + "/run.cfg", Bundled("points.txt smallest 1.0 2"));

    ProcessResult first = Run("--headless --seed 5 -c run.cfg");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.find("Sampling Points: "), std::string::npos);
    EXPECT_NE(first.out.find("Construction Run\nError. File not found: construction.txt\n"), std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find("Construction Heuristic time: "), std::string::npos);
    const std::string written = ReadFile(dir + "/construction.txt");
    ASSERT_FALSE(written.empty());

    ProcessResult second = Run("--headless --seed 5 -c run.cfg");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("Construction Run\n"), std::string::npos);
    EXPECT_EQ(second.out.find("Construction Heuristic time: "), std::string::npos) << second.out;
    EXPECT_EQ(ReadFile(dir + "/construction.txt"), written);

    const int lines = static_cast<int>(std::count(written.begin(), written.end(), '\n'));
    ProcessResult view = Run("--headless --seed 5 -c run.cfg -v construction.txt");
    ASSERT_EQ(view.status, 0) << view.err;
    EXPECT_NE(view.out.find("Loading packing file... : construction.txt\nObjects loaded to display.\nPlaced objects: " +
                            std::to_string(lines) + "\n"),
              std::string::npos)
        << view.out;

    WriteFile(dir + "/damaged.txt", written + "9 1 2\n");
    ProcessResult damaged = Run("--headless --seed 5 -c run.cfg -v damaged.txt");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("damaged.txt: line " + std::to_string(lines + 1) + ":"), std::string::npos)
        << damaged.err;
    EXPECT_EQ(damaged.out.find("Objects loaded to display."), std::string::npos);

    ProcessResult missing = Run("--headless --seed 5 -c run.cfg -v missing.txt");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("Error. File not found: missing.txt\n"), std::string::npos);
}

TEST_F(Cli, AverageSamplingPrintsEveryTypeAndTheWeightedVolume) {
    WriteFile(dir + "/run.cfg", Bundled("nopoints.txt average 2.5 2"));
    ProcessResult r = Run("--headless --seed 5 -c run.cfg");
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

    WriteFile(dir + "/bad.cfg", Bundled("nopoints.txt large 1.0 2"));
    ProcessResult bad = Run("--headless --seed 5 -c bad.cfg");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("'large'"), std::string::npos) << bad.err;
}
