// Placement files, the OBJ export and the runners that use the construction file as a cache.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
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

std::string LineOf(int type, const char* body) { return std::to_string(type) + " " + body; }

constexpr const char* kIdentityPose =
    "0.5 0 0 0 0 1 0 0 0 0 1 0 -12.25 1e-07 3 1 "
    "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 "
    "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 ";

}  // namespace

TEST(PlacementFile, RoundTripKeepsTypesAndMatricesToSixDigits) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    std::list<MovingObject*> objects{a.GenerateObject(1), a.GenerateObject(0)};
    Pose(objects.front(), Vector3(-12.25f, 0.1234567f, 1e-7f), 0.7f, Vector3(1, 2, 3), 1.3f);
    Pose(objects.back(), Vector3(123456.7f, -0.000012345f, 2.0f / 3.0f), 2.9f, Vector3(-1, 0.5f, 0.2f), 0.25f);

    const std::string dir = MakeTempDir("placement");
    const std::string file = dir + "/packing.txt";
    a.WritePlacedObjects(file, objects);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"packing.txt"});  // no temporary left behind

    const std::vector<std::string> lines = Lines(ReadFile(file));
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& l : lines) {
        EXPECT_EQ(l.back(), ' ');
        std::istringstream in(l);
        int n = 0;
        for (std::string tok; in >> tok;) ++n;
        EXPECT_EQ(n, 49);
    }
    EXPECT_EQ(lines[0].rfind("1 ", 0), 0u);
    EXPECT_NE(lines[0].find(" -12.25 "), std::string::npos);
    EXPECT_NE(lines[0].find(" 1e-07 "), std::string::npos);

    std::list<MovingObject*> loaded;
    ASSERT_TRUE(a.LoadPlacedObjects(file, loaded));
    ASSERT_EQ(loaded.size(), 2u);
    auto src = objects.begin();
    for (MovingObject* o : loaded) {
        EXPECT_EQ(o->m_typeIndex, (*src)->m_typeIndex);
        EXPECT_EQ(o->m_name, (*src)->m_name);
        const Matrix4* got[3] = {&o->m_translationMatrix, &o->m_rotationMatrix, &o->m_scaleMatrix};
        const Matrix4* want[3] = {&(*src)->m_translationMatrix, &(*src)->m_rotationMatrix, &(*src)->m_scaleMatrix};
        for (int m = 0; m < 3; ++m)
            for (int c = 0; c < 4; ++c)
                for (int r = 0; r < 4; ++r)
                    EXPECT_EQ(got[m]->getElem(c, r), SixDigits(want[m]->getElem(c, r))) << m << " " << c << " " << r;
        const Matrix4 model = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r) EXPECT_EQ(o->m_modelMatrix.getElem(c, r), model.getElem(c, r));
        EXPECT_EQ(o->m_position.getX(), o->m_translationMatrix.getElem(3, 0));
        EXPECT_EQ(o->m_position.getZ(), o->m_translationMatrix.getElem(3, 2));
        ++src;
    }
}

TEST(PlacementFile, LoadAppendsAndReportsWhetherTheListHoldsObjects) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    const std::string dir = MakeTempDir("placement");
    // A stored file of the written format: trailing spaces, %g numbers, the last line without a newline.
    WriteFile(dir + "/two.txt", LineOf(0, kIdentityPose) + "\n" + LineOf(1, kIdentityPose));
    WriteFile(dir + "/empty.txt", "");

    std::list<MovingObject*> list;
    EXPECT_FALSE(a.LoadPlacedObjects(dir + "/empty.txt", list));
    EXPECT_TRUE(list.empty());
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

TEST(PlacementFile, DamagedFileLoadsNothingAndNamesTheLine) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    const std::string dir = MakeTempDir("placement");
    const std::string good = LineOf(0, kIdentityPose) + "\n";
    std::string shortLine = LineOf(1, kIdentityPose);
    shortLine.resize(shortLine.rfind(" 1 ") + 1);  // drop the last number
    const struct {
        const char* name;
        std::string text;
        const char* what;
    } cases[] = {
        {"unknown type", good + LineOf(2, kIdentityPose) + "\n", "names no configured object type"},
        {"negative type", good + LineOf(-1, kIdentityPose) + "\n", "names no configured object type"},
        {"47 numbers", good + shortLine + "\n", "found 47"},
        {"extra number", good + LineOf(0, kIdentityPose) + "7\n", "more than 48"},
        {"text", good + good + "0 1 0 zero\n", "found 2"},
        {"fraction as type", good + "0.5 " + kIdentityPose + "\n", "integer type index"},
        {"not finite", good + LineOf(0, kIdentityPose).replace(2, 3, "nan") + "\n", "not finite"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir + "/damaged.txt";
        WriteFile(file, c.text);
        std::list<MovingObject*> list{a.GenerateObject(1)};
        testing::internal::CaptureStderr();
        EXPECT_FALSE(a.LoadPlacedObjects(file, list));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(file), std::string::npos) << err;
        EXPECT_NE(err.find(c.what), std::string::npos) << err;
        const int lineNumber = c.name == std::string("text") ? 3 : 2;
        EXPECT_NE(err.find("line " + std::to_string(lineNumber) + ":"), std::string::npos) << err;
        EXPECT_EQ(list.size(), 1u);
    }
}

