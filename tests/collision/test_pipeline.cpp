// CollisionPipeline: grid, default and brute-force broad phases give the same callbacks with the
// same lists; activation, moves, one pipeline per thread, incremental against full checks, both
// registration orders and the contact-level subset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

#include "collision/BroadPhase.h"
#include "collision/CallbackMap.h"
#include "scenes.h"

using namespace colscene;

namespace {

struct Call {
    int cb, id1, id2;
    float overlap;
    std::vector<float> spheres;  // centre1, radius1, centre2, radius2 per entry
    std::vector<const col::SphereNode*> nodes;
    // Bit for bit, floats included.
    bool operator==(const Call& o) const {
        return cb == o.cb && id1 == o.id1 && id2 == o.id2 && std::memcmp(&overlap, &o.overlap, sizeof overlap) == 0 &&
               spheres.size() == o.spheres.size() && nodes == o.nodes &&
               std::memcmp(spheres.data(), o.spheres.data(), spheres.size() * sizeof(float)) == 0;
    }
};

class Recorder : public col::Callback {
 public:
    Recorder(int a, int b, int tag, std::vector<Call>* log, col::LevelOfDetectionE level = col::LEVEL_ALL,
             bool clears = false)
        : Callback(a, b, false, true, level), m_tag(tag), m_clears(clears), m_log(log) {}
    void operator()(const col::Data* d) override {
        Call c{m_tag, d->id1, d->id2, d->overlap, {}, {}};
        for (const auto& s : *d->sphereIntersections)
            c.spheres.insert(c.spheres.end(), {s.center1.getX(), s.center1.getY(), s.center1.getZ(), s.radius1,
                                               s.center2.getX(), s.center2.getY(), s.center2.getZ(), s.radius2});
        for (const auto& p : *d->nodePairs) c.nodes.insert(c.nodes.end(), {p.node1, p.node2});
        m_log->push_back(std::move(c));
        if (m_clears) {  // allowed: the lists belong to this check only
            d->sphereIntersections->clear();
            d->nodePairs->clear();
            d->sphereIntersections->shrink_to_fit();
        }
    }

 private:
    int m_tag;
    bool m_clears;
    std::vector<Call>* m_log;
};

// Random objects in [-20, 20]^3 (a few far outside), a container-like shell around that box.
struct World {
    std::vector<std::unique_ptr<col::ExtraData_SphereTree>> trees;
    std::vector<col::ColGeometry> geoms;
    std::vector<Matrix4> poses;

    World(std::mt19937& rng, int n) {
        trees.push_back(
            std::make_unique<col::ExtraData_SphereTree>(buildTree(boxShell(20, 2), 4, col::SphereTreeKind::Container)));
        for (int t = 0; t < 5; ++t)
            trees.push_back(roundTrip(buildTree(randomLeaves(rng, 10 + 15 * t, 1.5f, 0.2f, 0.6f), 2 + t), tempDir(),
                                      std::string("w").append(std::to_string(t))));
        geoms.resize(static_cast<size_t>(n));
        poses.push_back(Matrix4::identity());
        geoms[0].m_extraData = trees[0].get();
        for (int i = 1; i < n; ++i) {
            geoms[size_t(i)].m_extraData = trees[1 + size_t(i) % 5].get();
            geoms[size_t(i)].setScale(i % 4 == 0 ? 1.2f : 1.0f);
            poses.push_back(randomPose(rng, i % 25 == 0 ? 30.0f : 19.0f, i % 7 == 0 ? 1.3f : 1.0f));
        }
    }
};

struct PipeRun {
    col::CollisionPipeline pipe{"test", 1};
    std::vector<std::unique_ptr<Recorder>> cbs;
    std::vector<Call> log;

    // mode 0 brute force, 1 default, 2 grid
    PipeRun(World& w, int mode) {
        if (mode == 0) pipe.setBruteForce(true);
        if (mode == 2) {
            const unsigned cells[3] = {10, 10, 10};
            const float lo[3] = {-20, -20, -20}, hi[3] = {20, 20, 20};
            pipe.useGrid(cells, lo, hi);
        }
        for (auto& g : w.geoms) pipe.makeCollidable(&g, nullptr);
        const int n = static_cast<int>(w.geoms.size());
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
                const int tag = static_cast<int>(cbs.size());
                const bool reversed = (i + j) % 3 == 0;
                cbs.push_back(std::make_unique<Recorder>(reversed ? j : i, reversed ? i : j, tag, &log));
                if ((i * j) % 11 == 5) cbs.push_back(std::make_unique<Recorder>(j, i, tag + 1, &log));  // a second one
            }
        for (auto& c : cbs) pipe.addCallback(c.get());
        for (int i = 0; i < n; ++i) pipe.moveObject(i, &w.poses[size_t(i)]);
    }
    std::vector<Call> check() {
        log.clear();
        unsigned called = 0;
        pipe.check(&called);
        EXPECT_EQ(called, log.size());
        return log;
    }
};

}  // namespace

