// The configuration file: sections, the odd lines real files hold, colours, size words and the failures;
// then createScene on small generated models: load order, messages, volume sort, container
// set-up, per-type tables and the two failure paths.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/Config.h"
#include "app/Globals.h"
#include "app/Scene.h"
#include "geometry/PackingGeometry.h"
#include "geometry/Random.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace {

const char* const kExample =
    "[Construction Heuristic]\nPlacementAlgorithm construction.txt\n"
    "[Improvement Heuristic]\nCompactionAlgorithm improvement.txt\n"
    "[Grid]\n10 10 10\n[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.1 10\n"
    "[Preprocessing]\npoints.txt smallest 0.5 4\n[ModelPath]\nmodels/\n"
    "[Container]\nbox 0.8 0.8 0.8 0.2\n[Objects]\nsphere 60 rand 1.0\ncube 40 0.2 0.4 0.9 1.0\n";

class ConfigTest : public ::testing::Test {
 protected:
    int Load(const std::string& text) {
        WriteFile(path, text);
        return LoadConfig(path, data);
    }
    std::string dir = MakeTempDir("config"), path = dir + "/run.cfg";
    ConfigData data;
};

std::vector<float> Colour(const PackingObjectInfo& info) { return {info.color, info.color + 4}; }

TEST_F(ConfigTest, ExampleFileWithLfAndCrlfEndings) {
    col::FibRand* const saved = g_PRNG;
    for (const char* end : {"\n", "\r\n"}) {
        std::string text;
        for (const char* c = kExample; *c; ++c) text += *c == '\n' ? end : std::string(1, *c);
        col::FibRand generator(1234), reference(1234);  // the colours are drawn from a known generator
        g_PRNG = &generator;
        data = ConfigData();
        ASSERT_EQ(Load(text), kConfigOk);
        EXPECT_EQ(data.constructionHeuristic + "|" + data.constructionFile + "|" + data.improvementHeuristic + "|" +
                      data.improvementFile + "|" + data.pointFile + "|" + data.samplingVolume + "|" + data.modelPath +
                      "|" + data.containerName,
                  "PlacementAlgorithm|construction.txt|CompactionAlgorithm|improvement.txt|points.txt|smallest|"
                  "models/|box");
        EXPECT_EQ(data.gridCells.getZ(), 10.0f);
        EXPECT_FLOAT_EQ(data.surfaceDensityEpsilon, 0.1f);
        EXPECT_EQ(std::pair(data.hopkinsRepeat, data.samplingThreads), std::pair(10, 4));
        EXPECT_EQ(data.containerColor[3], 0.2f);
        ASSERT_EQ(data.objects.size(), 2u);  // the final newline adds no record
        std::vector<float> rgba(4, 1.0f);
        for (int c = 0; c < 3; ++c) rgba[c] = 0.1f + reference.rand() / 1533916928.0f;
        EXPECT_EQ(data.objects[0].name + "|" + data.objects[1].name, "sphere|cube");
        EXPECT_EQ(data.objects[0].percentage, 60.0f);
        EXPECT_EQ(Colour(data.objects[0]), rgba);
        EXPECT_EQ(Colour(data.objects[1]), (std::vector<float>{0.2f, 0.4f, 0.9f, 1.0f}));
    }
    g_PRNG = saved;
}