TEST(PlacementFile, WritingNothingOrToAnUnwritablePlaceKeepsTheOldFile) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    const std::string dir = MakeTempDir("placement");
    const std::string file = dir + "/keep.txt";
    WriteFile(file, "old contents\n");
    std::list<MovingObject*> empty;
    testing::internal::CaptureStdout();
    a.WritePlacedObjects(file, empty);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Placed objects array is empty!\n");
    EXPECT_EQ(ReadFile(file), "old contents\n");

    std::list<MovingObject*> one{a.GenerateObject(0)};
    const std::string unwritable = dir + "/no/such/folder/packing.txt";
    testing::internal::CaptureStderr();
    a.WritePlacedObjects(unwritable, one);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Cannot write placement file " + unwritable + ": ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

    // A full disk, simulated by a file-size limit: the write fails, the previous file survives
    // untouched and no temporary is left behind.
    std::list<MovingObject*> many;
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
    struct stat st {};
    ASSERT_EQ(lstat((dir + "/link.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Lines(ReadFile(file)).size(), 1u);
}

TEST(ExportObj, ContainerThenObjectsWithGlobalFaceIndices) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    s.container.m_modelMatrix = Matrix4::translation(Vector3(10, 0, 0));
    std::list<MovingObject*> objects{a.GenerateObject(1), a.GenerateObject(0)};
    Pose(objects.back(), Vector3(0, 0, 5), 0.0f, Vector3(0, 0, 1), 2.0f);
    const std::string dir = MakeTempDir("export");
    a.ExportObj(dir + "/packing.obj", objects, &s.container);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"packing.obj"});

    const std::vector<std::string> lines = Lines(ReadFile(dir + "/packing.obj"));
    ASSERT_EQ(lines.size(), 3u * (1 + 8 + 12));
    EXPECT_EQ(lines[0], "o container.000");
    EXPECT_EQ(lines[1], "v 8.000000 -2.000000 -2.000000");
    EXPECT_EQ(lines[21], "o small.001");
    EXPECT_EQ(lines[42], "o large.002");
    EXPECT_EQ(lines[43], "v -1.000000 -1.000000 4.000000");  // corner (-.5)^3 scaled by 2, moved by 5 in z
    EXPECT_EQ(lines[9], "f 1 3 4");
    EXPECT_EQ(lines[30], "f 9 11 12");
    EXPECT_EQ(lines[51], "f 17 19 20");
    EXPECT_EQ(lines.back(), "f 18 24 22");

    testing::internal::CaptureStdout();
    a.ExportObj(dir + "/missing/packing.obj", objects, &s.container);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error. Can't open file to export/write.\n");
}

struct RunnerTest : testing::Test {
    StubScene s;
    StubConstruction construction = s.Make<StubConstruction>();
    StubImprovement improvement = s.Make<StubImprovement>();
    std::string dir = MakeTempDir("runner");

    std::string RunCapture(IPackingAlgorithm& a) {
        testing::internal::CaptureStdout();
        a.Run();
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(RunnerTest, WithoutFilesTheConstructionRunsAndNothingIsWritten) {
    construction.SetImprovementHeuristic(nullptr, "", "");
    const std::string out = RunCapture(construction);
    EXPECT_EQ(out.rfind("Construction Run\nConstruction Heuristic time: ", 0), 0u) << out;
    EXPECT_EQ(construction.inits, 1);
    EXPECT_EQ(construction.runs, 1);
    EXPECT_EQ(s.placed.size(), 2u);
    EXPECT_TRUE(DirEntries(dir).empty());
    EXPECT_EQ(out.find("Improvement"), std::string::npos);
}

TEST_F(RunnerTest, ConstructionFileIsWrittenThenUsedAsCache) {
    const std::string file = dir + "/construction.txt";
    construction.SetImprovementHeuristic(&improvement, file, dir + "/improvement.txt");
    std::string out = RunCapture(construction);
    EXPECT_NE(out.find("Construction Heuristic time: "), std::string::npos);
    EXPECT_EQ(Lines(ReadFile(file)).size(), 2u);
    EXPECT_EQ(Lines(ReadFile(dir + "/improvement.txt")).size(), 2u);
    EXPECT_EQ(improvement.inits, 1);
    // The whole run's report ends up on the construction heuristic.
    const PackingReport& first = construction.report();
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
    EXPECT_EQ(cached.inits, 0);
    EXPECT_EQ(cached.runs, 0);
    EXPECT_EQ(next.seenObjects, 2u);
    EXPECT_FALSE(cached.report().constructionMinutes.has_value());
    EXPECT_TRUE(cached.report().statistics.has_value());
}

TEST_F(RunnerTest, DamagedConstructionFileSelectsTheConstructionAndIsReplaced) {
    const std::string file = dir + "/construction.txt";
    WriteFile(file, "0 1 2 3\n");
    construction.toPlace = 3;
    construction.SetImprovementHeuristic(nullptr, file, "");
    testing::internal::CaptureStderr();
    const std::string out = RunCapture(construction);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(file + ": line 1:"), std::string::npos) << err;
    EXPECT_NE(out.find("Construction Heuristic time: "), std::string::npos);
    EXPECT_EQ(construction.runs, 1);
    EXPECT_EQ(s.placed.size(), 3u);
    EXPECT_EQ(Lines(ReadFile(file)).size(), 3u);
}
