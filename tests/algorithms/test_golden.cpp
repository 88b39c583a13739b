// One short run whose placement file must not change unnoticed: any change of behaviour (trees,
// scales, relaxation, draw order) shows up here as a diff against the committed file. When a change
// is meant, regenerate the file and commit it with the change:
//   DENSEPACK_UPDATE_GOLDEN=1 ctest --preset release -R '^Golden\.'

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace {

const std::string kGolden =
    std::string(DENSEPACK_SOURCE_DIR) + "/tests/algorithms/golden/tiny_placement_compaction.txt";

}  // namespace

// The tiny tray with bundled spheres and M&Ms, placement then compaction, under iteration budgets:
// the same bytes in every build and on every machine.
TEST(Golden, PlacementThenCompactionWritesTheCommittedPlacementFile) {
    const std::string dir = MakeTempDir("golden");
    testscene::WriteTinyRun(dir, std::string(DENSEPACK_SOURCE_DIR) + "/models");
    WriteFile(dir + "/run.cfg",
              "[Construction Heuristic]\nPlacementAlgorithm construction.txt\n[Improvement Heuristic]\n"
              "CompactionAlgorithm improvement.txt\n[Grid]\n4 4 4\n[SurfaceDensity Epsilon]\n0.1\n"
              "[Hopkins Statistic]\n0.5 1\n[Preprocessing]\npoints.txt smallest 0.5 1\n[ModelPath]\n./\n"
              "[Container]\ntray 0.8 0.8 0.8 0.2\n[Objects]\nsphere 60 0.9 0.3 0.2 1.0\nmm 40 0.2 0.3 0.9 1.0\n");
    const ProcessResult run = RunCommand("ASAN_OPTIONS=detect_leaks=0 " + std::string(DENSEPACK_BIN) +
                                             " --headless --seed 2 --limits steps --steps-per-second 5 -c run.cfg",
                                         dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string written = ReadFile(dir + "/improvement.txt");
    ASSERT_GT(testscene::CountLines(written), 1);

    const char* update = std::getenv("DENSEPACK_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        WriteFile(kGolden, written);
        std::cout << "rewrote " << kGolden << " (" << testscene::CountLines(written) << " objects)" << std::endl;
        return;
    }
    EXPECT_EQ(written, ReadFile(kGolden)) << "the placement differs from " << kGolden
                                          << "; if the change is meant, regenerate it with "
                                             "DENSEPACK_UPDATE_GOLDEN=1 ctest --preset release -R '^Golden\\.'";
}
