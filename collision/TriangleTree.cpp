#include "collision/TriangleTree.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "collision/Affine.h"

namespace col {

using detail::Float3;

namespace {

inline Float3 sub(Float3 a, Float3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline float dot(Float3 a, Float3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float comp(Float3 a, int axis) { return axis == 0 ? a.x : (axis == 1 ? a.y : a.z); }

/// Smallest sphere through/around a triangle: the circumsphere for acute triangles, otherwise
/// the sphere on the longest edge.
void triangleSphere(const Float3* v, float c[3], float& r) {
    for (int i = 0; i < 3; ++i) {
        const Float3 a = v[i], b = v[(i + 1) % 3], o = v[(i + 2) % 3];
        // Obtuse or right at o: the edge ab is the diameter.
        if (dot(sub(a, o), sub(b, o)) <= 0.f) {
            c[0] = 0.5f * (a.x + b.x), c[1] = 0.5f * (a.y + b.y), c[2] = 0.5f * (a.z + b.z);
            r = 0.5f * std::sqrt(dot(sub(a, b), sub(a, b)));
            const Float3 m{c[0], c[1], c[2]};
            r = std::max(r, std::sqrt(dot(sub(o, m), sub(o, m))));  // guards rounding for o
            return;
        }
    }
    // Acute: circumcentre in double (the float formula loses digits for thin triangles).
    const double ax = v[1].x - v[0].x, ay = v[1].y - v[0].y, az = v[1].z - v[0].z;
    const double bx = v[2].x - v[0].x, by = v[2].y - v[0].y, bz = v[2].z - v[0].z;
    const double nx = ay * bz - az * by, ny = az * bx - ax * bz, nz = ax * by - ay * bx;
    const double nn = nx * nx + ny * ny + nz * nz, aa = ax * ax + ay * ay + az * az, bb = bx * bx + by * by + bz * bz;
    // centre - v0 = (aa (b x n) + bb (n x a)) / (2 |n|^2)
    const double ux = aa * (by * nz - bz * ny) + bb * (ny * az - nz * ay);
    const double uy = aa * (bz * nx - bx * nz) + bb * (nz * ax - nx * az);
    const double uz = aa * (bx * ny - by * nx) + bb * (nx * ay - ny * ax);
    c[0] = float(v[0].x + ux / (2 * nn)), c[1] = float(v[0].y + uy / (2 * nn)), c[2] = float(v[0].z + uz / (2 * nn));
    const Float3 m{c[0], c[1], c[2]};
    r = 0.f;
    for (int i = 0; i < 3; ++i) r = std::max(r, std::sqrt(dot(sub(v[i], m), sub(v[i], m))));
}

}  // namespace

void TriangleTree::build(const std::vector<Point3>& pts, const std::vector<std::vector<unsigned>>& polygons) {
    m_nodes.clear();
    m_tris.clear();
    m_depth = 0;
    std::vector<Float3> tris;
    const size_t np = pts.size();
    auto at = [&](unsigned i) { return Float3{pts[i].getX(), pts[i].getY(), pts[i].getZ()}; };
    for (const auto& poly : polygons) {
        if (poly.size() < 3) continue;
        if (std::any_of(poly.begin(), poly.end(), [np](unsigned i) { return i >= np; })) continue;
        for (size_t k = 1; k + 1 < poly.size(); ++k) {
            tris.push_back(at(poly[0]));
            tris.push_back(at(poly[k]));
            tris.push_back(at(poly[k + 1]));
        }
    }
    const int32_t n = int32_t(tris.size() / 3);
    if (n == 0) return;
    std::vector<Float3> cent(n);
    std::vector<int32_t> order(n);
    for (int32_t i = 0; i < n; ++i) {
        const Float3* v = &tris[3 * size_t(i)];
        cent[i] = {(v[0].x + v[1].x + v[2].x) / 3.f, (v[0].y + v[1].y + v[2].y) / 3.f,
                   (v[0].z + v[1].z + v[2].z) / 3.f};
        order[i] = i;
    }
    m_nodes.reserve(2 * size_t(n) - 1);
    m_nodes.emplace_back();
    buildRange(0, order, cent, tris, 0, n, 1);
    // Store the triangles in leaf order so that neighbouring leaves share cache lines.
    m_tris.resize(tris.size());
    std::vector<int32_t> slot(n);
    for (int32_t i = 0; i < n; ++i) slot[order[i]] = i;
    for (int32_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) m_tris[3 * size_t(slot[i]) + k] = tris[3 * size_t(i) + k];
    for (auto& node : m_nodes)
        if (node.child < 0) node.child = ~slot[~node.child];
    computeSlabs();
    m_planes.resize(4 * size_t(n));
    for (int32_t i = 0; i < n; ++i) {
        const Float3* v = &m_tris[3 * size_t(i)];
        const Float3 e0 = sub(v[1], v[0]), e1 = sub(v[2], v[0]);
        const Float3 nrm{e0.y * e1.z - e0.z * e1.y, e0.z * e1.x - e0.x * e1.z, e0.x * e1.y - e0.y * e1.x};
        const float l = std::sqrt(dot(nrm, nrm));
        float* pl = &m_planes[4 * size_t(i)];
        if (l > 1e-6f * std::sqrt(dot(e0, e0) * dot(e1, e1))) {
            pl[0] = nrm.x / l, pl[1] = nrm.y / l, pl[2] = nrm.z / l;
            pl[3] = (pl[0] * v[0].x + pl[1] * v[0].y + pl[2] * v[0].z);
        } else {
            pl[0] = pl[1] = pl[2] = pl[3] = 0.f;
        }
    }
}

// Slab per node: area-weighted mean normal of its triangles (z when they cancel out) and the
// corners' extent along it. Children follow their parent in the array, so a reverse sweep
// visits every child before its parent.
void TriangleTree::computeSlabs() {
    std::vector<std::pair<int32_t, int32_t>> range(m_nodes.size());  // leaf-order triangle range
    for (size_t k = m_nodes.size(); k-- > 0;) {
        Node& node = m_nodes[k];
        if (node.child < 0) {
            range[k] = {~node.child, ~node.child + 1};
        } else {
            range[k] = {range[node.child].first, range[node.child + 1].second};  // siblings are adjacent in leaf order
        }
        Float3 sum{0, 0, 0};
        for (int32_t t = range[k].first; t < range[k].second; ++t) {
            const Float3* v = &m_tris[3 * size_t(t)];
            const Float3 e0 = sub(v[1], v[0]), e1 = sub(v[2], v[0]);
            sum = {sum.x + e0.y * e1.z - e0.z * e1.y, sum.y + e0.z * e1.x - e0.x * e1.z,
                   sum.z + e0.x * e1.y - e0.y * e1.x};
        }
        const float l = std::sqrt(dot(sum, sum));
        const Float3 ax = l > 0.f ? Float3{sum.x / l, sum.y / l, sum.z / l} : Float3{0, 0, 1};
        node.n[0] = ax.x, node.n[1] = ax.y, node.n[2] = ax.z;
        node.lo = INFINITY, node.hi = -INFINITY;
        for (int32_t t = range[k].first; t < range[k].second; ++t)
            for (int c = 0; c < 3; ++c) {
                const float d = dot(m_tris[3 * size_t(t) + c], ax);
                node.lo = std::min(node.lo, d), node.hi = std::max(node.hi, d);
            }
    }
}

// Fills node `self` for the triangles order[first, first+count). Children are allocated as an
// adjacent pair before either subtree is built.
void TriangleTree::buildRange(int32_t self, std::vector<int32_t>& order, const std::vector<Float3>& cent,
                              const std::vector<Float3>& tris, int32_t first, int32_t count, int level) {
    m_depth = std::max(m_depth, level);
    if (count == 1) {
        Node& node = m_nodes[self];
        triangleSphere(&tris[3 * size_t(order[first])], node.c, node.r);
        node.child = ~order[first];
        return;
    }
    // Split at the median centroid along the longest extent of the centroids.
    Float3 lo = cent[order[first]], hi = lo;
    for (int32_t i = first; i < first + count; ++i) {
        const Float3 p = cent[order[i]];
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    const Float3 ext = sub(hi, lo);
    const int axis = ext.x >= ext.y && ext.x >= ext.z ? 0 : (ext.y >= ext.z ? 1 : 2);
    const int32_t half = count / 2;
    std::nth_element(order.begin() + first, order.begin() + first + half, order.begin() + first + count,
                     [&](int32_t a, int32_t b) { return comp(cent[a], axis) < comp(cent[b], axis); });

    const int32_t left = int32_t(m_nodes.size());
    m_nodes.emplace_back();
    m_nodes.emplace_back();
    m_nodes[self].child = left;
    buildRange(left, order, cent, tris, first, half, level + 1);
    buildRange(left + 1, order, cent, tris, first + half, count - half, level + 1);

    // Bounding sphere: the better of (a) the vertex box centre with the farthest vertex and
    // (b) the sphere around both child spheres.
    Float3 vlo = tris[3 * size_t(order[first])], vhi = vlo;
    for (int32_t i = first; i < first + count; ++i)
        for (int k = 0; k < 3; ++k) {
            const Float3 p = tris[3 * size_t(order[i]) + k];
            vlo = {std::min(vlo.x, p.x), std::min(vlo.y, p.y), std::min(vlo.z, p.z)};
            vhi = {std::max(vhi.x, p.x), std::max(vhi.y, p.y), std::max(vhi.z, p.z)};
        }
    const Float3 mid{0.5f * (vlo.x + vhi.x), 0.5f * (vlo.y + vhi.y), 0.5f * (vlo.z + vhi.z)};
    float r2 = 0.f;
    for (int32_t i = first; i < first + count; ++i)
        for (int k = 0; k < 3; ++k) {
            const Float3 d = sub(tris[3 * size_t(order[i]) + k], mid);
            r2 = std::max(r2, dot(d, d));
        }
    float rBox = std::sqrt(r2);

    const Node& a = m_nodes[left];
    const Node& b = m_nodes[left + 1];
    const Float3 ab{b.c[0] - a.c[0], b.c[1] - a.c[1], b.c[2] - a.c[2]};
    const float dab = std::sqrt(dot(ab, ab));
    float cm[3], rMerge;
    if (dab + b.r <= a.r) {
        cm[0] = a.c[0], cm[1] = a.c[1], cm[2] = a.c[2], rMerge = a.r;
    } else if (dab + a.r <= b.r) {
        cm[0] = b.c[0], cm[1] = b.c[1], cm[2] = b.c[2], rMerge = b.r;
    } else {
        rMerge = 0.5f * (dab + a.r + b.r);
        const float t = (rMerge - a.r) / dab;
        cm[0] = a.c[0] + ab.x * t, cm[1] = a.c[1] + ab.y * t, cm[2] = a.c[2] + ab.z * t;
    }
    Node& node = m_nodes[self];
    if (rMerge < rBox) {
        node.c[0] = cm[0], node.c[1] = cm[1], node.c[2] = cm[2];
        node.r = rMerge * (1.f + 1e-6f);  // rounding of the merge must not shrink it below a child
    } else {
        node.c[0] = mid.x, node.c[1] = mid.y, node.c[2] = mid.z;
        node.r = rBox * (1.f + 1e-6f);
    }
}

namespace {

using detail::Affine;  // Affine.h

struct PairEntry {
    int32_t a, b;  // node of mesh 1, node of mesh 2
    float bound;   // lower bound on the distance of their triangles
};

inline Point3 toPoint(Float3 p) { return Point3(p.x, p.y, p.z); }

// How far a sphere of radius r cut by a slab reaches from the sphere's centre along a unit
// direction that makes cosine s with the slab's normal; the slab spans [lo, hi] of the offset
// along the normal. The reach s t + sqrt(1 - s^2) sqrt(r^2 - t^2) is concave in the offset t, so
// its maximum is at t = r s clamped into the slab. A little is added against rounding.
inline float capReach(float s, float r, float lo, float hi) {
    const float a = std::max(lo, -r), b = std::min(hi, r);
    if (!(a <= b)) return r;  // degenerate slab: the sphere alone
    const float t = std::clamp(r * s, a, b);
    const float reach = s * t + std::sqrt(std::max(0.f, 1.f - s * s)) * std::sqrt(std::max(0.f, r * r - t * t));
    return std::min(r, reach) * (1.f + 1e-5f) + 1e-6f * r;
}

// Lower bound of the distance of two triangles: how far apart their projections onto the line
// through the two centroids are (0 or less when they overlap there).
inline float axisGap(const Float3* a, const Float3* b) {
    const float dx = (b[0].x + b[1].x + b[2].x) - (a[0].x + a[1].x + a[2].x);
    const float dy = (b[0].y + b[1].y + b[2].y) - (a[0].y + a[1].y + a[2].y);
    const float dz = (b[0].z + b[1].z + b[2].z) - (a[0].z + a[1].z + a[2].z);
    const float len = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!(len > 0.f)) return 0.f;
    float maxA = -INFINITY, minB = INFINITY;
    for (int k = 0; k < 3; ++k) {
        maxA = std::max(maxA, a[k].x * dx + a[k].y * dy + a[k].z * dz);
        minB = std::min(minB, b[k].x * dx + b[k].y * dy + b[k].z * dz);
    }
    // Scaled back to a length, with a little taken off against rounding.
    return (minB - maxA) / len * (1.f - 1e-5f) - 1e-6f * len;
}

/// Gap between three points and a plane when all lie strictly on one side, else 0: a lower
/// bound on the distance of their triangle to any triangle in that plane.
inline float planeGap(const float pl[4], const Float3* v) {
    const float d0 = pl[0] * v[0].x + pl[1] * v[0].y + pl[2] * v[0].z - pl[3];
    const float d1 = pl[0] * v[1].x + pl[1] * v[1].y + pl[2] * v[1].z - pl[3];
    const float d2 = pl[0] * v[2].x + pl[1] * v[2].y + pl[2] * v[2].z - pl[3];
    const float lo = std::min(d0, std::min(d1, d2)), hi = std::max(d0, std::max(d1, d2));
    return lo > 0.f ? lo : (hi < 0.f ? -hi : 0.f);
}

}  // namespace

// Depth-first over node pairs, nearer child pair first, pruned by the best distance so far.
// Sphere bounds: |R c1 + T - c2| - s r1 - r2 never exceeds the distance of their contents.
MeshDistanceResult meshDistance(const TriangleTree& mesh1, const TriangleTree& mesh2, const Matrix4& m12) {
    MeshDistanceResult res{};
    res.distance = INFINITY;
    res.valid = false;
    if (mesh1.empty() || mesh2.empty()) return res;

    Affine m;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) m.r[row][col] = m12.getElem(col, row);
        m.t[row] = m12.getElem(3, row);
    }
    m.scale = std::sqrt(m.r[0][0] * m.r[0][0] + m.r[1][0] * m.r[1][0] + m.r[2][0] * m.r[2][0]);

