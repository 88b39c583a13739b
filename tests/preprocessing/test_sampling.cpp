// Interior point sampling: determinism across worker counts, soundness and completeness against
// the exact container mesh, and the reference-volume modes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "collision/ColGeometry.h"
#include "collision/ExtraData.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingObjectInfo.h"
#include "preprocessing/Sampling.h"
#include "support/TestScene.h"

using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace {

constexpr float kFourPi = 12.566371f;

// Geometries made for one test, with their trees (nothing in the product frees meshes).
struct Owned {
    std::vector<PackingGeometry*> meshes;
    PackingGeometry* operator()(PackingGeometry* g) {
        meshes.push_back(g);
        return g;
    }
    ~Owned() {
        for (PackingGeometry* g : meshes) {
            delete g->m_extraData;
            delete g;
        }
    }
};

float RadiusOf(float volume) { return std::cbrt(3.0f * volume / kFourPi); }

std::vector<Vector3> Sample(int workers, PackingGeometry* container, float volume, float stepFactor,
                            std::vector<Vector3> points = {}) {
    PackingGeometry probe;
    testing::internal::CaptureStdout();
    Sampling(workers, container, &probe, volume, stepFactor, points);
    testing::internal::GetCapturedStdout();
    delete probe.m_extraData;
    return points;
}

// A closed convex mesh, triangles prepared once.
struct ConvexMesh {
    struct Tri {
        double v[3][3];
        double n[3];  // oriented so the mesh's centre lies on the inner side
    };
    std::vector<Tri> tris;

    explicit ConvexMesh(const col::ColGeometry& mesh) {
        const auto& pts = mesh.getPoints();
        double centre[3] = {0, 0, 0};
        for (const Point3& q : pts)
            for (int i = 0; i < 3; ++i) centre[i] += q[i] / static_cast<double>(pts.size());
        for (const auto& poly : mesh.getPrimitives()) {
            for (size_t k = 1; k + 1 < poly.size(); ++k) {
                Tri t;
                const unsigned idx[3] = {poly[0], poly[k], poly[k + 1]};
                for (int v = 0; v < 3; ++v)
                    for (int i = 0; i < 3; ++i) t.v[v][i] = pts[idx[v]][i];
                double e1[3], e2[3];
                for (int i = 0; i < 3; ++i) e1[i] = t.v[1][i] - t.v[0][i], e2[i] = t.v[2][i] - t.v[0][i];
                t.n[0] = e1[1] * e2[2] - e1[2] * e2[1];
                t.n[1] = e1[2] * e2[0] - e1[0] * e2[2];
                t.n[2] = e1[0] * e2[1] - e1[1] * e2[0];
                double sc = 0;
                for (int i = 0; i < 3; ++i) sc += t.n[i] * (centre[i] - t.v[0][i]);
                if (sc > 0)
                    for (double& c : t.n) c = -c;
                tris.push_back(t);
            }
        }
    }

    // Distance of a point inside to the surface (the nearest face plane, exact for a convex mesh);
    // negative outside.
    double InsideDepth(const Vector3& p) const {
        double depth = INFINITY;
        for (const Tri& t : tris) {
            double sp = 0, nn = 0;
            for (int i = 0; i < 3; ++i) sp += t.n[i] * (p[i] - t.v[0][i]), nn += t.n[i] * t.n[i];
            depth = std::min(depth, -sp / std::sqrt(nn));
        }
        return depth;
    }
};

}  // namespace

