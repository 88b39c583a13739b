#include "collision/TriIntersect.h"

#include <algorithm>
#include <cmath>

namespace col {
namespace detail {
namespace {

// Interval overlap on the line where the two planes meet (after Moller's triangle-triangle
// test), in double so that the plane-side signs of float corners are right unless a corner lies
// within rounding of the other plane. Coplanar pairs go to a 2D test.

struct D3 {
    double x, y, z;
};
inline D3 sub(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline double dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline D3 cross(D3 a, D3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

struct D2 {
    double u, v;
};
inline double orient(D2 a, D2 b, D2 c) { return (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u); }

// c on the closed segment ab, given that the three are collinear.
inline bool onSegment(D2 a, D2 b, D2 c) {
    return std::min(a.u, b.u) <= c.u && c.u <= std::max(a.u, b.u) && std::min(a.v, b.v) <= c.v &&
           c.v <= std::max(a.v, b.v);
}

bool segmentsMeet(D2 a, D2 b, D2 c, D2 d) {
    const double o1 = orient(a, b, c), o2 = orient(a, b, d), o3 = orient(c, d, a), o4 = orient(c, d, b);
    if (((o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0)) && ((o3 > 0 && o4 < 0) || (o3 < 0 && o4 > 0))) return true;
    return (o1 == 0 && onSegment(a, b, c)) || (o2 == 0 && onSegment(a, b, d)) || (o3 == 0 && onSegment(c, d, a)) ||
           (o4 == 0 && onSegment(c, d, b));
}

// p inside or on the border of the (non-degenerate) triangle t.
bool pointInTriangle(D2 p, const D2 t[3]) {
    const double a = orient(t[0], t[1], p), b = orient(t[1], t[2], p), c = orient(t[2], t[0], p);
    return (a >= 0 && b >= 0 && c >= 0) || (a <= 0 && b <= 0 && c <= 0);
}

// Both triangles in one plane with normal n: drop n's largest component and test in 2D.
bool coplanar(const D3 p[3], const D3 q[3], D3 n) {
    const double ax = std::abs(n.x), ay = std::abs(n.y), az = std::abs(n.z);
    auto flat = [&](D3 v) { return ax >= ay && ax >= az ? D2{v.y, v.z} : (ay >= az ? D2{v.z, v.x} : D2{v.x, v.y}); };
    const D2 s[3] = {flat(p[0]), flat(p[1]), flat(p[2])}, t[3] = {flat(q[0]), flat(q[1]), flat(q[2])};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (segmentsMeet(s[i], s[(i + 1) % 3], t[j], t[(j + 1) % 3])) return true;
    // No edges meet: either apart or one wholly inside the other.
    return pointInTriangle(s[0], t) || pointInTriangle(t[0], s);
}

inline bool oneSide(const double d[3]) {
    return (d[0] > 0 && d[1] > 0 && d[2] > 0) || (d[0] < 0 && d[1] < 0 && d[2] < 0);
}

// Interval along `dir` of the segment where triangle v meets the plane its corners' signed
// distances d refer to (some corner on or on each side of it).
void planeInterval(const D3 v[3], const double d[3], D3 dir, double& lo, double& hi) {
    double x[3];
    for (int i = 0; i < 3; ++i) x[i] = dot(dir, v[i]);
    lo = INFINITY, hi = -INFINITY;
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        if (d[i] == 0) lo = std::min(lo, x[i]), hi = std::max(hi, x[i]);
        if ((d[i] < 0 && d[j] > 0) || (d[i] > 0 && d[j] < 0)) {
            const double c = x[i] + (x[j] - x[i]) * (d[i] / (d[i] - d[j]));
            lo = std::min(lo, c), hi = std::max(hi, c);
        }
    }
}

// Planes closer to parallel than this (squared sine of their angle) have no usable line of
// intersection; such pairs are tested as coplanar. About 1e-10 rad: far below any face angle of
// a real mesh, far above double rounding of the normals.
constexpr double kParallelSin2 = 1e-20;

}  // namespace

bool triIntersect(const Float3 s[3], const Float3 t[3]) {
    const D3 p[3] = {{s[0].x, s[0].y, s[0].z}, {s[1].x, s[1].y, s[1].z}, {s[2].x, s[2].y, s[2].z}};
    const D3 q[3] = {{t[0].x, t[0].y, t[0].z}, {t[1].x, t[1].y, t[1].z}, {t[2].x, t[2].y, t[2].z}};
    // In double the normals of float corners carry (nearly) no rounding.
    const D3 n1 = cross(sub(p[1], p[0]), sub(p[2], p[0])), n2 = cross(sub(q[1], q[0]), sub(q[2], q[0]));
    const double nn1 = dot(n1, n1), nn2 = dot(n2, n2);
    if (nn1 == 0 || nn2 == 0) {
        // A segment or a point: the exact distance handles every such case.
        Float3 a, b;
        return triDist(a, b, s, t) <= 0.f;
    }
    double dp[3], dq[3];
    for (int i = 0; i < 3; ++i) dp[i] = dot(n2, sub(p[i], q[0]));
    if (oneSide(dp)) return false;
    for (int i = 0; i < 3; ++i) dq[i] = dot(n1, sub(q[i], p[0]));
    if (oneSide(dq)) return false;
    const bool flatP = dp[0] == 0 && dp[1] == 0 && dp[2] == 0, flatQ = dq[0] == 0 && dq[1] == 0 && dq[2] == 0;
    const D3 dir = cross(n1, n2);
    if (flatP || flatQ || dot(dir, dir) <= kParallelSin2 * nn1 * nn2) return coplanar(p, q, nn1 >= nn2 ? n1 : n2);
    double lo1, hi1, lo2, hi2;
    planeInterval(p, dp, dir, lo1, hi1);
    planeInterval(q, dq, dir, lo2, hi2);
    return lo1 <= hi2 && lo2 <= hi1;
}

}  // namespace detail

bool TriIntersect(const Point3 s[3], const Point3 t[3]) {
    detail::Float3 a[3], b[3];
    for (int i = 0; i < 3; ++i) {
        a[i] = {s[i].getX(), s[i].getY(), s[i].getZ()};
        b[i] = {t[i].getX(), t[i].getY(), t[i].getZ()};
    }
    return detail::triIntersect(a, b);
}

}  // namespace col
