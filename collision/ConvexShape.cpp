#include "collision/ConvexShape.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace col {
namespace {

using Vectormath::Aos::cross;
using Vectormath::Aos::dot;
using Vectormath::Aos::lengthSqr;
using Vectormath::Aos::transpose;

// Planes closer than this (normals, as unit-vector difference) count as one face.
constexpr float kCoplanarNormal = 1e-4f;
// GJK gives up after this many support points and answers "overlap": only degenerate, touching
// configurations get that far, and the caller treats a touching pair as not clear.
constexpr int kMaxGjkIterations = 64;
// A new support point that improves the closest point by less than this share of |v|^2 means the
// origin lies on the boundary of the difference: touching.
constexpr float kGjkRelativeProgress = 1e-6f;

uint64_t PositionKey(const Point3& p) {
    uint32_t b[3];
    const float f[3] = {p.getX(), p.getY(), p.getZ()};
    for (int k = 0; k < 3; ++k) {
        const float v = f[k] == 0.0f ? 0.0f : f[k];  // -0 and +0 are one vertex
        std::memcpy(&b[k], &v, sizeof(float));
    }
    uint64_t h = b[0];
    h = h * 0x9E3779B97F4A7C15ull ^ b[1];
    h = h * 0x9E3779B97F4A7C15ull ^ b[2];
    return h;
}

// ---------------------------------------------------------------------------------------------
// GJK simplex: closest point to the origin of a simplex of up to four points, and the smallest
// sub-simplex that holds it (the regions of Ericson's closest-point routines).

struct Simplex {
    Vector3 p[4];
    int n = 0;
};

/// Closest point of segment ab to the origin; reduces the simplex to the feature holding it.
Vector3 ClosestOnSegment(Simplex& s) {
    const Vector3 a = s.p[0], b = s.p[1];
    const Vector3 ab = b - a;
    const float t = -dot(a, ab);
    if (t <= 0.0f) {
        s.n = 1;
        return a;
    }
    const float len2 = lengthSqr(ab);
    if (t >= len2) {
        s.p[0] = b;
        s.n = 1;
        return b;
    }
    return a + ab * (t / len2);
}

/// Closest point of triangle abc to the origin; reduces the simplex to the feature holding it.
Vector3 ClosestOnTriangle(Simplex& s) {
    const Vector3 a = s.p[0], b = s.p[1], c = s.p[2];
    const Vector3 ab = b - a, ac = c - a, ap = -a;
    const float d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0.0f && d2 <= 0.0f) {
        s.n = 1;
        return a;
    }
    const Vector3 bp = -b;
    const float d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0.0f && d4 <= d3) {
        s.p[0] = b;
        s.n = 1;
        return b;
    }
    const float vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0f && d1 >= 0.0f && d3 <= 0.0f) {
        const float v = d1 / (d1 - d3);
        s.n = 2;
        return a + ab * v;
    }
    const Vector3 cp = -c;
    const float d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0.0f && d5 <= d6) {
        s.p[0] = c;
        s.n = 1;
        return c;
    }
    const float vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0f && d2 >= 0.0f && d6 <= 0.0f) {
        const float w = d2 / (d2 - d6);
        s.p[1] = c;
        s.n = 2;
        return a + ac * w;
    }
    const float va = d3 * d6 - d5 * d4;
    if (va <= 0.0f && (d4 - d3) >= 0.0f && (d5 - d6) >= 0.0f) {
        const float w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        s.p[0] = b;
        s.p[1] = c;
        s.n = 2;
        return b + (c - b) * w;
    }
    const float denom = va + vb + vc;
    if (!(denom > 0.0f)) {
        // A sliver: fall back to its best edge.
        Simplex e1{{a, b}, 2}, e2{{a, c}, 2}, e3{{b, c}, 2};
        const Vector3 q1 = ClosestOnSegment(e1), q2 = ClosestOnSegment(e2), q3 = ClosestOnSegment(e3);
        const float l1 = lengthSqr(q1), l2 = lengthSqr(q2), l3 = lengthSqr(q3);
        if (l1 <= l2 && l1 <= l3) {
            s = e1;
            return q1;
        }
        if (l2 <= l3) {
            s = e2;
            return q2;
        }
        s = e3;
        return q3;
    }
    const float v = vb / denom, w = vc / denom;
    return a + ab * v + ac * w;
}

/// Whether the origin and d lie on opposite sides of the plane through a, b, c. A flat
/// tetrahedron puts nothing outside, so a degenerate face never claims the origin.
bool OriginOutsideFace(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d) {
    const Vector3 n = cross(b - a, c - a);
    const float signP = dot(-a, n);
    const float signD = dot(d - a, n);
    return signP * signD < 0.0f;
}

