// The compression heuristic's engine against brute force: the wall test against every vertex and
// plane, the overlap bookkeeping against all pairs after every sweep, the end state exact and
// repeatable; and its settings line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "algorithms/Limits.h"
#include "algorithms/compression/BallGrowth.h"
#include "algorithms/compression/CompressionAlgorithm.h"
#include "algorithms/compression/Compressor.h"
#include "algorithms/compression/Shapes.h"
#include "collision/ColGeometry.h"
#include "geometry/SizeDistribution.h"
#include "statistics/Cubatic.h"

namespace {

using Packing::compression::Body;
using Packing::compression::Compressor;
using Packing::compression::Shapes;
using Vectormath::Aos::cross;
using Vectormath::Aos::Matrix3;
using Vectormath::Aos::normalize;
using Vectormath::Aos::Quat;
using Vectormath::Aos::Vector3;

col::ColGeometry* Load(const std::string& name) {
    auto* g = new col::ColGeometry();
    const std::string path = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name + ".obj";
    EXPECT_EQ(col::loadGeometryFromFile(g, path.c_str()), 0) << path;
    return g;
}

// An axis-aligned box container from -half to half.
col::ColGeometry* Box(float half) {
    auto* g = new col::ColGeometry();
    std::vector<Vectormath::Aos::Point3> p;
    for (int i = 0; i < 8; ++i) p.emplace_back(i & 1 ? half : -half, i & 2 ? half : -half, i & 4 ? half : -half);
    *g = col::ColGeometry(p, {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}},
                          col::PRIM_POLYGONS);
    return g;
}

// Budgets for a few dozen bodies: short rests and clearings, larger growth steps.
Packing::compression::CompressionSettings Quick(double maxGrowth) {
    Packing::compression::CompressionSettings s;
    s.relaxSweeps = 2;
    s.clearSweeps = 30;
    s.maxGrowth = maxGrowth;
    return s;
}

Body RandomBody(std::mt19937& rng, int type, float spread) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    Body b;
    b.type = type;
    b.position = spread * Vector3(u(rng), u(rng), u(rng));
    b.orientation = Vectormath::Aos::normalize(Quat(u(rng), u(rng), u(rng), u(rng)));
    b.rotation = Matrix3(b.orientation);
    return b;
}

TEST(CompressionShapes, WallTestMatchesEveryVertexAgainstEveryPlane) {
    const col::ColGeometry* types[] = {Load("cube"), Load("mm_l")};
    const col::ColGeometry* container = Load("cylinder_container");
    Shapes shapes;
    std::string error;
    ASSERT_TRUE(shapes.Build({types[0], types[1]}, *container, error)) << error;
    col::ConvexShape hull, shape[2];
    ASSERT_TRUE(hull.build(container->getPoints(), container->getPrimitives()));
    for (int t = 0; t < 2; ++t) ASSERT_TRUE(shape[t].build(types[t]->getPoints(), types[t]->getPrimitives()));

    std::mt19937 rng(7u);
    int inside = 0, outside = 0;
    for (int n = 0; n < 4000; ++n) {
        const Body b = RandomBody(rng, n % 2, 3.4f);
        const float scale = n % 3 ? 1.0f : 0.6f;
        // Brute force: the deepest vertex beyond any container plane.
        float beyond = -1e30f;
        for (const Vector3& v : shape[b.type].vertices()) {
            const Vector3 p = b.position + scale * (b.rotation * v);
            for (const col::Plane& pl : hull.planes()) beyond = std::max(beyond, dot(pl.normal, p) - pl.offset);
        }
        if (std::fabs(beyond) < 1e-4f) continue;  // touching may go either way
        EXPECT_EQ(shapes.Inside(b, scale), beyond < 0.0f) << n;
        EXPECT_NEAR(shapes.Protrusion(b, scale), std::max(0.0f, beyond), 1e-4f) << n;
        (beyond < 0.0f ? inside : outside) += 1;
    }
    EXPECT_GT(inside, 800);
    EXPECT_GT(outside, 800);
}

