// Interior point sampling: determinism across worker counts, soundness and completeness against
// the exact container mesh, the grid size start-up predicts, and the reference-volume modes; and
// the interior point file: what loads, what is refused, and that writing never leaves a broken
// file behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "collision/ColGeometry.h"
#include "collision/ExtraData.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingObjectInfo.h"
#include "preprocessing/PointFile.h"
#include "preprocessing/Sampling.h"
#include "support/TestScene.h"
#include "tools/spheres/Vec3.h"

using spheres::Vec3;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace {

constexpr float kFourPi = 12.566371f;

// A mesh made for one test, freed with its tree (nothing in the product frees meshes).
struct Mesh : std::unique_ptr<PackingGeometry, void (*)(PackingGeometry*)> {
    explicit Mesh(PackingGeometry* g) : unique_ptr(g, testscene::FreeMesh) {}
};

void ExpectPoints(const std::vector<Vector3>& got, const std::vector<Vector3>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(got[i][k], want[i][k]) << i;
}

float RadiusOf(float volume) { return std::cbrt(3.0f * volume / kFourPi); }

// The points sampling appends to `points`; the probe must carry exactly one sphere of the
// reference radius. `out` receives what sampling prints.
std::vector<Vector3> Sample(int workers, PackingGeometry* container, float volume, float stepFactor,
                            std::vector<Vector3> points = {}, std::string* out = nullptr) {
    PackingGeometry probe;
    const std::string printed = StdoutOf([&] { Sampling(workers, container, &probe, volume, stepFactor, points); });
    if (out != nullptr) *out = printed;
    const auto* tree = dynamic_cast<col::ExtraData_SphereTree*>(probe.m_extraData);
    EXPECT_TRUE(tree != nullptr && tree->tree()->nodes().size() == 1u);
    EXPECT_FLOAT_EQ(tree ? tree->tree()->node(0).radius : 0.0f, RadiusOf(volume));
    delete probe.m_extraData;
    return points;
}

// The face planes of a closed convex mesh, in double, with unit normals towards its centre.
struct ConvexMesh {
    std::vector<std::pair<Vec3, double>> planes;  // depth of p: n . p + d

    explicit ConvexMesh(const col::ColGeometry& mesh) {
        const auto& pts = mesh.getPoints();
        auto at = [&](unsigned i) { return Vec3(pts[i][0], pts[i][1], pts[i][2]); };
        Vec3 centre;
        for (unsigned i = 0; i < pts.size(); ++i) centre += at(i) / double(pts.size());
        for (const auto& poly : mesh.getPrimitives())
            for (size_t k = 1; k + 1 < poly.size(); ++k) {
                const Vec3 a = at(poly[0]);
                Vec3 n = normalized(cross(at(poly[k]) - a, at(poly[k + 1]) - a));
                if (length(n) == 0) continue;  // a degenerate triangle bounds nothing
                if (dot(n, centre - a) < 0) n = -n;
                planes.emplace_back(n, -dot(n, a));
            }
    }

    // Distance of a point inside to the surface (exact for a convex mesh); negative outside.
    double InsideDepth(const Vector3& p) const {
        double depth = INFINITY;
        for (const auto& [n, d] : planes) depth = std::min(depth, dot(n, Vec3(p[0], p[1], p[2])) + d);
        return depth;
    }
};

}  // namespace

TEST(Sampling, AnyWorkerCountGivesTheSamePointsInTheSameOrder) {
    const Mesh container(testscene::MakeBoxContainer(2.0f));
    const float volume = 0.2f, r = RadiusOf(volume), step = 0.7f * 2.0f * r;
    std::string out;
    const std::vector<Vector3> one = Sample(1, container.get(), volume, 0.7f, {}, &out);
    const std::vector<Vector3> eight = Sample(8, container.get(), volume, 0.7f);
    const std::vector<Vector3> zero = Sample(0, container.get(), volume, 0.7f);  // treated as one worker
    ASSERT_GT(one.size(), 100u);
    ASSERT_EQ(one.size(), zero.size());
    ExpectPoints(eight, one);
    // x-major, then y, then z ascending.
    EXPECT_TRUE(std::is_sorted(one.begin(), one.end(), [](const Vector3& a, const Vector3& b) {
        return std::tuple(a[0], a[1], a[2]) < std::tuple(b[0], b[1], b[2]);
    }));
    // The box container's tree is flat walls: the accepted region is the box shrunk by r.
    for (const Vector3& p : one) EXPECT_LE(maxElem(absPerElem(p)), 2.0f - r + 1e-3f);
    int expected = 0;
    for (float x = -2.0f; x < 2.0f; x += step)
        for (float y = -2.0f; y < 2.0f; y += step)
            for (float z = -2.0f; z < 2.0f; z += step)
                expected += std::max({std::fabs(x), std::fabs(y), std::fabs(z)}) < 2.0f - r - 1e-3f;
    EXPECT_EQ(static_cast<int>(one.size()), expected);

    std::ostringstream settings;
    settings << "Volume for preprocessing: 0.2\nStepSize for preprocessing: " << step << "\nTime init: ";
    EXPECT_EQ(out.rfind(settings.str(), 0), 0u) << out;
    EXPECT_NE(out.find("\nTime check: "), std::string::npos);

    // A probe of radius 0.5 with a step of 100 tests only (-2, -2, -2), which touches the walls;
    // the points given are kept.
    const std::vector<Vector3> coarse = Sample(2, container.get(), kFourPi / 3.0f * 0.125f, 100.0f, {Vector3(7, 8, 9)});
    ASSERT_EQ(coarse.size(), 1u);
    EXPECT_EQ(coarse[0].getX(), 7.0f);
}

