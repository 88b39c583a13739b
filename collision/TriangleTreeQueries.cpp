// The triangle tree's yes/no and point queries: surface intersection of two posed trees, ray
// parity and point-to-surface distance. The mesh distance lives in TriangleTree.cpp.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "collision/TriIntersect.h"
#include "collision/TriangleTree.h"

namespace col {

using detail::Float3;

namespace {

using Node = TriangleTree::Node;

// Hits closer than this (barycentric) to an edge or corner make a ray's count untrustworthy.
constexpr double kEdgeMargin = 1e-7;
// Ray culling is done in double against float bounds that hold their corners to within float
// rounding: this much relative slack keeps every triangle the exact test could call grazing.
constexpr double kRaySlack = 1e-5;

enum class Hit { None, Through, Grazing };

// Moller-Trumbore in double: a hit at t > 0 counts; a hit on or next to an edge is Grazing. A ray
// parallel to the triangle's plane never counts (a zero-area sliver has no inside to enter).
Hit rayHitsTriangle(const double o[3], const double d[3], const Float3* tri) {
    const double a[3] = {tri[0].x, tri[0].y, tri[0].z};
    const double e1[3] = {tri[1].x - a[0], tri[1].y - a[1], tri[1].z - a[2]};
    const double e2[3] = {tri[2].x - a[0], tri[2].y - a[1], tri[2].z - a[2]};
    const double p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2], d[0] * e2[1] - d[1] * e2[0]};
    const double det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
    if (det == 0.0) return Hit::None;
    const double inv = 1.0 / det;
    const double s[3] = {o[0] - a[0], o[1] - a[1], o[2] - a[2]};
    const double u = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) * inv;
    if (u < -kEdgeMargin || u > 1.0 + kEdgeMargin) return Hit::None;
    const double q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2], s[0] * e1[1] - s[1] * e1[0]};
    const double v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) * inv;
    if (v < -kEdgeMargin || u + v > 1.0 + kEdgeMargin) return Hit::None;
    const double t = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) * inv;
    if (t <= 0.0) return Hit::None;
    if (u < kEdgeMargin || v < kEdgeMargin || u + v > 1.0 - kEdgeMargin) return Hit::Grazing;
    return Hit::Through;
}

// Whether the ray o + t d, t >= 0, can meet anything inside the node (sphere cut by slab).
bool rayMayHit(const double o[3], const double d[3], double dd, const Node& n) {
    const double w[3] = {n.c[0] - o[0], n.c[1] - o[1], n.c[2] - o[2]};
    const double ww = w[0] * w[0] + w[1] * w[1] + w[2] * w[2];
    const double r = n.r * (1.0 + kRaySlack) + kRaySlack * std::sqrt(ww);
    const double wd = w[0] * d[0] + w[1] * d[1] + w[2] * d[2];
    if (wd < 0 && ww > r * r) return false;       // behind the origin
    if (ww - wd * wd / dd > r * r) return false;  // the line passes beside the sphere
    const double x = n.n[0] * o[0] + n.n[1] * o[1] + n.n[2] * o[2];
    const double v = n.n[0] * d[0] + n.n[1] * d[1] + n.n[2] * d[2];
    const double pad = kRaySlack * (std::abs(x) + std::abs(double(n.lo)) + std::abs(double(n.hi)) + n.r);
    // Along the slab axis the ray moves from x at speed v; it must reach [lo, hi] at some t >= 0.
    if (x > n.hi + pad && v >= 0) return false;
    if (x < n.lo - pad && v <= 0) return false;
    return true;
}

/// A ScaledPose-like affine map m12 in floats: p' = R p + T, R carrying a uniform scale.
struct Affine {
    float r[3][3];
    float t[3];
    float scale;
    explicit Affine(const Matrix4& m) {
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) r[row][col] = m.getElem(col, row);
            t[row] = m.getElem(3, row);
        }
        scale = std::sqrt(r[0][0] * r[0][0] + r[1][0] * r[1][0] + r[2][0] * r[2][0]);
    }
    Float3 apply(const float p[3]) const {
        return {r[0][0] * p[0] + r[0][1] * p[1] + r[0][2] * p[2] + t[0],
                r[1][0] * p[0] + r[1][1] * p[1] + r[1][2] * p[2] + t[1],
                r[2][0] * p[0] + r[2][1] * p[1] + r[2][2] * p[2] + t[2]};
    }
    Float3 apply(Float3 p) const {
        const float q[3] = {p.x, p.y, p.z};
        return apply(q);
    }
    Float3 turn(const float n[3]) const {  // a unit normal, rotated without the scale
        const float inv = 1.f / scale;
        return {inv * (r[0][0] * n[0] + r[0][1] * n[1] + r[0][2] * n[2]),
                inv * (r[1][0] * n[0] + r[1][1] * n[1] + r[1][2] * n[2]),
                inv * (r[2][0] * n[0] + r[2][1] * n[1] + r[2][2] * n[2])};
    }
};

inline float dot3(Float3 a, const float b[3]) { return a.x * b[0] + a.y * b[1] + a.z * b[2]; }

}  // namespace

int TriangleTree::rayParity(const double o[3], const double d[3]) const {
    if (m_nodes.empty()) return 0;
    const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    int hits = 0;
    constexpr int kStack = 128;
    assert(m_depth < kStack);
    int32_t stack[kStack];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& n = m_nodes[stack[--top]];
        if (!rayMayHit(o, d, dd, n)) continue;
        if (n.child >= 0) {
            stack[top++] = n.child;
            stack[top++] = n.child + 1;
            continue;
        }
        const Hit h = rayHitsTriangle(o, d, triangle(~n.child));
        if (h == Hit::Grazing) return -1;
        hits += h == Hit::Through;
    }
    return hits & 1;
}