TEST(CompressionShapes, ANonConvexMeshIsTestedOnItsTriangles) {
    // A small ball (the sphere scaled to diameter 0.3) in the hole of the torus (hole diameter 0.4)
    // lies inside the torus's hull but touches nothing; moved onto the tube it overlaps.
    const col::ColGeometry* torus = Load("torus");
    auto* ball = new col::ColGeometry(*Load("sphere_l"));
    for (auto& p : *ball->editPointsPtr()) p = Vectormath::Aos::Point3(Vector3(p) * 0.3f);
    Shapes shapes;
    std::string error;
    ASSERT_TRUE(shapes.Build({torus, ball}, *Load("box"), error)) << error;
    EXPECT_FALSE(shapes.Convex(0));
    EXPECT_TRUE(shapes.Convex(1));
    Body ring, inHole, onTube;
    ring.type = 0;
    inHole.type = onTube.type = 1;
    onTube.position = Vector3(0.35f, 0.0f, 0.0f);
    for (const Quat& q : {Quat::identity(), Vectormath::Aos::normalize(Quat(0.3f, -0.2f, 0.1f, 0.9f))}) {
        ring.orientation = q;
        ring.rotation = Matrix3(q);
        inHole.position = ring.rotation * Vector3(0.0f);
        onTube.position = ring.rotation * Vector3(0.35f, 0.0f, 0.0f);
        EXPECT_FALSE(shapes.Overlap(ring, inHole, 1.0f));
        EXPECT_TRUE(shapes.Overlap(ring, onTube, 1.0f));
        EXPECT_TRUE(shapes.Overlap(onTube, ring, 1.0f));
    }
}

struct Outcome {
    std::vector<Body> bodies;
    float scale = 0.0f;
    int64_t sweeps = 0;
    int64_t rounds = 0;
    int64_t countingSweeps = 0;
    bool freshStart = false;
    size_t observed = 0;
    float removalScale = 0.0f;  ///< scale after the first removal over the scale before it (0: none)
    int removalsChecked = 0;    ///< jams after which bodies were taken out
};

// A mixture of cubes and M&Ms in a 3 x 3 x 3 box under a small sweep budget; after every sweep the
// tracked overlap count must equal an all-pairs count. Without the counting round the excess of a
// jam is taken out of the packing itself.
Outcome Compress(uint64_t seed, double limitSeconds, bool checkEverySweep, double estimateSpeed = 1.0) {
    static const col::ColGeometry* cube = Load("cube");
    static const col::ColGeometry* mm = Load("mm_l");
    static const col::ColGeometry* box = Box(1.5f);
    static Shapes shapes;
    std::string error;
    EXPECT_TRUE(shapes.Build({cube, mm}, *box, error)) << error;
    Packing::SetLimits({Packing::LimitMode::Steps, 10});
    Packing::compression::CompressionSettings settings = Quick(0.02);
    settings.estimateSpeed = estimateSpeed;
    Compressor c(shapes, {{50.0, 0.512}, {50.0, 0.2566}}, 27.0, settings, seed);
    Packing::Limit limit(limitSeconds);
    Outcome r;
    float scale = 0.0f;
    std::vector<Body> before;
    c.Run(limit, [&](const Compressor& k) {
        ++r.observed;
        // Bodies out after a jam: the first to go overlapped most at full size among its type, so
        // at least one type lost its most crowded body.
        if (k.CurrentPhase() == Compressor::Phase::Compress && k.Bodies().size() < before.size()) {
            std::vector<int> crowd(before.size(), 0);
            for (size_t i = 0; i < before.size(); ++i) {
                crowd[i] += !shapes.Inside(before[i], 1.0f);
                for (size_t j = i + 1; j < before.size(); ++j)
                    if (shapes.Overlap(before[i], before[j], 1.0f)) ++crowd[i], ++crowd[j];
            }
            int most[2] = {0, 0}, mostGone[2] = {-1, -1};
            for (size_t i = 0; i < before.size(); ++i) {
                const size_t t = static_cast<size_t>(before[i].type);
                most[t] = std::max(most[t], crowd[i]);
                bool kept = false;
                for (const Body& b : k.Bodies()) kept = kept || length(b.position - before[i].position) == 0.0f;
                if (!kept) mostGone[t] = std::max(mostGone[t], crowd[i]);
            }
            EXPECT_TRUE(mostGone[0] == most[0] || mostGone[1] == most[1])
                << "most overlaps at full size " << most[0] << ", " << most[1] << "; of those taken out " << mostGone[0]
                << ", " << mostGone[1];
            ++r.removalsChecked;
            if (r.removalScale == 0.0f) r.removalScale = k.Scale() / scale;
        }
        before = k.Bodies();
        scale = k.Scale();
        if (checkEverySweep) {
            ASSERT_EQ(k.Overlaps(), k.CountOverlapsBruteForce())
                << "sweep " << k.Stats().sweeps << " phase " << static_cast<int>(k.CurrentPhase()) << " scale "
                << k.Scale() << " bodies " << k.Bodies().size();
        }
    });
    EXPECT_EQ(c.CountOverlapsBruteForce(), 0);
    r.bodies = c.Bodies();
    r.scale = c.Scale();
    r.sweeps = c.Stats().sweeps;
    r.rounds = c.Stats().rounds;
    r.countingSweeps = c.Stats().countingSweeps;
    r.freshStart = c.Stats().freshStart;
    return r;
}

