// File loaders: OBJ into ColGeometry with every rejected input and its message (the tokenizer is
// the one every OBJ reader shares, so its lexis is tested here once), and ".spheres" with a byte
// for byte round trip and one distinct message per kind of damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>

#include "collision/ColGeometry.h"
#include "scenes.h"

namespace {

using Polys = std::vector<std::vector<unsigned>>;

std::string writeTemp(const std::string& name, const std::string& text) {
    const std::string path = colscene::tempDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

const char* kQuad = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 2.5\n";

TEST(ObjLoader, FaceSyntaxesCommentsAndCrlf) {
    const std::string text = std::string("# header\r\n\r\nmtllib x.mtl\no thing\ng grp\ns 1\nusemtl m\n") + kQuad +
                             "vt 0 0\nvn 0 0 1\n"
                             "f 1 2 3\r\n"
                             "f 1/1 2/1 3/1\n"
                             "f 1//1 2//1 3//1  # trailing comment\n"
                             "f 1/1/1 2/1/1 3/1/1 4/1/1\n"
                             "f -4 -3 -1\n";
    col::ColGeometry g;
    ASSERT_EQ(col::loadGeometryFromFile(&g, writeTemp("ok.obj", text).c_str()), 0);
    ASSERT_EQ(g.getPoints().size(), 4u);
    EXPECT_FLOAT_EQ(g.getPoints()[3].getZ(), 2.5f);
    const Polys expect = {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2, 3}, {0, 1, 3}};
    EXPECT_EQ(g.getPrimitives(), expect);
    float lo[3], hi[3];
    g.getBBox(lo, hi);
    EXPECT_FLOAT_EQ(hi[0], 1.f);
    EXPECT_FLOAT_EQ(hi[2], 2.5f);
    EXPECT_FLOAT_EQ(lo[1], 0.f);
}

TEST(ObjLoader, BadInputIsRejectedWithItsLineAndChangesNothing) {
    const struct {
        const char* name;
        std::string body;
        int line;
        const char* what;
    } cases[] = {
        {"index0", std::string(kQuad) + "f 0 1 2\n", 5, "face index 0"},
        {"range", std::string(kQuad) + "f 1 2 5\n", 5, "out of range"},
        {"negrange", std::string(kQuad) + "f -5 1 2\n", 5, "out of range"},
        {"later", "v 0 0 0\nf 1 2 3\nv 1 0 0\nv 0 1 0\n", 2, "out of range"},
        {"short", std::string(kQuad) + "f 1 2\n", 5, "at least 3 corners"},
        {"word", std::string(kQuad) + "f 1 two 3\n", 5, "malformed face corner 'two'"},
        {"slash", std::string(kQuad) + "f 1/ 2/ 3/\n", 5, "malformed face corner '1/'"},
        {"normal", std::string(kQuad) + "f 1/1/x 2 3\n", 5, "malformed face corner"},
        {"parts", std::string(kQuad) + "f 1/1/1/1 2 3\n", 5, "malformed face corner '1/1/1/1'"},
        {"vertex", "v 0 0 0\nv 1 zero 0\n", 2, "'zero' is not a number"},
        {"vertexnan", "v 0 0 nan\n", 1, "not a number"},
        {"vertexshort", "v 1 2\n", 1, "3 coordinates"},
    };
    for (const auto& c : cases) {
        col::ColGeometry g({Vectormath::Aos::Point3(5, 5, 5)}, {{0, 0, 0}}, col::PRIM_POLYGONS);
        const std::string path = writeTemp(std::string(c.name) + ".obj", c.body);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(col::loadGeometryFromFile(&g, path.c_str()), -2) << c.name;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind(path + ":" + std::to_string(c.line) + ": ", 0), 0u) << err;
        EXPECT_NE(err.find(c.what), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        ASSERT_EQ(g.getPoints().size(), 1u) << c.name;
        EXPECT_EQ(g.getPrimitives(), Polys({{0, 0, 0}})) << c.name;
    }
    col::ColGeometry g;
    EXPECT_EQ(col::loadGeometryFromFile(&g, (colscene::tempDir() + "/no/such/file.obj").c_str()), -1);
}

const char* const kGood =
    "densepack-spheres 1\n"
    "kind object\n"
    "nodes 3 leaves 2\n"
    "# cx cy cz r dx dy dz angle first count\n"
    "0 0 0 2 0 0 0 3.14159265 1 2\n"
    "\n"
    "-1 0 0 1 1 0 0 0.5 -1 0\n"
    "1 0 0 1 0 0 1 0.5 -1 0\n"
    "end\n";

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return s.replace(at, from.size(), to);
}