TEST(Sampling, AnyWorkerCountGivesTheSamePointsInTheSameOrder) {
    Owned owned;
    PackingGeometry* container = owned(testscene::MakeBoxContainer(2.0f));
    const float volume = 0.2f;
    const std::vector<Vector3> one = Sample(1, container, volume, 0.7f);
    const std::vector<Vector3> eight = Sample(8, container, volume, 0.7f);
    const std::vector<Vector3> zero = Sample(0, container, volume, 0.7f);  // treated as one worker
    ASSERT_GT(one.size(), 100u);
    ASSERT_EQ(one.size(), eight.size());
    ASSERT_EQ(one.size(), zero.size());
    for (size_t i = 0; i < one.size(); ++i) {
        EXPECT_EQ(one[i].getX(), eight[i].getX());
        EXPECT_EQ(one[i].getY(), eight[i].getY());
        EXPECT_EQ(one[i].getZ(), eight[i].getZ());
    }
    // x-major, then y, then z ascending.
    EXPECT_TRUE(std::is_sorted(one.begin(), one.end(), [](const Vector3& a, const Vector3& b) {
        if (a.getX() != b.getX()) return a.getX() < b.getX();
        if (a.getY() != b.getY()) return a.getY() < b.getY();
        return a.getZ() < b.getZ();
    }));
    // The box container's tree is flat walls: the accepted region is the box shrunk by r.
    const float r = RadiusOf(volume);
    for (const Vector3& p : one) EXPECT_LE(maxElem(absPerElem(p)), 2.0f - r + 1e-3f);
    const float step = 0.7f * 2.0f * r;
    int expected = 0;
    for (float x = -2.0f; x < 2.0f; x += step)
        for (float y = -2.0f; y < 2.0f; y += step)
            for (float z = -2.0f; z < 2.0f; z += step)
                if (std::max({std::fabs(x), std::fabs(y), std::fabs(z)}) < 2.0f - r - 1e-3f) ++expected;
    EXPECT_EQ(static_cast<int>(one.size()), expected);
}

TEST(Sampling, CoarseStepTestsOnlyTheLowerCornerAndPointsAreAppended) {
    Owned owned;
    PackingGeometry* container = owned(testscene::MakeBoxContainer(2.0f));
    // A probe of radius 0.5 with a step of 100 tests only (-2, -2, -2), which touches the walls.
    std::vector<Vector3> points = Sample(2, container, kFourPi / 3.0f * 0.125f, 100.0f, {Vector3(7, 8, 9)});
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].getX(), 7.0f);

    // A container whose walls are far beyond its box: the single corner point is accepted.
    PackingGeometry* roomy = owned(testscene::MakeBox(1.0f, 1.0f, 1.0f));
    roomy->m_extraData = new col::ExtraData_SphereTree(Point3(100.0f, 0.0f, 0.0f), 1.0f);
    points = Sample(3, roomy, 0.1f, 100.0f, {Vector3(7, 8, 9)});
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].getX(), -1.0f);
    EXPECT_EQ(points[1].getY(), -1.0f);
    EXPECT_EQ(points[1].getZ(), -1.0f);
}

TEST(Sampling, PrintsTheProbeSettings) {
    Owned owned;
    PackingGeometry* container = owned(testscene::MakeBoxContainer(1.0f));
    PackingGeometry probe;
    std::vector<Vector3> points;
    testing::internal::CaptureStdout();
    Sampling(1, container, &probe, 0.5f, 2.0f, points);
    const std::string out = testing::internal::GetCapturedStdout();
    std::ostringstream expected;
    expected << "Volume for preprocessing: 0.5\nStepSize for preprocessing: " << 2.0f * 2.0f * RadiusOf(0.5f)
             << "\nTime init: ";
    EXPECT_EQ(out.rfind(expected.str(), 0), 0u) << out;
    EXPECT_NE(out.find("\nTime check: "), std::string::npos);
    // The probe carries exactly one sphere of the reference radius.
    auto* tree = dynamic_cast<col::ExtraData_SphereTree*>(probe.m_extraData);
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->tree()->nodes().size(), 1u);
    EXPECT_FLOAT_EQ(tree->tree()->node(0).radius, RadiusOf(0.5f));
    delete tree;
}

