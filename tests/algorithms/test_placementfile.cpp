// Placement files and the OBJ export: format, loading, safe replacing (a killed writer or run leaves
// no file yet, the previous complete file or the new one, never a torn one), and the runners' cache.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>

#include "Stubs.h"
#include "preprocessing/PointFile.h"
#include "support/Subprocess.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::vector<std::string> DirEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What a value reads back as after six significant digits.
float SixDigits(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return std::strtof(buf, nullptr);
}

// A stored line of the written format (trailing space, %g numbers); the translation matrix holds
// 0.5 at (0, 0), which only a loader that keeps the matrices as written reproduces.
std::string LineOf(int type) {
    return std::to_string(type) + " 0.5 0 0 0 0 1 0 0 0 0 1 0 -12.25 1e-07 3 1 " +
           "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 ";
}

unsigned ModeOf(const std::string& path) { return static_cast<unsigned>(fs::status(path).permissions()) & 07777u; }

long CountTemporaries(const std::string& dir) {
    const std::vector<std::string> names = DirEntries(dir);
    return std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.find(".tmp.") != n.npos; });
}

// The same program killed at random moments; the seed fixes the moments' sequence.
std::mt19937 g_random(20240611u);

struct PlacementFile : testing::Test {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    std::string dir = MakeTempDir("placement");
};

}  // namespace

TEST_F(PlacementFile, RoundTripKeepsTypesAndMatricesToSixDigitsAndTheObjExportNumbersFacesGlobally) {
    std::list<MovingObject*> objects{a.GenerateObject(1), a.GenerateObject(0)};
    Pose(objects.front(), Vector3(-12.25f, 0.1234567f, 1e-7f), 0.7f, Vector3(1, 2, 3), 1.3f);
    Pose(objects.back(), Vector3(123456.7f, -0.000012345f, 2.0f / 3.0f), 2.9f, Vector3(-1, 0.5f, 0.2f), 0.25f);
    const std::string file = dir + "/packing.txt";
    a.WritePlacedObjects(file, objects);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"packing.txt"});  // no temporary left behind
    std::vector<std::string> lines = Lines(ReadFile(file));
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
        const MovingObject* w = *src++;
        EXPECT_EQ(o->m_typeIndex, w->m_typeIndex);
        EXPECT_EQ(o->m_name, w->m_name);
        const Matrix4 model = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
        const Matrix4* got[3] = {&o->m_translationMatrix, &o->m_rotationMatrix, &o->m_scaleMatrix};
        const Matrix4* want[3] = {&w->m_translationMatrix, &w->m_rotationMatrix, &w->m_scaleMatrix};
        for (int k = 0; k < 16; ++k) {
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(got[i]->getElem(k / 4, k % 4), SixDigits(want[i]->getElem(k / 4, k % 4))) << i << " " << k;
            EXPECT_EQ(o->m_modelMatrix.getElem(k / 4, k % 4), model.getElem(k / 4, k % 4));
        }
        EXPECT_EQ(o->m_position.getZ(), o->m_translationMatrix.getElem(3, 2));
        EXPECT_EQ(o->m_sizeFactor, o->m_scaleMatrix.getElem(0, 0));  // the stored scale is its full size
    }

    // The export writes the container, then the objects, with face indices over the whole file.
    s.container.m_modelMatrix = Matrix4::translation(Vector3(10, 0, 0));
    std::list<MovingObject*> exported{a.GenerateObject(1), a.GenerateObject(0)};
    Pose(exported.back(), Vector3(0, 0, 5), 0.0f, Vector3(0, 0, 1), 2.0f);
    a.ExportObj(dir + "/packing.obj", exported, &s.container);
    EXPECT_EQ(DirEntries(dir), (std::vector<std::string>{"packing.obj", "packing.txt"}));
    lines = Lines(ReadFile(dir + "/packing.obj"));
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

    EXPECT_EQ(StdoutOf([&] { a.ExportObj(dir + "/missing/packing.obj", exported, &s.container); }),
              "Error. Can't open file to export/write.\n");
}

TEST_F(PlacementFile, LoadAppendsReportsWhetherTheListHoldsObjectsAndRejectsADamagedFileWhole) {
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
    EXPECT_EQ(StdoutOf([&] { EXPECT_FALSE(a.LoadPlacedObjects(dir + "/missing.txt", list)); }),
              "Error. File not found: " + dir + "/missing.txt\n");
    EXPECT_EQ(list.size(), 4u);

    const std::string good = LineOf(0) + "\n";
    const std::tuple<std::string, const char*, int> cases[] = {
        {good + LineOf(2) + "\n", "names no configured object type", 2},
        {good + LineOf(-1) + "\n", "names no configured object type", 2},
        {good + LineOf(1).substr(0, LineOf(1).size() - 2) + "\n", "found 47", 2},
        {good + LineOf(0) + "7\n", "more than 48", 2},
        {good + good + "0 1 0 zero\n", "found 2", 3},
        {good + "0.5 " + LineOf(0).substr(2) + "\n", "integer type index", 2},
        {good + LineOf(0).replace(2, 3, "nan") + "\n", "not finite", 2},
    };
    const std::string file = dir + "/damaged.txt";
    for (const auto& [text, what, line] : cases) {
        WriteFile(file, text);
        const std::string err = StderrOf([&] { EXPECT_FALSE(a.LoadPlacedObjects(file, list)); });
        EXPECT_NE(err.find(file + ": line " + std::to_string(line) + ":"), std::string::npos) << err;
        EXPECT_NE(err.find(what), std::string::npos) << err;
        EXPECT_EQ(list.size(), 4u);
    }
}

