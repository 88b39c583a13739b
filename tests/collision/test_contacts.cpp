// Contact pairs (level 2): the overlapping leaf pairs with the largest lens volumes.
// The packing heuristics sum one unit normal per reported pair, so the subset must point from
// one object to the other on the bundled trees, which hold one large sphere and many slivers.
#include <gtest/gtest.h>

#include <random>

#include "scenes.h"

using namespace colscene;

namespace {

class Collect : public col::Callback {
 public:
    Collect(int a, int b, col::LevelOfDetectionE level) : Callback(a, b, false, true, level) {}
    void operator()(const col::Data* d) override {
        pairs = *d->sphereIntersections;
        nodes = d->nodePairs->size();
        overlap = d->overlap;
        ++calls;
    }
    std::vector<col::SphereIntersectionData> pairs;
    size_t nodes = 0;
    float overlap = 0;
    int calls = 0;
};

TEST(ContactPairs, SubsetOfTheLargestPairsWithTheFullOverlap) {
    // Three spheres of b: one deep in a, one grazing, one apart.
    std::vector<col::SphereNode> n(4);
    n[0].radius = 3, n[0].firstChild = 1, n[0].childCount = 3;
    n[1].center = Point3(0.2f, 0, 0), n[1].radius = 0.5f;
    n[2].center = Point3(1.45f, 0, 0), n[2].radius = 0.5f;
    n[3].center = Point3(0, 2.5f, 0), n[3].radius = 0.5f;
    col::ExtraData_SphereTree a(Point3(0, 0, 0), 1.0f), b{col::SphereTree(n)};
    col::ColGeometry ga, gb;
    ga.m_extraData = &a;
    gb.m_extraData = &b;
    col::CollisionPipeline p("contacts", 1);
    p.makeCollidable(&ga, nullptr);
    p.makeCollidable(&gb, nullptr);
    Collect all(0, 1, col::LEVEL_ALL), contact(0, 1, col::LEVEL_CONTACT), swapped(1, 0, col::LEVEL_CONTACT);
    for (Collect* c : {&all, &contact, &swapped}) p.addCallback(c);
    p.check();
    ASSERT_EQ(all.pairs.size(), 2u);
    ASSERT_EQ(contact.pairs.size(), 1u);
    EXPECT_EQ(contact.nodes, 1u);
    EXPECT_FLOAT_EQ(contact.pairs[0].center2.getX(), 0.2f);
    EXPECT_FLOAT_EQ(contact.overlap, all.overlap);
    EXPECT_GT(all.overlap, col::lensVolume(0.2f, 1.0f, 0.5f));  // the grazing pair still counts
    ASSERT_EQ(swapped.pairs.size(), 1u);
    EXPECT_FLOAT_EQ(swapped.pairs[0].center1.getX(), 0.2f);  // b's sphere first for b's callback
    EXPECT_FLOAT_EQ(swapped.pairs[0].radius2, 1.0f);
}

// The summed unit normal of the contact pairs of two bundled models at any offset up to contact.
// Every overlapping pair instead gets about a third of them wrong on both models. Rotated cubes
// may separate best off the centre line, so a few percent are allowed there.
void ExpectSeparatingNormals(const char* model, float reach, int allowedWrong) {
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
        col::OverlapResult res, contacts;
        col::queryOverlap(tree.tree(), ma, 1.0f, tree.tree(), mb, 1.0f, res);
        if (res.intersections.empty()) continue;
        col::selectContacts(res, contacts);
        Vector3 sum(0.0f);
        for (const auto& e : contacts.intersections) {
            const Vector3 d = (ma * e.center1).getXYZ() - (mb * e.center2).getXYZ();
            if (length(d) > 0) sum += normalize(d);
        }
        ++tested;
        // The sum points from b towards a: against the offset of b.
        if (!(dot(sum, -dir) > 0)) ++wrong;
    }
    EXPECT_GT(tested, 100) << model;
    EXPECT_LE(wrong, allowedWrong) << model << ": " << wrong << " of " << tested
                                   << " contact normals pull the objects together";
}

TEST(ContactPairs, BundledModelsArePushedApartAtEveryOffset) {
    ExpectSeparatingNormals("sphere", 0.99f, 0);
    ExpectSeparatingNormals("cube", 0.9f, 4);
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
    const col::SphereTree ball(std::vector<col::SphereNode>{[] {
        col::SphereNode n;
        n.radius = 0.5f;
        return n;
    }()});

    // Half a sphere's cap across the x wall only: one cap, not three.
    col::OverlapResult res;
    col::queryOverlap(&container, Matrix4::identity(), 1.0f, &ball, Matrix4::translation(Vector3(0.9f, 0, 0)), 1.0f,
                      res);
    ASSERT_EQ(res.intersections.size(), 3u);
    const float oneCap = res.lensVolumes[0];
    EXPECT_NEAR(res.overlap, oneCap, 1e-3f * oneCap);
    EXPECT_LT(res.overlap, 0.5f * 4.18879f * 0.125f);

    // The same cap across both walls (a corner): two caps.
    col::queryOverlap(&container, Matrix4::identity(), 1.0f, &ball, Matrix4::translation(Vector3(0.9f, 0.9f, 0)), 1.0f,
                      res);
    ASSERT_EQ(res.intersections.size(), 4u);
    EXPECT_NEAR(res.overlap, 2 * oneCap, 2e-2f * oneCap);

    // Swapped roles give the same measure; whole inside the wall it is the ball's volume.
    col::OverlapResult swapped;
    col::queryOverlap(&ball, Matrix4::translation(Vector3(0.9f, 0.9f, 0)), 1.0f, &container, Matrix4::identity(), 1.0f,
                      swapped);
    EXPECT_NEAR(swapped.overlap, res.overlap, 1e-4f);
    col::queryOverlap(&container, Matrix4::identity(), 1.0f, &ball, Matrix4::translation(Vector3(3, 3, 0)), 1.0f, res);
    EXPECT_NEAR(res.overlap, 4.18879f * 0.125f, 1e-4f);
}

}  // namespace
