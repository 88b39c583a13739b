// Placement files, the OBJ export and the runners that use the construction file as a cache.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "Stubs.h"
#include "support/Subprocess.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::vector<std::string> DirEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

// What a value reads back as after six significant digits.
float SixDigits(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return std::strtof(buf, nullptr);
}

void Pose(MovingObject* o, Vector3 t, float angle, Vector3 axis, float scale) {
    o->m_position = t;
    o->m_translationMatrix = Matrix4::translation(t);
    o->m_rotationMatrix = Matrix4::rotation(angle, Vectormath::Aos::normalize(axis));
    o->m_scaleMatrix = Matrix4::scale(Vector3(scale));
    o->m_modelMatrix = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
}

// A stored line of the written format (trailing space, %g numbers); the translation matrix holds
// 0.5 at (0, 0), which only a loader that keeps the matrices as written reproduces.
std::string LineOf(int type) {
    return std::to_string(type) + " 0.5 0 0 0 0 1 0 0 0 0 1 0 -12.25 1e-07 3 1 " +
           "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 ";
}

struct PlacementFile : testing::Test {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    std::string dir = MakeTempDir("placement");
};

}  // namespace

TEST_F(PlacementFile, RoundTripKeepsTypesAndMatricesToSixDigits) {
    std::list<MovingObject*> objects{a.GenerateObject(1), a.GenerateObject(0)};
    Pose(objects.front(), Vector3(-12.25f, 0.1234567f, 1e-7f), 0.7f, Vector3(1, 2, 3), 1.3f);
    Pose(objects.back(), Vector3(123456.7f, -0.000012345f, 2.0f / 3.0f), 2.9f, Vector3(-1, 0.5f, 0.2f), 0.25f);
    const std::string file = dir + "/packing.txt";
    a.WritePlacedObjects(file, objects);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"packing.txt"});  // no temporary left behind
    const std::vector<std::string> lines = Lines(ReadFile(file));
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& l : lines) {
        EXPECT_EQ(l.back(), ' ');
        EXPECT_EQ(std::count(l.begin(), l.end(), ' '), 49);
    }
    EXPECT_EQ(lines[0].rfind("1 ", 0), 0u);
    EXPECT_NE(lines[0].find(" -12.25 0.123457 1e-07 1 "), std::string::npos) << lines[0];

    std::list<MovingObject*> loaded;
    ASSERT_TRUE(a.LoadPlacedObjects(file, loaded));
    ASSERT_EQ(loaded.size(), 2u);
    auto src = objects.begin();
    for (MovingObject* o : loaded) {
        EXPECT_EQ(o->m_typeIndex, (*src)->m_typeIndex);
        EXPECT_EQ(o->m_name, (*src)->m_name);
        const Matrix4 model = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
        for (int k = 0; k < 16; ++k) {
            const Matrix4* m[3] = {&o->m_translationMatrix, &o->m_rotationMatrix, &o->m_scaleMatrix};
            const Matrix4* want[3] = {&(*src)->m_translationMatrix, &(*src)->m_rotationMatrix, &(*src)->m_scaleMatrix};
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(m[i]->getElem(k / 4, k % 4), SixDigits(want[i]->getElem(k / 4, k % 4))) << i << " " << k;
            EXPECT_EQ(o->m_modelMatrix.getElem(k / 4, k % 4), model.getElem(k / 4, k % 4));
        }
        EXPECT_EQ(o->m_position.getZ(), o->m_translationMatrix.getElem(3, 2));
        ++src;
    }
}