TEST(CollisionPipeline, BroadPhasesAgreeThroughMovesActivationAndThreads) {
    std::mt19937 rng(99);
    World w(rng, 240);
    PipeRun brute(w, 0), sweep(w, 1), grid(w, 2);
    // One pipeline per thread over the same objects, built and checked concurrently.
    std::vector<std::vector<Call>> threaded(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            PipeRun r(w, 1 + t % 2);
            for (int k = 0; k < 3; ++k) threaded[size_t(t)] = r.check();
        });
    for (auto& th : threads) th.join();
    for (const auto& r : threaded) EXPECT_EQ(r, brute.check());
    for (int round = 0; round < 4; ++round) {
        const auto ref = brute.check();
        ASSERT_GT(ref.size(), 30u);
        EXPECT_EQ(sweep.check(), ref) << "round " << round;
        EXPECT_EQ(grid.check(), ref) << "round " << round;
        bool container = false;
        for (const Call& c : ref) {
            ASSERT_FALSE(c.spheres.empty());
            container = container || c.id1 == 0 || c.id2 == 0;
            // Object 1 of the data is the callback's own first id.
            const auto& cb = *brute.cbs[size_t(c.cb)];
            ASSERT_EQ(c.id1, cb.obj1);
            // Its first sphere is a sphere of object 1's tree, its radius in world units.
            const float k = length(w.poses[size_t(c.id1)].getCol0().getXYZ());
            ASSERT_FLOAT_EQ(c.spheres[3], c.nodes[0]->radius * k * w.geoms[size_t(c.id1)].getScale());
        }
        EXPECT_TRUE(container);
        // Every overlapping pair was reported: compare with direct pair queries.
        size_t pairsOverlapping = 0;
        for (int i = 0; i < 240; ++i)
            for (int j = i + 1; j < 240; ++j) {
                col::OverlapResult r;
                if (!brute.pipe.geometry(i)) continue;
                col::queryOverlap(w.trees[i == 0 ? 0 : 1 + size_t(i) % 5]->tree(), w.poses[size_t(i)],
                                  w.geoms[size_t(i)].getScale(), w.trees[1 + size_t(j) % 5]->tree(), w.poses[size_t(j)],
                                  w.geoms[size_t(j)].getScale(), r);
                const bool active = round < 2 || (i % 5 != 1 && j % 5 != 1);
                pairsOverlapping += active && !r.intersections.empty();
            }
        size_t distinct = 0;
        for (size_t k = 0; k < ref.size(); ++k)
            distinct += k == 0 || std::minmax(ref[k].id1, ref[k].id2) != std::minmax(ref[k - 1].id1, ref[k - 1].id2);
        EXPECT_EQ(distinct, pairsOverlapping) << "round " << round;
        // Move a third of the objects, then deactivate some from round 2 on.
        for (int i = 1; i < 240; i += 3) w.poses[size_t(i)] = randomPose(rng, 19.0f);
        for (PipeRun* r : {&brute, &sweep, &grid}) {
            for (int i = 1; i < 240; i += 3) r->pipe.moveObject(i, &w.poses[size_t(i)]);
            for (int i = 1; i < 240; i += 5) round >= 1 ? r->pipe.deactivate(i) : r->pipe.activate(i);
        }
    }
    // Deactivated objects take part in no check.
    for (const Call& c : brute.check()) EXPECT_TRUE(c.id1 % 5 != 1 && c.id2 % 5 != 1);
}

