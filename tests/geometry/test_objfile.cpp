// LoadOBJ on the face syntaxes real files use, its failure results, export and copies. The OBJ
// lexis it shares with the collision loader (comments, line ends, numbers) is tested there.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "geometry/PackingGeometry.h"
#include "support/Subprocess.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace {

// Unit cube centred at the origin; normal indices deliberately differ from position indices.
const char* kCubeVertices =
    "v -0.5 -0.5 -0.5\nv 0.5 -0.5 -0.5\nv 0.5 0.5 -0.5\nv -0.5 0.5 -0.5\n"
    "v -0.5 -0.5 0.5\nv 0.5 -0.5 0.5\nv 0.5 0.5 0.5\nv -0.5 0.5 0.5\n"
    "vt 0 0\nvn 0 0 -1\nvn 0 0 1\nvn 0 -1 0\nvn 0 1 0\nvn -1 0 0\nvn 1 0 0\n";
const char* kCubeFacesOutward =
    "f 1/1/1 3/1/1 2/1/1\nf 1/1/1 4/1/1 3/1/1\nf 5/1/2 6/1/2 7/1/2\nf 5/1/2 7/1/2 8/1/2\n"
    "f 1/1/3 2/1/3 6/1/3\nf 1/1/3 6/1/3 5/1/3\nf 4/1/4 8/1/4 7/1/4\nf 4/1/4 7/1/4 3/1/4\n"
    "f 1/1/5 5/1/5 8/1/5\nf 1/1/5 8/1/5 4/1/5\nf 2/1/6 3/1/6 7/1/6\nf 2/1/6 7/1/6 6/1/6\n";

class ObjFile : public ::testing::Test {
 protected:
    void SetUp() override { dir = MakeTempDir("objfile"); }
    std::string Write(const std::string& name, const std::string& text) {
        WriteFile(dir + "/" + name, text);
        return dir + "/" + name;
    }
    std::string dir;
};

void ExpectSameMesh(const PackingGeometry& a, const PackingGeometry& b) {
    ASSERT_EQ(a.m_vertices.size(), b.m_vertices.size());
    for (size_t i = 0; i < a.m_vertices.size(); ++i) {
        EXPECT_EQ(length(a.m_vertices[i] - b.m_vertices[i]), 0.0f) << "vertex " << i;
        EXPECT_EQ(length(a.m_normals[i] - b.m_normals[i]), 0.0f) << "normal " << i;
    }
}

TEST_F(ObjFile, UnitCubeGivesThirtySixCornersAndVolumeOneEitherWay) {
    PackingGeometry out;
    ASSERT_EQ(LoadOBJ(&out, Write("cube.obj", std::string(kCubeVertices) + kCubeFacesOutward).c_str()), 0);
    EXPECT_EQ(out.m_vertices.size(), 36u);
    EXPECT_EQ(out.m_normals.size(), 36u);
    EXPECT_EQ(out.m_numVertices, 36u);
    EXPECT_NEAR(calculateVolume(&out), 1.0f, 1e-6f);
    // Face 5 is "1/1/3 2/1/3 6/1/3": corner normal from normal index 3, not position index.
    EXPECT_EQ(length(out.m_normals[12] - Vector3(0, -1, 0)), 0.0f);
    EXPECT_EQ(length(out.m_vertices[14] - Vector3(0.5f, -0.5f, 0.5f)), 0.0f);

    // The same faces wound inward.
    std::string inward;
    for (int f = 0; f < 12; ++f) {
        const Vector3 a = out.m_vertices[3 * f], b = out.m_vertices[3 * f + 1], c = out.m_vertices[3 * f + 2];
        for (const Vector3& p : {a, c, b})
            inward += "v " + std::to_string(p.getX()) + " " + std::to_string(p.getY()) + " " +
                      std::to_string(p.getZ()) + "\n";
        inward += "f -3 -2 -1\n";
    }
    PackingGeometry in;
    ASSERT_EQ(LoadOBJ(&in, Write("inward.obj", inward).c_str()), 0);
    EXPECT_NEAR(calculateVolume(&in), 1.0f, 1e-6f);
    const PackingGeometry empty;
    EXPECT_EQ(calculateVolume(&empty), 0.0f);
}

