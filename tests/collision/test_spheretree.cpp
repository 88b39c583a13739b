// Pair query against the all-leaf-pairs reference, the container's walls, contact pairs, lens
// volume, and the one-sphere tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <tuple>

#include "scenes.h"

using namespace colscene;
using col::OverlapResult;

namespace {

constexpr float kPi = 3.14159265f;

std::set<std::pair<int, int>> pairsOf(const col::SphereTree& t1, const col::SphereTree& t2, const OverlapResult& r) {
    std::set<std::pair<int, int>> s;
    for (const auto& np : r.nodePairs)
        s.insert({static_cast<int>(np.node1 - t1.nodes().data()), static_cast<int>(np.node2 - t2.nodes().data())});
    return s;
}

// Every overlapping leaf pair is found, and nothing else but pairs within rounding of touching.
testing::AssertionResult sameLeafPairs(const std::set<std::pair<int, int>>& got, const BruteResult& ref) {
    const std::set<std::pair<int, int>> amb(ref.ambiguous.begin(), ref.ambiguous.end());
    for (const auto& pr : ref.overlapping)
        if (!got.count(pr)) return testing::AssertionFailure() << "missed pair " << pr.first << "-" << pr.second;
    for (const auto& pr : got)
        if (!amb.count(pr) && !std::binary_search(ref.overlapping.begin(), ref.overlapping.end(), pr))
            return testing::AssertionFailure() << "extra pair " << pr.first << "-" << pr.second;
    return testing::AssertionSuccess();
}

}  // namespace

TEST(SphereTreeQuery, MatchesAllLeafPairsOnRandomTreesAndPoses) {
    std::mt19937 rng(20240611);
    const std::string dir = tempDir();
    int overlapping = 0, cases = 0;
    for (int t = 0; t < 12; ++t) {
        const auto leavesA = randomLeaves(rng, 30 + 17 * t, 2.0f, 0.1f, 0.5f);
        const auto leavesB = randomLeaves(rng, 5 + 23 * t, 1.5f, 0.05f, 0.6f);
        auto a = roundTrip(buildTree(leavesA, 2 + t % 5), dir, std::string("a").append(std::to_string(t)));
        auto b = roundTrip(buildTree(leavesB, 4), dir, std::string("b").append(std::to_string(t)));
        ASSERT_TRUE(a && a->isValid() && b && b->isValid()) << (a ? a->error() : "write failed");
        for (int p = 0; p < 40; ++p) {
            // Unscaled, scaled by the matrix (as the heuristics scale), and the radii scaled once
            // more by the geometry value on top.
            const float k1 = p % 3 == 0 ? 1.0f : 0.5f + 0.1f * float(p % 7);
            const float k2 = p % 3 == 0 ? 1.0f : 1.3f;
            const float s1 = p % 3 == 2 ? 1.4f : 1.0f, s2 = p % 3 == 2 ? 0.7f : 1.0f;
            const Matrix4 M1 = randomPose(rng, 2.0f, k1), M2 = randomPose(rng, 5.0f, k2);
            OverlapResult r;
            col::queryOverlap(a->tree(), M1, s1, b->tree(), M2, s2, r);
            const BruteResult ref = bruteForce(*a->tree(), M1, s1, *b->tree(), M2, s2);
            const auto got = pairsOf(*a->tree(), *b->tree(), r);
            ASSERT_EQ(r.intersections.size(), r.nodePairs.size());
            ASSERT_EQ(got.size(), r.nodePairs.size()) << "a leaf pair was reported twice";
            ASSERT_TRUE(sameLeafPairs(got, ref)) << "tree " << t << " pose " << p;
            EXPECT_NEAR(r.overlap, ref.overlap, 1e-3 * ref.overlap + 1e-6);
            // Each entry carries the model-frame centres and the world radii.
            for (size_t i = 0; i < r.nodePairs.size(); ++i) {
                EXPECT_FLOAT_EQ(r.intersections[i].radius1, r.nodePairs[i].node1->radius * k1 * s1);
                EXPECT_FLOAT_EQ(r.intersections[i].radius2, r.nodePairs[i].node2->radius * k2 * s2);
                EXPECT_EQ(r.intersections[i].center2.getX(), r.nodePairs[i].node2->center.getX());
            }
            overlapping += !got.empty();
            ++cases;
        }
    }
    // Guard against a vacuous pass: the poses must mix hits and misses.
    EXPECT_GT(overlapping, cases / 5);
    EXPECT_LT(overlapping, cases * 4 / 5);
}

