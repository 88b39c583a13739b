// calculateVolume on the bundled models against their analytic volumes. Each tessellated
// shape is bounded from the mesh's own geometry (not from the volume formula), so the check is
// as tight as the tessellation allows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "geometry/PackingGeometry.h"

using Vectormath::Aos::Vector3;

namespace {

const double kPi = 3.14159265358979323846;
// Float sums over a few thousand triangles: relative error well below this.
const double kFloatSumTolerance = 2e-5;

// The models are committed: a missing one fails the test.
void Load(const std::string& name, PackingGeometry& out) {
    const std::string path = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name + ".obj";
    ASSERT_EQ(LoadOBJ(&out, path.c_str()), 0) << path;
    ASSERT_GT(out.m_numVertices, 0u) << path;
}

// The mesh's vertices lie on the ellipsoid with semi-axes (a, b, c); scaled to the unit sphere
// it is a convex polyhedron containing the ball of radius rho = the smallest face-plane
// distance, so (rho^3 V, Rmax^3 V) brackets its volume.
void ExpectEllipsoid(const std::string& name, double a, double b, double c) {
    PackingGeometry g;
    ASSERT_NO_FATAL_FAILURE(Load(name, g));
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
    ASSERT_NO_FATAL_FAILURE(Load(name, g));
    const int n = Segments(g);
    ASSERT_GE(n, 8) << name;
    const double expected = n / 2.0 * std::sin(2 * kPi / n) * r * r * h;
    EXPECT_NEAR(calculateVolume(&g), expected, expected * kFloatSumTolerance) << name << " n=" << n;
    EXPECT_NEAR(calculateVolume(&g), kPi * r * r * h, kPi * r * r * h * 0.03)
        << name << ": coarse meshes lose up to 3%";
}

TEST(ModelVolumes, PolyhedraAreExact) {
    struct Case {
        const char* name;
        double volume, tolerance;
    };
    // The tetrahedron's label rounds its edge 0.7 * sqrt(2) to 0.99.
    const Case cases[] = {{"cube", 0.512, 1e-6},
                          {"box", 216.0, 216.0 * 1e-6},
                          {"tetrahedron", 0.99 * 0.99 * 0.99 / (6 * std::sqrt(2.0)), 2e-4 * 0.1144}};
    for (const Case& c : cases) {
        PackingGeometry g;
        ASSERT_NO_FATAL_FAILURE(Load(c.name, g));
        EXPECT_NEAR(calculateVolume(&g), c.volume, c.tolerance) << c.name;
    }
}

TEST(ModelVolumes, SpheresAndEllipsoids) {
    ExpectEllipsoid("sphere", 0.5, 0.5, 0.5);
    ExpectEllipsoid("sphere_l", 0.5, 0.5, 0.5);
    ExpectEllipsoid("sphere_container", 3.5, 3.5, 3.5);
    ExpectEllipsoid("mm", 0.5, 0.5, 0.25);
    ExpectEllipsoid("mm_l", 0.5, 0.5, 0.25);
    ExpectEllipsoid("prolate", 0.25, 0.25, 0.5);
}

TEST(ModelVolumes, Cylinders) {
    ExpectCylinder("cylinder", 0.4, 0.8);
    ExpectCylinder("cylinder_l", 0.4, 0.8);
    ExpectCylinder("cylinder_container", 3.0, 6.0);
}

// n major by m minor segments: n sin(2 pi / n) * (m / 2) r^2 sin(2 pi / m) * R (the wedge volume
// of a regular m-gon profile whose centroid sits at R).
TEST(ModelVolumes, Torus) {
    PackingGeometry g;
    ASSERT_NO_FATAL_FAILURE(Load("torus", g));
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