// Relaxation-like steps: a few spheres move a little (mostly inside their cell), sometimes one
// jumps; the grid, which then keeps its pairs and retests only the moved spheres, must still find
// exactly the touching pairs, as brute force does.
TEST(BroadPhase, GridFollowsSmallMovesAndJumps) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> at(0.0f, 8.0f), nudge(-0.03f, 0.03f);
    std::vector<col::BroadObject> objs(600);
    for (int i = 0; i < 600; ++i) objs[size_t(i)] = {{at(rng), at(rng), at(rng)}, 0.5f, 599 - i};
    col::BroadPhase grid, brute;
    const unsigned cells[3] = {8, 8, 8};
    const float lo[3] = {0, 0, 0}, hi[3] = {8, 8, 8};
    grid.useGrid(cells, lo, hi);
    brute.setBruteForce(true);
    size_t changes = 0;
    std::vector<uint64_t> last;
    for (int step = 0; step < 200; ++step) {
        for (int k = 0; k < 12; ++k)
            for (float& c : objs[size_t(rng() % 600)].c) c += nudge(rng);
        if (step % 25 == 7) objs[size_t(rng() % 600)].c[0] = at(rng);
        std::vector<uint64_t> g, b, touching;
        grid.findPairs(objs, g);
        brute.findPairs(objs, b);
        for (const uint64_t key : b) {
            const auto &p = objs[size_t(599 - col::CallbackMap::keyLo(key))],
                       &q = objs[size_t(599 - col::CallbackMap::keyHi(key))];
            const float dx = p.c[0] - q.c[0], dy = p.c[1] - q.c[1], dz = p.c[2] - q.c[2];
            if (dx * dx + dy * dy + dz * dz <= 1.0f) touching.push_back(key);
        }
        std::sort(g.begin(), g.end());
        std::sort(touching.begin(), touching.end());
        ASSERT_TRUE(std::adjacent_find(g.begin(), g.end()) == g.end()) << "a pair twice at step " << step;
        // Every touching pair is found; extra pairs may only be within rounding of touching.
        ASSERT_TRUE(std::includes(g.begin(), g.end(), touching.begin(), touching.end())) << "step " << step;
        ASSERT_LE(g.size(), touching.size() + 2) << "step " << step;
        changes += g != last;
        last = g;
    }
    EXPECT_GT(changes, 100u);  // the moves did change the pairs
}

// Two pipelines over the same objects, one checking incrementally, one in full, driven through the
// same steps as a relaxation drives them: every matrix handed over at every step, most unchanged.
TEST(CollisionPipeline, IncrementalChecksHandOutWhatFullChecksDo) {
    std::mt19937 rng(321);
    World w(rng, 160);
    const int n = static_cast<int>(w.geoms.size());
    auto share = [](col::ColGeometry* t, const void* src) {
        t->shareFrom(*static_cast<const col::ColGeometry*>(src));
        return true;
    };
    struct Run {
        col::CollisionPipeline pipe{"inc", 1};
        std::vector<std::unique_ptr<Recorder>> cbs;
        std::vector<Call> log;
    } inc, full;
    full.pipe.setIncremental(false);
    ASSERT_TRUE(inc.pipe.incremental());
    // Contact-level, reversed, doubled and list-clearing callbacks; a few pairs get theirs later.
    auto addCallbacks = [&](Run& r, bool late) {
        const size_t first = r.cbs.size();
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
                if (((i * 7 + j) % 13 == 0) != late) continue;
                const int tag = (i * n + j) * 2;
                const auto level = (i + j) % 3 == 0 ? col::LEVEL_CONTACT : col::LEVEL_ALL;
                r.cbs.push_back(std::make_unique<Recorder>((i + j) % 2 ? j : i, (i + j) % 2 ? i : j, tag, &r.log, level,
                                                           (i * j) % 5 == 0));
                if ((i * j) % 11 == 5)
                    r.cbs.push_back(std::make_unique<Recorder>(j, i, tag + 1, &r.log, col::LEVEL_CONTACT));
            }
        for (size_t c = first; c < r.cbs.size(); ++c) r.pipe.addCallback(r.cbs[c].get());
    };
    for (Run* r : {&inc, &full}) {
        for (auto& g : w.geoms) r->pipe.makeCollidable(&g, share);
        addCallbacks(*r, false);
    }
    std::uniform_int_distribution<int> pick(1, n - 1);
    std::uniform_real_distribution<float> nudge(-0.3f, 0.3f);
    size_t reused = 0, queriedInc = 0, queriedFull = 0, calls = 0;
    int toggled = 1;
    for (int step = 0; step < 14; ++step) {
        // A few objects move a little, one jumps; one is switched off or on; a scale or a tree changes.
        for (int k = 0; k < 6; ++k) {
            Matrix4& m = w.poses[size_t(pick(rng))];
            m.setTranslation(m.getTranslation() + Vector3(nudge(rng), nudge(rng), nudge(rng)));
        }
        if (step % 4 == 1) w.poses[size_t(pick(rng))] = randomPose(rng, 19.0f);
        // Switched off: an object that overlaps something, switched on again two steps later.
        if (step % 4 == 1) toggled = full.log.empty() ? pick(rng) : std::max(full.log[0].id1, full.log[0].id2);
        const int scaled = pick(rng), retreed = pick(rng);
        if (step % 3 == 2) w.geoms[size_t(scaled)].setScale(w.geoms[size_t(scaled)].getScale() * 1.1f);
        if (step % 5 == 3) w.geoms[size_t(retreed)].m_extraData = w.trees[1 + size_t(step) % 5].get();
        for (Run* r : {&inc, &full}) {
            for (int i = 0; i < n; ++i)
                r->pipe.moveObject(i, &w.poses[size_t(i)], i == retreed && step % 5 == 3 ? +share : nullptr);
            if (step % 2 == 1) (step % 4 == 1) ? r->pipe.deactivate(toggled) : r->pipe.activate(toggled);
            if (step == 7) addCallbacks(*r, true);
            r->log.clear();
            r->pipe.check();
        }
        ASSERT_FALSE(full.log.empty()) << "step " << step;
        ASSERT_EQ(inc.log.size(), full.log.size()) << "step " << step;
        for (size_t c = 0; c < full.log.size(); ++c)
            ASSERT_TRUE(inc.log[c] == full.log[c]) << "step " << step << " call " << c;
        reused += inc.pipe.lastReusedCount();
        queriedInc += inc.pipe.lastNarrowPhaseCount();
        queriedFull += full.pipe.lastNarrowPhaseCount();
        calls += full.log.size();
        EXPECT_LE(inc.pipe.rememberedPairCount(), full.log.size());
    }
    // Not vacuous: most pairs were answered from memory, and the remembered ones were handed out.
    EXPECT_GT(reused, calls / 4);
    EXPECT_LT(queriedInc, queriedFull / 2);
    EXPECT_EQ(full.pipe.lastReusedCount(), 0u);
}