// An object drawn at half size collides at half size: at matrix scale 1/2 the query finds exactly
// the leaf pairs of the tree whose centres and radii were halved by hand, and a container grown
// to twice its size by its matrix meets objects as its doubled copy does.
TEST(SphereTreeQuery, MatrixScaleSizesCentresAndRadiiAlike) {
    std::mt19937 rng(4242);
    auto scaled = [](std::vector<Sphere> v, float f) {
        for (Sphere& s : v) s = {s.x * f, s.y * f, s.z * f, s.r * f};  // powers of two: exact
        return v;
    };
    const auto leavesA = randomLeaves(rng, 80, 1.0f, 0.05f, 0.3f), leavesB = randomLeaves(rng, 50, 0.8f, 0.05f, 0.4f);
    const col::SphereTree a = buildTree(leavesA, 4), b = buildTree(leavesB, 3);
    const col::SphereTree aHalf = buildTree(scaled(leavesA, 0.5f), 4), bHalf = buildTree(scaled(leavesB, 0.5f), 3);
    ASSERT_EQ(a.nodes().size(), aHalf.nodes().size());  // same layout: node indices correspond
    const Matrix4 half = Matrix4::scale(Vector3(0.5f));
    int hits = 0;
    for (int p = 0; p < 300; ++p) {
        const Matrix4 M1 = randomPose(rng, 1.0f), M2 = randomPose(rng, 1.0f);
        const bool h1 = p % 3 != 1, h2 = p % 3 != 0;  // the first, the second or both at half size
        OverlapResult r;
        col::queryOverlap(&a, h1 ? M1 * half : M1, 1.0f, &b, h2 ? M2 * half : M2, 1.0f, r);
        const BruteResult ref = bruteForce(h1 ? aHalf : a, M1, 1.0f, h2 ? bHalf : b, M2, 1.0f);
        ASSERT_TRUE(sameLeafPairs(pairsOf(a, b, r), ref)) << "pose " << p;
        EXPECT_NEAR(r.overlap, ref.overlap, 1e-3 * ref.overlap + 1e-7);
        for (size_t i = 0; i < r.nodePairs.size(); ++i)
            EXPECT_FLOAT_EQ(r.intersections[i].radius2, r.nodePairs[i].node2->radius * (h2 ? 0.5f : 1.0f));
        hits += !r.intersections.empty();
    }
    EXPECT_GT(hits, 60);
    EXPECT_LT(hits, 240);

    const auto shell = boxShell(2.0f, 0.25f);
    const col::SphereTree box = buildTree(shell, 4, col::SphereTreeKind::Container);
    const col::SphereTree boxDouble = buildTree(scaled(shell, 2.0f), 4, col::SphereTreeKind::Container);
    hits = 0;
    for (int p = 0; p < 200; ++p) {
        const Matrix4 Mo = randomPose(rng, 5.0f);  // from the centre to across the doubled walls
        OverlapResult r, byHand;
        col::queryOverlap(&box, Matrix4::scale(Vector3(2.0f)), 1.0f, &a, Mo, 1.0f, r);
        col::queryOverlap(&boxDouble, Matrix4::identity(), 1.0f, &a, Mo, 1.0f, byHand);
        ASSERT_TRUE(sameLeafPairs(pairsOf(box, a, r), bruteForce(boxDouble, Matrix4::identity(), 1.0f, a, Mo, 1.0f)))
            << "pose " << p;
        EXPECT_NEAR(r.overlap, byHand.overlap, 1e-3 * byHand.overlap + 1e-7);
        hits += !r.intersections.empty();
    }
    EXPECT_GT(hits, 20);
    EXPECT_LT(hits, 180);
}

