// The densepack executable driven as a user drives it: options, messages and exit statuses,
// interior points from the point file or from sampling, the construction file as a cache, and
// the headless view mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/Subprocess.h"

namespace {

const std::string kExe = DENSEPACK_EXE;
const std::string kUsage = "Usage: " + kExe +
                           " <option(s)> SOURCES\nOptions:\n\t-h,--help\t\tShow this help message\n"
                           "\t-c,--config CONFIG\tSpecify the config path \t Default: 'config.cfg'\n";

/// A run configuration; "models/" are the test's own unit cube and box.
std::string Config(const std::string& construction, const std::string& objects,
                   const std::string& preprocessing = "points.txt smallest 0.5 2",
                   const std::string& improvement = "CompactionAlgorithm improvement.txt",
                   const std::string& models = "models/") {
    return "[Construction Heuristic]\n" + construction + " construction.txt\n[Improvement Heuristic]\n" + improvement +
           "\n[Grid]\n4 4 4\n[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.1 2\n[Preprocessing]\n" +
           preprocessing + "\n[ModelPath]\n" + models + "\n[Container]\nbox 0.8 0.8 0.8 0.2\n[Objects]\n" + objects;
}

/// Two of the project's bundled types, construction only.
std::string Bundled(const std::string& preprocessing) {
    return Config("PlacementAlgorithm", "sphere 60 rand 1.0\ncube 40 0.2 0.4 0.9 1.0\n", preprocessing, "None",
                  std::string(DENSEPACK_SOURCE_DIR) + "/models/");
}

class Cli : public ::testing::Test {
 protected:
    void SetUp() override {
        // A unit cube with full v/vt/vn corners and a one-sphere tree, as type and container.
        RunCommand(
            "mkdir models && cp " + ShellQuote(std::string(DENSEPACK_SOURCE_DIR) + "/tests/app/data/") + "* models/",
            dir);
        WriteFile(dir + "/points.txt", "0 0 0\n");
        WriteFile(dir + "/run.cfg", Config("NoSuchAlgorithm", "cube 100 rand 1.0\n"));
    }
    // The program frees nothing before exit by design; under the leak checker that is no fault.
    ProcessResult Run(const std::string& args) {
        return RunCommand("ASAN_OPTIONS=detect_leaks=0 " + kExe + " " + args, dir);
    }
    std::string dir = MakeTempDir("cli");
};

}  // namespace