TEST(SamplingReferenceVolume, SmallestAverageAndNumber) {
    std::vector<PackingObjectInfo> types{testscene::MakeType("a", 75.0f, 0.5f, 0.5f),
                                         testscene::MakeType("b", 25.0f, 0.25f, 0.25f)};
    Owned owned;
    for (PackingObjectInfo& t : types) owned(t.geometry);
    // Make "a" a 1 x 2 x 4 box: box volume 8, smallest extent cubed 1, ratio 0.125.
    const float lo[3] = {-0.5f, -1.0f, -2.0f}, hi[3] = {0.5f, 1.0f, 2.0f};
    types[0].geometry->setBBox(lo, hi);
    types[0].volume = 6.0f;
    float v = 0;
    ASSERT_TRUE(SamplingReferenceVolume("smallest", types, 0.5f, v));
    EXPECT_FLOAT_EQ(v, 0.125f);
    ASSERT_TRUE(SamplingReferenceVolume("0.25", types, 0.5f, v));
    EXPECT_FLOAT_EQ(v, 0.25f);

    testing::internal::CaptureStdout();
    ASSERT_TRUE(SamplingReferenceVolume("average", types, 0.75f, v));
    const std::string out = testing::internal::GetCapturedStdout();
    // 0.75 * 6 * 0.125 + 0.25 * 0.125 * 1
    EXPECT_EQ(out, "a 8 1 0.125\nb 0.125 0.125 1\nWeighted Average Volume: 0.59375\nConfig Step Size: 0.75\n");
    EXPECT_FLOAT_EQ(v, 0.59375f);
    EXPECT_FLOAT_EQ(types[0].extentRatio, 0.125f);
    EXPECT_FLOAT_EQ(types[1].extentRatio, 1.0f);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(SamplingReferenceVolume("large", types, 0.5f, v));
    EXPECT_FALSE(SamplingReferenceVolume("", types, 0.5f, v));
    std::vector<PackingObjectInfo> none;
    EXPECT_FALSE(SamplingReferenceVolume("smallest", none, 0.5f, v));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
}

// The bundled containers with their generated sphere trees: every accepted point is at least
// the probe radius inside the mesh, and every grid point comfortably inside is accepted.
class BundledContainer : public testing::TestWithParam<const char*> {};

TEST_P(BundledContainer, AcceptedPointsAreInsideAtLeastOneRadiusFromTheWall) {
    const std::string base = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + GetParam();
    Owned owned;
    auto* container = owned(new PackingGeometry());
    ASSERT_EQ(col::loadGeometryFromFile(container, (base + ".obj").c_str()), 0);
    container->m_extraData = new col::ExtraData_SphereTree((base + ".spheres").c_str());
    ASSERT_TRUE(dynamic_cast<col::ExtraData_SphereTree*>(container->m_extraData)->isValid());

    float lo[3], hi[3];
    container->updateBBox();
    container->getBBox(lo, hi);
    const float size = hi[0] - lo[0];
    const float r = 0.08f * size;
    const float volume = kFourPi / 3.0f * r * r * r;
    const float stepFactor = 0.5f;
    const std::vector<Vector3> points = Sample(2, container, volume, stepFactor);
    ASSERT_FALSE(points.empty());
    const ConvexMesh mesh(*container);

    size_t accepted = 0;
    for (const Vector3& p : points) {
        EXPECT_GE(mesh.InsideDepth(p), r * (1 - 1e-4)) << p[0] << " " << p[1] << " " << p[2];
        ++accepted;
    }
    // Completeness: grid points at least r plus a small allowance inside are all accepted (the
    // allowance covers the wall spheres' intrusion and the tessellation).
    const float step = stepFactor * 2 * r;
    size_t deepInside = 0;
    for (float x = lo[0]; x < hi[0]; x += step)
        for (float y = lo[1]; y < hi[1]; y += step)
            for (float z = lo[2]; z < hi[2]; z += step)
                if (mesh.InsideDepth(Vector3(x, y, z)) > r + 0.03 * size) ++deepInside;
    EXPECT_GE(accepted, deepInside);
    // And the count matches the inner region eroded by r to within the grid's resolution.
    const double cell = static_cast<double>(step) * step * step;
    double erodedVolume = 0;
    const double ex = hi[0] - lo[0], ey = hi[1] - lo[1], ez = hi[2] - lo[2];
    const std::string name = GetParam();
    if (name == "box")
        erodedVolume = (ex - 2 * r) * (ey - 2 * r) * (ez - 2 * r);
    else if (name == "sphere_container")
        erodedVolume = 4.0 / 3.0 * M_PI * std::pow(ex / 2 - r, 3);
    else {
        // Cylinder: its axis is the extent that differs from the other two.
        double e[3] = {ex, ey, ez};
        std::sort(e, e + 3);
        const double d = std::fabs(e[0] - e[1]) < 1e-3 ? e[0] : e[2];
        const double h = std::fabs(e[0] - e[1]) < 1e-3 ? e[2] : e[0];
        erodedVolume = M_PI * std::pow(d / 2 - r, 2) * (h - 2 * r);
    }
    EXPECT_NEAR(accepted * cell, erodedVolume, 0.15 * erodedVolume);
}

INSTANTIATE_TEST_SUITE_P(Models, BundledContainer, testing::Values("box", "cylinder_container", "sphere_container"));
