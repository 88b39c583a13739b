// OBJ loading into ColGeometry: accepted syntaxes, and every rejected input with its message. The
// tokenizer is the one every OBJ reader shares, so its lexis is tested here once.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "collision/ColGeometry.h"

namespace {

using Polys = std::vector<std::vector<unsigned>>;

std::string writeFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + "objloader_" + name + ".obj";
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
    ASSERT_EQ(col::loadGeometryFromFile(&g, writeFile("ok", text).c_str()), 0);
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
        const std::string path = writeFile(c.name, c.body);
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
    EXPECT_EQ(col::loadGeometryFromFile(&g, (::testing::TempDir() + "no/such/file.obj").c_str()), -1);
}

}  // namespace
