// The densepack executable driven as a user drives it: options, messages and exit statuses,
// interior points from the point file or from sampling, the construction file as a cache, the
// headless view mode, and runs that cannot do what was asked and say so.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "support/Subprocess.h"

namespace {

const std::string kExe = DENSEPACK_EXE, kModels = std::string(DENSEPACK_SOURCE_DIR) + "/models/";
const std::string kUsage = "Usage: " + kExe +
                           " <option(s)> SOURCES\nOptions:\n\t-h,--help\t\tShow this help message\n"
                           "\t-c,--config CONFIG\tSpecify the config path \t Default: 'config.cfg'\n";

/// A run configuration; "models/" are the test's own unit cube and box.
std::string Config(const std::string& construction, const std::string& objects,
                   const std::string& preprocessing = "points.txt smallest 0.5 2",
                   const std::string& improvement = "CompactionAlgorithm improvement.txt",
                   const std::string& models = "models/", const std::string& container = "box") {
    return "[Construction Heuristic]\n" + construction + "\n[Improvement Heuristic]\n" + improvement +
           "\n[Grid]\n4 4 4\n[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.1 2\n[Preprocessing]\n" +
           preprocessing + "\n[ModelPath]\n" + models + "\n[Container]\n" + container +
           " 0.8 0.8 0.8 0.2\n[Objects]\n" + objects;
}

/// Two of the project's bundled types, construction only, with the construction file as a cache.
std::string Bundled(const std::string& preprocessing) {
    return Config("PlacementAlgorithm construction.txt", "sphere 60 rand 1.0\ncube 40 0.2 0.4 0.9 1.0\n", preprocessing,
                  "None", kModels);
}

/// Spheres of diameter 1 in the bundled 6 x 6 x 6 box, or in the cube of edge 0.8 where none fits.
std::string Spheres(const std::string& preprocessing, const std::string& container = "box") {
    return Config("PlacementAlgorithm", "sphere 100 0.9 0.3 0.2 1.0\n", preprocessing, "None", kModels, container);
}

class Cli : public ::testing::Test {
 protected:
    void SetUp() override {
        // A unit cube with full v/vt/vn corners and a one-sphere tree, as type and container.
        const std::string cube = ShellQuote(std::string(DENSEPACK_SOURCE_DIR) + "/tests/app/data/cube");
        RunCommand("mkdir models && for m in cube box; do cp " + cube + ".obj models/$m.obj && cp " + cube +
                       ".spheres models/$m.spheres; done",
                   dir);
        WriteFile(dir + "/points.txt", "0 0 0\n");
        WriteFile(dir + "/run.cfg", Config("NoSuchAlgorithm construction.txt", "cube 100 rand 1.0\n"));
    }
    // The program frees nothing before exit by design; under the leak checker that is no fault.
    ProcessResult Run(const std::string& args) {
        return RunCommand("ASAN_OPTIONS=detect_leaks=0 " + kExe + " " + args, dir);
    }
    ProcessResult Run(const std::string& config, const std::string& args) {
        WriteFile(dir + "/run.cfg", config);
        return Run("--headless --seed 5 -c run.cfg " + args);
    }
    std::string dir = MakeTempDir("cli");
};

bool Has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

}  // namespace