TEST_F(PlacementFile, LoadAppendsAndReportsWhetherTheListHoldsObjects) {
    WriteFile(dir + "/two.txt", LineOf(0) + "\n" + LineOf(1));  // the last line without a newline
    WriteFile(dir + "/empty.txt", "");
    std::list<MovingObject*> list;
    EXPECT_FALSE(a.LoadPlacedObjects(dir + "/empty.txt", list));
    ASSERT_TRUE(a.LoadPlacedObjects(dir + "/two.txt", list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.back()->m_typeIndex, 1);
    EXPECT_FLOAT_EQ(list.front()->m_position.getX(), -12.25f);
    EXPECT_FLOAT_EQ(list.front()->m_position.getY(), 1e-7f);
    EXPECT_FLOAT_EQ(list.front()->m_translationMatrix.getElem(0, 0), 0.5f);
    EXPECT_TRUE(a.LoadPlacedObjects(dir + "/empty.txt", list));
    EXPECT_TRUE(a.LoadPlacedObjects(dir + "/two.txt", list));
    EXPECT_EQ(list.size(), 4u);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(a.LoadPlacedObjects(dir + "/missing.txt", list));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error. File not found: " + dir + "/missing.txt\n");
    EXPECT_EQ(list.size(), 4u);
}

TEST_F(PlacementFile, DamagedFileLoadsNothingAndNamesTheLine) {
    const std::string good = LineOf(0) + "\n";
    const struct {
        std::string text;
        const char* what;
        int line;
    } cases[] = {
        {good + LineOf(2) + "\n", "names no configured object type", 2},
        {good + LineOf(-1) + "\n", "names no configured object type", 2},
        {good + LineOf(1).substr(0, LineOf(1).size() - 2) + "\n", "found 47", 2},
        {good + LineOf(0) + "7\n", "more than 48", 2},
        {good + good + "0 1 0 zero\n", "found 2", 3},
        {good + "0.5 " + LineOf(0).substr(2) + "\n", "integer type index", 2},
        {good + LineOf(0).replace(2, 3, "nan") + "\n", "not finite", 2},
    };
    for (const auto& c : cases) {
        const std::string file = dir + "/damaged.txt";
        WriteFile(file, c.text);
        std::list<MovingObject*> list{a.GenerateObject(1)};
        testing::internal::CaptureStderr();
        EXPECT_FALSE(a.LoadPlacedObjects(file, list));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(file + ": line " + std::to_string(c.line) + ":"), std::string::npos) << err;
        EXPECT_NE(err.find(c.what), std::string::npos) << err;
        EXPECT_EQ(list.size(), 1u);
    }
}

TEST_F(PlacementFile, WritingNothingOrToAnUnwritablePlaceKeepsTheOldFile) {
    const std::string file = dir + "/keep.txt";
    WriteFile(file, "old contents\n");
    std::list<MovingObject*> empty, one{a.GenerateObject(0)}, many;
    testing::internal::CaptureStdout();
    a.WritePlacedObjects(file, empty);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Placed objects array is empty!\n");
    const std::string unwritable = dir + "/no/such/folder/packing.txt";
    testing::internal::CaptureStderr();
    a.WritePlacedObjects(unwritable, one);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Cannot write placement file " + unwritable + ": ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

    // A full disk, simulated by a file-size limit: the write fails, the previous file survives
    // untouched and no temporary is left behind.
    for (int i = 0; i < 200; ++i) many.push_back(a.GenerateObject(0));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    testing::internal::CaptureStderr();
    a.WritePlacedObjects(file, many);
    const std::string fullErr = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(fullErr.rfind("Cannot write placement file " + file + ": ", 0), 0u) << fullErr;
    EXPECT_EQ(ReadFile(file), "old contents\n");
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"keep.txt"});

    // A link stays a link; the file it names is replaced.
    ASSERT_EQ(symlink("keep.txt", (dir + "/link.txt").c_str()), 0);
    a.WritePlacedObjects(dir + "/link.txt", one);
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.txt"));
    EXPECT_EQ(Lines(ReadFile(file)).size(), 1u);
}