    const TriangleTree::Node* n1 = mesh1.m_nodes.data();
    const TriangleTree::Node* n2 = mesh2.m_nodes.data();
    // Best of four lower bounds: the two spheres, a's sphere against b's slab, b's sphere
    // against a's slab (mapped into mesh 2's frame), and both spheres cut by their slabs along
    // the line of the centres.
    const float invScale = 1.f / m.scale;
    // Node a of mesh 1 mapped into mesh 2's frame once, for the bounds against several b.
    struct PosedA {
        Float3 c, n;
        float r, lo, hi, xc;  // slab offsets and the centre's offset along n
    };
    auto pose = [&](int32_t a) {
        const TriangleTree::Node& na = n1[a];
        PosedA p;
        p.c = m.apply(na.c);
        p.r = m.scale * na.r;
        p.n = {invScale * (m.r[0][0] * na.n[0] + m.r[0][1] * na.n[1] + m.r[0][2] * na.n[2]),
               invScale * (m.r[1][0] * na.n[0] + m.r[1][1] * na.n[1] + m.r[1][2] * na.n[2]),
               invScale * (m.r[2][0] * na.n[0] + m.r[2][1] * na.n[1] + m.r[2][2] * na.n[2])};
        const float shift = p.n.x * m.t[0] + p.n.y * m.t[1] + p.n.z * m.t[2];
        p.lo = m.scale * na.lo + shift;
        p.hi = m.scale * na.hi + shift;
        p.xc = p.c.x * p.n.x + p.c.y * p.n.y + p.c.z * p.n.z;
        return p;
    };
    auto bound = [&](const PosedA& pa, int32_t b) {
        const TriangleTree::Node& nb = n2[b];
        const Float3& c = pa.c;
        const float ra = pa.r;
        const float dx = c.x - nb.c[0], dy = c.y - nb.c[1], dz = c.z - nb.c[2];
        const float dist = std::sqrt(dx * dx + dy * dy + dz * dz);
        float lb = dist - ra - nb.r;
        const float xb = c.x * nb.n[0] + c.y * nb.n[1] + c.z * nb.n[2];
        lb = std::max(lb, std::max(xb - ra - nb.hi, nb.lo - xb - ra));
        const float xa = pa.n.x * nb.c[0] + pa.n.y * nb.c[1] + pa.n.z * nb.c[2];
        lb = std::max(lb, std::max(xa - nb.r - pa.hi, pa.lo - xa - nb.r));
        // Along the line of the centres, each node reaches only as far as its sphere cut by its
        // slab allows: far apart, the patches facing each other give a much tighter bound.
        if (dist > ra + nb.r) {
            const float inv = 1.f / dist;
            const float ux = -dx * inv, uy = -dy * inv, uz = -dz * inv;  // from a towards b
            const float reachA = capReach(ux * pa.n.x + uy * pa.n.y + uz * pa.n.z, ra, pa.lo - pa.xc, pa.hi - pa.xc);
            const float xcB = nb.c[0] * nb.n[0] + nb.c[1] * nb.n[1] + nb.c[2] * nb.n[2];
            const float reachB =
                capReach(-(ux * nb.n[0] + uy * nb.n[1] + uz * nb.n[2]), nb.r, nb.lo - xcB, nb.hi - xcB);
            // The slab offsets are differences of transformed coordinates: allow for their rounding.
            const float slack = 2e-6f * (dist + std::abs(pa.lo) + std::abs(pa.xc) + std::abs(nb.lo) + std::abs(xcB));
            lb = std::max(lb, dist - reachA - reachB - slack);
        }
        return lb;
    };