// Boxy trees side by side, turned at random: the separating-axis test of the leaf boxes ends most
// of these queries at the root, and must never end one that has an overlapping leaf pair.
TEST(SphereTreeQuery, BoxyTreesAtTouchingPoses) {
    std::mt19937 rng(515);
    std::vector<Sphere> cube;
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
            for (int k = 0; k < 6; ++k)
                cube.push_back({(float(i) + 0.5f) / 6 - 0.5f, (float(j) + 0.5f) / 6 - 0.5f,
                                (float(k) + 0.5f) / 6 - 0.5f, 1.0f / 12});
    const col::SphereTree t = buildTree(cube, 4);
    std::uniform_real_distribution<float> gap(0.9f, 1.6f);
    int hits = 0, cutAtRoot = 0;
    for (int p = 0; p < 300; ++p) {
        // Every third pose face to face, where the leaves of the two faces meet exactly.
        Matrix4 M2 = p % 3 ? randomPose(rng, 1.0f) : Matrix4::identity();
        const Vector3 dir = p % 2 ? Vector3(1, 0, 0) : normalize(Vector3(1, 0.3f, -0.2f));
        M2.setTranslation(gap(rng) * dir);
        OverlapResult r;
        col::queryOverlap(&t, Matrix4::identity(), 1.0f, &t, M2, 1.0f, r);
        ASSERT_TRUE(sameLeafPairs(pairsOf(t, t, r), bruteForce(t, Matrix4::identity(), 1.0f, t, M2, 1.0f))) << p;
        hits += !r.intersections.empty();
        cutAtRoot += r.visited == 0 && length(M2.getTranslation()) < 2 * t.cull().rootR;
    }
    EXPECT_GT(hits, 30);
    EXPECT_GT(cutAtRoot, 30);

    // The bundled cube face to face with another, crossing by up to 1 % of its edge or apart by as
    // much, turned and tilted a little, every other pose a hair below unit scale (as placement
    // files give them): the node boxes' pair test and the depth it bounds must keep every pair.
    col::ExtraData_SphereTree bundled((std::string(DENSEPACK_SOURCE_DIR) + "/models/cube.spheres").c_str());
    ASSERT_TRUE(bundled.isValid());
    const col::SphereTree& c = *bundled.tree();
    std::uniform_real_distribution<float> u(-1, 1);
    col::OverlapScratch scratch;
    int faceHits = 0;
    for (int p = 0; p < 16; ++p) {
        const Matrix4 M2 = Matrix4::translation(Vector3(0.8f + 0.008f * u(rng), 0.3f * u(rng), 0.3f * u(rng))) *
                           Matrix4::rotationX(0.1f * u(rng)) * Matrix4::rotationY(0.01f * u(rng)) *
                           Matrix4::scale(Vector3(1.0f - 8e-6f * float(p % 2)));
        col::PosedTree p1, p2;
        p1.set(&c, Matrix4::identity(), 1.0f);
        p2.set(&c, M2, 1.0f);
        OverlapResult all, part, a, b;
        col::queryOverlap(p1, p2, scratch, all);
        ASSERT_TRUE(sameLeafPairs(pairsOf(c, c, all), bruteForce(c, Matrix4::identity(), 1.0f, c, M2, 1.0f))) << p;
        col::queryOverlap(p1, p2, scratch, part, col::PairSet::Contacts);
        col::selectContacts(all, a);
        col::selectContacts(part, b);
        ASSERT_EQ(a.lensVolumes, b.lensVolumes) << p;
        faceHits += !all.intersections.empty();
    }
    EXPECT_GT(faceHits, 4);
    EXPECT_LT(faceHits, 16);

    // Rounded bundled models at random turns, moved apart along a random line to where the query
    // finds them touching, then from 0.2 % across to 3 % apart: the support bounds along the axes
    // they try must never call an overlapping pair apart, and must end the far ones at the root.
    for (const char* model : {"mm", "sphere"}) {
        col::ExtraData_SphereTree round((std::string(DENSEPACK_SOURCE_DIR) + "/models/" + model + ".spheres").c_str());
        const col::SphereTree& m = *round.tree();
        int near = 0, farCut = 0;
        for (int p = 0; p < 8; ++p) {
            const Matrix4 M1 = randomPose(rng, 0.0f), R2 = randomPose(rng, 0.0f);
            const Vector3 dir = normalize(Vector3(u(rng), u(rng), u(rng) + 0.01f));
            auto at = [&](float d) { return Matrix4::translation(d * dir) * R2; };
            float lo = 0, hi = 2;
            for (int i = 0; i < 20; ++i) {
                OverlapResult r;
                col::queryOverlap(&m, M1, 1.0f, &m, at(0.5f * (lo + hi)), 1.0f, r);
                (r.intersections.empty() ? hi : lo) = 0.5f * (lo + hi);
            }
            for (const float off : {-0.002f, -0.0005f, 0.0005f, 0.01f, 0.03f}) {
                OverlapResult r;
                col::queryOverlap(&m, M1, 1.0f, &m, at(hi + off), 1.0f, r);
                const BruteResult ref = bruteForce(m, M1, 1.0f, m, at(hi + off), 1.0f);
                ASSERT_TRUE(sameLeafPairs(pairsOf(m, m, r), ref)) << model << " pose " << p << " offset " << off;
                near += !r.intersections.empty();
                farCut += off > 0.005f && r.visited == 0;
            }
        }
        EXPECT_GE(near, 16) << model;
        EXPECT_GE(farCut, 8) << model;
    }
}