TEST_F(Cli, OptionsAndTheirFaults) {
    // Arguments, status, the whole of standard error (or a part of it after "~"), standard output.
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        {"-h", 0, kUsage, ""},
        {"--help -c missing.cfg", 0, kUsage, ""},  // help ends the program at once
        {"--headless -c", 1, "--config option requires one argument.\n" + kUsage, ""},
        {"--headless --view", 1, "--view option requires one argument.\n" + kUsage, ""},
        {"--headless -c run.cfg --seed", 1, "--seed option requires one argument.\n" + kUsage, ""},
        {"--headless -c run.cfg --seed 4x", 1, "~--seed expects a whole number", ""},
        // Non-option arguments are ignored; the later of two -c options wins (and names no known
        // construction).
        {"stray --headless -c missing.cfg -c run.cfg --seed 42", 1,
         "~densepack: unknown construction heuristic 'NoSuchAlgorithm'",
         "models/cube.obj\nNr. of object types loaded: 1\nError. Missing algorithm in config.\n"},
        // An unknown option is named once and the run goes on (its value is a stray argument).
        {"--headless --limit steps -c run.cfg --seed 42", 1,
         "~Unknown option '--limit' is ignored; the options are -h, --help, -c, --config, -v, --view, --headless, "
         "--quiet, --frame, --seed, --limits, --steps-per-second, --report.\ndensepack: unknown construction",
         "models/cube.obj\nNr. of object types loaded: 1\nError. Missing algorithm in config.\n"},
    };
    for (const auto& [args, status, err, out] : cases) {
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.status, status) << args;
        if (err.rfind("~", 0) == 0)
            EXPECT_TRUE(Has(r.err, err.substr(1))) << args << "\n" << r.err;
        else
            EXPECT_EQ(r.err, err) << args;
        EXPECT_EQ(r.out, out) << args;
    }
    // Without -c: config.cfg, the usage text, and a default configuration that names no container.
    const ProcessResult none = Run("--headless");
    EXPECT_EQ(none.out.rfind("Error reading filename:config.cfg\n", 0), 0u) << none.out;
    EXPECT_EQ(none.err.rfind(kUsage, 0), 0u) << none.err;
    EXPECT_TRUE(Has(none.err, "Container model could not be loaded. -2")) << none.err;
    EXPECT_EQ(none.status, 1);
    // Window mode needs a display.
    const ProcessResult window = RunCommand("env -u DISPLAY " + kExe + " -c run.cfg", dir);
    EXPECT_EQ(window.status, 1);
    EXPECT_TRUE(Has(window.err, "no display to open a window on")) << window.err;
}

TEST_F(Cli, StartUpFaultsEndWithStatusOneAndOneLineBeforeSamplingOrAnyAlgorithm) {
    // Bundled models whose sphere tree, of the type or of the container, is cut off halfway.
    RunCommand("mkdir cutsphere cutbox", dir);
    for (const auto& [folder, cut] : {std::pair("cutsphere", "sphere"), std::pair("cutbox", "box")}) {
        for (const std::string model : {"sphere.obj", "sphere.spheres", "box.obj", "box.spheres"})
            WriteFile(dir + "/" + folder + "/" + model, ReadFile(kModels + model));
        const std::string tree = dir + "/" + folder + "/" + cut + ".spheres";
        const std::string text = ReadFile(tree);
        WriteFile(tree, text.substr(0, text.size() / 2));
    }
    const std::pair<std::string, std::string> cases[] = {
        // Checked before sampling, which a missing point file would start.
        {Config("NoSuchAlgorithm", "cube 100 rand 1\n", "nopoints.txt smallest 0.5 2"),
         "densepack: unknown construction heuristic 'NoSuchAlgorithm' in [Construction Heuristic]; known: "
         "PlacementAlgorithm, HybridAlgorithm, GrowingSeedAlgorithm, DistanceAlgorithm, RandomSequentialAddition, "
         "CompressionAlgorithm.\n"},
        // A tree that does not load would collide with nothing: the reader's line, like a missing mesh.
        {Config("PlacementAlgorithm", "sphere 100 rand 1\n", "points.txt smallest 0.5 2", "None", "cutsphere/"),
         "cutsphere/sphere.spheres: line "},
        {Config("PlacementAlgorithm", "sphere 100 rand 1\n", "points.txt smallest 0.5 2", "None", "cutbox/"),
         "cutbox/box.spheres: line "},
        {Config("PlacementAlgorithm", "cube 50 0.2 0.4 0.9 1.0\ncube 50 blue 0.4 0.9 1.0\n"),
         "run.cfg:19: invalid colour value 'blue' in object line"},
        {Config("PlacementAlgorithm", ""), "names no object types"},
        {"[Compression]\nmaxGrowth=0.01 rate=2\n" + Config("CompressionAlgorithm", "cube 100 rand 1\n"),
         "run.cfg:2: unknown compression setting \"rate=2\""},
        {Config("PlacementAlgorithm", "sphere 100 rand 1\n"), "Object model could not be loaded. Model: sphere"},
        {Config("PlacementAlgorithm", "cube 100 rand 1\n", "nopoints.txt biggest 0.5 2"),
         "sampling volume 'biggest' is neither"},
        {Config("PlacementAlgorithm", "cube 100 rand 1\n", "nopoints.txt smallest 0.5 0"),
         "sampling thread count is 0; it must be at least 1"},
        {Bundled("nopoints.txt large 1.0 2"), "'large'"},
        // A step factor or a volume that sampling cannot use; "abc" leaves the factor 0.
        {Spheres("none.txt smallest 0 2"), "[Preprocessing] step factor 0 is not a number above 0"},
        {Spheres("none.txt smallest -0.5 2"), "[Preprocessing] step factor -0.5 is not a number above 0"},
        {Spheres("none.txt smallest abc 2"), "[Preprocessing] step factor 0 is not a number above 0"},
        {Spheres("none.txt 0 0.8 2"), "[Preprocessing] sampling volume 0 gives no probe sphere"},
        {Spheres("none.txt -1 0.8 2"), "[Preprocessing] sampling volume -1 gives no probe sphere"},
        // Step 9.9e-7 (the factor times the sphere's diameter) in the box: about 2e20 candidate points.
        {Spheres("none.txt smallest 1e-6 2"), "[Preprocessing] step factor 1e-06 gives a sampling step of 9.8"},
        {Spheres("none.txt smallest 1e-6 2"),
         "candidate points, more than the limit of 1e+07; use a larger step factor (at least 0.0"},
    };
    for (const auto& [config, message] : cases) {
        const ProcessResult r = Run(config, "");
        EXPECT_EQ(r.status, 1) << message << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.err, message)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(Has(r.out, "Volume for preprocessing") || Has(r.out, "Construction Run")) << r.out;
    }
    // A point file is taken as it is, whatever the step factor.
    EXPECT_EQ(Run(Spheres("points.txt smallest 1e-6 2"), "").status, 0);
}