TEST(Sampling, GridThatStartUpPredictsIsWhatSamplingTests) {
    // A box container whose tree is one tiny sphere far away: every point is accepted.
    const Mesh container(testscene::MakeBox(2.0f, 1.0f, 0.5f));
    container->m_extraData = new col::ExtraData_SphereTree(Point3(100.0f, 100.0f, 100.0f), 0.01f);
    const float volume = kFourPi / 3.0f * 0.125f;  // probe radius 0.5: the step is the factor itself
    ASSERT_NEAR(SamplingProbeRadius(volume), 0.5f, 1e-6f);
    float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
    container->updateBBox();
    container->getBBox(min, max);
    // Steps that divide the extents, that do not, and one larger than the box.
    for (float step : {0.25f, 0.3f, 0.5f, 0.7f, 1.3f, 5.0f}) {
        const std::vector<Vector3> points = Sample(2, container.get(), volume, step);
        EXPECT_EQ(SamplingGridPoints(min, max, step * 2.0f * SamplingProbeRadius(volume)), double(points.size()))
            << "step " << step;
    }
    // A step beyond the box tests only its lower corner.
    const std::vector<Vector3> corner = Sample(3, container.get(), 0.1f, 100.0f, {Vector3(7, 8, 9)});
    ASSERT_EQ(corner.size(), 2u);
    const float lower[3] = {-2.0f, -1.0f, -0.5f};
    for (int k = 0; k < 3; ++k) EXPECT_EQ(corner[1][k], lower[k]);

    const float flat[3] = {max[0], max[1], min[2]};
    EXPECT_EQ(SamplingGridPoints(min, flat, 0.5f), 0.0) << "a flat box gives no slices";
    EXPECT_TRUE(std::isinf(SamplingGridPoints(min, max, 0.0f)));
    EXPECT_GT(SamplingGridPoints(min, max, 1e-6f), kMaxSamplingGridPoints);
}

TEST(SamplingReferenceVolume, SmallestAverageAndNumber) {
    std::vector<PackingObjectInfo> types{testscene::MakeType("a", 75.0f, 0.5f, 0.5f),
                                         testscene::MakeType("b", 25.0f, 0.25f, 0.25f)};
    const Mesh a(types[0].geometry), b(types[1].geometry);
    // Make "a" a 1 x 2 x 4 box: box volume 8, smallest extent cubed 1, ratio 0.125.
    const float lo[3] = {-0.5f, -1.0f, -2.0f}, hi[3] = {0.5f, 1.0f, 2.0f};
    types[0].geometry->setBBox(lo, hi);
    types[0].volume = 6.0f;
    float v = 0;
    ASSERT_TRUE(SamplingReferenceVolume("smallest", types, 0.5f, v));
    EXPECT_FLOAT_EQ(v, 0.125f);
    ASSERT_TRUE(SamplingReferenceVolume("0.25", types, 0.5f, v));
    EXPECT_FLOAT_EQ(v, 0.25f);

    // 0.75 * 6 * 0.125 + 0.25 * 0.125 * 1
    EXPECT_EQ(StdoutOf([&] { ASSERT_TRUE(SamplingReferenceVolume("average", types, 0.75f, v)); }),
              "a 8 1 0.125\nb 0.125 0.125 1\nWeighted Average Volume: 0.59375\nConfig Step Size: 0.75\n");
    EXPECT_FLOAT_EQ(v, 0.59375f);
    EXPECT_FLOAT_EQ(types[0].extentRatio, 0.125f);
    EXPECT_FLOAT_EQ(types[1].extentRatio, 1.0f);

    std::vector<PackingObjectInfo> none;
    const std::string err = StderrOf([&] {
        EXPECT_FALSE(SamplingReferenceVolume("large", types, 0.5f, v));
        EXPECT_FALSE(SamplingReferenceVolume("", types, 0.5f, v));
        EXPECT_FALSE(SamplingReferenceVolume("smallest", none, 0.5f, v));
    });
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
}

// The bundled containers with their generated sphere trees: every accepted point is at least
// the probe radius inside the mesh, and every grid point comfortably inside is accepted.
class BundledContainer : public testing::TestWithParam<const char*> {};