TEST_F(ConfigTest, HeadersMatchByPrefixTakeTheNextLineAndFailedExtractionsZeroOnlyTheirField) {
    ASSERT_EQ(Load("# free comment\n[Grid] cells\n1 2 3\n[grid]\n7 7 7\n[Gri\n"
                   "[SurfaceDensity Epsilon]\n0.3\n[SurfaceDensity Epsilon]\n# tuned\n0.5\n"
                   "[Hopkins Statistic]\n[Container]\nbox 1 1 1 1\n"),
              kConfigOk);
    EXPECT_EQ(data.gridCells.getX(), 1.0f);
    EXPECT_EQ(data.gridCells.getZ(), 3.0f);
    EXPECT_EQ(data.surfaceDensityEpsilon, 0.0f);  // the comment was its data line
    EXPECT_EQ(data.containerName, "");            // "[Container]" was the Hopkins data line
    EXPECT_TRUE(data.objects.empty());

    data = ConfigData();
    ASSERT_EQ(Load("[Grid]\n1 2 3\n[Hopkins Statistic]\n0.5 7\n[Preprocessing]\na.txt average 0.25 8\n"
                   "[ModelPath]\nfirst/\n[Grid]\n10 abc 5\n[Hopkins Statistic]\n0.2\n"
                   "[Preprocessing]\nb.txt 12 x3 9 extra\n[ModelPath]\n  my models/ dir \n"
                   "[Construction Heuristic]\nPlacementAlgorithm\n[Container]\n"),
              kConfigOk);
    EXPECT_EQ(data.gridCells.getX(), 10.0f);
    EXPECT_EQ(data.gridCells.getY(), 0.0f);
    EXPECT_EQ(data.gridCells.getZ(), 3.0f);
    EXPECT_FLOAT_EQ(data.hopkinsSubSet, 0.2f);
    EXPECT_EQ(data.hopkinsRepeat, 7);
    EXPECT_EQ(data.pointFile + "|" + data.samplingVolume, "b.txt|12");
    EXPECT_EQ(data.stepSize, 0.0f);
    EXPECT_EQ(data.samplingThreads, 8);
    EXPECT_EQ(data.modelPath, "  my models/ dir ");
    EXPECT_EQ(data.constructionHeuristic + "|" + data.constructionFile, "PlacementAlgorithm|");
}

TEST_F(ConfigTest, ObjectLinesRandomColoursAndTheTwoFailures) {
    // Blank and comment lines are skipped; a missing alpha stays 0; random colours keep their alpha.
    std::string text = "[Objects]\n\n  \t\n# old: cone 5 rand 1\na 10 0.5abc 0.1 0.2 0.3\n b 20 1 1 1\n\n";
    for (int i = 0; i < 300; ++i) text += "t 1 rand 0.5\n";
    ASSERT_EQ(Load(text), kConfigOk);
    ASSERT_EQ(data.objects.size(), 302u);
    EXPECT_EQ(Colour(data.objects[0]), (std::vector<float>{0.5f, 0.1f, 0.2f, 0.3f}));
    EXPECT_EQ(Colour(data.objects[1]), (std::vector<float>{1.0f, 1.0f, 1.0f, 0.0f}));
    std::vector<float> rgb;
    for (size_t i = 2; i < data.objects.size(); ++i) {
        rgb.insert(rgb.end(), data.objects[i].color, data.objects[i].color + 3);
        EXPECT_EQ(data.objects[i].color[3], 0.5f);
    }
    const auto [lo, hi] = std::minmax_element(rgb.begin(), rgb.end());
    EXPECT_TRUE(*lo >= 0.1f && *lo < 0.15f) << *lo;  // the draws cover the range, not one value
    EXPECT_TRUE(*hi <= 0.8f && *hi > 0.75f) << *hi;

    const std::pair<std::string, std::string> bad[] = {{"cone 10 red 1 1 1", "red"},
                                                       {"cone 10", ""},
                                                       {"cone ten rand 1", ""},
                                                       {"cone 10 1e39 1 1 1", "1e39"},
                                                       {"[Grid]", ""}};  // headers mean nothing after "[Objects]"
    for (const auto& [line, token] : bad) {
        data = ConfigData();
        const std::string err = StderrOf([&, line = line] {
            EXPECT_EQ(Load("[Objects]\na 50 1 1 1 1\n\nb 50 rand 1\n" + line + "\nd 10 1 1 1 1\n"),
                      kConfigBadObjectLine);
        });
        EXPECT_EQ(err, path + ":5: invalid colour value '" + token + "' in object line\n");
        ASSERT_EQ(data.objects.size(), 2u) << line;
        EXPECT_EQ(data.objects[1].name, "b");
    }

    // A file that cannot be read is reported on standard output and leaves the data untouched.
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    data.hopkinsRepeat = 3;
    for (std::string name : {std::string("config.cfg"), dir})
        EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(LoadConfig(name, data), kConfigCannotOpen); }),
                  "Error reading filename:" + name + "\n");
    std::filesystem::current_path(cwd);
    EXPECT_EQ(data.hopkinsRepeat, 3);
}