    // Each expansion replaces one entry by at most two, so the stack never holds more than the
    // two depths plus one.
    constexpr int kStack = 256;
    assert(mesh1.depth() + mesh2.depth() + 1 < kStack);
    PairEntry stack[kStack];
    int top = 0;
    stack[top++] = {0, 0, bound(pose(0), 0)};

    float best = INFINITY;
    int32_t bestB = -1;
    Float3 tri1[3];
    while (top > 0) {
        const PairEntry e = stack[--top];
        if (e.bound >= best) continue;
        const TriangleTree::Node& na = n1[e.a];
        const TriangleTree::Node& nb = n2[e.b];
        if (na.child < 0 && nb.child < 0) {
            const Float3* ta = &mesh1.m_tris[3 * size_t(~na.child)];
            const Float3 t1[3] = {m.apply(ta[0]), m.apply(ta[1]), m.apply(ta[2])};
            const Float3* t2 = &mesh2.m_tris[3 * size_t(~nb.child)];
            // Cheap rejections before the exact test: the gap of the two triangles' projections
            // onto the line through their centroids (tight when they are far apart), then the
            // two face planes.
            if (axisGap(t1, t2) >= best) continue;
            if (planeGap(&mesh2.m_planes[4 * size_t(~nb.child)], t1) >= best) continue;
            const float* pa = &mesh1.m_planes[4 * size_t(~na.child)];
            const float inv = 1.f / m.scale;
            float pl[4] = {inv * (m.r[0][0] * pa[0] + m.r[0][1] * pa[1] + m.r[0][2] * pa[2]),
                           inv * (m.r[1][0] * pa[0] + m.r[1][1] * pa[1] + m.r[1][2] * pa[2]),
                           inv * (m.r[2][0] * pa[0] + m.r[2][1] * pa[1] + m.r[2][2] * pa[2]), 0.f};
            pl[3] = pl[0] * t1[0].x + pl[1] * t1[0].y + pl[2] * t1[0].z;
            if (planeGap(pl, t2) >= best) continue;
            Float3 p, q;
            const float d = detail::triDist(p, q, t1, t2);
            if (d < best) {
                best = d;
                bestB = ~nb.child;
                tri1[0] = t1[0], tri1[1] = t1[1], tri1[2] = t1[2];
                if (best <= 0.f) break;
            }
            continue;
        }
        // Descend into the larger sphere (a leaf can't be split).
        const bool splitA = nb.child < 0 || (na.child >= 0 && m.scale * na.r >= nb.r);
        PairEntry c0, c1;
        if (splitA) {
            c0 = {na.child, e.b, bound(pose(na.child), e.b)};
            c1 = {na.child + 1, e.b, bound(pose(na.child + 1), e.b)};
        } else {
            const PosedA pa = pose(e.a);
            c0 = {e.a, nb.child, bound(pa, nb.child)};
            c1 = {e.a, nb.child + 1, bound(pa, nb.child + 1)};
        }
        if (c0.bound < c1.bound) std::swap(c0, c1);  // c1 is the nearer one, popped first
        if (c0.bound < best) stack[top++] = c0;
        if (c1.bound < best) stack[top++] = c1;
    }

    if (bestB < 0) return res;  // only NaN coordinates get here
    res.distance = std::max(best, 0.f);
    res.valid = true;
    const Float3* t2 = &mesh2.m_tris[3 * size_t(bestB)];
    for (int k = 0; k < 3; ++k) {
        res.tri1[k] = toPoint(tri1[k]);
        res.tri2[k] = toPoint(t2[k]);
    }
    return res;
}

}  // namespace col