TEST_F(ObjFile, OtherCornerSyntaxesPolygonsAndRelativeIndices) {
    const std::string verts = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 0 0 -1\n";
    PackingGeometry full, quad;
    ASSERT_EQ(LoadOBJ(&full, Write("a.obj", verts + "f 1/1/1 2/1/1 3/1/1\nf 1/1/1 3/1/1 4/1/1\n").c_str()), 0);
    // A quad fanned from its first corner; "p//n" and relative indices name the same corners.
    ASSERT_EQ(LoadOBJ(&quad, Write("b.obj", verts + "f -4//1 -3//-1 3//1 4//1\n").c_str()), 0);
    ExpectSameMesh(full, quad);

    // Corners without a normal take their triangle's face normal; "p/t" and "p" alike.
    PackingGeometry bare;
    ASSERT_EQ(LoadOBJ(&bare, Write("d.obj", verts + "vt 0 0\nf 1/1 2/1 3/1\nf 1 4 3\n").c_str()), 0);
    ASSERT_EQ(bare.m_normals.size(), 6u);
    EXPECT_EQ(length(bare.m_normals[0] - Vector3(0, 0, 1)), 0.0f);
    EXPECT_EQ(length(bare.m_normals[5] - Vector3(0, 0, -1)), 0.0f) << "clockwise triangle faces -z";
    // A degenerate triangle gets a zero normal, not NaN.
    PackingGeometry flat;
    ASSERT_EQ(LoadOBJ(&flat, Write("e.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nf 1 2 3\n").c_str()), 0);
    EXPECT_EQ(length(flat.m_normals[0]), 0.0f);

    // A face may name vertices written after it; lists are appended to on a second load.
    PackingGeometry late;
    const std::string lateFile = Write("f.obj", "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n");
    ASSERT_EQ(LoadOBJ(&late, lateFile.c_str()), 0);
    ASSERT_EQ(LoadOBJ(&late, lateFile.c_str()), 0);
    EXPECT_EQ(late.m_numVertices, 6u);
}

TEST_F(ObjFile, BadLinesFailWithTheirLineAndLeaveTheGeometryUnchanged) {
    struct Case {
        std::string text, message;
    };
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\n";
    const Case cases[] = {
        {tri + "f 0 1 2\n", ":5: vertex index 0 (indices start at 1)"},
        {tri + "f 1 2 4\n", ":5: vertex index 4 out of range (3 vertices)"},
        {tri + "f 1//1 2//2 3//1\n", ":5: normal index 2 out of range (1 normals)"},
        {tri + "f -4 1 2\n", ":5: vertex index -4 reaches before the first vertex (3 so far)"},
        {"vn 0 nan 1\n", ":1: normal coordinate 'nan' is not a number"},
    };
    int n = 0;
    for (const Case& c : cases) {
        PackingGeometry geom;
        ASSERT_EQ(LoadOBJ(&geom, Write("ok.obj", tri + "f 1//1 2//1 3//1\n").c_str()), 0);
        const std::string path = Write("bad" + std::to_string(n++) + ".obj", c.text);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(LoadOBJ(&geom, path.c_str()), -2) << c.text;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), path + c.message + "\n");
        EXPECT_EQ(geom.m_numVertices, 3u);
        EXPECT_EQ(geom.m_vertices.size(), 3u);
        EXPECT_EQ(geom.m_normals.size(), 3u);
    }

    PackingGeometry untouched;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadOBJ(&untouched, (dir + "/missing.obj").c_str()), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(untouched.m_vertices.empty());
}

std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string s;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
}

