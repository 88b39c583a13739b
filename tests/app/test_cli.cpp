// The densepack executable driven as a user drives it: options, messages, exit statuses.

#include <gtest/gtest.h>

#include <string>

#include "support/Subprocess.h"

namespace {

const std::string kExe = DENSEPACK_EXE;

std::string Usage(const std::string& name) {
    return "Usage: " + name + " <option(s)> SOURCES\n" + "Options:\n" + "\t-h,--help\t\tShow this help message\n" +
           "\t-c,--config CONFIG\tSpecify the config path \t Default: 'config.cfg'\n";
}

std::string Config(const std::string& construction, const std::string& objects,
                   const std::string& preprocessing = "points.txt smallest 0.5 2") {
    return "[Construction Heuristic]\n" + construction + " construction.txt\n" +
           "[Improvement Heuristic]\nCompactionAlgorithm improvement.txt\n[Grid]\n10 10 10\n"
           "[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.1 2\n[Preprocessing]\n" +
           preprocessing + "\n[ModelPath]\nmodels/\n[Container]\nbox 0.8 0.8 0.8 0.2\n[Objects]\n" + objects;
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
    ProcessResult Run(const std::string& args) { return RunCommand(kExe + " " + args, dir); }
    std::string dir;
};

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

TEST_F(Cli, PreferredCoarseMeshIsChosen) {
    RunCommand("cp models/cube.obj models/cube_l.obj", dir);
    WriteFile(dir + "/run.cfg", Config("NoSuchAlgorithm", "cube 100 rand 1.0\n"));
    ProcessResult r = Run("--headless -c run.cfg");
    EXPECT_EQ(r.out.rfind("models/cube_l.obj\n", 0), 0u) << r.out;
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

}  // namespace