TEST_P(BundledContainer, AcceptedPointsAreInsideAtLeastOneRadiusFromTheWall) {
    const std::string base = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + GetParam();
    const Mesh container(new PackingGeometry());
    ASSERT_EQ(col::loadGeometryFromFile(container.get(), (base + ".obj").c_str()), 0);
    container->m_extraData = new col::ExtraData_SphereTree((base + ".spheres").c_str());
    ASSERT_TRUE(dynamic_cast<col::ExtraData_SphereTree*>(container->m_extraData)->isValid());
    float lo[3], hi[3];
    container->updateBBox();
    container->getBBox(lo, hi);
    const float size = hi[0] - lo[0], r = 0.08f * size, stepFactor = 0.5f;
    const std::vector<Vector3> points = Sample(2, container.get(), kFourPi / 3.0f * r * r * r, stepFactor);
    ASSERT_FALSE(points.empty());
    const ConvexMesh mesh(*container);
    for (const Vector3& p : points)
        EXPECT_GE(mesh.InsideDepth(p), r * (1 - 1e-4)) << p[0] << " " << p[1] << " " << p[2];
    // Completeness: grid points at least r plus a small allowance inside are all accepted (the
    // allowance covers the wall spheres' intrusion and the tessellation).
    const float step = stepFactor * 2 * r;
    size_t deepInside = 0;
    for (float x = lo[0]; x < hi[0]; x += step)
        for (float y = lo[1]; y < hi[1]; y += step)
            for (float z = lo[2]; z < hi[2]; z += step)
                deepInside += mesh.InsideDepth(Vector3(x, y, z)) > r + 0.03 * size;
    EXPECT_GE(points.size(), deepInside);
    // And the count matches the inner region eroded by r to within the grid's resolution; the
    // half extents less r are a, b, c, and the cylinder's axis is z.
    const double a = (hi[0] - lo[0]) / 2 - r, b = (hi[1] - lo[1]) / 2 - r, c = (hi[2] - lo[2]) / 2 - r;
    const std::string name = GetParam();
    const double eroded = name == "box"                ? 8 * a * b * c
                          : name == "sphere_container" ? 4.0 / 3.0 * M_PI * a * b * c
                                                       : M_PI * a * b * 2 * c;
    EXPECT_NEAR(points.size() * double(step) * step * step, eroded, 0.15 * eroded);
}

INSTANTIATE_TEST_SUITE_P(Models, BundledContainer, testing::Values("box", "cylinder_container", "sphere_container"));

TEST(PointFile, LoadsWholeFilesOnlyNamesTheDamagedLineAndWritesAtomically) {
    const std::string dir = MakeTempDir("points");
    std::string path = dir + "/points.txt";
    const Vector3 old(9, 9, 9);  // loading appends; a refused file adds nothing
    const struct {
        std::string content;
        std::vector<Vector3> want;
        std::string err;  ///< empty: loads
    } cases[] = {
        {"1 2 3\n4 5 6\n", {old, Vector3(1, 2, 3), Vector3(4, 5, 6)}, ""},
        {"1 2 3\n4 5 6", {old, Vector3(1, 2, 3), Vector3(4, 5, 6)}, ""},
        {"1e-3 -2.5 3\r\n\n7 8 9\n", {old, Vector3(1e-3f, -2.5f, 3), Vector3(7, 8, 9)}, ""},  // blank lines, CRLF
        {"", {old}, ""},  // an empty file loads (and sampling is skipped)
        {"1 2 3\n4 5\n", {old}, ":2: expected three numbers \"x y z\"; the point file is not used\n"},
        {"1 2 3\n# comment\n", {old}, ":2: expected three numbers"},
        {"1 2 3\n" + std::string(3000, '1') + "\n", {old}, ":2: line longer than 2047 characters"},
    };
    for (const auto& c : cases) {
        WriteFile(path, c.content);
        std::vector<Vector3> points{old};
        const std::string err = StderrOf([&] { EXPECT_EQ(LoadPointFile(path, points), c.err.empty() ? 0 : -1); });
        ExpectPoints(points, c.want);
        EXPECT_EQ(c.err.empty() ? err : err.substr(0, path.size() + c.err.size()), c.err.empty() ? "" : path + c.err);
    }
    std::vector<Vector3> points;
    std::string missing = "/nonexistent/points.txt";
    EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(LoadPointFile(missing, points), -1); }),
              "Preprocessing file not found: /nonexistent/points.txt\n");

    // Writing round-trips; an empty list keeps the file; a failed write leaves nothing behind.
    points = {Vector3(0.125f, -3, 1e-7f), Vector3(123456, 2, 3)};
    WritePointFile(path, points);
    EXPECT_EQ(ReadFile(path), "0.125 -3 1e-07\n123456 2 3\n");
    std::vector<Vector3> back;
    ASSERT_EQ(LoadPointFile(path, back), 0);
    ExpectPoints(back, points);

    std::vector<Vector3> empty;
    EXPECT_EQ(StdoutOf([&] { WritePointFile(path, empty); }), "Point array is empty!\n");
    EXPECT_EQ(ReadFile(path), "0.125 -3 1e-07\n123456 2 3\n");

    const std::string err = StderrOf([&] { WritePointFile(dir + "/no/such/dir/points.txt", points); });
    EXPECT_NE(err.find("Cannot write point file"), std::string::npos);
    size_t leftovers = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) leftovers += e.path().filename() != "points.txt";
    EXPECT_EQ(leftovers, 0u) << "no temporary file is left behind";
}
