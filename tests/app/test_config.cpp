// The configuration file: sections, the odd lines real files hold, colours and the two failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Config.h"
#include "geometry/Random.h"
#include "support/Subprocess.h"

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

TEST_F(ConfigTest, ObjectLinesRandomColoursAndBadColours) {
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
}

TEST_F(ConfigTest, UnreadableFileReportsOnStdoutAndLeavesDataUntouched) {
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    data.hopkinsRepeat = 3;
    for (std::string name : {std::string("config.cfg"), dir}) {
        EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(LoadConfig(name, data), kConfigCannotOpen); }),
                  "Error reading filename:" + name + "\n");
    }
    std::filesystem::current_path(cwd);
    EXPECT_EQ(data.hopkinsRepeat, 3);
}

}  // namespace