TEST_F(Cli, OptionsAndTheirFaults) {
    const struct {
        std::string args;
        int status;
        std::string err;  ///< the whole of standard error, or a part of it after "~"
        std::string out;
    } cases[] = {
        {"-h", 0, kUsage, ""},
        {"--help -c missing.cfg", 0, kUsage, ""},  // help ends the program at once
        {"--headless -c", 1, "--config option requires one argument.\n" + kUsage, ""},
        {"--headless --view", 1, "--view option requires one argument.\n" + kUsage, ""},
        {"--headless -c run.cfg --seed", 1, "--seed option requires one argument.\n" + kUsage, ""},
        {"--headless -c run.cfg --seed 4x", 1, "~--seed expects a whole number", ""},
        // Non-option arguments are ignored; the later of two -c options wins.
        {"stray --headless -c missing.cfg -c run.cfg --seed 42", 0, "",
         "models/cube.obj\nNr. of object types loaded: 1\nError. Missing algorithm in config.\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        if (c.err.rfind("~", 0) == 0)
            EXPECT_NE(r.err.find(c.err.substr(1)), std::string::npos) << c.args << "\n" << r.err;
        else
            EXPECT_EQ(r.err, c.err) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
    }
    // Without -c: config.cfg, the usage text, and a default configuration that names no container.
    const ProcessResult none = Run("--headless");
    EXPECT_EQ(none.out.rfind("Error reading filename:config.cfg\n", 0), 0u) << none.out;
    EXPECT_EQ(none.err.rfind(kUsage, 0), 0u) << none.err;
    EXPECT_NE(none.err.find("Container model could not be loaded. -2"), std::string::npos) << none.err;
    EXPECT_EQ(none.status, 1);
    // Window mode needs a display.
    const ProcessResult window = RunCommand("env -u DISPLAY " + kExe + " -c run.cfg", dir);
    EXPECT_EQ(window.status, 1);
    EXPECT_NE(window.err.find("no display to open a window on"), std::string::npos) << window.err;
}

TEST_F(Cli, StartUpFaultsEndWithStatusOneBeforeAnyAlgorithm) {
    const std::pair<std::string, std::string> cases[] = {
        {Config("PlacementAlgorithm", "cube 50 0.2 0.4 0.9 1.0\ncube 50 blue 0.4 0.9 1.0\n"),
         "run.cfg:19: invalid colour value 'blue' in object line"},
        {Config("PlacementAlgorithm", ""), "names no object types"},
        {Config("PlacementAlgorithm", "sphere 100 rand 1\n"), "Object model could not be loaded. Model: sphere"},
        {Config("PlacementAlgorithm", "cube 100 rand 1\n", "nopoints.txt biggest 0.5 2"),
         "sampling volume 'biggest' is neither"},
        {Config("PlacementAlgorithm", "cube 100 rand 1\n", "nopoints.txt smallest 0.5 0"),
         "sampling thread count is 0; it must be at least 1"},
        {Bundled("nopoints.txt large 1.0 2"), "'large'"},
    };
    for (const auto& [config, message] : cases) {
        WriteFile(dir + "/run.cfg", config);
        const ProcessResult r = Run("--headless -c run.cfg");
        EXPECT_EQ(r.status, 1) << message << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Construction Run"), std::string::npos) << r.out;
    }
}

TEST_F(Cli, PointFileThenConstructionFileCacheThenViewMode) {
    WriteFile(dir + "/points.txt", "0 0 0\n1 1 1\n-1 0.5 0\n");
    WriteFile(dir + "/run.cfg", Bundled("points.txt smallest 1.0 2"));
    const ProcessResult first = Run("--headless --seed 5 -c run.cfg");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.find("Sampling Points: "), std::string::npos);
    EXPECT_NE(first.out.find("Construction Run\nError. File not found: construction.txt\n"), std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find("Construction Heuristic time: "), std::string::npos);
    const std::string written = ReadFile(dir + "/construction.txt");
    ASSERT_FALSE(written.empty());
    const ProcessResult second = Run("--headless --seed 5 -c run.cfg");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out.find("Construction Heuristic time: "), std::string::npos) << second.out;
    EXPECT_EQ(ReadFile(dir + "/construction.txt"), written);

    const std::string lines = std::to_string(std::count(written.begin(), written.end(), '\n'));
    const ProcessResult view = Run("--headless --seed 5 -c run.cfg -v construction.txt");
    ASSERT_EQ(view.status, 0) << view.err;
    EXPECT_NE(view.out.find("Loading packing file... : construction.txt\nObjects loaded to display.\nPlaced objects: " +
                            lines + "\n"),
              std::string::npos)
        << view.out;
    WriteFile(dir + "/damaged.txt", written + "9 1 2\n");
    const ProcessResult damaged = Run("--headless --seed 5 -c run.cfg -v damaged.txt");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("damaged.txt: line " + std::to_string(std::stoi(lines) + 1) + ":"), std::string::npos)
        << damaged.err;
    EXPECT_EQ(damaged.out.find("Objects loaded to display."), std::string::npos);
    const ProcessResult missing = Run("--headless --seed 5 -c run.cfg -v missing.txt");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("Error. File not found: missing.txt\n"), std::string::npos);
}

TEST_F(Cli, AverageSamplingPrintsEveryTypeAndTheWeightedVolume) {
    WriteFile(dir + "/run.cfg", Bundled("nopoints.txt average 2.5 2"));
    const ProcessResult r = Run("--headless --seed 5 -c run.cfg");
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
}