TEST_F(ConfigTest, SizeWordsAfterTheColourAndEachBadOne) {
    using Kind = SizeDistribution::Kind;
    WriteFile(dir + "/sizes.txt", "1.0\n# measured\n\n1.4 ignored\n");
    WriteFile(dir + "/bad.txt", "1.0\nx\n");
    ASSERT_EQ(Load("[Objects]\na 10 1 1 1 1\nb 10 1 1 1 1 size=1.5 note\nc 10 rand 1 size=uniform:0.8:1.2\n"
                   "d 10 1 1 1 1 size=normal:1:0.1\ne 10 1 1 1 1 size=lognormal:2:0.2\nf 10 1 1 1 1 size=file:" +
                   dir + "/sizes.txt\n"),
              kConfigOk);
    ASSERT_EQ(data.objects.size(), 6u);
    const std::tuple<Kind, double, double> want[] = {{Kind::Fixed, 1, 0},       {Kind::Fixed, 1.5, 0},
                                                     {Kind::Uniform, 0.8, 1.2}, {Kind::Normal, 1, 0.1},
                                                     {Kind::Lognormal, 2, 0.2}, {Kind::File, 1, 0}};
    for (size_t i = 0; i < 6; ++i) {
        const SizeDistribution& d = data.objects[i].size;
        EXPECT_EQ(std::tuple(d.kind, d.a, d.b), want[i]) << i;
    }
    EXPECT_EQ(data.objects[2].color[3], 1.0f);
    EXPECT_EQ(data.objects[5].size.values, (std::vector<double>{1.0, 1.4}));
    EXPECT_DOUBLE_EQ(data.objects[5].size.Largest(), 1.4);
    EXPECT_NEAR(data.objects[2].size.MeanCube(), (std::pow(1.2, 4) - std::pow(0.8, 4)) / 1.6, 1e-12);

    const std::pair<std::string, std::string> bad[] = {
        {"size=0", "size '0' is neither a factor above 0 nor uniform:, normal:, lognormal: or file:"},
        {"size=1.5x", "size '1.5x' is neither a factor above 0 nor uniform:, normal:, lognormal: or file:"},
        {"size=uniform:1.2:0.8", "size 'uniform:1.2:0.8' needs 0 < A <= B"},
        {"size=normal:1", "size 'normal:1' needs the form normal:MEAN:SD with two numbers"},
        {"size=normal:1:-0.1", "size 'normal:1:-0.1' needs MEAN above 0 and SD at least 0"},
        {"size=lognormal:0:0.1", "size 'lognormal:0:0.1' needs MEDIAN above 0 and SIGMA at least 0"},
        {"size=gamma:1:2", "size 'gamma:1:2' has the unknown form 'gamma' (uniform, normal, lognormal or file)"},
        {"size=file:", "size 'file:' names no file"},
        {"size=file:" + dir + "/none.txt", "size file " + dir + "/none.txt cannot be read"},
        {"size=file:" + dir + "/bad.txt", "size file " + dir + "/bad.txt:2: 'x' is not a factor above 0"},
        {"colour=red", "unknown object setting 'colour=red' (known: size=)"}};
    for (const auto& [word, message] : bad) {
        data = ConfigData();
        const std::string err = StderrOf([&, word = word] {
            EXPECT_EQ(Load("[Objects]\na 50 1 1 1 1\nb 50 rand 1 " + word + "\n"), kConfigBadObjectLine);
        });
        EXPECT_EQ(err, path + ":3: " + message + "\n");
        EXPECT_EQ(data.objects.size(), 1u);
    }
}