TEST(Compressor, TracksOverlapsExactlyAndEndsAtFullSizeWithoutOne) {
    int removalsChecked = 0;
    for (double estimateSpeed : {1.0, 0.0}) {
        SCOPED_TRACE(estimateSpeed);
        const Outcome r = Compress(11u, 1000.0, true, estimateSpeed);
        removalsChecked += r.removalsChecked;
        EXPECT_EQ(r.scale, 1.0f);
        EXPECT_GT(r.observed, 50u);
        EXPECT_GE(r.rounds, 2) << "never jammed: the rounds went untested";
        // What is left after a removal loosens before it grows on.
        if (estimateSpeed == 0.0) {
            EXPECT_NEAR(r.removalScale, 0.97f, 1e-4f);
        }
        EXPECT_LT(r.sweeps, 10000) << "reached full size before the budget";
        ASSERT_GT(r.bodies.size(), 20u);  // 31 and 26 when written: global fractions of 0.44 and 0.37
        // The shares hold within one body.
        int cubes = 0;
        for (const Body& b : r.bodies) cubes += b.type == 0;
        EXPECT_LE(std::abs(2 * cubes - static_cast<int>(r.bodies.size())), 2) << cubes << " of " << r.bodies.size();
    }
    EXPECT_GT(removalsChecked, 0) << "no jam took bodies out: their choice went untested";
}

// A counting round that used more than half the limit goes on from its jam: a fresh round would
// be cut short by the limit.
TEST(Compressor, ACountingRoundLateInTheLimitGoesOnFromItsJam) {
    const Outcome free = Compress(11u, 1000.0, false);
    ASSERT_TRUE(free.freshStart);
    ASSERT_GT(free.countingSweeps, 20);
    // Sweeps are the limit's iterations (K = 10 a second): 1.6 times the counting round's.
    const Outcome late = Compress(11u, 0.16 * static_cast<double>(free.countingSweeps), true);
    EXPECT_FALSE(late.freshStart);
    EXPECT_EQ(late.countingSweeps, free.countingSweeps);
    EXPECT_GE(late.rounds, 2);
    EXPECT_EQ(late.scale, 1.0f);
    // Late in the limit what is left does not loosen: the regrowth would be cut short.
    EXPECT_EQ(late.removalScale, 1.0f);
}

TEST(Compressor, SameSeedSameBodies) {
    const Outcome a = Compress(5u, 300.0, false), b = Compress(5u, 300.0, false);
    ASSERT_EQ(a.bodies.size(), b.bodies.size());
    for (size_t i = 0; i < a.bodies.size(); ++i) {
        EXPECT_EQ(a.bodies[i].type, b.bodies[i].type);
        EXPECT_EQ(length(a.bodies[i].position - b.bodies[i].position), 0.0f) << i;
    }
}