float TriangleTree::pointDistance(const Point3& p) const {
    float best = INFINITY;
    if (m_nodes.empty()) return best;
    const Float3 q{p.getX(), p.getY(), p.getZ()};
    const Float3 point[3] = {q, q, q};  // a zero-area triangle is exactly the point
    const float mag = std::abs(q.x) + std::abs(q.y) + std::abs(q.z);
    // Lower bound of the distance to the node's contents, less rounding of the float terms.
    auto bound = [&](const Node& n) {
        const float dx = q.x - n.c[0], dy = q.y - n.c[1], dz = q.z - n.c[2];
        const float x = dot3(q, n.n);
        const float b = std::max(std::sqrt(dx * dx + dy * dy + dz * dz) - n.r, std::max(x - n.hi, n.lo - x));
        return b - 1e-6f * (mag + std::abs(n.lo) + std::abs(n.hi) + n.r);
    };
    constexpr int kStack = 128;
    assert(m_depth < kStack);
    int32_t stack[kStack];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& n = m_nodes[stack[--top]];
        if (bound(n) >= best) continue;
        if (n.child < 0) {
            Float3 a, b;
            best = std::min(best, detail::triDist(a, b, point, triangle(~n.child)));
            continue;
        }
        // Nearer child last, so it is popped first and tightens `best` early.
        const bool firstNearer = bound(m_nodes[n.child]) < bound(m_nodes[n.child + 1]);
        stack[top++] = firstNearer ? n.child + 1 : n.child;
        stack[top++] = firstNearer ? n.child : n.child + 1;
    }
    return best;
}

// Depth-first over node pairs in mesh 2's frame; a pair is dropped when the spheres are apart or
// one sphere lies beyond the other's slab. Leaf pairs get the exact triangle test.
bool surfacesIntersect(const TriangleTree& mesh1, const TriangleTree& mesh2, const Matrix4& m12) {
    if (mesh1.empty() || mesh2.empty()) return false;
    const Affine m(m12);
    const Node* n1 = mesh1.nodes();
    const Node* n2 = mesh2.nodes();

    // Float rounding of the posed bounds grows with the coordinates' magnitude in mesh 2's frame.
    const float mag1 = std::abs(n1[0].c[0]) + std::abs(n1[0].c[1]) + std::abs(n1[0].c[2]) + n1[0].r;
    const float mag2 = std::abs(n2[0].c[0]) + std::abs(n2[0].c[1]) + std::abs(n2[0].c[2]) + n2[0].r;
    const float slack = 1e-6f * (std::abs(m.t[0]) + std::abs(m.t[1]) + std::abs(m.t[2]) + m.scale * mag1 + mag2);

    struct Posed {
        Float3 c, n;
        float r, lo, hi;
    };
    auto pose = [&](int32_t a) {
        const Node& na = n1[a];
        Posed p;
        p.c = m.apply(na.c);
        p.r = m.scale * na.r;
        p.n = m.turn(na.n);
        const float shift = p.n.x * m.t[0] + p.n.y * m.t[1] + p.n.z * m.t[2];
        p.lo = m.scale * na.lo + shift;
        p.hi = m.scale * na.hi + shift;
        return p;
    };
    auto apart = [&](const Posed& a, int32_t b) {
        const Node& nb = n2[b];
        const float dx = a.c.x - nb.c[0], dy = a.c.y - nb.c[1], dz = a.c.z - nb.c[2];
        const float rr = a.r + nb.r + slack;
        if (dx * dx + dy * dy + dz * dz > rr * rr) return true;
        const float xb = dot3(a.c, nb.n);
        if (xb - a.r > nb.hi + slack || xb + a.r < nb.lo - slack) return true;
        const float xa = a.n.x * nb.c[0] + a.n.y * nb.c[1] + a.n.z * nb.c[2];
        return xa - nb.r > a.hi + slack || xa + nb.r < a.lo - slack;
    };

    struct Pair {
        int32_t a, b;
    };
    // Each pop pushes at most two pairs one level deeper: the stack holds at most both depths + 1.
    constexpr int kStack = 256;
    assert(mesh1.depth() + mesh2.depth() + 1 < kStack);
    Pair stack[kStack];
    int top = 0;
    if (!apart(pose(0), 0)) stack[top++] = {0, 0};
    while (top > 0) {
        const Pair e = stack[--top];
        const Node& na = n1[e.a];
        const Node& nb = n2[e.b];
        if (na.child < 0 && nb.child < 0) {
            const Float3* ta = mesh1.triangle(~na.child);
            const Float3 t1[3] = {m.apply(ta[0]), m.apply(ta[1]), m.apply(ta[2])};
            if (detail::triIntersect(t1, mesh2.triangle(~nb.child))) return true;
            continue;
        }
        // Open the larger sphere (a leaf can't be split).
        if (nb.child < 0 || (na.child >= 0 && m.scale * na.r >= nb.r)) {
            for (int32_t c = na.child; c < na.child + 2; ++c)
                if (!apart(pose(c), e.b)) stack[top++] = {c, e.b};
        } else {
            const Posed pa = pose(e.a);
            for (int32_t c = nb.child; c < nb.child + 2; ++c)
                if (!apart(pa, c)) stack[top++] = {e.a, c};
        }
    }
    return false;
}

}  // namespace col