// The container's clearance grid answers most interior poses without a traversal; it must never
// drop a pair. Objects anywhere from the centre to across the walls, the container scaled too.
TEST(SphereTreeQuery, ContainerClearanceKeepsEveryPair) {
    std::mt19937 rng(77);
    const col::SphereTree box = buildTree(boxShell(4.0f, 0.5f), 4, col::SphereTreeKind::Container);
    ASSERT_GT(box.cull().clearance.invCell, 0.0f);
    const col::SphereTree ball = buildTree(randomLeaves(rng, 60, 0.6f, 0.05f, 0.3f), 4);
    int hits = 0, skipped = 0;
    for (int p = 0; p < 400; ++p) {
        // Scaled walls and all, or with wall radii grown on their own (the grid then cannot vouch).
        const float k = p % 4 == 3 ? 1.25f : 1.0f, s = p % 4 == 1 ? 1.1f : 1.0f;
        const Matrix4 Mc = Matrix4::scale(Vector3(k)), Mo = randomPose(rng, 5.0f * k);
        OverlapResult r;
        col::queryOverlap(&box, Mc, s, &ball, Mo, 1.0f, r);
        const BruteResult ref = bruteForce(box, Mc, s, ball, Mo, 1.0f);
        const auto got = pairsOf(box, ball, r);
        ASSERT_TRUE(sameLeafPairs(got, ref)) << "pose " << p;
        hits += !got.empty();
        skipped += r.visited == 0 && got.empty();
    }
    EXPECT_GT(hits, 40);
    EXPECT_GT(skipped, 40);  // the grid did answer
}