// Stopped at half of what it needs, the compression still ends at full size without overlap and
// keeps nearly the share of its bodies that the scale it had reached has room for.
TEST(Compressor, ALimitBeforeFullSizeKeepsWhatTheScaleHasRoomFor) {
    static const col::ColGeometry* mm = Load("mm_l");
    static const col::ColGeometry* box = Box(2.2f);
    Shapes shapes;
    std::string error;
    ASSERT_TRUE(shapes.Build({mm}, *box, error)) << error;
    Packing::SetLimits({Packing::LimitMode::Steps, 10});
    Packing::compression::CompressionSettings settings = Quick(0.01);
    auto run = [&](double limitSeconds) {
        auto c = std::make_unique<Compressor>(shapes, std::vector<Packing::compression::TypeSpec>{{1.0, 0.2566}},
                                              8.0 * 2.2 * 2.2 * 2.2, settings, 3u);
        Packing::Limit limit(limitSeconds);
        c->Run(limit, [](const Compressor&) {});
        return c;
    };
    const auto free = run(1e5);
    ASSERT_FALSE(free->Stats().limitReached);
    const auto cut = run(0.05 * static_cast<double>(free->Stats().sweeps));  // K = 10: half the sweeps
    const auto& st = cut->Stats();
    ASSERT_TRUE(st.limitReached);
    ASSERT_GT(st.finishFrom, 100);
    ASSERT_LT(st.finishScale, 0.995f) << "stopped so late that nothing was left to finish";
    EXPECT_EQ(cut->Scale(), 1.0f);
    EXPECT_EQ(cut->CountOverlapsBruteForce(), 0);
    const double room = static_cast<double>(st.finishFrom) * st.finishScale * st.finishScale * st.finishScale;
    const double kept = static_cast<double>(cut->Bodies().size() - static_cast<size_t>(st.inserted));
    EXPECT_GE(kept, 0.97 * room) << st.finishFrom << " bodies at scale " << st.finishScale;
    // The finishing takes a bounded number of sweeps past the limit (at most 7,000 here).
    EXPECT_LE(st.sweeps, free->Stats().sweeps / 2 + 7001);
}

// A count stays whole wherever it ends (at full size, or jammed below it), a target fraction ends at
// full size with just that much of the container filled, both without overlap and without a fill.
TEST(Compressor, ACountOrATargetFractionIsWhatItEndsWith) {
    static const col::ColGeometry* mm = Load("mm_l");
    static const col::ColGeometry* box = Box(1.5f);
    Shapes shapes;
    std::string error;
    ASSERT_TRUE(shapes.Build({mm}, *box, error)) << error;
    Packing::SetLimits({Packing::LimitMode::Steps, 10});
    const double volume = 27.0, each = 0.2566;
    for (const double asked : {40.0, 80.0, -0.45}) {
        SCOPED_TRACE(asked);
        Packing::compression::CompressionSettings settings = Quick(0.01);
        if (asked > 0.0)
            settings.count = static_cast<int>(asked);
        else
            settings.targetFraction = -asked;
        Compressor c(shapes, {{1.0, each}}, volume, settings, 3u);
        Packing::Limit limit(1000.0);
        c.Run(limit, [](const Compressor&) {});
        EXPECT_EQ(c.CountOverlapsBruteForce(), 0);
        EXPECT_EQ(c.Stats().inserted, 0);
        if (asked > 0.0) {
            EXPECT_EQ(c.Bodies().size(), static_cast<size_t>(asked));
            // 80 M&Ms fill 0.76 of the box at full size, more than any packing: held below it.
            EXPECT_EQ(c.Scale() < 1.0f, asked > 50.0) << c.Scale();
        } else {
            EXPECT_EQ(c.Scale(), 1.0f);
            EXPECT_NEAR(c.Fraction(), -asked, 0.5 * each / volume);
        }
    }
}

// Cubes in a box order as they pack; with the order held, turns toward the director stop at the
// cap, and the packing stays as disordered as asked.
TEST(Compressor, AHeldCubaticOrderStaysAtItsCap) {
    static const col::ColGeometry* cube = Load("cube");
    static const col::ColGeometry* box = Box(1.5f);
    Shapes shapes;
    std::string error;
    ASSERT_TRUE(shapes.Build({cube}, *box, error)) << error;
    ASSERT_TRUE(shapes.Cubic(0));
    Packing::SetLimits({Packing::LimitMode::Steps, 10});
    double order[2] = {0, 0};
    for (const double cap : {1.0, 0.3}) {
        Packing::compression::CompressionSettings settings = Quick(0.01);
        settings.maxCubaticOrder = cap;
        Compressor c(shapes, {{1.0, 0.512}}, 27.0, settings, 3u);
        Packing::Limit limit(1000.0);
        c.Run(limit, [](const Compressor&) {});
        EXPECT_EQ(c.CountOverlapsBruteForce(), 0);
        std::vector<Matrix3> frames;
        for (const Body& b : c.Bodies()) frames.push_back(b.rotation);
        order[cap < 1.0] = check::CubaticOrder(frames);
    }
    EXPECT_GT(order[0], 0.6);
    EXPECT_LT(order[1], 0.35);  // a sweep's turns may pass the cap a little
}

