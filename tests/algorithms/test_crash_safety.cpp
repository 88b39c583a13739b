// Files that a run replaces survive the run being killed at any moment: whoever reads them
// afterwards finds no file yet, the previous complete file or the new complete one, never a
// torn one; and a replaced file keeps its permissions.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "Stubs.h"
#include "preprocessing/PointFile.h"
#include "support/Subprocess.h"

using Vectormath::Aos::Vector3;

namespace {

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
}

int CountTemporaries(const std::string& dir) {
    int n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) n += std::string(e->d_name).find(".tmp.") != std::string::npos;
        closedir(d);
    }
    return n;
}

// One packing of `count` objects of type 0 along a line, and a point list of `count` points.
struct Version {
    std::list<MovingObject*> objects;
    std::vector<Vector3> points;
};

Version MakeVersion(StubConstruction& a, int count, float offset) {
    Version v;
    for (int i = 0; i < count; ++i) {
        MovingObject* o = a.GenerateObject(0);
        o->m_translationMatrix.setTranslation(Vector3(offset + 0.01f * static_cast<float>(i), 0.5f, -0.25f));
        v.objects.push_back(o);
        v.points.emplace_back(offset, 0.001f * static_cast<float>(i), 2.0f);
    }
    return v;
}

// The same program killed at random moments; the seed fixes the moments' sequence.
std::mt19937 g_random(20240611u);

}  // namespace

TEST(CrashSafety, ReplacedFilesKeepTheirPermissions) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    Version v = MakeVersion(a, 3, 1.0f);
    const std::string dir = MakeTempDir("permissions");
    const std::string placement = dir + "/placement.txt", points = dir + "/points.txt", obj = dir + "/packing.obj";
    for (const std::string& f : {placement, points, obj}) WriteFile(f, "previous\n");
    chmod(placement.c_str(), 0640);
    chmod(points.c_str(), 0604);
    chmod(obj.c_str(), 0660);
    a.WritePlacedObjects(placement, v.objects);
    WritePointFile(points, v.points);
    a.ExportObj(obj, v.objects, &s.container);
    EXPECT_EQ(ModeOf(placement), 0640u);
    EXPECT_EQ(ModeOf(points), 0604u);
    EXPECT_EQ(ModeOf(obj), 0660u);
    for (const std::string& f : {placement, points, obj}) EXPECT_NE(ReadFile(f), "previous\n") << f << " not replaced";

    // A file written for the first time gets the usual mode from the umask.
    const mode_t mask = umask(027);
    a.WritePlacedObjects(dir + "/new.txt", v.objects);
    umask(mask);
    EXPECT_EQ(ModeOf(dir + "/new.txt"), 0640u);
}

TEST(CrashSafety, WritersKilledMidWriteLeaveOldOrNewFilesAndNoDebris) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    // Large enough that a write takes a while, so most kills land inside one.
    Version versions[2] = {MakeVersion(a, 3000, 1.0f), MakeVersion(a, 2000, -7.0f)};
    const std::string ref = MakeTempDir("killed-writers-ref");
    std::string expected[2][2];
    for (int k = 0; k < 2; ++k) {
        a.WritePlacedObjects(ref + "/p" + std::to_string(k), versions[k].objects);
        WritePointFile(ref + "/q" + std::to_string(k), versions[k].points);
        expected[k][0] = ReadFile(ref + "/p" + std::to_string(k));
        expected[k][1] = ReadFile(ref + "/q" + std::to_string(k));
    }

    const std::string dir = MakeTempDir("killed-writers");
    const std::string files[2] = {dir + "/placement.txt", dir + "/points.txt"};
    int interrupted = 0;
    bool seen[2] = {false, false};
    for (int kill = 0; kill < 40; ++kill) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int k = 0;; k ^= 1) {
                a.WritePlacedObjects(files[0], versions[k].objects);
                WritePointFile(files[1], versions[k].points);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(g_random)));
        ::kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        interrupted += CountTemporaries(dir) > 0;
        for (int f = 0; f < 2; ++f) {
            if (!Exists(files[f])) {
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
    a.WritePlacedObjects(files[0], versions[0].objects);
    WritePointFile(files[1], versions[0].points);
    EXPECT_EQ(CountTemporaries(dir), 0);
}

TEST(CrashSafety, KilledRunLeavesEachOutputWholeOrAsItWas) {
    const std::string dir = MakeTempDir("killed-run");
    std::string points;
    for (float x : {-1.5f, 0.0f, 1.5f})
        for (float y : {-1.5f, 0.0f, 1.5f})
            for (float z : {-1.5f, 0.0f, 1.5f})
                points += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "\n";
    WriteFile(dir + "/points.txt", points);
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
    auto withoutTimes = [](std::string text) {
        const size_t at = text.find("\"times\"");
        if (at != std::string::npos) text.erase(at, text.find('\n', at) - at);
        return text;
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
        EXPECT_TRUE(!Exists(dir + "/c.txt") || c == next[0]) << "construction file torn after kill " << kill;
        EXPECT_TRUE(i == previous[1] || i == next[1]) << "improvement file torn after kill " << kill;
        EXPECT_TRUE(r == previous[2] || withoutTimes(r) == withoutTimes(next[2])) << "report torn after kill " << kill;
        // The next kill starts from the previous run's complete files again.
        WriteFile(dir + "/i.txt", previous[1]);
        WriteFile(dir + "/r.json", previous[2]);
    }
}