TEST_F(Cli, PointFileThenConstructionFileCacheThenViewMode) {
    WriteFile(dir + "/points.txt", "0 0 0\n1 1 1\n-1 0.5 0\n");
    const ProcessResult first = Run(Bundled("points.txt smallest 1.0 2"), "");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_FALSE(Has(first.out, "Sampling Points: "));
    EXPECT_TRUE(Has(first.out, "Construction Run\nError. File not found: construction.txt\n")) << first.out;
    EXPECT_TRUE(Has(first.out, "Construction Heuristic time: "));
    const std::string written = ReadFile(dir + "/construction.txt");
    ASSERT_FALSE(written.empty());
    const ProcessResult second = Run("--headless --seed 5 -c run.cfg");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_FALSE(Has(second.out, "Construction Heuristic time: ")) << second.out;
    EXPECT_EQ(ReadFile(dir + "/construction.txt"), written);

    const std::string lines = std::to_string(std::count(written.begin(), written.end(), '\n'));
    const ProcessResult view = Run("--headless --seed 5 -c run.cfg -v construction.txt");
    ASSERT_EQ(view.status, 0) << view.err;
    EXPECT_TRUE(
        Has(view.out,
            "Loading packing file... : construction.txt\nObjects loaded to display.\nPlaced objects: " + lines + "\n"))
        << view.out;
    // Files view mode cannot show: status 1 and a message (on standard output for a missing one).
    WriteFile(dir + "/damaged.txt", written + "9 1 2\n");
    WriteFile(dir + "/empty.txt", "");
    WriteFile(dir + "/blank.txt", " \n\n\t\n");
    const std::pair<std::string, std::string> faults[] = {
        {"damaged.txt", "damaged.txt: line " + std::to_string(std::stoi(lines) + 1) + ":"},
        {"missing.txt", "Error. File not found: missing.txt\n"},
        {"empty.txt", "Placement file empty.txt holds no objects.\n"},
        {"blank.txt", "Placement file blank.txt holds no objects.\n"}};
    for (const auto& [file, message] : faults) {
        const ProcessResult r = Run("--headless --seed 5 -c run.cfg -v " + file);
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_TRUE(Has(file == "missing.txt" ? r.out : r.err, message)) << r.out << r.err;
        EXPECT_FALSE(Has(r.out, "Objects loaded to display.")) << r.out;
    }
}

