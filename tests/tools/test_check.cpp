// densepack-check on hand-made packings of cubes in a box, driven as a user would run it.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace {

struct Pose {
    int type;
    float x, y, z;
    float angleZ = 0.0f;  ///< rotation about z, radians
    float scale = 1.0f;
};

class CheckTool : public testing::Test {
 protected:
    void SetUp() override {
        dir = MakeTempDir("check");
        WriteFile(dir + "/box.obj", testscene::BoxObj(3.0f));   // container, volume 216
        WriteFile(dir + "/unit.obj", testscene::BoxObj(0.5f));  // edge 1
        WriteFile(dir + "/big.obj", testscene::BoxObj(1.0f));   // edge 2
        // Listed small first: the run's type order (largest volume first) makes big type 0.
        WriteFile(dir + "/c.cfg", "[ModelPath]\n" + dir +
                                      "/\n[Container]\nbox 1 1 1 1\n[Objects]\n"
                                      "unit 50 1 1 1 1\nbig 50 1 1 1 1\n");
    }

    ProcessResult Check(const std::vector<Pose>& poses, const std::string& extra = "") {
        std::string text;
        for (const Pose& p : poses) text += testscene::PlacementLine(p.type, p.x, p.y, p.z, p.angleZ, p.scale);
        WriteFile(dir + "/p.txt", text);
        return RunCommand(ShellQuote(DENSEPACK_CHECK_EXE) + " -c " + ShellQuote(dir + "/c.cfg") + " " +
                          ShellQuote(dir + "/p.txt") + extra);
    }

    std::string dir;
};

bool Has(const ProcessResult& r, const std::string& text) { return r.out.find(text) != std::string::npos; }

}  // namespace

TEST_F(CheckTool, CleanPackingPasses) {
    const ProcessResult r = Check({{0, 0, 0, 0}, {1, 1.55f, 0, 0}, {1, -2, 0, 0}, {1, 0, 2.3f, 0, 0.3f}});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r, "Objects: 4\n")) << r.out;
    EXPECT_TRUE(Has(r, "Pairs intersecting: 0 (touching: 0, beyond tolerance: 0)\n")) << r.out;
    EXPECT_TRUE(Has(r, "Objects outside: 0 (touching the wall: 0, beyond tolerance: 0)\n")) << r.out;
    EXPECT_TRUE(Has(r, "\nOK\n")) << r.out;
}

TEST_F(CheckTool, OverlapIsMeasuredAgainstTheThinnerObject) {
    // Type 0 is the big cube (edge 2): two of them 1.8 apart overlap by 0.2, which is 10 % of
    // their thickness; with the small cube's edge of 1 it would be no overlap at all.
    const ProcessResult r = Check({{0, 0, 0, 0}, {0, 1.8f, 0, 0}, {1, -2.2f, 0, 0}});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r, "Pairs intersecting: 1 (touching: 0, beyond tolerance: 1)\n")) << r.out;
    EXPECT_TRUE(Has(r, "Worst penetration: 0.2 = 10 % of object thickness (objects 0 big and 1 big)\n")) << r.out;
    EXPECT_TRUE(Has(r, "  overlap 0 big / 1 big: depth 0.2 (10 %)\n")) << r.out;
    EXPECT_TRUE(Has(r, "\nFAILED\n")) << r.out;
    // The unit cube 0.3 into the big one: 30 % of the unit cube's edge.
    const ProcessResult u = Check({{0, 0, 0, 0}, {1, 1.2f, 0, 0}}, " --tolerance 0.35");
    EXPECT_EQ(u.status, 0) << u.out;
    EXPECT_TRUE(Has(u, "Worst penetration: 0.3 = 30 % of object thickness")) << u.out;
    EXPECT_TRUE(Has(u, "Pairs intersecting: 1 (touching: 0, beyond tolerance: 0)\n")) << u.out;
}

TEST_F(CheckTool, ObjectInsideAnotherAndEdgeCrossingsAreFound) {
    // No surfaces cross when the unit cube sits wholly inside the big one.
    const ProcessResult inside = Check({{0, 0, 0, 0}, {1, 0.1f, 0, 0}});
    EXPECT_EQ(inside.status, 1) << inside.out;
    EXPECT_TRUE(Has(inside, "Pairs intersecting: 1")) << inside.out;
    // Its deepest point, the face centre at x = -0.4, is 0.6 from the big cube's face at -1.
    EXPECT_TRUE(Has(inside, "Worst penetration: 0.6 = 60 % of object thickness (objects 0 big and 1 unit)\n"))
        << inside.out;
    // Turned 45 degrees about z, a unit cube puts an edge 0.207 into its neighbour, no face.
    const ProcessResult edge = Check({{1, 0, 0, 0}, {1, 1.0f, 0, 0, 0.7853982f}});
    EXPECT_EQ(edge.status, 1) << edge.out;
    EXPECT_TRUE(Has(edge, "Pairs intersecting: 1 (touching: 0, beyond tolerance: 1)\n")) << edge.out;
    EXPECT_TRUE(Has(edge, "Worst penetration: 0.207")) << edge.out;
}

