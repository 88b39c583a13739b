// LoadOBJ on the face syntaxes real files use, its failure results, export, copies and the
// converters. The OBJ lexis it shares with the collision loader is tested there.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "geometry/PackingGeometry.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace {

class ObjFile : public ::testing::Test {
 protected:
    std::string Write(const std::string& text) {
        path = dir + "/" + std::to_string(files++) + ".obj";
        WriteFile(path, text);
        return path;
    }
    int Load(PackingGeometry& g, const std::string& text) { return LoadOBJ(&g, Write(text).c_str()); }
    std::string dir = MakeTempDir("objfile"), path;
    int files = 0;
};

void ExpectSameMesh(const PackingGeometry& a, const PackingGeometry& b) {
    ASSERT_EQ(a.m_vertices.size(), b.m_vertices.size());
    for (size_t i = 0; i < a.m_vertices.size(); ++i) {
        EXPECT_EQ(length(a.m_vertices[i] - b.m_vertices[i]), 0.0f) << "vertex " << i;
        EXPECT_EQ(length(a.m_normals[i] - b.m_normals[i]), 0.0f) << "normal " << i;
    }
}

const std::string kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 0 0 -1\nvn 0 1 0\n";

TEST_F(ObjFile, CornerSyntaxesPolygonsRelativeIndicesAndFaceNormals) {
    PackingGeometry full, quad, bare, flat, late, out, in;
    ASSERT_EQ(Load(full, kSquare + "f 1/1/2 2/1/1 3/1/1\nf 1/1/2 3/1/1 4/1/1\n"), 0);
    EXPECT_EQ(full.m_numVertices, 6u);
    EXPECT_EQ(length(full.m_normals[0] - Vector3(0, 1, 0)), 0.0f) << "normal index, not position index";
    // A quad fanned from its first corner; "p//n" and relative indices name the same corners.
    ASSERT_EQ(Load(quad, kSquare + "f -4//-1 -3//1 3//1 4//1\n"), 0);
    ExpectSameMesh(full, quad);

    // Corners without a normal take their triangle's face normal; "p/t" and "p" alike.
    ASSERT_EQ(Load(bare, kSquare + "vt 0 0\nf 1/1 2/1 3/1\nf 1 4 3\n"), 0);
    ASSERT_EQ(bare.m_normals.size(), 6u);
    EXPECT_EQ(length(bare.m_normals[0] - Vector3(0, 0, 1)), 0.0f);
    EXPECT_EQ(length(bare.m_normals[5] - Vector3(0, 0, -1)), 0.0f) << "clockwise triangle faces -z";
    ASSERT_EQ(Load(flat, "v 0 0 0\nv 1 0 0\nv 2 0 0\nf 1 2 3\n"), 0);
    EXPECT_EQ(length(flat.m_normals[0]), 0.0f) << "a degenerate triangle gets a zero normal, not NaN";

    // A face may name vertices written after it; lists are appended to on a second load.
    ASSERT_EQ(Load(late, "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"), 0);
    ASSERT_EQ(LoadOBJ(&late, path.c_str()), 0);
    EXPECT_EQ(late.m_numVertices, 6u);

    // The cube's volume, whichever way its faces are wound.
    ASSERT_EQ(Load(out, testscene::BoxObj(0.5f)), 0);
    ASSERT_EQ(Load(in, testscene::BoxObj(0.5f, true)), 0);
    EXPECT_EQ(out.m_vertices.size(), 36u);
    EXPECT_NEAR(calculateVolume(&out), 1.0f, 1e-6f);
    EXPECT_NEAR(calculateVolume(&in), 1.0f, 1e-6f);
    EXPECT_EQ(calculateVolume(&flat), 0.0f);
}

TEST_F(ObjFile, BadLinesFailWithTheirLineAndLeaveTheGeometryUnchanged) {
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\n";
    const std::pair<std::string, std::string> cases[] = {
        {tri + "f 0 1 2\n", ":5: vertex index 0 (indices start at 1)"},
        {tri + "f 1 2 4\n", ":5: vertex index 4 out of range (3 vertices)"},
        {tri + "f 1//1 2//2 3//1\n", ":5: normal index 2 out of range (1 normals)"},
        {tri + "f -4 1 2\n", ":5: vertex index -4 reaches before the first vertex (3 so far)"},
        {tri + "f 1/0 2/1 3/1\n", ":5: texture index 0 (indices start at 1)"},
        {"vn 0 nan 1\n", ":1: normal coordinate 'nan' is not a number"},
    };
    for (const auto& [text, message] : cases) {
        PackingGeometry geom;
        ASSERT_EQ(Load(geom, tri + "f 1//1 2//1 3//1\n"), 0);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Load(geom, text), -2) << text;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), path + message + "\n");
        EXPECT_EQ(geom.m_numVertices + geom.m_vertices.size() + geom.m_normals.size(), 9u) << text;
    }
    PackingGeometry untouched;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadOBJ(&untouched, (dir + "/missing.obj").c_str()), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(untouched.m_vertices.empty());
}

TEST_F(ObjFile, ExportCopiesAndConverters) {
    PackingGeometry src;
    Write(testscene::BoxObj(0.5f));
    ASSERT_EQ(LoadOBJ(&src, path.c_str()) + col::loadGeometryFromFile(&src, path.c_str()), 0);
    // Export needs the collision lists, which are set per object.
    std::FILE* f = std::tmpfile();
    unsigned offset = 0;
    EXPECT_FALSE(src.ExportObj(f, Matrix4::identity(), offset));
    EXPECT_EQ(std::ftell(f), 0);
    std::fclose(f);
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

    // The fast converter shares the tree, points and box; the slow one copies nothing.
    col::ExtraData_SphereTree tree(Point3(0, 0, 0), 0.9f);
    src.setExtraData(&tree);
    col::ColGeometry target, untouched;
    EXPECT_TRUE(PackingGeometryConverter(&target, &src));
    EXPECT_EQ(target.m_extraData, &tree);
    EXPECT_EQ(&target.getPoints(), &src.getPoints());
    EXPECT_EQ(&target.getPrimitives(), &src.getPrimitives());
    float mn[3], mx[3];
    target.getBBox(mn, mx);
    EXPECT_EQ(mn[0], -0.5f);
    EXPECT_EQ(mx[2], 0.5f);
    EXPECT_TRUE(PackingGeometryConverterSlow(&untouched, &src));
    EXPECT_EQ(untouched.m_extraData, nullptr);
    EXPECT_TRUE(untouched.getPoints().empty());
}

}  // namespace