// A container's leaves overlap one another along its walls; an object crossing one wall where
// two of them overlap still overlaps the container once, and twice as much across two walls.
TEST(ContainerOverlap, OverlappingWallSpheresOfOneWallCountOnce) {
    const float R = 100.0f;
    auto wallSphere = [&](Vector3 normal, Vector3 along) {
        col::SphereNode n;
        n.center = Point3(normal * (R + 1.0f) + along);  // reaches the plane at distance 1
        n.radius = R;
        n.direction = normal;
        n.angle = 0.1f;
        return n;
    };
    std::vector<col::SphereNode> nodes(5);
    nodes[0].radius = 1000, nodes[0].firstChild = 1, nodes[0].childCount = 4;
    nodes[1] = wallSphere(Vector3(1, 0, 0), Vector3(0, 0.5f, 0));
    nodes[2] = wallSphere(Vector3(1, 0, 0), Vector3(0, -0.5f, 0));
    nodes[3] = wallSphere(Vector3(1, 0, 0), Vector3(0, 0, 0.5f));
    nodes[4] = wallSphere(Vector3(0, 1, 0), Vector3(0, 0, 0));
    const col::SphereTree container(nodes, col::SphereTreeKind::Container);
    const col::ExtraData_SphereTree ball(Point3(0, 0, 0), 0.5f);
    auto query = [&](float x, float y, bool swapped = false) {
        OverlapResult r;
        const Matrix4 at = Matrix4::translation(Vector3(x, y, 0));
        if (swapped)
            col::queryOverlap(ball.tree(), at, 1.0f, &container, Matrix4::identity(), 1.0f, r);
        else
            col::queryOverlap(&container, Matrix4::identity(), 1.0f, ball.tree(), at, 1.0f, r);
        return r;
    };
    // Half a sphere's cap across the x wall only: one cap, not three.
    const OverlapResult one = query(0.9f, 0);
    ASSERT_EQ(one.intersections.size(), 3u);
    const float oneCap = one.lensVolumes[0];
    EXPECT_NEAR(one.overlap, oneCap, 1e-3f * oneCap);
    EXPECT_LT(one.overlap, 0.5f * 4.18879f * 0.125f);
    // The same cap across both walls (a corner): two caps, whichever object comes first.
    const OverlapResult corner = query(0.9f, 0.9f);
    ASSERT_EQ(corner.intersections.size(), 4u);
    EXPECT_NEAR(corner.overlap, 2 * oneCap, 2e-2f * oneCap);
    EXPECT_NEAR(query(0.9f, 0.9f, true).overlap, corner.overlap, 1e-4f);
    // Whole inside the wall it is the ball's volume.
    EXPECT_NEAR(query(3, 3).overlap, 4.18879f * 0.125f, 1e-4f);
}

// The summed unit normal of the contact pairs of two bundled models at any offset up to contact.
// Every overlapping pair instead gets about a third of them wrong on both models. Rotated cubes
// may separate best off the centre line, so a few percent are allowed there.
TEST(ContactPairs, BundledModelsArePushedApartAtEveryOffset) {
    for (const auto& [model, reach, allowedWrong] : {std::tuple("sphere", 0.99f, 0), std::tuple("cube", 0.9f, 4)}) {
        col::ExtraData_SphereTree tree((std::string(DENSEPACK_SOURCE_DIR) + "/models/" + model + ".spheres").c_str());
        ASSERT_TRUE(tree.tree() && !tree.tree()->empty()) << model;
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> u(-1, 1);
        int tested = 0, wrong = 0;
        for (int trial = 0; trial < 200; ++trial) {
            Vector3 dir(u(rng), u(rng), u(rng));
            if (lengthSqr(dir) < 1e-3f) continue;
            dir = normalize(dir);
            const float offset = reach * (0.02f + 0.98f * (trial % 50) / 50.0f);
            const Matrix4 ma = Matrix4::rotation(u(rng) * 3.14159f, normalize(Vector3(u(rng), u(rng), u(rng) + 2)));
            const Matrix4 mb = Matrix4::translation(offset * dir) *
                               Matrix4::rotation(u(rng) * 3.14159f, normalize(Vector3(u(rng) + 2, u(rng), u(rng))));
            OverlapResult res, contacts;
            col::queryOverlap(tree.tree(), ma, 1.0f, tree.tree(), mb, 1.0f, res);
            if (res.intersections.empty()) continue;
            col::selectContacts(res, contacts);
            Vector3 sum(0.0f);
            for (const auto& e : contacts.intersections) {
                const Vector3 d = (ma * e.center1).getXYZ() - (mb * e.center2).getXYZ();
                if (length(d) > 0) sum += normalize(d);
            }
            ++tested;
            wrong += !(dot(sum, -dir) > 0);  // the sum must point from b towards a: against b's offset
        }
        EXPECT_GT(tested, 100) << model;
        EXPECT_LE(wrong, allowedWrong) << model << ": " << wrong << " of " << tested
                                       << " contact normals pull the objects together";
    }
}