TEST_F(Cli, UnknownImprovementIsNamedWithTheKnownOnesAndTheRunGoesOnWithoutIt) {
    const std::string construction = "PlacementAlgorithm construction.txt";
    const ProcessResult typo = Run(
        Config(construction, "cube 100 rand 1\n", "points.txt smallest 0.5 2", "CompactionAlgoritm improvement.txt"),
        "");
    EXPECT_EQ(typo.status, 0);
    EXPECT_EQ(WithoutProgress(typo.err),
              "densepack: unknown improvement heuristic 'CompactionAlgoritm' in [Improvement Heuristic]; the run has "
              "no improvement phase and no report. Known: CompactionAlgorithm, CavityFillingAlgorithm, "
              "CavityFillingGrowingAlgorithm, ShuffleAlgorithm, SGAlgorithm, TestAlgorithm, "
              "RandomSequentialAddition, CompressionAlgorithm.\n");
    EXPECT_TRUE(Has(typo.out, "Construction Heuristic time: ")) << typo.out;
    EXPECT_FALSE(Has(typo.out, "Improvement Heuristic time: ")) << typo.out;

    // Names that choose no improvement phase on purpose, and a construction name in the wrong role.
    for (const char* none : {"None improvement.txt", "none", ""}) {
        const ProcessResult r = Run(Config(construction, "cube 100 rand 1\n", "points.txt smallest 0.5 2", none), "");
        EXPECT_EQ(std::pair(r.status, WithoutProgress(r.err)), std::pair(0, std::string())) << none;
    }
    const ProcessResult role = Run(
        Config(construction, "cube 100 rand 1\n", "points.txt smallest 0.5 2", "PlacementAlgorithm improvement.txt"),
        "");
    EXPECT_TRUE(Has(role.err, "unknown improvement heuristic 'PlacementAlgorithm'")) << role.err;
}

TEST_F(Cli, AverageSamplingPrintsEveryTypeAndTheWeightedVolume) {
    const ProcessResult r = Run(Bundled("nopoints.txt average 2.5 2"), "");
    ASSERT_EQ(r.status, 0) << r.err;
    // Types sorted by volume: the cube (0.512) before the sphere mesh; each line is name, box
    // volume, cube of the smallest extent and their ratio.
    EXPECT_TRUE(Has(r.out, "Preprocessing file not found: nopoints.txt\ncube 0.512 0.512 1\nsphere ")) << r.out;
    EXPECT_TRUE(Has(r.out, "\nWeighted Average Volume: "));
    EXPECT_TRUE(Has(r.out, "\nConfig Step Size: 2.5\nVolume for preprocessing: "));
    const size_t at = r.out.find("Sampling Points: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(std::stoi(r.out.substr(at + 17)), 0);
    EXPECT_EQ(r.out.find("Sampling Points: ", at + 1), std::string::npos);
}

TEST_F(Cli, NoInteriorPointRunsOnAndSaysNothingCanBePlaced) {
    const ProcessResult sampled = Run(Spheres("none.txt smallest 0.5 2", "cube"), "");
    EXPECT_EQ(sampled.status, 0) << sampled.err;
    EXPECT_TRUE(Has(sampled.out, "Sampling Points: 0\n")) << sampled.out;
    const std::string nothing = "nothing can be placed";
    EXPECT_TRUE(
        Has(sampled.err, "sampling found no point inside the container where the probe sphere fits; " + nothing))
        << sampled.err;
    EXPECT_EQ(sampled.err.rfind(nothing), sampled.err.find(nothing)) << "said once: " << sampled.err;
    EXPECT_TRUE(Has(sampled.out, "Construction Run")) << "the run stopped";

    WriteFile(dir + "/points.txt", "\n");
    const ProcessResult empty = Run(Spheres("points.txt smallest 0.5 2"), "");
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_TRUE(Has(empty.err, "point file points.txt holds no points; nothing can be placed.")) << empty.err;
    EXPECT_FALSE(Has(empty.out, "Sampling Points"));

    // A point where an object fits (the box's centre on a grid of step 3): no such line.
    const ProcessResult fine = Run(Spheres("none.txt smallest 3 2"), "");
    EXPECT_EQ(fine.status, 0) << fine.err;
    EXPECT_TRUE(Has(fine.out, "Sampling Points: 1\n")) << fine.out;
    EXPECT_FALSE(Has(fine.err, nothing)) << fine.err;
}