TEST(Compressor, SweepsGiveTheSameBodiesOnOneThreadAndOnMore) {
    // 2,744 spheres on a lattice 3 % apart, enough for the sweeps to share out their domains.
    const col::ColGeometry* sphere = Load("sphere_l");
    const float half = 7.0f * 1.03f;
    const col::ColGeometry* box = Box(half);
    Shapes shapes;
    std::string error;
    ASSERT_TRUE(shapes.Build({sphere}, *box, error)) << error;
    std::vector<Body> result[3];
    for (int threads : {1, 2, 3}) {
        Packing::compression::CompressionSettings settings;
        settings.threads = threads;
        Compressor c(shapes, {{1.0, 0.5}}, 8.0 * half * half * half, settings, 9u);
        std::mt19937 rng(4u);
        for (int n = 0; n < 14 * 14 * 14; ++n) {
            Body b = RandomBody(rng, 0, 0.0f);
            b.position = Vector3((n % 14 + 0.5f) * 1.03f - half, (n / 14 % 14 + 0.5f) * 1.03f - half,
                                 (n / 196 + 0.5f) * 1.03f - half);
            c.AddBody(b);
        }
        c.Sweeps(70);  // past a resorting of the bodies
        EXPECT_GT(c.Stats().accepted, c.Stats().trials / 10);
        EXPECT_EQ(c.CountOverlapsBruteForce(), 0);
        result[threads - 1] = c.Bodies();
    }
    for (int t : {1, 2}) {
        ASSERT_EQ(result[0].size(), result[t].size());
        for (size_t i = 0; i < result[0].size(); ++i) {
            ASSERT_EQ(length(result[0][i].position - result[t][i].position), 0.0f) << t + 1 << " threads, body " << i;
            ASSERT_EQ(result[0][i].orientation.getW(), result[t][i].orientation.getW()) << i;
        }
    }
}

// Balls of two sizes grown in flight, against all pairs: clear of each other and the wall at the
// scale they report, the same twice, at the target when there is room and jammed near random
// close packing when there is not.
TEST(BallGrowth, ClearOfAllPairsRepeatableAndJamsNearRandomClosePacking) {
    const double lo[3] = {0.0, 0.0, 0.0}, hi[3] = {5.0, 5.0, 5.0};
    std::mt19937 rng(7u);
    std::uniform_real_distribution<double> jitter(-0.1, 0.1);
    std::vector<double> start, radii;
    for (int i = 0; i < 300; ++i) {
        radii.push_back(i % 3 == 0 ? 0.6 : 0.5);
        const int cell[3] = {i % 7, i / 7 % 7, i / 49};
        for (int k = 0; k < 3; ++k) start.push_back((cell[k] + 0.5) * 5.0 / 7.0 + jitter(rng));
    }
    auto minClear = [&](const std::vector<double>& c, double s) {
        double worst = 1e9;
        for (size_t i = 0; i < radii.size(); ++i) {
            for (int k = 0; k < 3; ++k)
                worst = std::min({worst, c[3 * i + k] - radii[i] * s, 5.0 - c[3 * i + k] - radii[i] * s});
            for (size_t j = i + 1; j < radii.size(); ++j)
                worst = std::min(
                    worst, std::hypot(c[3 * j] - c[3 * i], c[3 * j + 1] - c[3 * i + 1], c[3 * j + 2] - c[3 * i + 2]) -
                               (radii[i] + radii[j]) * s);
        }
        return worst;
    };
    const double s0 = 0.3;
    ASSERT_GT(minClear(start, s0), 0.0);
    double volume = 0.0;
    for (double r : radii) volume += 4.0 / 3.0 * M_PI * r * r * r;
    Packing::compression::BallGrowthSettings settings;
    for (double target : {std::cbrt(0.3 * 125.0 / volume), 10.0}) {
        SCOPED_TRACE(target);
        std::vector<double> a = start, b = start;
        int stops = 0;
        const auto ra = Packing::compression::GrowBalls(a, radii, lo, hi, s0, target, 3u, settings, [&](double scale) {
            // The centres are brought up to the moment asked: clear at the scale reported.
            EXPECT_GE(minClear(a, scale * (1.0 - 1e-9)), 0.0);
            ++stops;
            return false;
        });
        const auto rb = Packing::compression::GrowBalls(b, radii, lo, hi, s0, target, 3u, settings, nullptr);
        EXPECT_EQ(a, b);
        EXPECT_EQ(ra.scale, rb.scale);
        EXPECT_GE(minClear(a, ra.scale), 0.0);
        EXPECT_EQ(stops, ra.events / 300);
        const double fraction = volume * ra.scale * ra.scale * ra.scale / 125.0;
        if (target < 10.0) {
            EXPECT_FALSE(ra.jammed);
            EXPECT_NEAR(ra.scale, target, 1e-9 * target);
        } else {
            // 300 balls in a box five wide: the walls hold the packing below the bulk's 0.64.
            EXPECT_TRUE(ra.jammed);
            EXPECT_GT(fraction, 0.55);
            EXPECT_LT(fraction, 0.66);
        }
    }
    // Two balls that overlap at the start: the flight starts lower, where they are clear, and still
    // grows all the way to the target.
    std::vector<double> close = start;
    for (int k = 0; k < 3; ++k) close[3 + k] = close[k] + (k == 0 ? 0.2 : 0.0);
    const double room = std::cbrt(0.3 * 125.0 / volume);
    const auto fromOverlap = Packing::compression::GrowBalls(close, radii, lo, hi, s0, room, 3u, settings, nullptr);
    EXPECT_FALSE(fromOverlap.jammed);
    EXPECT_NEAR(fromOverlap.scale, room, 1e-9 * room);
    EXPECT_GE(minClear(close, fromOverlap.scale), 0.0);
    // Asked to stop, it stops at the first block, still clear.
    std::vector<double> c = start;
    const auto cut =
        Packing::compression::GrowBalls(c, radii, lo, hi, s0, 10.0, 3u, settings, [](double) { return true; });
    EXPECT_TRUE(cut.stopped);
    EXPECT_EQ(cut.events, 300);
    EXPECT_GE(minClear(c, cut.scale), 0.0);
}