TEST(SpheresFile, GoodFileLoadsAndRoundTripsByteForByte) {
    const auto r = col::loadSpheresFile(writeTemp("good.spheres", kGood).c_str());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.tree.nodes().size(), 3u);
    EXPECT_EQ(r.tree.leafCount(), 2);
    EXPECT_EQ(r.tree.node(2).direction.getZ(), 1.0f);
    std::mt19937 rng(3);
    const col::SphereTree t = colscene::buildTree(colscene::randomLeaves(rng, 77, 3, 0.1f, 0.4f), 3);
    const std::string once = col::formatSpheres(t);
    const auto back = col::loadSpheresFile(writeTemp("random.spheres", once).c_str());
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(col::formatSpheres(back.tree), once);
    for (size_t i = 0; i < t.nodes().size(); ++i) EXPECT_EQ(back.tree.node(int(i)).radius, t.node(int(i)).radius);
}

TEST(SpheresFile, EachDamageHasItsOwnMessage) {
    const std::string g = kGood;
    const std::string extraNode = "1 0 0 1 0 0 1 0.5 -1 0\n";
    struct Case {
        const char* name;
        std::string text;
        const char* message;
    } cases[] = {
        {"header", replaced(g, "densepack-spheres 1", "densepack-sphere 1"), "line 1: bad header"},
        {"version", replaced(g, "densepack-spheres 1", "densepack-spheres 2"), "line 1: unsupported version '2'"},
        {"kind", replaced(g, "kind object", "kind blob"), "line 2: bad kind 'blob'"},
        {"counts", replaced(g, "nodes 3 leaves 2", "nodes x leaves 2"), "line 3: bad counts line"},
        {"fields", replaced(g, "-1 0 0 1 1 0 0 0.5 -1 0", "-1 0 0 1 1 0 0 -1 0"), "line 7: node line has 9 fields"},
        {"number", replaced(g, "-1 0 0 1 1", "-1 0 zz 1 1"), "line 7: field 3 'zz' is not a number"},
        {"nan", replaced(g, "-1 0 0 1 1", "-1 nan 0 1 1"), "line 7: field 2 is not finite"},
        {"radius", replaced(g, "-1 0 0 1 1", "-1 0 0 0 1"), "line 7: radius must be > 0"},
        {"angle", replaced(g, "0 0.5 -1 0\n1 0", "0 3.5 -1 0\n1 0"), "line 7: angle outside [0, pi]"},
        {"direction", replaced(g, "-1 0 0 1 1 0 0", "-1 0 0 1 0.5 0 0"), "line 7: direction is neither unit"},
        {"range", replaced(g, "3.14159265 1 2", "3.14159265 2 2"), "line 5: child range [2, 4)"},
        {"leaf first", replaced(g, "0.5 -1 0\n1", "0.5 2 0\n1"), "line 7: a leaf (count 0) must have first -1"},
        {"two parents",
         replaced(replaced(g, "nodes 3 leaves 2", "nodes 4 leaves 2"), "-1 0 0 1 1 0 0 0.5 -1 0",
                  "-1 0 0 1 1 0 0 0.5 2 1\n" + extraNode),
         "line 7: node 2 has two parents (0 and 1)"},
        {"unreachable", replaced(replaced(g, "nodes 3 leaves 2", "nodes 4 leaves 3"), "end", extraNode + "end"),
         "line 9: node 3 is unreachable"},
        {"leaf count", replaced(g, "nodes 3 leaves 2", "nodes 3 leaves 1"), "line 3: leaf count 1 declared, 2 found"},
        {"enclose", replaced(g, "0 0 0 2 0", "0 0 0 1.5 0"), "line 5: node 0 does not enclose its child 1"},
        {"truncated", replaced(g, "end\n", ""), "line 8: file ends early: missing 'end' (truncated)"},
        {"after end", g + "# fine\nextra\n", "line 11: data after 'end'"},
        {"more nodes", replaced(g, "end", extraNode + "end"), "line 9: more node lines than the 3 declared"},
        {"fewer nodes", replaced(g, "1 0 0 1 0 0 1 0.5 -1 0\n", ""), "line 8: only 2 node lines, 3 declared"},
    };
    for (const Case& c : cases) {
        const std::string path = writeTemp(std::string("bad-") + c.name + ".spheres", c.text);
        testing::internal::CaptureStderr();
        col::ExtraData_SphereTree tree(path.c_str());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(tree.isValid()) << c.name;
        EXPECT_TRUE(tree.tree()->empty()) << c.name;
        EXPECT_EQ(err, tree.error() + "\n") << c.name;
        EXPECT_NE(tree.error().find(path + ": " + c.message), std::string::npos) << c.name << ": " << tree.error();
    }
    testing::internal::CaptureStderr();
    col::ExtraData_SphereTree missing((colscene::tempDir() + "/nope.spheres").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), colscene::tempDir() + "/nope.spheres: cannot open\n");
    EXPECT_FALSE(missing.isValid());
}

}  // namespace