// The contacts-only query skips node pairs and leaf pairs that cannot reach the contact share,
// and must still leave exactly the contacts of the full query, in order: bundled trees against
// each other and against the box, from touching to deep.
TEST(ContactPairs, ContactQueryLeavesTheContactsOfTheFullQuery) {
    const std::string dir = std::string(DENSEPACK_SOURCE_DIR) + "/models/";
    col::ExtraData_SphereTree box((dir + "box.spheres").c_str());
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> u(-1, 1);
    for (const char* model : {"sphere", "mm", "cube"}) {
        col::ExtraData_SphereTree tree((dir + model + ".spheres").c_str());
        ASSERT_TRUE(tree.isValid()) << model;
        size_t all = 0, kept = 0, hits = 0;
        col::OverlapScratch scratch;
        for (int trial = 0; trial < 120; ++trial) {
            const bool wall = trial % 3 == 0;
            const float depth = 0.1f * (trial % 10) / 10.0f;
            const Matrix4 spin = Matrix4::rotation(u(rng) * kPi, normalize(Vector3(u(rng), u(rng), u(rng) + 2)));
            const Vector3 along = normalize(Vector3(u(rng), u(rng), u(rng)) + Vector3(0, 0, 0.01f));
            const Matrix4 mb = wall ? Matrix4::translation(Vector3(2.6f + depth, u(rng), u(rng))) * spin
                                    : Matrix4::translation((0.95f - depth) * along) * spin;
            col::PosedTree p1, p2;
            p1.set(wall ? box.tree() : tree.tree(), Matrix4::identity(), 1.0f);
            p2.set(tree.tree(), mb, 1.0f);
            OverlapResult full, part, a, b;
            col::queryOverlap(p1, p2, scratch, full);
            col::queryOverlap(p1, p2, scratch, part, col::PairSet::Contacts);
            col::selectContacts(full, a);
            col::selectContacts(part, b);
            ASSERT_EQ(a.lensVolumes, b.lensVolumes) << model << " trial " << trial;
            for (size_t i = 0; i < a.nodePairs.size(); ++i)
                ASSERT_TRUE(a.nodePairs[i].node1 == b.nodePairs[i].node1 &&
                            a.nodePairs[i].node2 == b.nodePairs[i].node2);
            all += full.intersections.size(), kept += part.intersections.size(), hits += !a.intersections.empty();
        }
        EXPECT_GT(hits, 40u) << model;
        EXPECT_LT(kept, all / 2) << model << ": the contacts query should report far fewer pairs";
    }
}

TEST(LensVolume, SpecialCasesAndMonteCarlo) {
    EXPECT_EQ(col::lensVolume(2.0f, 1.0f, 1.0f), 0.0f);                             // tangent
    EXPECT_NEAR(col::lensVolume(0.2f, 1.0f, 0.5f), 4.0f / 3 * kPi * 0.125f, 1e-6);  // contained
    EXPECT_NEAR(col::lensVolume(0.0f, 0.7f, 0.7f), 4.0f / 3 * kPi * 0.343f, 1e-6);  // coincident
    // Equal spheres: two caps of height h = r - d/2, V = 2 * pi h^2 (3r - h) / 3.
    const float h = 1.0f - 0.6f;
    EXPECT_NEAR(col::lensVolume(1.2f, 1.0f, 1.0f), 2 * kPi * h * h * (3 - h) / 3, 1e-5);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    const double d = 0.9, r1 = 1.0, r2 = 0.6;
    int inside = 0;
    const int samples = 400000;
    for (int i = 0; i < samples; ++i) {
        const double x = u(rng) * r2 + d, y = u(rng) * r2, z = u(rng) * r2;  // box around sphere 2
        inside += (x - d) * (x - d) + y * y + z * z < r2 * r2 && x * x + y * y + z * z < r1 * r1;
    }
    const double mc = 8 * r2 * r2 * r2 * inside / samples;
    EXPECT_NEAR(col::lensVolume(float(d), float(r1), float(r2)), mc, 0.01);
}