TEST_F(CheckTool, ObjectPokingOutOfTheContainer) {
    // Unit cube centred at 2.7: its face at 3.2 is 0.2 beyond the wall at 3 (20 % of its edge).
    const ProcessResult r = Check({{1, 2.7f, 0, 0}, {1, 0, 0, 0}});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(Has(r, "Objects outside: 1 (touching the wall: 0, beyond tolerance: 1)\n")) << r.out;
    EXPECT_TRUE(Has(r, "Worst protrusion: 0.2 = 20 % of object thickness (object 0 unit)\n")) << r.out;
    // Scaled to half its size it stays inside.
    const ProcessResult scaled = Check({{1, 2.7f, 0, 0, 0.0f, 0.5f}});
    EXPECT_EQ(scaled.status, 0) << scaled.out;
    // Far outside: every point is out.
    const ProcessResult far = Check({{1, 10, 0, 0}});
    EXPECT_EQ(far.status, 1);
    EXPECT_TRUE(Has(far, "Worst protrusion: 7.5 = 750 %")) << far.out;
}

TEST_F(CheckTool, BadInputIsReportedWithStatusTwo) {
    const ProcessResult type = Check({{1, 0, 0, 0}, {2, 0, 0, 0}});
    EXPECT_EQ(type.status, 2);
    EXPECT_NE(type.err.find("p.txt:2: type index 2 is not one of the 2 configured types"), std::string::npos)
        << type.err;
    WriteFile(dir + "/short.txt", "0 1 2 3\n");
    const ProcessResult shortLine = RunCommand(ShellQuote(DENSEPACK_CHECK_EXE) + " -c " + ShellQuote(dir + "/c.cfg") +
                                               " " + ShellQuote(dir + "/short.txt"));
    EXPECT_EQ(shortLine.status, 2);
    EXPECT_NE(shortLine.err.find("short.txt:1: expected a type index and 48 numbers"), std::string::npos);
    const ProcessResult usage = RunCommand(ShellQuote(DENSEPACK_CHECK_EXE) + " -c " + ShellQuote(dir + "/c.cfg"));
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("Usage: "), std::string::npos);
    const ProcessResult tol = Check({{1, 0, 0, 0}}, " --tolerance x");
    EXPECT_EQ(tol.status, 2);
}

TEST_F(CheckTool, AnalyzeAFilledBox) {
    // 216 unit cubes fill the box: fractions 1; in the bulk (margin 1.5: the central 4 x 4 x 4)
    // every cube touches 26 neighbours through faces, edges and corners.
    std::vector<Pose> poses;
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
            for (int k = 0; k < 6; ++k) poses.push_back({1, i - 2.5f, j - 2.5f, k - 2.5f});
    std::string text;
    for (const Pose& p : poses) text += testscene::PlacementLine(p.type, p.x, p.y, p.z, p.angleZ, p.scale);
    WriteFile(dir + "/p.txt", text);
    const std::string args = ShellQuote(dir + "/c.cfg") + " " + ShellQuote(dir + "/p.txt");
    const ProcessResult r = RunCommand(ShellQuote(DENSEPACK_ANALYZE_EXE) + " " + args + " --samples 2000");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r, "Global fraction: 1\n")) << r.out;
    EXPECT_TRUE(Has(r, "Bulk fraction: 1 +- 0 (margin 1.5, bulk volume 27, 2000 points)\n")) << r.out;
    // Pairs: 540 through faces, 900 through edges, 500 through corners.
    EXPECT_TRUE(Has(r, "Mean contacts: 17.963 ")) << r.out;  // 2 x 1940 / 216
    EXPECT_TRUE(Has(r, "(bulk objects: 64, their mean 26)\n")) << r.out;
    const ProcessResult j = RunCommand(ShellQuote(DENSEPACK_ANALYZE_EXE) + " " + args + " --json --samples 100");
    EXPECT_EQ(j.status, 0) << j.err;
    EXPECT_EQ(j.out.find("{\"objects\": 216, "), 0u) << j.out;
    EXPECT_NE(j.out.find("\"contactPairs\": 1940, "), std::string::npos) << j.out;

    WriteFile(dir + "/bad.txt", testscene::PlacementLine(5, 0, 0, 0));
    const ProcessResult bad = RunCommand(ShellQuote(DENSEPACK_ANALYZE_EXE) + " " + ShellQuote(dir + "/c.cfg") + " " +
                                         ShellQuote(dir + "/bad.txt"));
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("type index 5 is not one of the 2 configured types"), std::string::npos) << bad.err;
}