// Spheres in a box grow as balls first; after every sweep the tracked overlaps match an all-pairs
// count, and the end is full size without overlap. Faceted spheres pressed together touch
// vertex to face, where the remembered and the fresh test may part within the touching tolerance
// (a millionth of the size): the count must lie between the all-pairs counts a hundred thousandth
// below and at the scale.
TEST(Compressor, SpheresGrowAsBallsFirstAndEndExact) {
    static const col::ColGeometry* sphere = Load("sphere_l");
    const col::ColGeometry* box = Box(1.5f);
    Shapes shapes;
    std::string error;
    ASSERT_TRUE(shapes.Build({sphere}, *box, error)) << error;
    ASSERT_TRUE(shapes.ContainerIsBox());
    Packing::SetLimits({Packing::LimitMode::Steps, 10});
    Packing::compression::CompressionSettings settings = Quick(0.02);
    for (double rate : {0.005, 0.0}) {
        SCOPED_TRACE(rate);
        settings.ballRate = settings.quickBallRate = rate;
        Compressor c(shapes, {{1.0, 0.506}}, 27.0, settings, 2u);
        Packing::Limit limit(1000.0);
        c.Run(limit, [&](const Compressor& k) {
            int64_t below = 0;
            const float shrunk = k.Scale() * (1.0f - 1e-5f);
            for (size_t i = 0; i < k.Bodies().size(); ++i) {
                below += !shapes.Inside(k.Bodies()[i], shrunk);
                for (size_t j = i + 1; j < k.Bodies().size(); ++j)
                    below += shapes.Overlap(k.Bodies()[i], k.Bodies()[j], shrunk);
            }
            ASSERT_LE(below, k.Overlaps());
            ASSERT_LE(k.Overlaps(), k.CountOverlapsBruteForce());
        });
        EXPECT_EQ(c.CountOverlapsBruteForce(), 0);
        EXPECT_EQ(c.Scale(), 1.0f);
        EXPECT_EQ(c.Stats().ballEvents > 0, rate > 0.0);
        EXPECT_GT(c.Bodies().size(), 20u);
    }
}