// One-sphere trees: touching is not overlap, the geometry scale moves the contact, an empty tree
// overlaps nothing (each query clears the last answer); distance without and with meshes.
TEST(SphereTreeQuery, OneSphereTreesOverlapAndDistance) {
    col::ExtraData_SphereTree a(Point3(0, 0, 0), 1.0f), b(Point3(0, 0, 0), 0.5f);
    EXPECT_EQ(a.tree()->node(0).angle, kPi);  // no surface near: any normal
    OverlapResult r;
    auto query = [&](const col::SphereTree* t1, float x, float scale2) -> const OverlapResult& {
        col::queryOverlap(t1, Matrix4::identity(), 1, b.tree(), Matrix4::translation(Vector3(x, 0, 0)), scale2, r);
        return r;
    };
    EXPECT_TRUE(query(a.tree(), 1.5f, 1).intersections.empty());
    ASSERT_EQ(query(a.tree(), 1.49f, 1).intersections.size(), 1u);
    EXPECT_NEAR(r.overlap, col::lensVolume(1.49f, 1.0f, 0.5f), 1e-6);
    ASSERT_EQ(query(a.tree(), 1.9f, 2).intersections.size(), 1u);  // radius 0.5 x 2 reaches 2.0
    EXPECT_FLOAT_EQ(r.intersections[0].radius2, 1.0f);
    const col::SphereTree empty;
    EXPECT_TRUE(query(&empty, 0, 1).intersections.empty());
    // Without meshes: leaf-sphere distance, measured in object 2's frame.
    col::Data d;
    d.m12 = Matrix4::translation(Vector3(-4, 0, 0));
    d.m12Specified = true;
    EXPECT_NEAR(a.tree()->checkDistance(b.tree(), &d), 2.5f, 1e-5);
    EXPECT_FALSE(d.hasClosestTriangles);
    d.m12 = Matrix4::translation(Vector3(-1, 0, 0));
    EXPECT_EQ(a.tree()->checkDistance(b.tree(), &d), 0.0f);  // overlapping spheres: 0
    // With meshes bound through the geometry: exact triangle distance, both triangles in B's frame.
    std::vector<Point3> pts;
    std::vector<std::vector<unsigned>> tris;
    ellipsoidMesh(1, 1, 1, 2, pts, tris);
    col::ExtraData_SphereTree ta(Point3(0, 0, 0), 1.0f), tb(Point3(0, 0, 0), 1.0f);
    col::ColGeometry ga(pts, tris, col::PRIM_TRIANGLES), gb(pts, tris, col::PRIM_TRIANGLES);
    ga.setExtraData(&ta);
    gb.setExtraData(&tb);
    ASSERT_TRUE(ta.hasMesh());
    col::Data m(&ga, &gb);
    m.m21 = Matrix4::translation(Vector3(3, 0, 0));  // only the reverse given: A sits at x = -3 in B's frame
    m.m21Specified = true;
    const float dist = ta.tree()->checkDistance(tb.tree(), &m);
    ASSERT_TRUE(m.hasClosestTriangles);
    EXPECT_NEAR(dist, 1.0f, 0.05f);
    Point3 p, q;
    EXPECT_NEAR(col::TriDist(p, q, m.closestTri1, m.closestTri2), dist, 1e-4);
    EXPECT_NEAR(p.getX(), -2.0f, 0.05f);
    EXPECT_NEAR(q.getX(), -1.0f, 0.05f);
}