/// Closest point of tetrahedron abcd to the origin. Returns false when the origin lies inside.
bool ClosestOnTetrahedron(Simplex& s, Vector3& outClosest) {
    const Vector3 a = s.p[0], b = s.p[1], c = s.p[2], d = s.p[3];
    const Vector3 faces[4][4] = {{a, b, c, d}, {a, c, d, b}, {a, d, b, c}, {b, d, c, a}};
    bool outside = false;
    float best = 0.0f;
    Simplex bestSimplex;
    for (const auto& f : faces) {
        if (!OriginOutsideFace(f[0], f[1], f[2], f[3])) continue;
        Simplex t{{f[0], f[1], f[2]}, 3};
        const Vector3 q = ClosestOnTriangle(t);
        const float l = lengthSqr(q);
        if (!outside || l < best) {
            outside = true;
            best = l;
            outClosest = q;
            bestSimplex = t;
        }
    }
    if (!outside) return false;
    s = bestSimplex;
    return true;
}

}  // namespace

ScaledPose ScaledPose::fromMatrix(const Matrix4& m) {
    ScaledPose pose;
    const Matrix3 upper = m.getUpper3x3();
    const float s = Vectormath::Aos::length(upper.getCol0());
    pose.scale = s;
    pose.rotation = s > 0.0f ? upper * (1.0f / s) : Matrix3::identity();
    pose.translation = m.getTranslation();
    return pose;
}

bool ConvexShape::build(const std::vector<Point3>& points, const std::vector<std::vector<unsigned>>& polygons,
                        float relTolerance) {
    *this = ConvexShape();

    // Distinct vertices that some polygon uses.
    std::unordered_map<uint64_t, std::vector<int32_t>> byKey;
    std::vector<int32_t> remap(points.size(), -1);
    std::vector<Vector3> verts;
    for (const auto& poly : polygons) {
        for (unsigned i : poly) {
            if (i >= points.size()) return false;
            if (remap[i] >= 0) continue;
            const Point3& p = points[i];
            auto& bucket = byKey[PositionKey(p)];
            int32_t found = -1;
            for (int32_t j : bucket)
                if (verts[static_cast<size_t>(j)].getX() == p.getX() &&
                    verts[static_cast<size_t>(j)].getY() == p.getY() &&
                    verts[static_cast<size_t>(j)].getZ() == p.getZ())
                    found = j;
            if (found < 0) {
                found = static_cast<int32_t>(verts.size());
                verts.push_back(Vector3(p));
                bucket.push_back(found);
            }
            remap[i] = found;
        }
    }
    if (verts.size() < 4) return false;

    Vector3 lo = verts[0], hi = verts[0];
    for (const Vector3& v : verts) {
        lo = Vectormath::Aos::minPerElem(lo, v);
        hi = Vectormath::Aos::maxPerElem(hi, v);
    }
    const float extent = Vectormath::Aos::maxElem(hi - lo);
    if (!(extent > 0.0f)) return false;
    const float tol = relTolerance * extent;

    // Face planes and edges; every fanned triangle's plane must have all vertices behind it.
    std::vector<std::pair<int32_t, int32_t>> edges;
    std::vector<Plane> planes;
    for (const auto& poly : polygons) {
        if (poly.size() < 3) continue;
        for (size_t k = 0; k < poly.size(); ++k) {
            const int32_t u = remap[poly[k]], w = remap[poly[(k + 1) % poly.size()]];
            if (u != w) edges.emplace_back(std::min(u, w), std::max(u, w));
        }
        for (size_t k = 1; k + 1 < poly.size(); ++k) {
            const Vector3 a = verts[static_cast<size_t>(remap[poly[0]])];
            const Vector3 b = verts[static_cast<size_t>(remap[poly[k]])];
            const Vector3 c = verts[static_cast<size_t>(remap[poly[k + 1]])];
            const Vector3 n = cross(b - a, c - a);
            const float len = Vectormath::Aos::length(n);
            if (!(len > 1e-6f * extent * extent)) continue;  // degenerate: no plane of its own
            const Vector3 unit = n / len;
            planes.push_back({unit, dot(unit, a)});
        }
    }
    if (planes.size() < 4) return false;
    for (const Plane& pl : planes)
        for (const Vector3& v : verts)
            if (dot(pl.normal, v) - pl.offset > tol) return false;

    // Coplanar triangles give one face plane.
    std::vector<Plane> distinct;
    for (const Plane& pl : planes) {
        bool dup = false;
        for (const Plane& q : distinct)
            if (lengthSqr(q.normal - pl.normal) < kCoplanarNormal * kCoplanarNormal &&
                std::fabs(q.offset - pl.offset) <= tol) {
                dup = true;
                break;
            }
        if (!dup) distinct.push_back(pl);
    }

    // Adjacency in compressed rows, from the polygon edges (fan diagonals need not be there: the
    // polygon boundary alone connects the vertex graph of the convex polyhedron).
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<int32_t> degree(verts.size(), 0);
    for (const auto& e : edges) {
        ++degree[static_cast<size_t>(e.first)];
        ++degree[static_cast<size_t>(e.second)];
    }
    m_adjacencyStart.assign(verts.size() + 1, 0);
    for (size_t i = 0; i < verts.size(); ++i) m_adjacencyStart[i + 1] = m_adjacencyStart[i] + degree[i];
    m_adjacency.assign(static_cast<size_t>(m_adjacencyStart.back()), 0);
    std::vector<int32_t> fill(m_adjacencyStart.begin(), m_adjacencyStart.end() - 1);
    for (const auto& e : edges) {
        m_adjacency[static_cast<size_t>(fill[static_cast<size_t>(e.first)]++)] = e.second;
        m_adjacency[static_cast<size_t>(fill[static_cast<size_t>(e.second)]++)] = e.first;
    }

    float outer = 0.0f;
    for (const Vector3& v : verts) outer = std::max(outer, lengthSqr(v));
    float inner = distinct[0].offset;
    for (const Plane& pl : distinct) inner = std::min(inner, pl.offset);

    m_vertices = std::move(verts);
    m_planes = std::move(distinct);
    m_outerRadius = std::sqrt(outer);
    m_innerRadius = inner > 0.0f ? inner : 0.0f;
    return true;
}