// Objects 0 and 2 are one sphere; object 1 has three spheres, one deep in object 0, one grazing,
// one apart. Callbacks of both orders and levels; contact level hands out the deepest pair only.
TEST(CollisionPipeline, OrderingSwappedListsAndContactSubset) {
    std::vector<col::SphereNode> n(4);
    n[0].radius = 3, n[0].firstChild = 1, n[0].childCount = 3;
    n[1].center = Point3(0.2f, 0, 0), n[1].radius = 0.5f;
    n[2].center = Point3(1.45f, 0, 0), n[2].radius = 0.5f;
    n[3].center = Point3(0, 2.5f, 0), n[3].radius = 0.5f;
    col::ExtraData_SphereTree a(Point3(0, 0, 0), 1.0f), b{col::SphereTree(n)};
    col::ColGeometry ga, gb;
    ga.m_extraData = &a;
    gb.m_extraData = &b;
    col::CollisionPipeline p("order", 1);
    std::vector<Call> log;
    for (int i = 0; i < 3; ++i) p.makeCollidable(i == 1 ? &gb : &ga, nullptr);
    Recorder r21(2, 1, 0, &log), r01(0, 1, 1, &log), r10(1, 0, 2, &log), r12(1, 2, 3, &log), r02(0, 2, 4, &log),
        c01(0, 1, 5, &log, col::LEVEL_CONTACT), c10(1, 0, 6, &log, col::LEVEL_CONTACT);
    // Other callbacks of the pair read the overlap, so it stays the sum of every pair.
    c01.setReadsOverlap(false);
    for (Recorder* r : {&r21, &r01, &r10, &r12, &r02, &c01, &c10}) p.addCallback(r);
    const Matrix4 far = Matrix4::translation(Vector3(0, 10, 0));
    p.moveObject(2, &far);
    p.check();
    ASSERT_EQ(log.size(), 4u);              // pairs (0,2) and (1,2) are apart: r01, r10, c01, c10
    ASSERT_EQ(log[0].spheres.size(), 16u);  // the grazing pair counts at full level
    EXPECT_EQ(log[0].spheres[3], 1.0f);     // r01: object 0 first
    EXPECT_EQ(log[1].spheres[3], 0.5f);     // r10: object 1 first
    EXPECT_EQ(log[1].nodes[1], &a.tree()->node(0));
    EXPECT_TRUE(log[1].nodes[0] == &b.tree()->node(1) || log[1].nodes[0] == &b.tree()->node(2));
    EXPECT_GT(log[0].overlap, col::lensVolume(0.2f, 1.0f, 0.5f));
    for (const Call& c : {log[2], log[3]}) {
        ASSERT_EQ(c.spheres.size(), 8u);
        EXPECT_EQ(c.nodes.size(), 2u);
        EXPECT_FLOAT_EQ(c.overlap, log[0].overlap);  // the contact subset keeps the full overlap
    }
    EXPECT_FLOAT_EQ(log[2].spheres[4], 0.2f);  // c01: the deep sphere second
    EXPECT_FLOAT_EQ(log[3].spheres[0], 0.2f);  // c10: the deep sphere first, object 0's radius last
    EXPECT_FLOAT_EQ(log[3].spheres[7], 1.0f);
    const Matrix4 near = Matrix4::translation(Vector3(1.2f, 0, 0));
    p.moveObject(2, &near);
    log.clear();
    unsigned calls = 0;
    p.check(&calls);
    ASSERT_EQ(calls, 7u);
    const int order[] = {1, 2, 5, 6, 4, 0, 3};  // by (min id, max id), then registration
    for (int k = 0; k < 7; ++k) EXPECT_EQ(log[size_t(k)].cb, order[k]);
    // Scale read live through a shared record.
    col::CollisionPipeline q("share", 1);
    auto share = [](col::ColGeometry* t, const void* s) {
        t->shareFrom(*static_cast<const col::ColGeometry*>(s));
        return true;
    };
    q.makeCollidable(&ga, share);
    q.makeCollidable(&gb, share);
    const Matrix4 gap = Matrix4::translation(Vector3(2.5f, 0, 0));
    q.moveObject(1, &gap);
    Recorder rq(0, 1, 0, &log);
    q.addCallback(&rq);
    q.check(&calls);
    EXPECT_EQ(calls, 0u);
    gb.setScale(5.0f);  // the deep sphere, radius 2.5 around x = 2.7, reaches into object 0
    q.check(&calls);
    EXPECT_EQ(calls, 1u);
}

