// Runs the tools as a user would: the tree builder and the model generator on bad input, for
// reproducibility and thread-count independence; densepack-check and densepack-analyze on
// hand-made packings of cubes in a box.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "collision/ExtraData.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace fs = std::filesystem;

namespace {

const std::string kModels = DENSEPACK_MODELS_DIR;

struct Pose {
    int type;
    float x, y, z;
    float angleZ = 0.0f;  ///< rotation about z, radians
    float scale = 1.0f;
};

const std::string kCheck = ShellQuote(DENSEPACK_CHECK_EXE) + " -c", kAnalyze = ShellQuote(DENSEPACK_ANALYZE_EXE);

class ToolsCli : public ::testing::Test {
 protected:
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    ProcessResult Spheres(const std::string& args) const { return RunCommand(DENSEPACK_SPHERES_EXE + (" " + args)); }
    void Write(const std::string& name, const std::string& text) const { WriteFile(Path(name), text); }
    void Build(const std::string& args) const {
        const ProcessResult r = Spheres(args);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    }

    // Expects failure with the message and no output or temporary file left behind.
    void ExpectRejected(const std::string& input, const std::string& message) {
        const ProcessResult r = Spheres(Path(input) + " " + Path("out.spheres"));
        EXPECT_NE(r.status, 0) << input;
        EXPECT_NE(r.err.find(message), std::string::npos) << "stderr was: " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one error line expected: " << r.err;
        for (const auto& e : fs::directory_iterator(m_dir))
            EXPECT_EQ(e.path().filename().string().find("out.spheres"), std::string::npos) << e.path();
    }

    std::string m_dir = MakeTempDir("tools");
};

class CheckTool : public ToolsCli {
 protected:
    void SetUp() override {
        Write("box.obj", testscene::BoxObj(3.0f));   // container, volume 216
        Write("unit.obj", testscene::BoxObj(0.5f));  // edge 1
        Write("big.obj", testscene::BoxObj(1.0f));   // edge 2
        // Listed small first: the run's type order (largest volume first) makes big type 0.
        Write("c.cfg",
              "[ModelPath]\n" + m_dir + "/\n[Container]\nbox 1 1 1 1\n[Objects]\nunit 50 1 1 1 1\nbig 50 1 1 1 1\n");
    }