TEST_F(PlacementFile, WritingNothingOrToAnUnwritablePlaceKeepsTheOldFileAndAReplacedOneKeepsLinkAndMode) {
    const std::string file = dir + "/keep.txt";
    WriteFile(file, "old contents\n");
    std::list<MovingObject*> empty, one{a.GenerateObject(0)}, many;
    EXPECT_EQ(StdoutOf([&] { a.WritePlacedObjects(file, empty); }), "Placed objects array is empty!\n");
    const std::string unwritable = dir + "/no/such/folder/packing.txt";
    const std::string err = StderrOf([&] { a.WritePlacedObjects(unwritable, one); });
    EXPECT_EQ(err.rfind("Cannot write placement file " + unwritable + ": ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

    // A full disk, simulated by a file-size limit: the write fails, the previous file survives
    // untouched and no temporary is left behind.
    for (int i = 0; i < 200; ++i) many.push_back(a.GenerateObject(0));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{4096, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string fullErr = StderrOf([&] { a.WritePlacedObjects(file, many); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(fullErr.rfind("Cannot write placement file " + file + ": ", 0), 0u) << fullErr;
    EXPECT_EQ(ReadFile(file), "old contents\n");
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"keep.txt"});

    // A link stays a link; the file it names is replaced.
    ASSERT_EQ(symlink("keep.txt", (dir + "/link.txt").c_str()), 0);
    a.WritePlacedObjects(dir + "/link.txt", one);
    EXPECT_TRUE(fs::is_symlink(dir + "/link.txt"));
    EXPECT_EQ(Lines(ReadFile(file)).size(), 1u);

    // A replaced file keeps its mode; a new one gets the usual mode from the umask.
    const std::pair<std::string, unsigned> modes[] = {
        {file, 0640}, {dir + "/points.txt", 0604}, {dir + "/a.obj", 0660}};
    for (const auto& [f, mode] : modes) {
        WriteFile(f, "previous\n");
        chmod(f.c_str(), mode);
    }
    std::vector<Vector3> points{Vector3(1.0f)};
    a.WritePlacedObjects(modes[0].first, one);
    WritePointFile(modes[1].first, points);
    a.ExportObj(modes[2].first, one, &s.container);
    for (const auto& [f, mode] : modes) {
        EXPECT_EQ(ModeOf(f), mode) << f;
        EXPECT_NE(ReadFile(f), "previous\n") << f << " not replaced";
    }
    const mode_t mask = umask(027);
    a.WritePlacedObjects(dir + "/new.txt", one);
    umask(mask);
    EXPECT_EQ(ModeOf(dir + "/new.txt"), 0640u);
}

using RunnerTest = PlacementFile;

TEST_F(RunnerTest, ConstructionFileIsWrittenThenUsedAsCacheAndRebuiltWhenDamaged) {
    const std::string file = dir + "/construction.txt";
    StubImprovement improvement = s.Make<StubImprovement>();
    a.SetImprovementHeuristic(&improvement, file, dir + "/improvement.txt");
    std::string out = StdoutOf([&] { a.Run(); });
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
    out = StdoutOf([&] { cached.Run(); });
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
    EXPECT_NE(StderrOf([&] { out = StdoutOf([&] { rebuilt.Run(); }); }).find(file + ": line 1:"), std::string::npos);
    EXPECT_NE(out.find("Construction Heuristic time: "), std::string::npos);
    EXPECT_EQ(rebuilt.runs, 1);
    EXPECT_EQ(third.placed.size(), 3u);
    EXPECT_EQ(Lines(ReadFile(file)).size(), 3u);

    // Without files the construction runs alone.
    StubScene bare;
    StubConstruction plain = bare.Make<StubConstruction>();
    plain.SetImprovementHeuristic(nullptr, "", "");
    out = StdoutOf([&] { plain.Run(); });
    EXPECT_EQ(out.rfind("Construction Run\nConstruction Heuristic time: ", 0), 0u) << out;
    EXPECT_EQ(out.find("Improvement"), std::string::npos);
    EXPECT_EQ(std::pair(plain.inits, plain.runs), std::pair(1, 1));
    EXPECT_EQ(bare.placed.size(), 2u);
}

using CrashSafety = PlacementFile;

TEST_F(CrashSafety, WritersKilledMidWriteLeaveOldOrNewFilesAndNoDebris) {
    // Two packings along a line and their point lists, large enough that a write takes a while, so
    // most kills land inside one.
    std::list<MovingObject*> objects[2];
    std::vector<Vector3> points[2];
    for (int k = 0; k < 2; ++k)
        for (int i = 0; i < 3000 - 1000 * k; ++i) {
            const float offset = k ? -7.0f : 1.0f;
            objects[k].push_back(a.GenerateObject(0));
            objects[k].back()->m_translationMatrix.setTranslation(Vector3(offset + 0.01f * i, 0.5f, -0.25f));
            points[k].emplace_back(offset, 0.001f * i, 2.0f);
        }
    auto write = [&](int k, const std::string& placement, const std::string& pointFile) {
        a.WritePlacedObjects(placement, objects[k]);
        WritePointFile(pointFile, points[k]);
    };
    std::string expected[2][2];
    for (int k = 0; k < 2; ++k) {
        write(k, dir + "/ref-p", dir + "/ref-q");
        expected[k][0] = ReadFile(dir + "/ref-p"), expected[k][1] = ReadFile(dir + "/ref-q");
    }

    const std::string files[2] = {dir + "/placement.txt", dir + "/points.txt"};
    int interrupted = 0;
    bool seen[2] = {false, false};
    for (int kill = 0; kill < 40; ++kill) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            for (int k = 0;; k ^= 1) write(k, files[0], files[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(g_random)));
        ::kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        interrupted += CountTemporaries(dir) > 0;
        for (int f = 0; f < 2; ++f) {
            if (!fs::exists(files[f])) {
                EXPECT_FALSE(seen[f]) << files[f] << " vanished after kill " << kill;
                continue;
            }
            seen[f] = true;
            const std::string got = ReadFile(files[f]);
            EXPECT_TRUE(got == expected[0][f] || got == expected[1][f])
                << files[f] << " torn after kill " << kill << ": " << got.size() << " bytes";
        }
    }
    EXPECT_GT(interrupted, 0) << "no kill landed inside a write; the test proved nothing";
    // The next writer clears what the killed ones left.
    write(0, files[0], files[1]);
    EXPECT_EQ(CountTemporaries(dir), 0);
}

TEST_F(CrashSafety, KilledRunLeavesEachOutputWholeOrAsItWas) {
    WriteFile(dir + "/points.txt", testscene::LatticePoints(3, -1.5, 1.5));
    WriteFile(dir + "/run.cfg",
              "[Construction Heuristic]\nPlacementAlgorithm c.txt\n[Improvement Heuristic]\nCompactionAlgorithm i.txt\n"
              "[Grid]\n4 4 4\n[Hopkins Statistic]\n0.5 2\n[Preprocessing]\npoints.txt smallest 1.0 1\n[ModelPath]\n" +
                  std::string(DENSEPACK_SOURCE_DIR) +
                  "/models/\n[Container]\nbox 0.1 0.1 0.9 0.3\n[Objects]\ncube 50 0.9 0.1 0.1 1.0\n"
                  "tetrahedron 50 0.1 0.8 0.1 1.0\n");
    auto run = [&](int seed) {
        return std::string(DENSEPACK_BIN) + " --headless --limits steps --seed " + std::to_string(seed) +
               " -c run.cfg --report r.json";
    };
    // The report holds wall-clock times; everything else in it is fixed by the seed.
    auto withoutTimes = [](const std::string& text) {
        nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);  // a torn file: discarded
        if (doc.is_object()) doc.erase("times");
        return doc.dump();
    };
    const char* names[3] = {"c.txt", "i.txt", "r.json"};
    std::string previous[3], next[3];
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCommand("ASAN_OPTIONS=detect_leaks=0 " + run(4), dir).status, 0);
    const auto runTime = std::chrono::steady_clock::now() - started;
    for (int f = 0; f < 3; ++f) next[f] = ReadFile(dir + "/" + names[f]);
    RunCommand("rm c.txt", dir);
    ASSERT_EQ(RunCommand("ASAN_OPTIONS=detect_leaks=0 " + run(5), dir).status, 0);
    for (int f = 0; f < 3; ++f) previous[f] = ReadFile(dir + "/" + names[f]);
    ASSERT_NE(previous[1], next[1]) << "the two seeds must give different packings";

    const long spread = std::chrono::duration_cast<std::chrono::microseconds>(runTime).count();
    for (int kill = 0; kill < 30; ++kill) {
        // The construction file is a cache: without it the run builds and writes it again.
        unlink((dir + "/c.txt").c_str());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            if (chdir(dir.c_str()) == 0) execl("/bin/sh", "sh", "-c", ("exec " + run(4)).c_str(), nullptr);
            _exit(127);
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<long>(0, spread)(g_random)));
        ::kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string c = ReadFile(dir + "/c.txt"), i = ReadFile(dir + "/i.txt"), r = ReadFile(dir + "/r.json");
        EXPECT_TRUE(!fs::exists(dir + "/c.txt") || c == next[0]) << "construction file torn after kill " << kill;
        EXPECT_TRUE(i == previous[1] || i == next[1]) << "improvement file torn after kill " << kill;
        EXPECT_TRUE(r == previous[2] || withoutTimes(r) == withoutTimes(next[2])) << "report torn after kill " << kill;
        // The next kill starts from the previous run's complete files again.
        WriteFile(dir + "/i.txt", previous[1]);
        WriteFile(dir + "/r.json", previous[2]);
    }
}