// One sphere mesh at two sizes, 1.4 and 1, half of each, compressed to full size: no overlap by
// brute force, and every body at its own size: the balls inscribed in the meshes at their sizes
// lie apart, and the fraction counts each body's volume at its size.
TEST(Compressor, TwoSizesEndWithoutOverlapEachAtItsOwnSize) {
    static const col::ColGeometry* sphere = Load("sphere_l");
    const col::ColGeometry* box = Box(2.0f);
    Shapes shapes;
    std::string error;
    ASSERT_TRUE(shapes.Build({sphere, sphere}, *box, error, {1.4f, 1.0f})) << error;
    float inner = 1.0f;  // the mesh's inscribed radius: its nearest face plane
    for (const std::vector<unsigned>& f : sphere->getPrimitives()) {
        const Vector3 p0(sphere->getPoints()[f[0]]), p1(sphere->getPoints()[f[1]]), p2(sphere->getPoints()[f[2]]);
        inner = std::min(inner, std::fabs(dot(normalize(cross(p1 - p0, p2 - p0)), p0)));
    }
    Packing::SetLimits({Packing::LimitMode::Steps, 10});
    Packing::compression::CompressionSettings settings = Quick(0.02);
    SizeDistribution large;
    large.a = 1.4;
    Compressor c(shapes, {{1.0, 0.506, large}, {1.0, 0.506, {}}}, 64.0, settings, 3u);
    Packing::Limit limit(1000.0);
    c.Run(limit, [](const Compressor&) {});
    EXPECT_EQ(c.Scale(), 1.0f);
    EXPECT_EQ(c.CountOverlapsBruteForce(), 0);
    const std::vector<Body>& b = c.Bodies();
    int largeCount = 0;
    double volume = 0.0;
    float nearest = 2.0f;  // the closest pair's distance over the sum of its inscribed radii
    for (size_t i = 0; i < b.size(); ++i) {
        EXPECT_EQ(b[i].size, b[i].type == 0 ? 1.4f : 1.0f);
        largeCount += b[i].type == 0;
        volume += 0.506 * std::pow(b[i].size, 3.0);
        for (size_t j = i + 1; j < b.size(); ++j)
            nearest = std::min(nearest, length(b[i].position - b[j].position) / (inner * (b[i].size + b[j].size)));
    }
    EXPECT_GT(b.size(), 25u);
    EXPECT_LE(std::abs(2 * largeCount - static_cast<int>(b.size())), 2) << largeCount << " of " << b.size();
    EXPECT_GE(nearest, 1.0f);
    EXPECT_LT(nearest, 1.05f) << "no two bodies came near each other";
    EXPECT_NEAR(c.Fraction(), volume / 64.0, 1e-9);
}

TEST(CompressionSettings, KeyValueWordsAndWhatIsWrongWithThem) {
    Packing::compression::CompressionSettings s;
    std::string error;
    ASSERT_TRUE(Packing::compression::ParseSettings("maxGrowth=0.01 relaxSweeps=5  limitSeconds=30", s, error));
    EXPECT_EQ(s.maxGrowth, 0.01);
    EXPECT_EQ(s.relaxSweeps, 5);
    EXPECT_EQ(s.limitSeconds, 30.0);
    const std::pair<const char*, const char*> bad[] = {
        {"rate=1", "unknown compression setting \"rate=1\""},
        {"maxGrowth", "unknown compression setting \"maxGrowth\""},
        {"relaxSweeps=2.5", "compression setting \"relaxSweeps=2.5\" needs a whole number from 0 to 1e+07"},
        {"acceptance=1.5", "compression setting \"acceptance=1.5\" needs a number from 0.01 to 0.99"},
        {"growth=abc", "compression setting \"growth=abc\" needs a number from 1e-07 to 0.5"},
        {"minGrowth=0.1 maxGrowth=0.01", "compression setting minGrowth is above maxGrowth"},
        {"count=100 targetFraction=0.5", "compression settings count and targetFraction exclude each other"},
    };
    for (const auto& [line, message] : bad) {
        Packing::compression::CompressionSettings t = s;
        EXPECT_FALSE(Packing::compression::ParseSettings(line, t, error)) << line;
        EXPECT_EQ(error, message);
        EXPECT_EQ(t.relaxSweeps, 5) << "a refused line changes nothing";
    }
}

}  // namespace
