#include "collision/TriDist.h"

#include <cmath>

namespace col {
namespace detail {
namespace {

inline Float3 operator+(Float3 a, Float3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Float3 operator-(Float3 a, Float3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Float3 operator*(Float3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float dot(Float3 a, Float3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Float3 cross(Float3 a, Float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float clamp01(float v) { return v < 0.f ? 0.f : (v > 1.f ? 1.f : v); }

/// Closest points of segments [p1,q1] and [p2,q2]; returns the squared distance.
/// Degenerate (point) segments and parallel segments are handled; for parallel ones any closest pair.
float segSegSqr(Float3 p1, Float3 q1, Float3 p2, Float3 q2, Float3& outC1, Float3& outC2) {
    const Float3 d1 = q1 - p1, d2 = q2 - p2, r = p1 - p2;
    const float a = dot(d1, d1), e = dot(d2, d2), f = dot(d2, r);
    // Scale-aware threshold: a segment shorter than this is a point.
    constexpr float kTiny = 1e-30f;
    float s, t;
    if (a <= kTiny && e <= kTiny) {
        s = t = 0.f;
    } else if (a <= kTiny) {
        s = 0.f;
        t = clamp01(f / e);
    } else {
        const float c = dot(d1, r);
        if (e <= kTiny) {
            t = 0.f;
            s = clamp01(-c / a);
        } else {
            const float b = dot(d1, d2);
            const float denom = a * e - b * b;  // >= 0; 0 for parallel segments
            s = denom > 0.f ? clamp01((b * f - c * e) / denom) : 0.f;
            t = (b * s + f) / e;
            if (t < 0.f) {
                t = 0.f;
                s = clamp01(-c / a);
            } else if (t > 1.f) {
                t = 1.f;
                s = clamp01((b - c) / a);
            }
        }
    }
    outC1 = p1 + d1 * s;
    outC2 = p2 + d2 * t;
    const Float3 d = outC1 - outC2;
    return dot(d, d);
}

/// Triangle corners plus the (unnormalised) face normal and whether it has an area worth using.
struct Tri {
    Float3 v[3];
    Float3 n;
    float nn;  // |n|^2
    bool flat;
};

inline Tri makeTri(const Float3 c[3]) {
    Tri t{{c[0], c[1], c[2]}, {}, 0.f, false};
    const Float3 e0 = c[1] - c[0], e1 = c[2] - c[0];
    t.n = cross(e0, e1);
    t.nn = dot(t.n, t.n);
    // Relative area test: |e0 x e1|^2 against |e0|^2 |e1|^2 (sin^2 of the corner angle).
    const float scale = dot(e0, e0) * dot(e1, e1);
    t.flat = !(t.nn > 1e-12f * scale) || t.nn == 0.f;
    return t;
}

/// True when the orthogonal projection of x onto t's plane lies in t (t not flat).
inline bool projectsInside(const Tri& t, Float3 x) {
    for (int i = 0; i < 3; ++i) {
        const Float3 a = t.v[i], b = t.v[i == 2 ? 0 : i + 1];
        if (dot(cross(b - a, x - a), t.n) < 0.f) return false;
    }
    return true;
}

/// Looks for an edge of `a` crossing the interior of triangle `b` (strictly opposite sides of
/// b's plane). dist[i] = signed plane distance (times |n|) of a's corner i.
bool edgePierces(const Tri& a, const Tri& b, const float dist[3], Float3& outX) {
    for (int i = 0; i < 3; ++i) {
        const int j = i == 2 ? 0 : i + 1;
        const float di = dist[i], dj = dist[j];
        if ((di < 0.f && dj > 0.f) || (di > 0.f && dj < 0.f)) {
            const Float3 x = a.v[i] + (a.v[j] - a.v[i]) * (di / (di - dj));
            if (projectsInside(b, x)) {
                outX = x;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

float triDist(Float3& outP, Float3& outQ, const Float3 sc[3], const Float3 tc[3]) {
    const Tri s = makeTri(sc), t = makeTri(tc);

    // Signed distances (scaled by |n|) of each triangle's corners to the other's plane.
    float ds[3] = {0, 0, 0}, dt[3] = {0, 0, 0};
    if (!t.flat)
        for (int i = 0; i < 3; ++i) ds[i] = dot(t.n, s.v[i] - t.v[0]);
    if (!s.flat)
        for (int i = 0; i < 3; ++i) dt[i] = dot(s.n, t.v[i] - s.v[0]);

    // A crossing surface pierces one triangle with an edge of the other. Touching and coplanar
    // contact are found below as zero-distance features.
    Float3 x;
    if (!t.flat && edgePierces(s, t, ds, x)) {
        outP = outQ = x;
        return 0.f;
    }
    if (!s.flat && edgePierces(t, s, dt, x)) {
        outP = outQ = x;
        return 0.f;
    }

    // Disjoint triangles: the minimum is reached by an edge pair or by a corner against a face.
    float best = INFINITY;
    Float3 c1, c2;
    for (int i = 0; i < 3; ++i) {
        const int i1 = i == 2 ? 0 : i + 1;
        for (int j = 0; j < 3; ++j) {
            const int j1 = j == 2 ? 0 : j + 1;
            const float d2 = segSegSqr(s.v[i], s.v[i1], t.v[j], t.v[j1], c1, c2);
            if (d2 < best) {
                best = d2;
                outP = c1;
                outQ = c2;
            }
        }
    }
    if (!t.flat) {
        const float inv = 1.f / t.nn;
        for (int i = 0; i < 3; ++i) {
            const float d2 = ds[i] * ds[i] * inv;
            if (d2 < best && projectsInside(t, s.v[i])) {
                best = d2;
                outP = s.v[i];
                outQ = s.v[i] - t.n * (ds[i] * inv);
            }
        }
    }
    if (!s.flat) {
        const float inv = 1.f / s.nn;
        for (int i = 0; i < 3; ++i) {
            const float d2 = dt[i] * dt[i] * inv;
            if (d2 < best && projectsInside(s, t.v[i])) {
                best = d2;
                outQ = t.v[i];
                outP = t.v[i] - s.n * (dt[i] * inv);
            }
        }
    }
    if (best == 0.f) outQ = outP;
    return std::sqrt(best);
}

}  // namespace detail

float TriDist(Point3& p, Point3& q, const Point3 s[3], const Point3 t[3]) {
    detail::Float3 a[3], b[3], dp, dq;
    for (int i = 0; i < 3; ++i) {
        a[i] = {s[i].getX(), s[i].getY(), s[i].getZ()};
        b[i] = {t[i].getX(), t[i].getY(), t[i].getZ()};
    }
    const float d = detail::triDist(dp, dq, a, b);
    p = Point3(dp.x, dp.y, dp.z);
    q = Point3(dq.x, dq.y, dq.z);
    return d;
}

}  // namespace col
