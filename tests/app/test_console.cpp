// What a run prints while it works: --quiet leaves out exactly the per-iteration lines and keeps
// the rest of standard output; the progress of every long phase goes to standard error only.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/Subprocess.h"

namespace {

const std::string kExe = DENSEPACK_EXE, kModels = std::string(DENSEPACK_SOURCE_DIR) + "/models/";

// Spheres in the bundled 6 x 6 x 6 box on a coarse grid: sampling, placement and compaction, each
// over in well under a second, the same on every machine with step budgets.
const std::string kConfig =
    "[Construction Heuristic]\nPlacementAlgorithm\n[Improvement Heuristic]\nCompactionAlgorithm\n"
    "[Grid]\n4 4 4\n[SurfaceDensity Epsilon]\n0.1\n[Hopkins Statistic]\n0.1 2\n[Preprocessing]\n"
    "points.txt smallest 1.3 2\n[ModelPath]\n" +
    kModels + "\n[Container]\nbox 0.8 0.8 0.8 0.2\n[Objects]\nsphere 100 0.9 0.3 0.2 1.0\n";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The compaction's per-iteration block.
bool PerIteration(const std::string& line) {
    for (const char* start :
         {"Counter : ", "Compaction Avg: ", "Collision  Avg: ", "Resolve Avg: ", "Placed Objs nr: "})
        if (line.rfind(start, 0) == 0) return true;
    return false;
}

// Times differ from run to run; everything else must not.
std::string WithoutTimes(const std::string& line) {
    for (const char* timed :
         {"Time", "time", "Construction Heuristic time", "Improvement Heuristic time", "Statistic Calculation time"})
        if (line.rfind(timed, 0) == 0) return line.substr(0, line.find(':') + 1);
    return line;
}

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }
bool Has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

TEST(Console, QuietDropsOnlyThePerIterationLinesAndProgressGoesToStandardError) {
    const std::string dir = MakeTempDir("console");
    WriteFile(dir + "/run.cfg", kConfig);
    // The program frees nothing before exit by design; under the leak checker that is no fault.
    const std::string run = "ASAN_OPTIONS=detect_leaks=0 " + kExe + " --headless --seed 4 --limits steps -c run.cfg";
    const ProcessResult full = RunCommand(run, dir), quiet = RunCommand(run + " --quiet", dir);
    ASSERT_EQ(full.status, 0) << full.err;
    ASSERT_EQ(quiet.status, 0) << quiet.err;

    std::vector<std::string> kept;
    size_t dropped = 0;
    for (const std::string& line : Lines(full.out)) {
        if (PerIteration(line))
            ++dropped;
        else
            kept.push_back(WithoutTimes(line));
    }
    std::vector<std::string> quietLines;
    for (const std::string& line : Lines(quiet.out)) quietLines.push_back(WithoutTimes(line));
    EXPECT_GT(dropped, 50u);
    EXPECT_EQ(quietLines, kept);
    for (const char* report : {"Construction Run", "End", "Sampling Points: "})
        EXPECT_NE(quiet.out.find(report), std::string::npos) << report;

    // Standard error: a closing line per phase, in the run's order, and at most lines of the same
    // phases in between (a slow machine may take longer than the 5 s between two); standard output
    // carries none of it.
    for (const ProcessResult* r : {&full, &quiet}) {
        std::vector<std::string> closing;
        for (const std::string& line : Lines(r->err)) {
            EXPECT_TRUE(StartsWith(line, "Sampling: ") || StartsWith(line, "Placement: ") ||
                        StartsWith(line, "Compaction: "))
                << line;
            if (Has(line, ", done in ")) closing.push_back(line);
        }
        ASSERT_EQ(closing.size(), 3u) << r->err;
        EXPECT_TRUE(StartsWith(closing[0], "Sampling: ") && Has(closing[0], " points, done in ")) << closing[0];
        // "Sampling: N/N points": every grid point tested.
        const std::string count = closing[0].substr(10, closing[0].find(' ', 10) - 10);
        EXPECT_EQ(count.substr(0, count.find('/')), count.substr(count.find('/') + 1)) << closing[0];
        EXPECT_TRUE(StartsWith(closing[1], "Placement: ") && Has(closing[1], ", placed ") &&
                    Has(closing[1], ", time-outs 0, done in "))
            << closing[1];
        EXPECT_TRUE(StartsWith(closing[2], "Compaction: ") && Has(closing[2], ", added ") &&
                    Has(closing[2], ", time-outs 0, done in "))
            << closing[2];
        EXPECT_EQ(r->out.find("done in"), std::string::npos);
        EXPECT_EQ(r->out.find('\r'), std::string::npos);
    }
}

}  // namespace