    // Runs the tool on the configuration and the placement file `file`, written from `poses` unless empty.
    ProcessResult Run(const std::string& tool, const std::vector<Pose>& poses, const std::string& extra = "",
                      const std::string& file = "p.txt") {
        std::string text;
        for (const Pose& p : poses) text += testscene::PlacementLine(p.type, p.x, p.y, p.z, p.angleZ, p.scale);
        if (!poses.empty()) Write(file, text);
        return RunCommand(tool + " " + ShellQuote(Path("c.cfg")) + " " + ShellQuote(Path(file)) + extra);
    }
};

const char* kTetra = "v 1 1 1\nv 1 -1 -1\nv -1 1 -1\nv -1 -1 1\nf 1 2 3\nf 1 4 2\nf 1 3 4\n";

TEST_F(ToolsCli, BadInputIsRejectedWithOneLine) {
    ExpectRejected("missing.obj", "cannot open");
    Write("bad.obj", "# comment\nv 0 0 0\nv 1 oops 0\n");
    ExpectRejected("bad.obj", "bad.obj:3:");
    Write("range.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 7\n");
    ExpectRejected("range.obj", "range.obj:4: face index 7 out of range");
    Write("open.obj", kTetra);
    ExpectRejected("open.obj", "mesh not closed");
    Write("flip.obj", std::string(kTetra) + "f 2 3 4\n");
    ExpectRejected("flip.obj", "not consistently oriented");
    Write("flat.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 3 2\n");
    ExpectRejected("flat.obj", "zero volume");
}

TEST_F(ToolsCli, AcceptsObjVariantsAndInwardFaces) {
    // Negative indices, a//c and a/b corners, a quad, CRLF, and faces wound inward.
    Write("cube.obj",
          "v -1 -1 -1\r\nv 1 -1 -1\r\nv 1 1 -1\r\nv -1 1 -1\r\nv -1 -1 1\r\nv 1 -1 1\r\nv 1 1 1\r\nv -1 1 1\r\n"
          "vt 0 0\r\nvn 0 0 1\r\n"
          "f 1 2 3 4\r\nf 5//1 8//1 7//1 6//1\r\nf 1/1 5/1 6/1 2/1\r\nf -6 -2 -1 -5\r\nf 2 6 7 3\r\nf 1 4 8 5\r\n");
    const ProcessResult r =
        Spheres("--fill --max-spheres 50 --grid 20 " + Path("cube.obj") + " " + Path("cube.spheres"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("50 leaf spheres"), std::string::npos) << r.out;
    const col::ExtraData_SphereTree tree(Path("cube.spheres").c_str());
    ASSERT_TRUE(tree.isValid()) << tree.error();
    // The largest leaf is the inscribed sphere of the 2x2x2 cube, centred at the origin.
    col::SphereNode largest;  // radius 0
    for (const col::SphereNode& n : tree.tree()->nodes())
        if (n.isLeaf() && n.radius > largest.radius) largest = n;
    EXPECT_NEAR(largest.radius, 1.0, 1e-3);
    EXPECT_NEAR(length(Vectormath::Aos::Vector3(largest.center)), 0.0, 1e-2);
}

TEST_F(ToolsCli, GeneratorReproducesCommittedMeshes) {
    ASSERT_EQ(RunCommand(DENSEPACK_MODELGEN_EXE + (" " + m_dir)).status, 0);
    int compared = 0;
    for (const auto& e : fs::directory_iterator(m_dir)) {
        if (e.path().extension() != ".obj") continue;
        EXPECT_EQ(ReadFile(e.path().string()), ReadFile(kModels + "/" + e.path().filename().string()))
            << e.path().filename();
        ++compared;
    }
    EXPECT_EQ(compared, 13);
}

TEST_F(ToolsCli, BuilderReproducesCommittedTreesAtAnyThreadCount) {
    // The cheapest committed model, its six edges and four corners refined as the script does;
    // the rest is regenerated by tools/make-models.sh.
    const ProcessResult tet =
        Spheres("--threads 1 --tolerance 0.01 --edge-tolerance 0.006 --corner-tolerance 0.003 --max-spheres 5000 " +
                kModels + "/tetrahedron.obj " + Path("t.spheres"));
    EXPECT_EQ(tet.status, 0) << tet.err;
    EXPECT_NE(tet.out.find("6 sharp edges: uncovered depth <= 0.0042 (0.60%)"), std::string::npos) << tet.out;
    EXPECT_NE(tet.out.find("4 sharp corners: uncovered depth <= 0.0021 (0.30%)"), std::string::npos) << tet.out;
    EXPECT_EQ(ReadFile(Path("t.spheres")), ReadFile(kModels + "/tetrahedron.spheres"));
    // A curved mesh at a coarser tolerance, on one and on three threads: its two rims are 32
    // sharp edges, its 16 sides meet at 22.5 degrees (not sharp), and it has no sharp corner.
    for (const std::string t : {"1", "3"}) {
        const ProcessResult r = Spheres("--tolerance 0.04 --edge-tolerance 0.02 --corner-tolerance 0.01 --threads " +
                                        t + " " + kModels + "/cylinder_l.obj " + Path("c" + t + ".spheres"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(", 32 sharp edges: uncovered depth <= 0.016 (2.00%)"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("corners"), std::string::npos) << r.out;
    }
    EXPECT_EQ(ReadFile(Path("c1.spheres")), ReadFile(Path("c3.spheres")));
    // A feature tolerance not below the tolerance adds nothing.
    Build("--tolerance 0.04 --threads 1 " + kModels + "/cylinder_l.obj " + Path("plain.spheres"));
    Build("--tolerance 0.04 --edge-tolerance 0.04 --threads 1 " + kModels + "/cylinder_l.obj " + Path("same.spheres"));
    EXPECT_EQ(ReadFile(Path("plain.spheres")), ReadFile(Path("same.spheres")));
    EXPECT_NE(ReadFile(Path("plain.spheres")), ReadFile(Path("c1.spheres")));

    // Container mode, too.
    for (const std::string t : {"1", "2"})
        Build("--container --intrusion 0.05 --margin 1 --threads " + t + " " + kModels + "/box.obj " +
              Path("b" + t + ".spheres"));
    EXPECT_EQ(ReadFile(Path("b1.spheres")), ReadFile(Path("b2.spheres")));
    const col::ExtraData_SphereTree tree(Path("b1.spheres").c_str());
    EXPECT_TRUE(tree.isValid() && tree.tree()->kind() == col::SphereTreeKind::Container) << tree.error();
}

// The fill mode still gives the trees of before: disjoint leaves inside the mesh, any thread count,
// in the same file format the program loads.
TEST_F(ToolsCli, FillModeKeepsDisjointLeaves) {
    for (const std::string t : {"1", "2"})
        Build("--fill --max-spheres 300 --grid 40 --threads " + t + " " + kModels + "/cube.obj " +
              Path("f" + t + ".spheres"));
    EXPECT_EQ(ReadFile(Path("f1.spheres")), ReadFile(Path("f2.spheres")));
    const col::ExtraData_SphereTree tree(Path("f1.spheres").c_str());
    ASSERT_TRUE(tree.isValid()) << tree.error();
    std::vector<col::SphereNode> leaves;
    for (const col::SphereNode& n : tree.tree()->nodes())
        if (n.isLeaf()) leaves.push_back(n);
    ASSERT_EQ(leaves.size(), 300u);
    for (size_t i = 0; i < leaves.size(); ++i) {
        const Vectormath::Aos::Point3 c = leaves[i].center;
        // The bundled cube spans [-0.4, 0.4] on every axis.
        for (int a = 0; a < 3; ++a) EXPECT_LE(std::fabs(c[a]) + leaves[i].radius, 0.4f + 1e-6f);
        for (size_t j = i + 1; j < leaves.size(); ++j)
            ASSERT_GE(dist(c, leaves[j].center) + 1e-6f, leaves[i].radius + leaves[j].radius) << i << ", " << j;
    }
}

TEST_F(CheckTool, VerdictsOnOverlapsProtrusionsAndBadInput) {
    const struct {
        std::vector<Pose> poses;
        std::string extra;
        int status;
        std::vector<std::string> lines;  ///< in standard output, or standard error for status 2
    } cases[] = {
        {{{0, 0, 0, 0}, {1, 1.55f, 0, 0}, {1, -2, 0, 0}, {1, 0, 2.3f, 0, 0.3f}},
         "",
         0,
         {"Objects: 4\n", "Pairs intersecting: 0 (touching: 0, beyond tolerance: 0)\n",
          "Objects outside: 0 (touching the wall: 0, beyond tolerance: 0)\n", "\nOK\n"}},
        // Two big cubes (edge 2) 1.8 apart overlap by 0.2: 10 % of their thickness, where the small
        // cube's edge of 1 would make it none at all.
        {{{0, 0, 0, 0}, {0, 1.8f, 0, 0}, {1, -2.2f, 0, 0}},
         "",
         1,
         {"Pairs intersecting: 1 (touching: 0, beyond tolerance: 1)\n",
          "Worst penetration: 0.2 = 10 % of object thickness (objects 0 big and 1 big)\n",
          "  overlap 0 big / 1 big: depth 0.2 (10 %)\n", "\nFAILED\n"}},
        // The unit cube 0.3 into the big one: 30 % of the unit cube's edge.
        {{{0, 0, 0, 0}, {1, 1.2f, 0, 0}},
         " --tolerance 0.35",
         0,
         {"Worst penetration: 0.3 = 30 % of object thickness",
          "Pairs intersecting: 1 (touching: 0, beyond tolerance: 0)\n"}},
        // Wholly inside the big cube no surfaces cross; the deepest point, the face centre at
        // x = -0.4, is 0.6 from the big cube's face at -1.
        {{{0, 0, 0, 0}, {1, 0.1f, 0, 0}},
         "",
         1,
         {"Pairs intersecting: 1", "Worst penetration: 0.6 = 60 % of object thickness (objects 0 big and 1 unit)\n"}},
        // Turned 45 degrees about z, a unit cube puts an edge 0.207 into its neighbour, no face.
        {{{1, 0, 0, 0}, {1, 1.0f, 0, 0, 0.7853982f}},
         "",
         1,
         {"Pairs intersecting: 1 (touching: 0, beyond tolerance: 1)\n", "Worst penetration: 0.207"}},
        // Centred at 2.7, its face at 3.2 is 0.2 beyond the wall at 3; scaled to half its size it
        // stays inside; far outside every point is out.
        {{{1, 2.7f, 0, 0}, {1, 0, 0, 0}},
         "",
         1,
         {"Objects outside: 1 (touching the wall: 0, beyond tolerance: 1)\n",
          "Worst protrusion: 0.2 = 20 % of object thickness (object 0 unit)\n"}},
        {{{1, 2.7f, 0, 0, 0.0f, 0.5f}}, "", 0, {}},
        {{{1, 10, 0, 0}}, "", 1, {"Worst protrusion: 7.5 = 750 %"}},
        {{{1, 0, 0, 0}, {2, 0, 0, 0}}, "", 2, {"p.txt:2: type index 2 is not one of the 2 configured types"}},
        {{{1, 0, 0, 0}}, " --tolerance x", 2, {}},
    };
    for (const auto& c : cases) {
        const ProcessResult r = Run(kCheck, c.poses, c.extra);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        for (const std::string& line : c.lines)
            EXPECT_NE((c.status == 2 ? r.err : r.out).find(line), std::string::npos) << line << " in\n"
                                                                                     << r.out << r.err;
    }
    Write("short.txt", "0 1 2 3\n");
    const ProcessResult shortLine = Run(kCheck, {}, "", "short.txt");
    EXPECT_EQ(shortLine.status, 2);
    EXPECT_NE(shortLine.err.find("short.txt:1: expected a type index and 48 numbers"), std::string::npos);
    const ProcessResult usage = RunCommand(kCheck + " " + ShellQuote(Path("c.cfg")));
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("Usage: "), std::string::npos);
}

TEST_F(CheckTool, AnalyzeAFilledBox) {
    // 216 unit cubes fill the box: fractions 1; in the bulk (margin 1.5: the central 4 x 4 x 4)
    // every cube touches 26 neighbours through faces, edges and corners.
    std::vector<Pose> poses;
    for (int i = 0; i < 216; ++i) poses.push_back({1, i / 36 - 2.5f, i / 6 % 6 - 2.5f, i % 6 - 2.5f});
    const ProcessResult r = Run(kAnalyze, poses, " --samples 2000");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* line :
         {"Global fraction: 1\n", "Bulk fraction: 1 +- 0 (margin 1.5, bulk volume 27, 2000 points)\n",
          "Mean contacts: 17.963 ",  // 540 face, 900 edge and 500 corner pairs: 2 x 1940 / 216
          "(bulk objects: 64, their mean 26)\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;

    const ProcessResult bad = Run(kAnalyze, {{5, 0, 0, 0}}, "", "bad.txt");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("type index 5 is not one of the 2 configured types"), std::string::npos) << bad.err;
}

TEST_F(CheckTool, TypesOfEqualVolumeKeepTheirConfigurationOrder) {
    // Twenty copies of one cube, more than an unstable sort leaves in place, after a larger type.
    std::string objects = "big 5 1 1 1 1\n";
    for (int i = 10; i < 30; ++i) {
        Write("t" + std::to_string(i) + ".obj", testscene::BoxObj(0.5f));
        objects += "t" + std::to_string(i) + " 5 1 1 1 1\n";
    }
    Write("c.cfg", "[ModelPath]\n" + m_dir + "/\n[Container]\nbox 1 1 1 1\n[Objects]\n" + objects);
    const auto table = nlohmann::json::parse(RunCommand(kCheck + " " + ShellQuote(Path("c.cfg")) + " --types").out);
    ASSERT_EQ(table["types"].size(), 21u);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(table["types"][i]["configIndex"], i);
    EXPECT_EQ(table["types"][4]["mesh"], m_dir + "/t13.obj");
    // The check and the analysis name the types of the objects from the same table.
    const ProcessResult check = Run(kCheck, {{4, 0, 0, 0}, {17, 0.5f, 0, 0}});
    EXPECT_NE(check.out.find("overlap 0 t13 / 1 t26: "), std::string::npos) << check.out;
    const auto analysis = nlohmann::json::parse(Run(kAnalyze, {{8, 0, 0, 0}}, " --json --samples 100").out);
    EXPECT_EQ(analysis["order"][0]["name"], "t17");
}

}  // namespace