int ConvexShape::support(const Vector3& d, int hint) const {
    int best = hint;
    float bestDot = dot(m_vertices[static_cast<size_t>(best)], d);
    // Steepest ascent over the vertex graph: on a convex polyhedron a vertex with no better
    // neighbour is a global maximum.
    while (true) {
        int next = best;
        for (int32_t k = m_adjacencyStart[static_cast<size_t>(best)];
             k < m_adjacencyStart[static_cast<size_t>(best) + 1]; ++k) {
            const int32_t j = m_adjacency[static_cast<size_t>(k)];
            const float v = dot(m_vertices[static_cast<size_t>(j)], d);
            if (v > bestDot) {
                bestDot = v;
                next = j;
            }
        }
        if (next == best) return best;
        best = next;
    }
}

bool convexOverlap(const ConvexShape& a, const ScaledPose& X_WA, const ConvexShape& b, const ScaledPose& X_WB,
                   int* ioHint) {
    if (a.empty() || b.empty()) return false;

    // Work in A's frame without its scale: A's points are sA * v, B's are R_AB * (sB * v) + t_AB.
    const Matrix3 rotAT = transpose(X_WA.rotation);
    const Matrix3 rotAB = rotAT * X_WB.rotation;
    const Matrix3 rotBA = transpose(rotAB);
    const Vector3 tAB = rotAT * (X_WB.translation - X_WA.translation);
    const float sA = X_WA.scale, sB = X_WB.scale;

    // Bounding spheres about the model origins decide most pairs without a support query.
    const float dist2 = lengthSqr(tAB);
    const float outer = sA * a.outerRadius() + sB * b.outerRadius();
    if (dist2 >= outer * outer) return false;
    const float inner = sA * a.innerRadius() + sB * b.innerRadius();
    if (dist2 < inner * inner) return true;

    int hintA = ioHint ? ioHint[0] : 0;
    int hintB = ioHint ? ioHint[1] : 0;
    const auto& va = a.vertices();
    const auto& vb = b.vertices();
    auto supportDiff = [&](const Vector3& dir) {
        // Point of A - B farthest along dir.
        hintA = a.support(dir, hintA);
        hintB = b.support(rotBA * (-dir), hintB);
        return va[static_cast<size_t>(hintA)] * sA - (rotAB * (vb[static_cast<size_t>(hintB)] * sB) + tAB);
    };

    Simplex s;
    Vector3 v = va[static_cast<size_t>(hintA)] * sA - (rotAB * (vb[static_cast<size_t>(hintB)] * sB) + tAB);
    if (lengthSqr(v) == 0.0f) v = -tAB;
    if (lengthSqr(v) == 0.0f) v = Vector3(1.0f, 0.0f, 0.0f);
    bool overlap = true;
    for (int iter = 0; iter < kMaxGjkIterations; ++iter) {
        const Vector3 w = supportDiff(-v);
        const float vw = dot(v, w);
        if (vw > 0.0f) {
            // A plane with normal v separates the origin from A - B.
            overlap = false;
            break;
        }
        const float vv = lengthSqr(v);
        if (vv - vw <= kGjkRelativeProgress * vv) break;  // no progress: touching
        s.p[s.n++] = w;
        bool enclosed = false;
        switch (s.n) {
            case 1:
                v = w;
                break;
            case 2:
                v = ClosestOnSegment(s);
                break;
            case 3:
                v = ClosestOnTriangle(s);
                break;
            default:
                enclosed = !ClosestOnTetrahedron(s, v);
                break;
        }
        if (enclosed || lengthSqr(v) <= 1e-12f * outer * outer) break;
    }
    if (ioHint) {
        ioHint[0] = hintA;
        ioHint[1] = hintB;
    }
    return overlap;
}

}  // namespace col