class Scene : public ::testing::Test {
 protected:
    void SetUp() override {
        RunCommand("mkdir -p " + ShellQuote(models));
        g_configData = ConfigData();
        g_configData.modelPath = models;
        g_configData.containerName = "box";
        g_container = MovingObject();
        g_objectsByType.clear();
        AddModel("box", 6.0f);
    }
    // What createScene allocated for the whole run, freed so the leak checker sees a clean exit.
    void TearDown() override {
        for (PackingObjectInfo& t : g_configData.objects)
            if (t.geometry != nullptr) testscene::FreeMesh(std::exchange(t.geometry, nullptr));
        if (g_container.m_geometry != nullptr) testscene::FreeMesh(std::exchange(g_container.m_geometry, nullptr));
        for (auto* list : g_objectsByType) delete list;
        g_objectsByType.clear();
    }
    // A cube model of the edge, with a one-sphere tree; and a type of that name.
    void AddModel(const std::string& name, float edge, bool type = false) {
        WriteFile(models + name + ".obj", testscene::BoxObj(edge / 2));
        WriteFile(models + name + ".spheres",
                  "densepack-spheres 1\nkind object\nnodes 1 leaves 1\n0 0 0 0.5 0 0 0 3.14159265 -1 0\nend\n");
        if (type) AddType(name);
    }
    void AddType(const std::string& name) {
        g_configData.objects.emplace_back();
        g_configData.objects.back().name = name;
    }
    bool Create() {
        bool ok = false;
        err = StderrOf([&] { out = StdoutOf([&] { ok = createScene(); }); });
        return ok;
    }
    std::string models = MakeTempDir("scene") + "/models/", out, err;
};

TEST_F(Scene, TypesAreSortedLargestFirstAndTheContainerIsSetUp) {
    AddModel("small", 1.0f, true);
    AddModel("large", 3.0f, true);
    AddModel("medium", 2.0f, true);
    g_configData.containerColor[0] = 0.8f;
    ASSERT_TRUE(Create()) << err;
    EXPECT_EQ(out,
              models + "small.obj\n" + models + "large.obj\n" + models + "medium.obj\nNr. of object types loaded: 3\n");
    EXPECT_EQ(err, "");
    const auto& types = g_configData.objects;
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[0].name + types[1].name + types[2].name, "largemediumsmall");
    EXPECT_NEAR(types[0].volume, 27.0f, 1e-4f);
    EXPECT_NEAR(types[2].volume, 1.0f, 1e-5f);
    for (const PackingObjectInfo& t : types) {
        ASSERT_NE(t.geometry, nullptr);
        EXPECT_TRUE(t.geometry->sphereTree() != nullptr && t.geometry->sphereTree()->isValid()) << t.name;
        EXPECT_EQ(t.vertexBuffer, 0u) << "no GL context: no buffers";
        EXPECT_EQ(t.geometry->m_pointsPtr, nullptr) << "set per object later";
    }
    float mn[3], mx[3];
    types[1].geometry->getBBox(mn, mx);
    EXPECT_FLOAT_EQ(mx[0] - mn[0], 2.0f);

    const PackingGeometry* box = g_container.m_geometry;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->m_pointsPtr, g_container.m_geometry->editPointsPtr());
    EXPECT_EQ(box->m_primitivesPtr, g_container.m_geometry->editPrimitivesPtr());
    EXPECT_EQ(box->getPoints().size(), 8u);
    EXPECT_NEAR(calculateVolume(box), 216.0f, 1e-3f);
    EXPECT_EQ(g_container.m_colorPtr, g_configData.containerColor);
    EXPECT_NE(box->sphereTree(), nullptr);
    ASSERT_EQ(g_objectsByType.size(), 3u);
    for (auto* list : g_objectsByType) EXPECT_TRUE(list->empty());
    EXPECT_EQ(length(MovingObject::m_rotDir[2] - Vectormath::Aos::Vector3(0, 0, 1)), 0.0f);
    EXPECT_EQ(MovingObject::m_angle[2], 0.0f);

    // Types of equal volume keep their configuration order: more of them than an unstable sort
    // leaves in place.
    TearDown();
    g_configData.objects.clear();
    std::string names, sorted;
    for (int i = 10; i < 30; ++i) AddModel("t" + std::to_string(i), 1.0f, true), names += "t" + std::to_string(i);
    ASSERT_TRUE(Create()) << err;
    for (const PackingObjectInfo& t : g_configData.objects) sorted += t.name;
    EXPECT_EQ(sorted, names);
}

