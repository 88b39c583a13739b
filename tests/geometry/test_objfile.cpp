// LoadOBJ on the face syntaxes real files use, its failure results, export, copies and the
// converters (the OBJ lexis it shares with the collision loader is tested there); and
// calculateVolume on the bundled models against their analytic volumes, each tessellated shape
// bounded from the mesh's own geometry (not from the volume formula), so the check is as tight
// as the tessellation allows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>

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

const std::string kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 0 0 -1\nvn 0 1 0\n";

TEST_F(ObjFile, CornerSyntaxesPolygonsRelativeIndicesAndFaceNormals) {
    PackingGeometry full, quad, bare, flat, late, out, in;
    ASSERT_EQ(Load(full, kSquare + "f 1/1/2 2/1/1 3/1/1\nf 1/1/2 3/1/1 4/1/1\n"), 0);
    EXPECT_EQ(full.m_numVertices, 6u);
    EXPECT_EQ(length(full.m_normals[0] - Vector3(0, 1, 0)), 0.0f) << "normal index, not position index";
    // A quad fanned from its first corner; "p//n" and relative indices name the same corners.
    ASSERT_EQ(Load(quad, kSquare + "f -4//-1 -3//1 3//1 4//1\n"), 0);
    ASSERT_EQ(quad.m_vertices.size(), full.m_vertices.size());
    for (size_t i = 0; i < full.m_vertices.size(); ++i)
        EXPECT_EQ(length(full.m_vertices[i] - quad.m_vertices[i]) + length(full.m_normals[i] - quad.m_normals[i]), 0.0f)
            << "corner " << i;

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
    EXPECT_EQ(copy.getPoints().size(), 8u);
    EXPECT_NEAR(calculateVolume(&copy), 1.0f, 1e-6f);  // the render mesh came along
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

const double kPi = 3.14159265358979323846;
// Float sums over a few thousand triangles: relative error well below this.
const double kFloatSumTolerance = 2e-5;

// The models are committed: a missing one fails the test.
void LoadModel(const std::string& name, PackingGeometry& out) {
    const std::string path = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name + ".obj";
    ASSERT_EQ(LoadOBJ(&out, path.c_str()), 0) << path;
    ASSERT_GT(out.m_numVertices, 0u) << path;
}

// The mesh's vertices lie on the ellipsoid with semi-axes (a, b, c); scaled to the unit sphere
// it is a convex polyhedron containing the ball of radius rho = the smallest face-plane
// distance, so (rho^3 V, Rmax^3 V) brackets its volume.
void ExpectEllipsoid(const std::string& name, double a, double b, double c) {
    PackingGeometry g;
    ASSERT_NO_FATAL_FAILURE(LoadModel(name, g));
    const Vector3 s(float(1 / a), float(1 / b), float(1 / c));
    double rho = 1e9, rmax = 0;
    for (size_t k = 0; k < g.m_vertices.size(); k += 3) {
        const Vector3 p0 = mulPerElem(g.m_vertices[k], s), p1 = mulPerElem(g.m_vertices[k + 1], s),
                      p2 = mulPerElem(g.m_vertices[k + 2], s);
        const Vector3 n = normalize(cross(p1 - p0, p2 - p0));
        rho = std::min(rho, double(std::fabs(dot(n, p0))));
        rmax = std::max({rmax, double(length(p0)), double(length(p1)), double(length(p2))});
    }
    EXPECT_NEAR(rmax, 1.0, 1e-6) << name << ": vertices on the surface";
    const double v = 4.0 / 3.0 * kPi * a * b * c;
    const double vol = calculateVolume(&g);
    EXPECT_GT(vol, v * rho * rho * rho * (1 - kFloatSumTolerance)) << name;
    EXPECT_LT(vol, v * rmax * rmax * rmax * (1 + kFloatSumTolerance)) << name;
    EXPECT_GT(vol, 0.95 * v) << name << ": rho " << rho;
}

// Angular segments of a surface of revolution about z: distinct angles among the vertices.
int Segments(const PackingGeometry& g) {
    std::vector<long> angles;
    for (const Vector3& p : g.m_vertices) angles.push_back(std::lround(std::atan2(p.getY(), p.getX()) * 1e4));
    std::sort(angles.begin(), angles.end());
    angles.erase(std::unique(angles.begin(), angles.end()), angles.end());
    return int(angles.size());
}

// An n-gon prism inscribed in the cylinder: (n / 2) sin(2 pi / n) r^2 h.
void ExpectCylinder(const std::string& name, double r, double h) {
    PackingGeometry g;
    ASSERT_NO_FATAL_FAILURE(LoadModel(name, g));
    const int n = Segments(g);
    ASSERT_GE(n, 8) << name;
    const double expected = n / 2.0 * std::sin(2 * kPi / n) * r * r * h;
    EXPECT_NEAR(calculateVolume(&g), expected, expected * kFloatSumTolerance) << name << " n=" << n;
    EXPECT_NEAR(calculateVolume(&g), kPi * r * r * h, kPi * r * r * h * 0.03)
        << name << ": coarse meshes lose up to 3%";
}

TEST(ModelVolumes, PolyhedraAreExactAndCurvedShapesWithinTheirTessellation) {
    // The tetrahedron's label rounds its edge 0.7 * sqrt(2) to 0.99.
    const std::tuple<const char*, double, double> polyhedra[] = {
        {"cube", 0.512, 1e-6},
        {"box", 216.0, 216.0 * 1e-6},
        {"tetrahedron", 0.99 * 0.99 * 0.99 / (6 * std::sqrt(2.0)), 2e-4 * 0.1144}};
    for (const auto& [name, volume, tolerance] : polyhedra) {
        PackingGeometry g;
        ASSERT_NO_FATAL_FAILURE(LoadModel(name, g));
        EXPECT_NEAR(calculateVolume(&g), volume, tolerance) << name;
    }
    ExpectEllipsoid("sphere", 0.5, 0.5, 0.5);
    ExpectEllipsoid("sphere_l", 0.5, 0.5, 0.5);
    ExpectEllipsoid("sphere_container", 3.5, 3.5, 3.5);
    ExpectEllipsoid("mm", 0.5, 0.5, 0.25);
    ExpectEllipsoid("mm_l", 0.5, 0.5, 0.25);
    ExpectEllipsoid("prolate", 0.25, 0.25, 0.5);
    ExpectCylinder("cylinder", 0.4, 0.8);
    ExpectCylinder("cylinder_l", 0.4, 0.8);
    ExpectCylinder("cylinder_container", 3.0, 6.0);
}

// n major by m minor segments: n sin(2 pi / n) * (m / 2) r^2 sin(2 pi / m) * R (the wedge volume
// of a regular m-gon profile whose centroid sits at R).
TEST(ModelVolumes, Torus) {
    PackingGeometry g;
    ASSERT_NO_FATAL_FAILURE(LoadModel("torus", g));
    const double R = 0.35, r = 0.15;
    const int n = Segments(g);
    // Profile corners: distinct (radius, z) pairs in the profile plane.
    std::vector<std::pair<long, long>> profile;
    for (const Vector3& p : g.m_vertices)
        profile.emplace_back(std::lround(std::hypot(p.getX(), p.getY()) * 1e5), std::lround(p.getZ() * 1e5));
    std::sort(profile.begin(), profile.end());
    profile.erase(std::unique(profile.begin(), profile.end()), profile.end());
    const int m = int(profile.size());
    ASSERT_EQ(size_t(n) * size_t(m) * 6, g.m_vertices.size()) << "n=" << n << " m=" << m;
    const double expected = n * std::sin(2 * kPi / n) * (m / 2.0) * r * r * std::sin(2 * kPi / m) * R;
    EXPECT_NEAR(calculateVolume(&g), expected, expected * kFloatSumTolerance) << "n=" << n << " m=" << m;
    EXPECT_NEAR(calculateVolume(&g), 2 * kPi * kPi * R * r * r, 0.03 * 2 * kPi * kPi * R * r * r);
}

}  // namespace
