// The triangle tree's yes/no and point queries: surface intersection of two posed trees, ray
// parity and point-to-surface distance. The mesh distance lives in TriangleTree.cpp.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "collision/Affine.h"
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

/// Nodes still to visit, the root first. Each pop pushes at most both children, so a tree of
/// depth d never holds more than d + 1.
class NodeStack {
 public:
    explicit NodeStack([[maybe_unused]] int depth) { assert(depth < kSize); }
    bool empty() const { return m_top == 0; }
    int32_t pop() { return m_items[--m_top]; }
    void push(int32_t node) { m_items[m_top++] = node; }

 private:
    static constexpr int kSize = 128;
    int32_t m_items[kSize] = {0};
    int m_top = 1;
};

inline float dot3(Float3 a, const float b[3]) { return a.x * b[0] + a.y * b[1] + a.z * b[2]; }

// Whether all three corners lie on one side of [lo, hi] along n.
inline bool outside(const Float3* v, const float n[3], float lo, float hi) {
    const float d0 = dot3(v[0], n), d1 = dot3(v[1], n), d2 = dot3(v[2], n);
    return std::min(d0, std::min(d1, d2)) > hi || std::max(d0, std::max(d1, d2)) < lo;
}

}  // namespace

int TriangleTree::rayParity(const double o[3], const double d[3]) const {
    if (m_nodes.empty()) return 0;
    const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    int hits = 0;
    for (NodeStack stack(m_depth); !stack.empty();) {
        const Node& n = m_nodes[stack.pop()];
        if (!rayMayHit(o, d, dd, n)) continue;
        if (n.child >= 0) {
            stack.push(n.child);
            stack.push(n.child + 1);
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
    for (NodeStack stack(m_depth); !stack.empty();) {
        const Node& n = m_nodes[stack.pop()];
        if (bound(n) >= best) continue;
        if (n.child < 0) {
            Float3 a, b;
            best = std::min(best, detail::triDist(a, b, point, triangle(~n.child)));
            continue;
        }
        // Nearer child last, so it is popped first and tightens `best` early.
        const bool firstNearer = bound(m_nodes[n.child]) < bound(m_nodes[n.child + 1]);
        stack.push(firstNearer ? n.child + 1 : n.child);
        stack.push(firstNearer ? n.child : n.child + 1);
    }
    return best;
}

// Depth-first over node pairs in mesh 2's frame; a pair is dropped when the spheres are apart or
// one sphere lies beyond the other's slab. Leaf pairs get the exact triangle test.
bool surfacesIntersect(const TriangleTree& mesh1, const TriangleTree& mesh2, const Matrix4& m12) {
    if (mesh1.empty() || mesh2.empty()) return false;
    const detail::Affine m = detail::affineOf(m12);
    const Node* n1 = mesh1.nodes();
    const Node* n2 = mesh2.nodes();

    // Float rounding of the posed bounds grows with the coordinates' magnitude in mesh 2's frame.
    const float mag1 = std::abs(n1[0].c[0]) + std::abs(n1[0].c[1]) + std::abs(n1[0].c[2]) + n1[0].r;
    const float mag2 = std::abs(n2[0].c[0]) + std::abs(n2[0].c[1]) + std::abs(n2[0].c[2]) + n2[0].r;
    const float slack = 1e-6f * (std::abs(m.t[0]) + std::abs(m.t[1]) + std::abs(m.t[2]) + m.scale * mag1 + mag2);

    struct Posed {
        Float3 c, n;
        float r, lo, hi;
        int32_t node;
    };
    auto pose = [&](int32_t a) {
        const Node& na = n1[a];
        Posed p;
        p.node = a;
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
        // A triangle's own corners against the other node's slab are tighter than its sphere.
        if (nb.child < 0) {
            const float lo = a.lo - slack, hi = a.hi + slack, n[3] = {a.n.x, a.n.y, a.n.z};
            if (outside(mesh2.triangle(~nb.child), n, lo, hi)) return true;
        }
        if (n1[a.node].child < 0) {
            const Float3* t = mesh1.triangle(~n1[a.node].child);
            const Float3 v[3] = {m.apply(t[0]), m.apply(t[1]), m.apply(t[2])};
            if (outside(v, nb.n, nb.lo - slack, nb.hi + slack)) return true;
        }
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
