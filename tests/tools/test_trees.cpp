// Checks the committed trees under models/ against the meshes they were built from, with an
// oracle that shares no code with the builder's distance and inside tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>

#include "TreeFile.h"

using namespace toolstest;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Loaded {
    spheres::TriMesh mesh;
    TreeFile tree;
    std::vector<FileNode> leaves;
};

// The tree of an object is built from the mesh the program loads: "_l.obj" when present.
Loaded Load(const std::string& name, bool preferCoarse) {
    Loaded l;
    std::string obj = ModelsDir() + "/" + name + "_l.obj";
    if (!preferCoarse || !std::ifstream(obj)) obj = ModelsDir() + "/" + name + ".obj";
    EXPECT_TRUE(spheres::ReadObj(obj, l.mesh).ok) << obj;
    // Every committed tree loads in the collision library, which checks the format's rules.
    EXPECT_EQ(ReadTree(ModelsDir() + "/" + name + ".spheres", l.tree), "");
    for (const FileNode& n : l.tree.nodes)
        if (n.count == 0) l.leaves.push_back(n);
    return l;
}

class ObjectTree : public ::testing::TestWithParam<const char*> {};

TEST_P(ObjectTree, LeavesInsideDisjointAndConesValid) {
    const Loaded l = Load(GetParam(), true);
    ASSERT_EQ(l.tree.kind, "object");
    ASSERT_FALSE(l.leaves.empty());
    double vol = 0.0;
    for (const FileNode& s : l.leaves) {
        ASSERT_GT(WindingNumber(l.mesh, s.c), 0.5) << "leaf centre outside the mesh";
        // Output is rounded to nine digits; allow a few units of that on top.
        EXPECT_LE(s.r, BruteDistance(l.mesh, s.c) + 1e-6)
            << "leaf pokes out at " << s.c.x << " " << s.c.y << " " << s.c.z;
        vol += 4.0 / 3.0 * kPi * s.r * s.r * s.r;
    }
    for (size_t i = 0; i < l.leaves.size(); ++i)
        for (size_t j = i + 1; j < l.leaves.size(); ++j)
            ASSERT_GE(spheres::distance(l.leaves[i].c, l.leaves[j].c) + 1e-6, l.leaves[i].r + l.leaves[j].r)
                << "leaves " << i << " and " << j << " overlap";
    // A leaf clear of the wall has no direction; the cone of one touching it holds the
    // outward direction to its nearest wall point (a leaf touching opposite walls gets the
    // full cone).
    int touching = 0;
    for (const FileNode& s : l.leaves) {
        const bool zero = s.dir.x == 0 && s.dir.y == 0 && s.dir.z == 0;
        Vec3 q;
        const double d = BruteDistance(l.mesh, s.c, &q);
        if (d <= s.r * (1 + 1e-3)) {
            ++touching;
            if (zero) {
                EXPECT_NEAR(s.angle, kPi, 1e-6);
                continue;
            }
            const double off =
                std::acos(std::fmax(-1.0, std::fmin(1.0, spheres::dot(s.dir, spheres::normalized(q - s.c)))));
            EXPECT_LE(off, s.angle + 0.05) << "nearest wall direction outside the cone";
        } else if (d > s.r * 1.01) {
            EXPECT_TRUE(zero);
            EXPECT_NEAR(s.angle, kPi, 1e-6);
        }
    }
    EXPECT_GT(touching, 0);
    const double share = vol / spheres::SignedVolume(l.mesh);
    std::printf("[ model ] %-12s %zu leaves, covered %.1f%% of the mesh volume\n", GetParam(), l.leaves.size(),
                100 * share);
    EXPECT_GT(share, 0.7);
    EXPECT_LE(share, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Bundled, ObjectTree,
                         ::testing::Values("sphere", "cube", "mm", "prolate", "tetrahedron", "cylinder", "torus"));

class ContainerTree : public ::testing::TestWithParam<const char*> {};

TEST_P(ContainerTree, BandCoveredInsideFree) {
    const Loaded l = Load(GetParam(), false);
    ASSERT_EQ(l.tree.kind, "container");
    const double margin = 1.5, intrusion = 0.01;
    Vec3 lo = l.mesh.points[0], hi = lo;
    for (const Vec3& p : l.mesh.points) {
        lo = spheres::vmin(lo, p);
        hi = spheres::vmax(hi, p);
    }
    auto coveredBy = [&](const Vec3& p) {
        for (const FileNode& s : l.leaves)
            if (spheres::distance(p, s.c) <= s.r) return true;
        return false;
    };
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int outsideTried = 0, insideTried = 0;
    while (outsideTried < 1500 || insideTried < 1500) {
        Vec3 p;
        for (int a = 0; a < 3; ++a) p[a] = lo[a] - margin + (hi[a] - lo[a] + 2 * margin) * u(rng);
        const bool inside = WindingNumber(l.mesh, p) > 0.5;
        if (!inside && outsideTried < 1500) {
            ++outsideTried;
            ASSERT_TRUE(coveredBy(p)) << "band point not covered: " << p.x << " " << p.y << " " << p.z;
        } else if (inside && insideTried < 1500 && BruteDistance(l.mesh, p) > intrusion * 1.001) {
            ++insideTried;
            ASSERT_FALSE(coveredBy(p)) << "interior point covered: " << p.x << " " << p.y << " " << p.z;
        }
    }
    // Points just outside the wall: the thinnest part of the cover.
    for (int i = 0; i < 1500; ++i) {
        const auto& tri = l.mesh.triangles[rng() % l.mesh.triangles.size()];
        double b0 = u(rng), b1 = u(rng);
        if (b0 + b1 > 1) {
            b0 = 1 - b0;
            b1 = 1 - b1;
        }
        const Vec3 &a = l.mesh.points[tri[0]], &b = l.mesh.points[tri[1]], &c = l.mesh.points[tri[2]];
        const Vec3 n = spheres::normalized(spheres::cross(b - a, c - a));
        const Vec3 q = a + (b - a) * b0 + (c - a) * b1 + n * (0.05 * u(rng));
        ASSERT_TRUE(coveredBy(q)) << "point near the wall not covered: " << q.x << " " << q.y << " " << q.z;
    }
    int directed = 0;
    for (const FileNode& s : l.leaves) directed += (s.dir.x != 0 || s.dir.y != 0 || s.dir.z != 0) ? 1 : 0;
    EXPECT_EQ(directed, static_cast<int>(l.leaves.size())) << "every container leaf carries the wall normal";
    std::printf("[ model ] %-18s %zu leaves\n", GetParam(), l.leaves.size());
}

INSTANTIATE_TEST_SUITE_P(Bundled, ContainerTree, ::testing::Values("box", "cylinder_container", "sphere_container"));

}  // namespace
