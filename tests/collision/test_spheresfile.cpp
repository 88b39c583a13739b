// ".spheres" loader: round trip, and one distinct message per kind of damage.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "scenes.h"

namespace {

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

std::string writeTemp(const std::string& name, const std::string& text) {
    const std::string path = colscene::tempDir() + "/" + name + ".spheres";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace

TEST(SpheresFile, GoodFileLoadsAndRoundTripsByteForByte) {
    const auto r = col::loadSpheresFile(writeTemp("good", kGood).c_str());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.tree.nodes().size(), 3u);
    EXPECT_EQ(r.tree.leafCount(), 2);
    EXPECT_EQ(r.tree.node(2).direction.getZ(), 1.0f);
    std::mt19937 rng(3);
    const col::SphereTree t = colscene::buildTree(colscene::randomLeaves(rng, 77, 3, 0.1f, 0.4f), 3);
    const std::string once = col::formatSpheres(t);
    const auto back = col::loadSpheresFile(writeTemp("random", once).c_str());
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
        const std::string path = writeTemp(std::string("bad-") + c.name, c.text);
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