TEST_F(PlacementFile, ExportObjWritesContainerThenObjectsWithGlobalFaceIndices) {
    s.container.m_modelMatrix = Matrix4::translation(Vector3(10, 0, 0));
    std::list<MovingObject*> objects{a.GenerateObject(1), a.GenerateObject(0)};
    Pose(objects.back(), Vector3(0, 0, 5), 0.0f, Vector3(0, 0, 1), 2.0f);
    a.ExportObj(dir + "/packing.obj", objects, &s.container);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"packing.obj"});
    const std::vector<std::string> lines = Lines(ReadFile(dir + "/packing.obj"));
    ASSERT_EQ(lines.size(), 3u * (1 + 8 + 12));
    const std::pair<size_t, const char*> expected[] = {
        {0, "o container.000"},
        {1, "v 8.000000 -2.000000 -2.000000"},
        {9, "f 1 3 4"},
        {21, "o small.001"},
        {30, "f 9 11 12"},
        {42, "o large.002"},
        {43, "v -1.000000 -1.000000 4.000000"},  // corner (-.5)^3 scaled by 2, moved by 5 in z
        {51, "f 17 19 20"},
        {62, "f 18 24 22"}};
    for (const auto& [i, line] : expected) EXPECT_EQ(lines[i], line) << i;

    testing::internal::CaptureStdout();
    a.ExportObj(dir + "/missing/packing.obj", objects, &s.container);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error. Can't open file to export/write.\n");
}

namespace {

struct RunnerTest : PlacementFile {
    StubImprovement improvement = s.Make<StubImprovement>();
    std::string RunCapture(IPackingAlgorithm& h) {
        testing::internal::CaptureStdout();
        h.Run();
        return testing::internal::GetCapturedStdout();
    }
};

}  // namespace

TEST_F(RunnerTest, WithoutFilesTheConstructionRunsAndNothingIsWritten) {
    a.SetImprovementHeuristic(nullptr, "", "");
    const std::string out = RunCapture(a);
    EXPECT_EQ(out.rfind("Construction Run\nConstruction Heuristic time: ", 0), 0u) << out;
    EXPECT_EQ(out.find("Improvement"), std::string::npos);
    EXPECT_EQ(std::pair(a.inits, a.runs), std::pair(1, 1));
    EXPECT_EQ(s.placed.size(), 2u);
    EXPECT_TRUE(DirEntries(dir).empty());
}

TEST_F(RunnerTest, ConstructionFileIsWrittenThenUsedAsCache) {
    const std::string file = dir + "/construction.txt";
    a.SetImprovementHeuristic(&improvement, file, dir + "/improvement.txt");
    std::string out = RunCapture(a);
    EXPECT_NE(out.find("Construction Heuristic time: "), std::string::npos);
    EXPECT_EQ(Lines(ReadFile(file)).size(), 2u);
    EXPECT_EQ(Lines(ReadFile(dir + "/improvement.txt")).size(), 2u);
    EXPECT_EQ(improvement.inits, 1);
    // The whole run's report ends up on the construction heuristic.
    const PackingReport& first = a.report();
    EXPECT_TRUE(first.constructionMinutes && first.improvementMinutes && first.statisticMinutes);
    ASSERT_TRUE(first.statistics.has_value());
    EXPECT_EQ(first.statistics->numObjects, 2);

    // Second run: the file replaces the construction phase entirely.
    StubScene again;
    StubConstruction cached = again.Make<StubConstruction>();
    StubImprovement next = again.Make<StubImprovement>();
    cached.SetImprovementHeuristic(&next, file, "");
    out = RunCapture(cached);
    EXPECT_EQ(out.rfind("Construction Run\nImprovement Heuristic time: ", 0), 0u) << out;
    EXPECT_NE(out.find("\nStatistic Calculation time: "), std::string::npos);
    EXPECT_EQ(std::pair(cached.inits, cached.runs), std::pair(0, 0));
    EXPECT_EQ(next.seenObjects, 2u);
    EXPECT_FALSE(cached.report().constructionMinutes.has_value());
    EXPECT_TRUE(cached.report().statistics.has_value());

    // A damaged file selects the construction, and is replaced by its result.
    WriteFile(file, "0 1 2 3\n");
    StubScene third;
    StubConstruction rebuilt = third.Make<StubConstruction>();
    rebuilt.toPlace = 3;
    rebuilt.SetImprovementHeuristic(nullptr, file, "");
    testing::internal::CaptureStderr();
    out = RunCapture(rebuilt);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(file + ": line 1:"), std::string::npos);
    EXPECT_NE(out.find("Construction Heuristic time: "), std::string::npos);
    EXPECT_EQ(rebuilt.runs, 1);
    EXPECT_EQ(third.placed.size(), 3u);
    EXPECT_EQ(Lines(ReadFile(file)).size(), 3u);
}