TEST_F(ObjFile, ExportShiftsFacesPastEarlierMeshes) {
    PackingGeometry a, b;
    const std::string path = Write("cube.obj", std::string(kCubeVertices) + kCubeFacesOutward);
    ASSERT_EQ(col::loadGeometryFromFile(&a, path.c_str()), 0);
    ASSERT_EQ(col::loadGeometryFromFile(&b, path.c_str()), 0);

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    unsigned offset = 0;
    EXPECT_FALSE(a.ExportObj(f, Matrix4::identity(), offset)) << "pointers not set yet";
    EXPECT_EQ(ReadAll(f), "");
    for (PackingGeometry* g : {&a, &b}) {
        g->m_pointsPtr = g->editPointsPtr();
        g->m_primitivesPtr = g->editPrimitivesPtr();
    }
    EXPECT_TRUE(a.ExportObj(f, Matrix4::identity(), offset));
    EXPECT_EQ(offset, 8u);
    EXPECT_TRUE(b.ExportObj(f, Matrix4::translation(Vector3(10, 0, 0)) * Matrix4::scale(Vector3(2)), offset));
    EXPECT_EQ(offset, 16u);
    const std::string text = ReadAll(f);
    std::fclose(f);
    EXPECT_EQ(text.rfind("v -0.500000 -0.500000 -0.500000\n", 0), 0u);
    EXPECT_NE(text.find("f 1 3 2\n"), std::string::npos);
    EXPECT_NE(text.find("v 9.000000 -1.000000 -1.000000\n"), std::string::npos) << "scaled then moved";
    EXPECT_NE(text.find("f 9 11 10\n"), std::string::npos);
    EXPECT_NE(text.find("f 10 15 14\n"), std::string::npos);
    EXPECT_EQ(text.find(" 17"), std::string::npos);
}

TEST_F(ObjFile, CopiesResetOwnPointersAssignmentKeepsThem) {
    PackingGeometry src;
    const std::string path = Write("cube.obj", std::string(kCubeVertices) + kCubeFacesOutward);
    ASSERT_EQ(LoadOBJ(&src, path.c_str()) + col::loadGeometryFromFile(&src, path.c_str()), 0);
    src.m_pointsPtr = src.editPointsPtr();
    src.m_primitivesPtr = src.editPrimitivesPtr();
    src.calcGravityCenter();

    PackingGeometry copy(src);
    EXPECT_EQ(copy.m_numVertices, 0u);
    EXPECT_EQ(copy.m_pointsPtr, nullptr);
    EXPECT_EQ(copy.m_primitivesPtr, nullptr);
    EXPECT_EQ(copy.m_vertices.size(), 36u);
    EXPECT_EQ(copy.getPoints().size(), 8u);
    EXPECT_NEAR(calculateVolume(&copy), 1.0f, 1e-6f);

    PackingGeometry assigned;
    assigned = src;
    EXPECT_EQ(assigned.m_numVertices, 36u);
    EXPECT_EQ(assigned.m_pointsPtr, src.editPointsPtr()) << "still the source's list";
    EXPECT_EQ(length(PackingGeometry().calcGravityCenter()), 0.0f) << "no points: origin, not NaN";
}

TEST_F(ObjFile, ConverterSharesTreePointsAndBox) {
    PackingGeometry src;
    const std::string path = Write("cube.obj", std::string(kCubeVertices) + kCubeFacesOutward);
    ASSERT_EQ(col::loadGeometryFromFile(&src, path.c_str()), 0);
    col::ExtraData_SphereTree tree(Point3(0, 0, 0), 0.9f);
    src.setExtraData(&tree);

    col::ColGeometry target;
    EXPECT_TRUE(PackingGeometryConverter(&target, &src));
    EXPECT_EQ(target.m_extraData, &tree);
    EXPECT_EQ(&target.getPoints(), &src.getPoints());
    EXPECT_EQ(&target.getPrimitives(), &src.getPrimitives());
    float mn[3], mx[3];
    target.getBBox(mn, mx);
    EXPECT_EQ(mn[0], -0.5f);
    EXPECT_EQ(mx[2], 0.5f);

    col::ColGeometry untouched;
    EXPECT_TRUE(PackingGeometryConverterSlow(&untouched, &src));
    EXPECT_EQ(untouched.m_extraData, nullptr);
    EXPECT_TRUE(untouched.getPoints().empty());
}

}  // namespace