TEST(CollisionPipeline, ObjectsStackedOnOnePointStayWithinThePairBudget) {
    // 30 copies of a tree of 300 overlapping leaves on one pose: 435 pairs of about 90,000 leaf
    // pairs each, far beyond what one check may hold.
    std::mt19937 rng(3u);
    col::ExtraData_SphereTree tree(buildTree(randomLeaves(rng, 300, 0.6f, 0.4f, 0.6f), 4));
    const int n = 30;
    std::vector<col::ColGeometry> geoms(n);
    const Matrix4 pose = Matrix4::translation(Vector3(1, 2, 3));
    col::CollisionPipeline pipe("stack", 1);
    std::vector<Call> log;
    std::vector<std::unique_ptr<Recorder>> cbs;
    for (auto& g : geoms) g.m_extraData = &tree, pipe.makeCollidable(&g, nullptr);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) cbs.push_back(std::make_unique<Recorder>(i, j, int(cbs.size()), &log));
    for (auto& c : cbs) pipe.addCallback(c.get());
    for (int i = 0; i < n; ++i) pipe.moveObject(i, &pose);
    unsigned called = 0;
    pipe.check(&called);
    ASSERT_EQ(called, cbs.size());

    col::OverlapResult full;
    col::queryOverlap(tree.tree(), pose, 1.0f, tree.tree(), pose, 1.0f, full);
    const float deepest = *std::max_element(full.lensVolumes.begin(), full.lensVolumes.end());
    size_t held = 0, cut = 0;
    for (const Call& c : log) {
        EXPECT_EQ(c.overlap, full.overlap);  // the value stays the whole sum
        held += c.spheres.size() / 8;
        if (c.spheres.size() / 8 == 1) {
            ++cut;
            const float r1 = c.spheres[3], r2 = c.spheres[7];
            const float d =
                std::hypot(c.spheres[0] - c.spheres[4], c.spheres[1] - c.spheres[5], c.spheres[2] - c.spheres[6]);
            EXPECT_NEAR(col::lensVolume(d, r1, r2), deepest, 1e-4f * deepest);
        } else {
            EXPECT_EQ(c.spheres.size() / 8, full.intersections.size());
        }
    }
    EXPECT_GT(cut, log.size() / 2);
    EXPECT_LT(held, (size_t(1) << 22) + 2 * full.intersections.size());
}
