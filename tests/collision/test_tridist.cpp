// TriDist against an independent double-precision reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "collision/TriDist.h"

namespace {

using col::Point3;
using D3 = std::array<double, 3>;
using Tri = std::array<Point3, 3>;

D3 d3(const Point3& p) { return {p.getX(), p.getY(), p.getZ()}; }
D3 sub(D3 a, D3 b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
D3 add(D3 a, D3 b, double s) { return {a[0] + s * b[0], a[1] + s * b[1], a[2] + s * b[2]}; }
double dot(D3 a, D3 b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
D3 cross(D3 a, D3 b) { return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]}; }
double len(D3 a) { return std::sqrt(dot(a, a)); }

double pointSeg(D3 p, D3 a, D3 b) {
    const D3 ab = sub(b, a);
    const double l = dot(ab, ab);
    const double t = l > 0 ? std::clamp(dot(sub(p, a), ab) / l, 0.0, 1.0) : 0.0;
    return len(sub(p, add(a, ab, t)));
}

// Barycentric (u, v) of p's projection onto the plane of (a, b, c); false for a flat triangle.
bool bary(D3 p, D3 a, D3 b, D3 c, double& u, double& v) {
    const D3 e0 = sub(b, a), e1 = sub(c, a), w = sub(p, a);
    const double m00 = dot(e0, e0), m01 = dot(e0, e1), m11 = dot(e1, e1), det = m00 * m11 - m01 * m01;
    if (det <= 1e-14 * m00 * m11) return false;
    u = (m11 * dot(w, e0) - m01 * dot(w, e1)) / det;
    v = (m00 * dot(w, e1) - m01 * dot(w, e0)) / det;
    return true;
}

double pointTri(D3 p, const std::array<D3, 3>& t) {
    double u, v;
    if (bary(p, t[0], t[1], t[2], u, v) && u >= 0 && v >= 0 && u + v <= 1)
        return len(sub(p, add(add(t[0], sub(t[1], t[0]), u), sub(t[2], t[0]), v)));
    return std::min({pointSeg(p, t[0], t[1]), pointSeg(p, t[1], t[2]), pointSeg(p, t[2], t[0])});
}

// Segment pair: interior stationary point if it lies in the unit square, else the four borders.
double segSeg(D3 p1, D3 q1, D3 p2, D3 q2) {
    const D3 d1 = sub(q1, p1), d2 = sub(q2, p2), r = sub(p1, p2);
    const double a = dot(d1, d1), b = dot(d1, d2), e = dot(d2, d2), det = a * e - b * b;
    if (det > 1e-12 * a * e) {
        const double s = (b * dot(d2, r) - e * dot(d1, r)) / det, t = (a * dot(d2, r) - b * dot(d1, r)) / det;
        if (s >= 0 && s <= 1 && t >= 0 && t <= 1) return len(sub(add(p1, d1, s), add(p2, d2, t)));
    }
    return std::min({pointSeg(p1, p2, q2), pointSeg(q1, p2, q2), pointSeg(p2, p1, q1), pointSeg(q2, p1, q1)});
}

bool edgeCrosses(const std::array<D3, 3>& a, const std::array<D3, 3>& b) {
    const D3 n = cross(sub(b[1], b[0]), sub(b[2], b[0]));
    for (int i = 0; i < 3; ++i) {
        const D3 p = a[i], q = a[(i + 1) % 3];
        const double dp = dot(n, sub(p, b[0])), dq = dot(n, sub(q, b[0]));
        double u, v;
        if (dp * dq < 0 && bary(add(p, sub(q, p), dp / (dp - dq)), b[0], b[1], b[2], u, v) && u >= 0 && v >= 0 &&
            u + v <= 1)
            return true;
    }
    return false;
}

double reference(const Tri& s, const Tri& t) {
    const std::array<D3, 3> a{d3(s[0]), d3(s[1]), d3(s[2])}, b{d3(t[0]), d3(t[1]), d3(t[2])};
    if (edgeCrosses(a, b) || edgeCrosses(b, a)) return 0;
    double best = INFINITY;
    for (int i = 0; i < 3; ++i) {
        best = std::min({best, pointTri(a[i], b), pointTri(b[i], a)});
        for (int j = 0; j < 3; ++j) best = std::min(best, segSeg(a[i], a[(i + 1) % 3], b[j], b[(j + 1) % 3]));
    }
    return best;
}

// Float inputs of magnitude ~10: a few float ulps of the coordinates.
constexpr double kTol = 1e-4;

// Distance plus the checks every result must pass: p on s, q on t, |p - q| = distance.
float checkedDist(const Tri& s, const Tri& t) {
    Point3 p, q;
    const float d = col::TriDist(p, q, s.data(), t.data());
    const std::array<D3, 3> a{d3(s[0]), d3(s[1]), d3(s[2])}, b{d3(t[0]), d3(t[1]), d3(t[2])};
    EXPECT_LT(pointTri(d3(p), a), kTol);
    EXPECT_LT(pointTri(d3(q), b), kTol);
    EXPECT_NEAR(len(sub(d3(p), d3(q))), d, kTol);
    if (d == 0) {
        EXPECT_LT(len(sub(d3(p), d3(q))), kTol);
    }
    return d;
}

Point3 P(double x, double y, double z) { return Point3(float(x), float(y), float(z)); }

TEST(TriDist, RandomPairsMatchReferenceUnderPermutation) {
    std::mt19937 rng(20240611u);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    int touching = 0;
    const int kPairs = 4000;
    for (int n = 0; n < kPairs; ++n) {
        Tri s, t;
        const float off = 1.5f * u(rng);
        auto draw = [&](float dx, float dz) {
            const float x = u(rng), y = u(rng), z = u(rng);
            return Point3(3.f * (x + dx), 3.f * y, 3.f * (z + dz));
        };
        for (int k = 0; k < 3; ++k) s[k] = draw(0.f, 0.f);
        for (int k = 0; k < 3; ++k) t[k] = draw(off, -off);
        const double ref = reference(s, t);
        const float d = checkedDist(s, t);
        ASSERT_NEAR(d, ref, kTol) << "pair " << n;
        touching += ref == 0;
        // All six corner orders of s, with the triangles swapped as well.
        std::array<int, 3> perm{0, 1, 2};
        do {
            const Tri sp{s[perm[0]], s[perm[1]], s[perm[2]]};
            Point3 p, q;
            EXPECT_NEAR(col::TriDist(p, q, sp.data(), t.data()), d, kTol);
            EXPECT_NEAR(col::TriDist(p, q, t.data(), sp.data()), d, kTol);
        } while (std::next_permutation(perm.begin(), perm.end()));
    }
    // The sample must exercise both outcomes.
    EXPECT_GT(touching, kPairs / 10);
    EXPECT_LT(touching, kPairs * 6 / 10);
}

TEST(TriDist, FeatureRegions) {
    const Tri base{P(0, 0, 0), P(4, 0, 0), P(0, 4, 0)};
    // corner over the face, corner to corner, edge across edge, face parallel above face
    EXPECT_NEAR(checkedDist(base, {P(1, 1, 2), P(1, 2, 5), P(2, 1, 5)}), 2.0, kTol);
    EXPECT_NEAR(checkedDist(base, {P(-1, -1, -1), P(-3, -1, -1), P(-1, -3, -1)}), std::sqrt(3.0), kTol);
    EXPECT_NEAR(checkedDist(base, {P(3, 3, -1), P(3, 3, 1), P(5, 5, 0)}), std::sqrt(2.0), kTol);
    EXPECT_NEAR(checkedDist(base, {P(0.5, 0.5, 1.5), P(1.5, 0.5, 1.5), P(0.5, 1.5, 1.5)}), 1.5, kTol);
    // coplanar: apart, overlapping edges, one inside the other
    EXPECT_NEAR(checkedDist(base, {P(5, 0, 0), P(9, 0, 0), P(5, 3, 0)}), 1.0, kTol);
    EXPECT_EQ(checkedDist(base, {P(1, 1, 0), P(6, 1, 0), P(1, 6, 0)}), 0.f);
    EXPECT_EQ(checkedDist(base, {P(0.5, 0.5, 0), P(1, 0.5, 0), P(0.5, 1, 0)}), 0.f);
    // piercing through the face, touching with one corner on the face
    EXPECT_EQ(checkedDist(base, {P(1, 1, -1), P(1, 1, 1), P(9, 9, 0.5)}), 0.f);
    EXPECT_EQ(checkedDist(base, {P(1, 1, 0), P(1, 2, 3), P(2, 1, 3)}), 0.f);
}

TEST(TriDist, DegenerateTriangles) {
    const Tri base{P(0, 0, 0), P(4, 0, 0), P(0, 4, 0)};
    const Tri point{P(1, 1, 3), P(1, 1, 3), P(1, 1, 3)};
    const Tri segment{P(1, 1, 2), P(1, 1, 5), P(1, 1, 8)};      // collinear corners
    const Tri piercing{P(1, 1, -2), P(1, 1, 0.5), P(1, 1, 2)};  // zero-area, crossing the face
    EXPECT_NEAR(checkedDist(base, point), 3.0, kTol);
    EXPECT_NEAR(checkedDist(point, base), 3.0, kTol);
    EXPECT_NEAR(checkedDist(base, segment), 2.0, kTol);
    EXPECT_NEAR(checkedDist(segment, point), 0.0, kTol);
    EXPECT_EQ(checkedDist(piercing, base), 0.f);
    EXPECT_NEAR(checkedDist(point, {P(1, 1, 3), P(1, 1, 3), P(4, 5, 3)}), 0.0, kTol);
    EXPECT_NEAR(checkedDist(point, {P(2, 1, 3), P(2, 1, 3), P(2, 1, 3)}), 1.0, kTol);
}

}  // namespace
