// Checks the committed trees under models/ against the meshes they were built from, with an
// oracle that shares no code with the builder's distance, inside and cover tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>

#include "collision/ExtraData.h"
#include "tools/spheres/TriMesh.h"

namespace {

using namespace spheres;
constexpr double kPi = 3.14159265358979323846;

Vec3 SegmentClosest(const Vec3& p, const Vec3& a, const Vec3& b) {
    const Vec3 ab = b - a;
    return a + ab * std::fmax(0.0, std::fmin(1.0, dot(p - a, ab) / dot(ab, ab)));
}

// Distance to the nearest triangle, looping over all: inside the face region the plane
// distance, else the nearest edge.
double BruteDistance(const TriMesh& m, const Vec3& p, Vec3* outClosest = nullptr) {
    double best = 1e300;
    for (const auto& tri : m.triangles) {
        const Vec3 &a = m.points[tri[0]], &b = m.points[tri[1]], &c = m.points[tri[2]];
        const Vec3 n = normalized(cross(b - a, c - a));
        const Vec3 q = p - n * dot(p - a, n);
        const bool inside =
            dot(cross(b - a, q - a), n) >= 0 && dot(cross(c - b, q - b), n) >= 0 && dot(cross(a - c, q - c), n) >= 0;
        const Vec3 cand[3] = {inside ? q : SegmentClosest(p, c, a), SegmentClosest(p, a, b), SegmentClosest(p, b, c)};
        for (const Vec3& k : cand) {
            if (distance(p, k) >= best) continue;
            best = distance(p, k);
            if (outClosest) *outClosest = k;
        }
    }
    return best;
}

// Generalised winding number (Van Oosterom-Strackee solid angles over 4 pi): ~1 inside, ~0 outside.
double WindingNumber(const TriMesh& m, const Vec3& p) {
    double total = 0.0;
    for (const auto& tri : m.triangles) {
        const Vec3 a = m.points[tri[0]] - p, b = m.points[tri[1]] - p, c = m.points[tri[2]] - p;
        const double la = length(a), lb = length(b), lc = length(c);
        total += 2.0 * std::atan2(dot(a, cross(b, c)), la * lb * lc + dot(a, b) * lc + dot(b, c) * la + dot(c, a) * lb);
    }
    return total / (4.0 * kPi);
}

template <class P>
Vec3 V(const P& p) {
    return {p[0], p[1], p[2]};
}

struct Loaded {
    TriMesh mesh;
    bool container = false;
    std::vector<col::SphereNode> leaves;
};

// The tree of an object is built from the mesh the program loads: "_l.obj" when present.
Loaded Load(const std::string& name, bool preferCoarse) {
    const std::string base = std::string(DENSEPACK_MODELS_DIR) + "/" + name;
    Loaded l;
    const std::string obj = preferCoarse && std::ifstream(base + "_l.obj") ? base + "_l.obj" : base + ".obj";
    EXPECT_TRUE(ReadObj(obj, l.mesh).ok) << obj;
    // Every committed tree loads in the collision library, which checks the format's rules.
    const col::ExtraData_SphereTree tree((base + ".spheres").c_str());
    EXPECT_TRUE(tree.isValid()) << tree.error();
    l.container = tree.tree()->kind() == col::SphereTreeKind::Container;
    std::copy_if(tree.tree()->nodes().begin(), tree.tree()->nodes().end(), std::back_inserter(l.leaves),
                 [](const col::SphereNode& n) { return n.isLeaf(); });
    return l;
}

// The committed object trees are covers to 1 % of the thickness (tools/make-models.sh).
constexpr double kTolerance = 0.01;

double Thickness(const TriMesh& m) {
    Vec3 lo = m.points[0], hi = lo;
    for (const Vec3& p : m.points) lo = vmin(lo, p), hi = vmax(hi, p);
    return std::fmin(hi.x - lo.x, std::fmin(hi.y - lo.y, hi.z - lo.z));
}

bool Covered(const std::vector<col::SphereNode>& leaves, const Vec3& p) {
    return std::any_of(leaves.begin(), leaves.end(),
                       [&](const col::SphereNode& s) { return distance(p, V(s.center)) <= s.radius; });
}

class ObjectTree : public ::testing::TestWithParam<const char*> {};

// Leaves inside the mesh with valid cones; every point deeper than the tolerance lies in a leaf:
// random points of the box, and points just under the limit above random surface points (where
// the cover is thinnest).
TEST_P(ObjectTree, LeavesInsideAndCoverBelowTolerance) {
    const Loaded l = Load(GetParam(), true);
    ASSERT_FALSE(l.container);
    ASSERT_FALSE(l.leaves.empty());
    const double thick = Thickness(l.mesh), limit = kTolerance * thick;
    int touching = 0;
    for (const col::SphereNode& leaf : l.leaves) {
        const Vec3 c = V(leaf.center), dir = V(leaf.direction);
        ASSERT_GT(WindingNumber(l.mesh, c), 0.5) << "leaf centre outside the mesh";
        Vec3 q;
        const double d = BruteDistance(l.mesh, c, &q);
        // The documented bound: no protrusion beyond rounding (1e-6 of the thickness).
        EXPECT_LE(leaf.radius, d + 1e-6 * thick) << "leaf pokes out at " << c.x << " " << c.y << " " << c.z;
        // A leaf clear of the wall has no direction; the cone of one touching it holds the
        // outward direction to its nearest wall point (one touching opposite walls: the full cone).
        const bool zero = length(dir) == 0;
        EXPECT_TRUE(!zero || std::fabs(leaf.angle - kPi) < 1e-6) << "no direction, yet a cone of " << leaf.angle;
        if (d <= leaf.radius * (1 + 1e-3)) {
            ++touching;
            const double off = zero ? 0 : std::acos(std::fmax(-1.0, std::fmin(1.0, dot(dir, normalized(q - c)))));
            EXPECT_LE(off, leaf.angle + 0.05) << "nearest wall direction outside the cone";
        } else if (d > leaf.radius * 1.01) {
            EXPECT_TRUE(zero);
        }
    }
    EXPECT_GT(touching, 0);

    Vec3 lo = l.mesh.points[0], hi = lo;
    for (const Vec3& p : l.mesh.points) lo = vmin(lo, p), hi = vmax(hi, p);
    std::mt19937_64 rng(777);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int deep = 0, nearLevel = 0;
    for (int i = 0; i < 1500; ++i) {
        const Vec3 p{lo.x + (hi.x - lo.x) * u(rng), lo.y + (hi.y - lo.y) * u(rng), lo.z + (hi.z - lo.z) * u(rng)};
        if (WindingNumber(l.mesh, p) < 0.5 || BruteDistance(l.mesh, p) <= limit) continue;
        ++deep;
        ASSERT_TRUE(Covered(l.leaves, p)) << "uncovered deep point " << p.x << " " << p.y << " " << p.z;
    }
    for (int i = 0; i < 1500; ++i) {
        const auto& tri = l.mesh.triangles[rng() % l.mesh.triangles.size()];
        double b0 = u(rng), b1 = u(rng);
        if (b0 + b1 > 1) b0 = 1 - b0, b1 = 1 - b1;
        const Vec3 &a = l.mesh.points[tri[0]], &b = l.mesh.points[tri[1]], &c = l.mesh.points[tri[2]];
        const Vec3 p =
            a + (b - a) * b0 + (c - a) * b1 - normalized(cross(b - a, c - a)) * (limit * (1.0 + 0.3 * u(rng)));
        if (BruteDistance(l.mesh, p) <= limit || WindingNumber(l.mesh, p) < 0.5) continue;
        ++nearLevel;
        ASSERT_TRUE(Covered(l.leaves, p)) << "uncovered point just under the limit " << p.x << " " << p.y << " " << p.z;
    }
    EXPECT_GT(deep, 100);
    EXPECT_GT(nearLevel, 300);
}

INSTANTIATE_TEST_SUITE_P(Bundled, ObjectTree,
                         ::testing::Values("sphere", "cube", "mm", "prolate", "tetrahedron", "cylinder", "torus"));

TEST(ObjectTree, SmoothShapesNeedFewLeaves) {
    // The sphere is built to 0.5 % (its one 1 % ball let vertices cross by 1.3 %): still a
    // tenth of the old fixed count.
    EXPECT_LE(Load("sphere", true).leaves.size(), 200u);
    EXPECT_LE(Load("prolate", true).leaves.size(), 40u);
}

// Within 6 % of the thickness of a sharp edge the trees are covers to 0.6 %, of a sharp corner
// to 0.3 % (tools/make-models.sh): with 1 % there, a cube's corner pressed into a face, or two
// crossing edges, crossed by up to 1.48 % of the thickness. Every vertex and every edge between
// two faces of these two meshes is sharp.
TEST(ObjectTree, SharpEdgesAndCornersCoveredToTheirTolerances) {
    for (const char* name : {"cube", "tetrahedron"}) {
        const Loaded l = Load(name, true);
        const double thick = Thickness(l.mesh), reach = 0.06 * thick;
        std::mt19937_64 rng(4242);
        std::uniform_real_distribution<double> u(-1.0, 1.0), v(0.0, 1.0);
        size_t deep = 0;
        auto expectCovered = [&](const Vec3& p, const Vec3& feature, double limit) {
            if (distance(p, feature) > reach || WindingNumber(l.mesh, p) < 0.5 || BruteDistance(l.mesh, p) <= limit)
                return true;
            ++deep;
            const bool held = Covered(l.leaves, p);
            EXPECT_TRUE(held) << name << ": uncovered point " << p.x << " " << p.y << " " << p.z;
            return held;
        };
        for (const Vec3& corner : l.mesh.points)
            for (int i = 0; i < 6000; ++i)
                ASSERT_TRUE(expectCovered(corner + Vec3{u(rng), u(rng), u(rng)} * reach, corner, 0.003 * thick));
        const size_t nearCorners = deep;
        EXPECT_GT(nearCorners, 50 * l.mesh.points.size()) << name;
        auto normal = [&](const std::array<int, 3>& t) {
            const Vec3& a = l.mesh.points[t[0]];
            return normalized(cross(l.mesh.points[t[1]] - a, l.mesh.points[t[2]] - a));
        };
        for (const auto& tri : l.mesh.triangles)
            for (int k = 0; k < 3; ++k) {
                const int ia = tri[k], ib = tri[(k + 1) % 3];
                const Vec3 &a = l.mesh.points[ia], &b = l.mesh.points[ib];
                // The cube's face diagonals lie flat: their neighbourhood is a face's.
                const auto other = std::find_if(l.mesh.triangles.begin(), l.mesh.triangles.end(), [&](const auto& t) {
                    return &t != &tri && std::count(t.begin(), t.end(), ia) && std::count(t.begin(), t.end(), ib);
                });
                ASSERT_NE(other, l.mesh.triangles.end());
                if (dot(normal(tri), normal(*other)) > 0.9) continue;
                for (int i = 0; i < 500; ++i) {
                    const Vec3 e = a + (b - a) * v(rng);
                    ASSERT_TRUE(expectCovered(e + Vec3{u(rng), u(rng), u(rng)} * reach, e, 0.006 * thick));
                }
            }
        EXPECT_GT(deep - nearCorners, 300u) << name;
    }
}

class ContainerTree : public ::testing::TestWithParam<const char*> {};

TEST_P(ContainerTree, BandCoveredInsideFree) {
    const Loaded l = Load(GetParam(), false);
    ASSERT_TRUE(l.container);
    const double margin = 1.5, intrusion = 0.01;
    Vec3 lo = l.mesh.points[0], hi = lo;
    for (const Vec3& p : l.mesh.points) lo = vmin(lo, p), hi = vmax(hi, p);
    auto coveredBy = [&](const Vec3& p) {
        for (const col::SphereNode& s : l.leaves)
            if (distance(p, V(s.center)) <= s.radius) return true;
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
        if (b0 + b1 > 1) b0 = 1 - b0, b1 = 1 - b1;
        const Vec3 &a = l.mesh.points[tri[0]], &b = l.mesh.points[tri[1]], &c = l.mesh.points[tri[2]];
        const Vec3 q = a + (b - a) * b0 + (c - a) * b1 + normalized(cross(b - a, c - a)) * (0.05 * u(rng));
        ASSERT_TRUE(coveredBy(q)) << "point near the wall not covered: " << q.x << " " << q.y << " " << q.z;
    }
    EXPECT_TRUE(std::all_of(l.leaves.begin(), l.leaves.end(), [](const col::SphereNode& s) {
        return length(s.direction) > 0;
    })) << "every container leaf carries the wall normal";
}

INSTANTIATE_TEST_SUITE_P(Bundled, ContainerTree, ::testing::Values("box", "cylinder_container", "sphere_container"));

}  // namespace