TEST_F(Scene, CoarseMeshPreferredTreeFromThePlainNameAndZeroTypesStillLoadTheContainer) {
    ASSERT_TRUE(Create());
    EXPECT_EQ(out, "Nr. of object types loaded: 0\n");
    EXPECT_EQ(g_container.m_geometry->getPoints().size(), 8u);
    EXPECT_TRUE(g_objectsByType.empty());

    TearDown();
    AddModel("cube", 1.0f, true);
    WriteFile(models + "cube_l.obj", testscene::BoxObj(1.0f));
    ASSERT_TRUE(Create()) << err;
    EXPECT_EQ(out, models + "cube_l.obj\nNr. of object types loaded: 1\n");
    EXPECT_NEAR(g_configData.objects[0].volume, 8.0f, 1e-5f);
    ASSERT_NE(g_configData.objects[0].geometry->sphereTree(), nullptr);
    EXPECT_TRUE(g_configData.objects[0].geometry->sphereTree()->isValid()) << "read from cube.spheres";
    EXPECT_EQ(err, "");
}

TEST_F(Scene, FailingSecondTypeStopsAfterItsMessageAndAFailingContainerAfterTheSort) {
    AddModel("a", 1.0f, true);
    AddType("b");
    AddModel("c", 2.0f, true);
    EXPECT_FALSE(Create());
    EXPECT_EQ(out, models + "a.obj\n" + models + "b.obj\n");
    EXPECT_EQ(err, "Object model could not be loaded. Model: b\n");
    EXPECT_NE(g_configData.objects[0].geometry, nullptr);
    EXPECT_EQ(g_configData.objects[1].geometry, nullptr);
    EXPECT_EQ(g_configData.objects[2].geometry, nullptr);
    EXPECT_EQ(g_configData.objects[0].volume, 0.0f) << "not sorted, no volumes";
    EXPECT_EQ(g_container.m_geometry, nullptr);
    EXPECT_TRUE(g_objectsByType.empty());

    TearDown();
    g_configData.objects.erase(g_configData.objects.begin() + 1);
    g_configData.containerName = "nobox";
    EXPECT_FALSE(Create());
    EXPECT_EQ(err, "Container model could not be loaded. -2\n");
    EXPECT_EQ(g_configData.objects[0].name, "c");
    EXPECT_NE(g_container.m_geometry, nullptr);
    EXPECT_TRUE(g_objectsByType.empty());

    // A malformed container: each reader names the line, then the sum of the two -2 results.
    TearDown();
    WriteFile(models + "bad.obj", "v 0 0 0\nf 1 2 3\n");
    g_configData.containerName = "bad";
    EXPECT_FALSE(Create());
    EXPECT_EQ(err.substr(err.rfind("Container")), "Container model could not be loaded. -4\n");
    EXPECT_NE(err.find(models + "bad.obj:2: "), std::string::npos) << err;
}

}  // namespace
