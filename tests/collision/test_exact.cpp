// Exact overlap and containment of posed meshes against all-triangle-pairs brute force with
// winding-number containment, FCL's yes/no collide, and the separating axes of convex pairs.
#include <fcl/fcl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <glm/glm.hpp>
#include <random>
#include <string>

#include "collision/ColGeometry.h"
#include "collision/ConvexPenetration.h"
#include "collision/MeshOverlap.h"
#include "collision/TriIntersect.h"

namespace {

using namespace Vectormath::Aos;
using Tri = std::array<Point3, 3>;
using D3 = glm::dvec3;

struct Model {
    std::string name;
    std::vector<Point3> pts;
    std::vector<std::vector<unsigned>> polys;
    col::ExactMesh mesh;
};

Model load(const std::string& name) {
    Model m{name, {}, {}, {}};
    col::ColGeometry g;
    const std::string path = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name + ".obj";
    EXPECT_EQ(col::loadGeometryFromFile(&g, path.c_str()), 0) << path;
    m.pts = g.getPoints();
    m.polys = g.getPrimitives();
    EXPECT_TRUE(m.mesh.build(m.pts, m.polys)) << name;
    return m;
}

D3 d3(const Point3& p) { return {p.getX(), p.getY(), p.getZ()}; }

std::vector<Tri> worldTris(const Model& m, const Matrix4& X) {
    std::vector<Tri> out;
    auto at = [&](unsigned i) { return Point3((X * m.pts[i]).getXYZ()); };
    for (const auto& p : m.polys)
        for (size_t k = 1; k + 1 < p.size(); ++k) out.push_back({at(p[0]), at(p[k]), at(p[k + 1])});
    return out;
}

// Generalized winding number (solid angles after Van Oosterom and Strackee), in double: about +-1
// inside a closed mesh, 0 outside, whatever way its faces turn.
bool windingInside(const std::vector<Tri>& tris, const Point3& p) {
    double sum = 0;
    for (const Tri& t : tris) {
        const D3 a = d3(t[0]) - d3(p), b = d3(t[1]) - d3(p), c = d3(t[2]) - d3(p);
        const double la = glm::length(a), lb = glm::length(b), lc = glm::length(c);
        sum += 2 * std::atan2(glm::dot(a, glm::cross(b, c)),
                              la * lb * lc + glm::dot(a, b) * lc + glm::dot(a, c) * lb + glm::dot(b, c) * la);
    }
    return std::abs(sum / (4 * M_PI)) > 0.5;
}

// Some triangle pair at distance 0 (TriDist, independent of TriIntersect); boxes first.
bool bruteSurfaces(const std::vector<Tri>& a, const std::vector<Tri>& b) {
    auto box = [](const Tri& t, Point3& lo, Point3& hi) {
        lo = minPerElem(minPerElem(t[0], t[1]), t[2]), hi = maxPerElem(maxPerElem(t[0], t[1]), t[2]);
    };
    std::vector<std::array<Point3, 2>> boxB(b.size());
    for (size_t j = 0; j < b.size(); ++j) box(b[j], boxB[j][0], boxB[j][1]);
    for (const Tri& s : a) {
        Point3 lo, hi, p, q;
        box(s, lo, hi);
        for (size_t j = 0; j < b.size(); ++j) {
            if (maxElem(Vector3(lo - boxB[j][1])) > 0 || maxElem(Vector3(boxB[j][0] - hi)) > 0) continue;
            if (col::TriDist(p, q, s.data(), b[j].data()) == 0.f) return true;
        }
    }
    return false;
}

struct Brute {
    bool surfaces, aInB, bInA;
    bool overlap() const { return surfaces || aInB || bInA; }
};
Brute brute(const Model& a, const Matrix4& X_WA, const Model& b, const Matrix4& X_WB) {
    const auto ta = worldTris(a, X_WA), tb = worldTris(b, X_WB);
    const bool s = bruteSurfaces(ta, tb);
    return {s, !s && windingInside(tb, ta[0][0]), !s && windingInside(ta, tb[0][0])};
}

bool fclCollide(const std::vector<Tri>& a, const std::vector<Tri>& b) {
    auto model = [](const std::vector<Tri>& tris) {
        auto m = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
        m->beginModel();
        for (const Tri& t : tris)
            m->addTriangle(fcl::Vector3d(d3(t[0]).x, d3(t[0]).y, d3(t[0]).z),
                           fcl::Vector3d(d3(t[1]).x, d3(t[1]).y, d3(t[1]).z),
                           fcl::Vector3d(d3(t[2]).x, d3(t[2]).y, d3(t[2]).z));
        m->endModel();
        return m;
    };
    fcl::CollisionObjectd oa(model(a)), ob(model(b));
    fcl::CollisionResultd res;
    fcl::collide(&oa, &ob, fcl::CollisionRequestd(1, false), res);
    return res.isCollision();
}

Matrix4 randomRotation(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    return Matrix4::rotation(3.2f * u(rng), normalize(Vector3(u(rng), u(rng), u(rng) + 1e-3f)));
}

// Touching within this share of the size may go either way: such poses are left out, found by
// growing and shrinking B about its origin (which moves its surface by at most this share).
constexpr float kBand = 1e-5f;

// A random pair of triangles in a 6-unit cube, half of them shifted to make contact likely.
TEST(TriIntersect, RandomPairsAgreeWithTriDistUnderPermutation) {
    std::mt19937 rng(20240917u);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    int hits = 0;
    const int kPairs = 3000;
    for (int n = 0; n < kPairs; ++n) {
        Tri s, t;
        for (auto& p : s) p = Point3(3 * u(rng), 3 * u(rng), 3 * u(rng));
        const float off = 2.f * u(rng);
        for (auto& p : t) p = Point3(3 * u(rng) + off, 3 * u(rng), 3 * u(rng) - off);
        Point3 p, q;
        const bool ref = col::TriDist(p, q, s.data(), t.data()) == 0.f;
        hits += ref;
        std::array<int, 3> perm{0, 1, 2};
        do {
            const Tri sp{s[perm[0]], s[perm[1]], s[perm[2]]};
            ASSERT_EQ(col::TriIntersect(sp.data(), t.data()), ref) << "pair " << n;
            ASSERT_EQ(col::TriIntersect(t.data(), sp.data()), ref) << "pair " << n;
        } while (std::next_permutation(perm.begin(), perm.end()));
    }
    EXPECT_GT(hits, kPairs / 5);
    EXPECT_LT(hits, kPairs * 4 / 5);
}

TEST(TriIntersect, TouchingCoplanarAndDegenerateCases) {
    auto P = [](float x, float y, float z) { return Point3(x, y, z); };
    const Tri base{P(0, 0, 0), P(4, 0, 0), P(0, 4, 0)};
    const struct {
        Tri t;
        bool meet;
    } cases[] = {
        {{P(1, 1, -1), P(1, 1, 1), P(3, 3, 1)}, true},             // crossing the face
        {{P(1, 1, 0), P(1, 2, 3), P(2, 1, 3)}, true},              // corner on the face
        {{P(1, 1, 1e-3f), P(1, 2, 3), P(2, 1, 3)}, false},         // corner just above it
        {{P(2, 2, 0), P(2, 2, 3), P(5, 5, 0)}, true},              // corner on the hypotenuse
        {{P(2, -1, 0), P(2, -1, 2), P(2, -3, 1)}, false},          // beside the face, straddling its plane
        {{P(4, 0, 0), P(5, 0, 1), P(5, 1, 1)}, true},              // sharing a corner only
        {{P(1, 1, 0), P(6, 1, 0), P(1, 6, 0)}, true},              // coplanar, edges crossing
        {{P(0.5f, 0.5f, 0), P(1, 0.5f, 0), P(0.5f, 1, 0)}, true},  // coplanar, inside
        {{P(5, 0, 0), P(9, 0, 0), P(5, 3, 0)}, false},             // coplanar, apart
        {{P(-1, -1, 0), P(9, -1, 0), P(-1, 9, 0)}, true},          // coplanar, holding base
        {{P(1, 1, -2), P(1, 1, 0.5f), P(1, 1, 2)}, true},          // zero area: a segment through the face
        {{P(1, 1, 2), P(1, 1, 2), P(1, 1, 2)}, false},             // a point above the face
        {{P(1, 1, 0), P(1, 1, 0), P(1, 1, 0)}, true},              // a point on the face
    };
    for (const auto& c : cases) {
        EXPECT_EQ(col::TriIntersect(base.data(), c.t.data()), c.meet) << "case " << &c - cases;
        EXPECT_EQ(col::TriIntersect(c.t.data(), base.data()), c.meet) << "case " << &c - cases;
    }
}

TEST(ExactMesh, ContainsAndSurfaceDistanceMatchBruteForce) {
    std::mt19937 rng(515u);
    std::uniform_real_distribution<float> u(-1.2f, 1.2f);
    for (const char* name : {"torus", "mm_l", "cube", "sphere_container"}) {
        const Model m = load(name);
        const auto tris = worldTris(m, Matrix4::identity());
        const float size = m.mesh.maxExtent();
        Point3 lo = m.pts[0], hi = lo;
        for (const Point3& p : m.pts) lo = minPerElem(lo, p), hi = maxPerElem(hi, p);
        int inside = 0, compared = 0;
        for (int n = 0; n < 300; ++n) {
            const Point3 p = m.mesh.centre() + mulPerElem(Vector3(u(rng), u(rng), u(rng)), 0.5f * (hi - lo));
            float ref = INFINITY;
            for (const Tri& t : tris) {
                const Point3 pt[3] = {p, p, p};
                Point3 x, y;
                ref = std::min(ref, col::TriDist(x, y, pt, t.data()));
            }
            ASSERT_EQ(m.mesh.surfaceDistance(p), ref) << name << " point " << n;  // same triangles: same minimum
            if (ref < kBand * size) continue;
            ASSERT_EQ(m.mesh.contains(p), windingInside(tris, p)) << name << " point " << n;
            inside += m.mesh.contains(p);
            ++compared;
        }
        EXPECT_GT(compared, 280) << name;
        EXPECT_GT(inside, compared / 10) << name;
        EXPECT_LT(inside, compared * 9 / 10) << name;
    }
}

// Random orientations; B along a random direction at the centre distance where the surfaces
// first meet (bisection on the exact distance), then moved by up to 4 % of the size either way.
// Every third pose puts a B of a quarter of the size somewhere in A's box instead: wholly inside,
// outside, or across the surface.
TEST(ExactOverlap, NearContactPosesMatchBruteForceAndFcl) {
    const std::array<Model, 6> models = {load("sphere_l"), load("mm_l"),        load("cube"),
                                         load("torus"),    load("tetrahedron"), load("cylinder_l")};
    std::mt19937 rng(8128u);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    int overlaps = 0, apart = 0, held = 0, compared = 0, convexCompared = 0, fclCompared = 0, skipped = 0;
    const int kPoses = 432;
    for (int n = 0; n < kPoses; ++n) {
        const Model& a = models[size_t(n % 6)];
        const Model& b = models[size_t((n / 6) % 6)];
        const bool small = n % 3 == 0;
        const float sb = small ? 0.25f : 0.8f + 0.4f * (u(rng) + 1.f) / 2.f;
        const Matrix4 X_WA = Matrix4::translation(Vector3(u(rng), u(rng), u(rng))) * randomRotation(rng);
        const Matrix4 rotB = randomRotation(rng) * Matrix4::scale(Vector3(sb));
        const float size = std::max(a.mesh.maxExtent(), sb * b.mesh.maxExtent());
        Vector3 at;
        if (small) {
            at = Vector3(u(rng), u(rng), u(rng)) * (0.3f * a.mesh.maxExtent());
        } else {
            const Vector3 dir = normalize(Vector3(u(rng), u(rng), u(rng) + 1e-3f));
            float lo = 0.f, hi = 2.f * size;
            for (int k = 0; k < 30; ++k) {
                const float mid = 0.5f * (lo + hi);
                const Matrix4 m_AB = inverse(X_WA) * Matrix4::translation(X_WA.getTranslation() + dir * mid) * rotB;
                (col::meshDistance(b.mesh.tree(), a.mesh.tree(), m_AB).distance > 0.f ? hi : lo) = mid;
            }
            at = dir * (hi + 0.04f * size * u(rng));
        }
        const Matrix4 X_WB = Matrix4::translation(X_WA.getTranslation() + at) * rotB;

        const Brute ref = brute(a, X_WA, b, X_WB);
        if (brute(a, X_WA, b, X_WB * Matrix4::scale(Vector3(1 - kBand))).overlap() !=
            brute(a, X_WA, b, X_WB * Matrix4::scale(Vector3(1 + kBand))).overlap()) {
            ++skipped;
            continue;
        }
        col::ExactOverlapQuery q;
        q.a = &a.mesh, q.b = &b.mesh;
        q.X_WA = col::ScaledPose::fromMatrix(X_WA), q.X_WB = col::ScaledPose::fromMatrix(X_WB);
        const std::string what = a.name + " / " + b.name + " pose " + std::to_string(n);
        // Both paths, both argument orders.
        for (bool triangles : {false, true}) {
            q.useTriangles = triangles;
            const col::ExactOverlapResult r = col::exactOverlap(q);
            ASSERT_EQ(r.overlap, ref.overlap()) << what << (r.convexPath ? " (convex)" : " (triangles)");
            convexCompared += r.convexPath;
            std::swap(q.a, q.b), std::swap(q.X_WA, q.X_WB);
            ASSERT_EQ(col::exactOverlap(q).overlap, ref.overlap()) << what << " swapped";
            std::swap(q.a, q.b), std::swap(q.X_WA, q.X_WB);
        }
        // FCL meets surfaces only: a mesh inside the other is no collision there.
        if (n % 2 == 0) {
            ASSERT_EQ(fclCollide(worldTris(a, X_WA), worldTris(b, X_WB)), ref.surfaces) << what;
            ++fclCompared;
        }
        ++compared;
        overlaps += ref.overlap();
        apart += !ref.overlap();
        held += ref.aInB || ref.bInA;
    }
    EXPECT_LT(skipped, kPoses / 20);
    EXPECT_GT(overlaps, compared / 4);
    EXPECT_GT(apart, compared / 4);
    EXPECT_GT(held, compared / 20);  // one wholly inside the other, surfaces apart
    EXPECT_GT(convexCompared, compared / 4);
    EXPECT_GT(fclCompared, compared / 3);
}

// Penetration depth of two convex polytopes by brute force: the smallest overlap of the vertex
// projections over the face normals of both and the cross products of all edge pairs (these
// include every face normal of the Minkowski difference).
double satDepth(const Model& a, const Matrix4& X_WA, const Model& b, const Matrix4& X_WB) {
    const auto ta = worldTris(a, X_WA), tb = worldTris(b, X_WB);
    std::vector<D3> va, vb, axes, ea, eb;
    for (const auto& [tris, verts, edges] : {std::tie(ta, va, ea), std::tie(tb, vb, eb)})
        for (const Tri& t : tris) {
            for (int k = 0; k < 3; ++k) {
                verts.push_back(d3(t[k]));
                // Each edge once: the one whose corners come in lexicographic order.
                const D3 p = d3(t[k]), q = d3(t[(k + 1) % 3]);
                if (std::tie(p.x, p.y, p.z) < std::tie(q.x, q.y, q.z)) edges.push_back(q - p);
            }
            axes.push_back(glm::cross(d3(t[1]) - d3(t[0]), d3(t[2]) - d3(t[0])));
        }
    for (const D3& e : ea)
        for (const D3& f : eb) axes.push_back(glm::cross(e, f));
    double best = INFINITY;
    for (const D3& axis : axes) {
        if (glm::dot(axis, axis) < 1e-18) continue;
        const D3 n = glm::normalize(axis);
        double maxA = -INFINITY, minA = INFINITY, maxB = -INFINITY, minB = INFINITY;
        for (const D3& v : va) maxA = std::max(maxA, glm::dot(n, v)), minA = std::min(minA, glm::dot(n, v));
        for (const D3& v : vb) maxB = std::max(maxB, glm::dot(n, v)), minB = std::min(minB, glm::dot(n, v));
        best = std::min(best, std::min(maxA - minB, maxB - minA));
    }
    return best;
}

// Overlapping poses of convex pairs: EPA against the separating axes, its normal by moving B just
// short of and just beyond the depth, and the triangle path's sample depth as a lower bound.
TEST(ExactOverlap, PenetrationDepthMatchesSeparatingAxes) {
    const std::array<Model, 4> models = {load("cube"), load("tetrahedron"), load("cylinder_l"), load("sphere_l")};
    std::mt19937 rng(31337u);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    int sampleDepths = 0;
    for (int n = 0; n < 40; ++n) {
        const Model& a = models[size_t(n % 4)];
        const Model& b = models[size_t((n / 4) % 4 == 3 && n % 4 == 3 ? 0 : (n / 4) % 4)];  // no sphere/sphere: slow
        const Matrix4 X_WA = Matrix4::translation(Vector3(u(rng), u(rng), u(rng))) * randomRotation(rng);
        const Vector3 dir = normalize(Vector3(u(rng), u(rng), u(rng) + 1e-3f));
        const float sb = 0.8f + 0.2f * u(rng), size = std::max(a.mesh.maxExtent(), sb * b.mesh.maxExtent());
        const Matrix4 X_WB = Matrix4::translation(X_WA.getTranslation() + dir * (0.3f + 0.1f * u(rng)) * size) *
                             randomRotation(rng) * Matrix4::scale(Vector3(sb));
        col::ExactOverlapQuery q;
        q.a = &a.mesh, q.b = &b.mesh, q.wantDepth = true;
        q.X_WA = col::ScaledPose::fromMatrix(X_WA), q.X_WB = col::ScaledPose::fromMatrix(X_WB);
        const col::PenetrationResult epa = col::convexPenetration(*a.mesh.convex(), q.X_WA, *b.mesh.convex(), q.X_WB);
        const std::string what = a.name + " / " + b.name + " pose " + std::to_string(n);
        ASSERT_TRUE(epa.converged) << what;
        const double sat = satDepth(a, X_WA, b, X_WB);
        ASSERT_GT(sat, 0.01 * size) << what;  // the poses overlap clearly
        EXPECT_NEAR(epa.depth, sat, kBand * size) << what;
        EXPECT_EQ(col::exactOverlap(q).depth, epa.depth) << what;
        q.useTriangles = true;
        for (const float share : {1 - 1e-3f, 1 + 1e-3f}) {
            q.X_WB.translation = X_WB.getTranslation() + epa.normal_W * (share * epa.depth);
            EXPECT_EQ(col::exactOverlap(q).overlap, share < 1) << what << " moved by " << share << " x depth";
        }
        q.X_WB.translation = X_WB.getTranslation();
        const float samples = col::exactOverlap(q).depth;
        EXPECT_LE(samples, epa.depth + kBand * size) << what;
        sampleDepths += samples > 0;
    }
    EXPECT_GT(sampleDepths, 20);
}

// Objects near the wall of each bundled container: on a random ray from the centre, at the wall's
// distance plus up to half the object's size either way.
TEST(ExactContainment, BundledContainersMatchBruteForce) {
    const std::array<Model, 3> containers = {load("box"), load("cylinder_container"), load("sphere_container")};
    const std::array<Model, 3> objects = {load("sphere_l"), load("cube"), load("torus")};
    std::mt19937 rng(4096u);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    int inside = 0, compared = 0;
    for (int n = 0; n < 90; ++n) {
        const Model& box = containers[size_t(n % 3)];
        const Model& obj = objects[size_t((n / 3) % 3)];
        const Vector3 dir = normalize(Vector3(u(rng), u(rng), u(rng) + 1e-3f));
        float lo = 0.f, hi = box.mesh.radius() * 2;
        for (int k = 0; k < 30; ++k) (box.mesh.contains(Point3(dir * (0.5f * (lo + hi)))) ? lo : hi) = 0.5f * (lo + hi);
        const Matrix4 X_WO =
            Matrix4::translation(dir * (lo - 0.6f * obj.mesh.maxExtent() * (1 + u(rng)))) * randomRotation(rng);
        const auto boxTris = worldTris(box, Matrix4::identity());
        auto ref = [&](float grow) {
            const auto t = worldTris(obj, X_WO * Matrix4::scale(Vector3(grow)));
            return !bruteSurfaces(t, boxTris) && windingInside(boxTris, t[0][0]);
        };
        if (ref(1 - kBand) != ref(1 + kBand)) continue;
        col::ContainmentQuery q;
        q.object = &obj.mesh, q.container = &box.mesh, q.wantDepth = true;
        q.X_WO = col::ScaledPose::fromMatrix(X_WO);
        const col::ContainmentResult r = col::exactContainment(q);
        ASSERT_EQ(r.inside, ref(1)) << obj.name << " in " << box.name << " pose " << n;
        // The containers are convex: the distance to them is convex, so the farthest point
        // outside is a vertex.
        if (&obj != &objects[2]) {
            float depth = 0;
            for (const Point3& v : obj.pts) {
                const Point3 p((X_WO * v).getXYZ()), pt[3] = {p, p, p};
                if (windingInside(boxTris, p)) continue;
                float d = INFINITY;
                for (const Tri& t : boxTris) {
                    Point3 x, y;
                    d = std::min(d, col::TriDist(x, y, pt, t.data()));
                }
                depth = std::max(depth, d);
            }
            EXPECT_NEAR(r.depth, depth, kBand) << obj.name << " in " << box.name << " pose " << n;
        }
        inside += r.inside;
        ++compared;
    }
    EXPECT_GT(compared, 85);
    EXPECT_GT(inside, compared / 4);
    EXPECT_LT(inside, compared * 3 / 4);
}

TEST(ExactOverlap, EmptyMeshesTouchingAndOneInsideTheOther) {
    const Model cube = load("cube"), torus = load("torus"), sphere = load("sphere_l"), box = load("box");
    col::ExactMesh empty;
    EXPECT_FALSE(empty.build(cube.pts, {{0, 1}, {0, 1, 99}}));  // too short, index out of range
    EXPECT_FALSE(empty.contains(Point3(0.f)));
    col::ExactOverlapQuery q;
    q.a = &cube.mesh, q.b = &empty;
    EXPECT_FALSE(col::exactOverlap(q).overlap);

    // A half-size cube at the centre of another: no surface meets, the overlap is containment.
    // The samples' depth is the inner faces' distance to the outer ones (0.2); EPA's is the way
    // out (0.4 + 0.2).
    q.b = &cube.mesh, q.wantDepth = true;
    q.X_WB.scale = 0.5f;
    for (bool triangles : {false, true}) {
        q.useTriangles = triangles;
        const col::ExactOverlapResult r = col::exactOverlap(q);
        EXPECT_TRUE(r.overlap);
        EXPECT_NEAR(r.depth, triangles ? 0.2f : 0.6f, 1e-5f);
    }
    // Face to face at exactly 0.8 the faces touch: the triangle path counts that as overlap.
    q.X_WB.scale = 1.f;
    q.X_WB.translation = Vector3(0.8f, 0.1f, 0.f);
    EXPECT_TRUE(col::exactOverlap(q).overlap);
    EXPECT_EQ(col::exactOverlap(q).depth, 0.f);
    q.X_WB.translation = Vector3(0.8001f, 0.1f, 0.f);
    EXPECT_FALSE(col::exactOverlap(q).overlap);

    // A small sphere in the torus's hole is outside it; in its tube, inside.
    q.a = &torus.mesh, q.b = &sphere.mesh, q.useTriangles = false;
    q.X_WB.scale = 0.2f;
    q.X_WB.translation = Vector3(0.f);
    EXPECT_FALSE(col::exactOverlap(q).overlap);
    q.X_WB.translation = Vector3(0.35f, 0.f, 0.f);
    EXPECT_TRUE(col::exactOverlap(q).overlap);

    // A cube (half edge 0.4) 2.9 along x in the box of half edge 3 sticks out by 0.3.
    col::ContainmentQuery c;
    c.object = &cube.mesh, c.container = &box.mesh, c.wantDepth = true;
    EXPECT_TRUE(col::exactContainment(c).inside);
    EXPECT_EQ(col::exactContainment(c).depth, 0.f);
    c.X_WO.translation = Vector3(2.9f, 0.f, 0.f);
    EXPECT_FALSE(col::exactContainment(c).inside);
    EXPECT_NEAR(col::exactContainment(c).depth, 0.3f, 1e-5f);
    c.X_WO.translation = Vector3(2.6f, 0.f, 0.f);  // touching the wall from inside
    EXPECT_FALSE(col::exactContainment(c).inside);
    c.container = &empty;
    EXPECT_FALSE(col::exactContainment(c).inside);
}

}  // namespace
