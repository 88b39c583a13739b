#include "collision/ConvexShape.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
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
// Start table: a cube map of directions with this many cells along each face edge.
constexpr int kTableCells = 16;

/// The cube-map cell of a non-zero direction: face (axis and sign) and the cell on that face.
int TableCell(const Vector3& d) {
    const float ax = std::fabs(d.getX()), ay = std::fabs(d.getY()), az = std::fabs(d.getZ());
    int axis = 0;
    float m = ax;
    if (ay > m) axis = 1, m = ay;
    if (az > m) axis = 2, m = az;
    if (!(m > 0.0f)) return 0;
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    const float toCell = 0.5f * kTableCells / m;
    auto cell = [toCell](float c) {
        const int i = static_cast<int>(c * toCell + 0.5f * kTableCells);
        return i < 0 ? 0 : (i >= kTableCells ? kTableCells - 1 : i);
    };
    const int face = 2 * axis + (d[axis] < 0.0f ? 1 : 0);
    return (face * kTableCells + cell(d[u])) * kTableCells + cell(d[v]);
}

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
// sub-simplex that holds it (the regions of Ericson's closest-point routines). In double: the
// closest point of a simplex whose corners are of the shapes' size carries float rounding of about
// 1e-7 of that size, which decided the sign of a 2e-5 gap wrongly between two cubes face to face.

struct D3 {
    double x, y, z;
};
inline D3 operator+(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline D3 operator-(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline D3 operator-(D3 a) { return {-a.x, -a.y, -a.z}; }
inline D3 operator*(D3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double Dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline D3 Cross(D3 a, D3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double Len2(D3 a) { return Dot(a, a); }
inline D3 ToD3(const Vector3& v) { return {v.getX(), v.getY(), v.getZ()}; }

/// Points of A - B, each with the vertices of A and B it came from (so that a later query can
/// rebuild them at new poses).
struct Simplex {
    D3 p[4];
    int32_t ia[4] = {-1, -1, -1, -1}, ib[4] = {-1, -1, -1, -1};
    int n = 0;
    void Push(const D3& q, int32_t a, int32_t b) {
        p[n] = q;
        ia[n] = a;
        ib[n] = b;
        ++n;
    }
    void Keep(int to, int from) {
        p[to] = p[from];
        ia[to] = ia[from];
        ib[to] = ib[from];
    }
    Simplex Sub(std::initializer_list<int> which) const {
        Simplex t;
        for (int k : which) t.Push(p[k], ia[k], ib[k]);
        return t;
    }
};

/// Closest point of segment ab to the origin; reduces the simplex to the feature holding it.
D3 ClosestOnSegment(Simplex& s) {
    const D3 a = s.p[0], b = s.p[1];
    const D3 ab = b - a;
    const double t = -Dot(a, ab);
    if (t <= 0.0) {
        s.n = 1;
        return a;
    }
    const double len2 = Len2(ab);
    if (t >= len2) {
        s.Keep(0, 1);
        s.n = 1;
        return b;
    }
    return a + ab * (t / len2);
}

/// Closest point of triangle abc to the origin; reduces the simplex to the feature holding it.
D3 ClosestOnTriangle(Simplex& s) {
    const D3 a = s.p[0], b = s.p[1], c = s.p[2];
    const D3 ab = b - a, ac = c - a, ap = -a;
    const double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
    if (d1 <= 0.0 && d2 <= 0.0) {
        s.n = 1;
        return a;
    }
    const D3 bp = -b;
    const double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
    if (d3 >= 0.0 && d4 <= d3) {
        s.Keep(0, 1);
        s.n = 1;
        return b;
    }
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) {
        s.n = 2;
        return a + ab * (d1 / (d1 - d3));
    }
    const D3 cp = -c;
    const double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
    if (d6 >= 0.0 && d5 <= d6) {
        s.Keep(0, 2);
        s.n = 1;
        return c;
    }
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) {
        s.Keep(1, 2);
        s.n = 2;
        return a + ac * (d2 / (d2 - d6));
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0) {
        s.Keep(0, 1);
        s.Keep(1, 2);
        s.n = 2;
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    }
    const double denom = va + vb + vc;
    if (!(denom > 0.0)) {
        // A sliver: fall back to its best edge.
        Simplex e[3] = {s.Sub({0, 1}), s.Sub({0, 2}), s.Sub({1, 2})};
        D3 q[3];
        int best = 0;
        for (int k = 0; k < 3; ++k) {
            q[k] = ClosestOnSegment(e[k]);
            if (Len2(q[k]) < Len2(q[best])) best = k;
        }
        s = e[best];
        return q[best];
    }
    return a + ab * (vb / denom) + ac * (vc / denom);
}

/// Closest point of tetrahedron abcd to the origin; false when the origin lies inside. A flat
/// tetrahedron has no inside: its faces are tried like those of one that is not.
bool ClosestOnTetrahedron(Simplex& s, D3& outClosest) {
    const D3 a = s.p[0], b = s.p[1], c = s.p[2], d = s.p[3];
    static constexpr int kFaces[4][4] = {{0, 1, 2, 3}, {0, 2, 3, 1}, {0, 3, 1, 2}, {1, 3, 2, 0}};
    const double volume = std::fabs(Dot(b - a, Cross(c - a, d - a)));
    const double scale = std::max({Len2(b - a), Len2(c - a), Len2(d - a)});
    const bool flat = !(volume > 1e-12 * scale * std::sqrt(scale));
    bool outside = false;
    double best = 0.0;
    Simplex bestSimplex;
    for (const auto& k : kFaces) {
        const D3 f[4] = {s.p[k[0]], s.p[k[1]], s.p[k[2]], s.p[k[3]]};
        const D3 n = Cross(f[1] - f[0], f[2] - f[0]);
        if (!flat && Dot(-f[0], n) * Dot(f[3] - f[0], n) >= 0.0) continue;  // origin on the inner side
        Simplex t = s.Sub({k[0], k[1], k[2]});
        const D3 q = ClosestOnTriangle(t);
        const double l = Len2(q);
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
    // Answers for the cell centres, found by brute force once.
    m_startTable.assign(6 * kTableCells * kTableCells, 0);
    for (int face = 0; face < 6; ++face)
        for (int i = 0; i < kTableCells; ++i)
            for (int j = 0; j < kTableCells; ++j) {
                const int axis = face / 2, u = (axis + 1) % 3, v = (axis + 2) % 3;
                Vector3 d(0.0f);
                d.setElem(axis, face % 2 ? -1.0f : 1.0f);
                d.setElem(u, (2.0f * i + 1.0f) / kTableCells - 1.0f);
                d.setElem(v, (2.0f * j + 1.0f) / kTableCells - 1.0f);
                int best = 0;
                for (size_t k = 1; k < m_vertices.size(); ++k)
                    if (dot(m_vertices[k], d) > dot(m_vertices[static_cast<size_t>(best)], d))
                        best = static_cast<int>(k);
                m_startTable[static_cast<size_t>(TableCell(d))] = best;
            }
    m_outerRadius = std::sqrt(outer);
    m_innerRadius = inner > 0.0f ? inner : 0.0f;
    return true;
}

int ConvexShape::support(const Vector3& d, int hint) const {
    // A hint from another shape (a stale pair hint) may be out of range: the table then starts.
    int best = hint >= 0 && static_cast<size_t>(hint) < m_vertices.size()
                   ? hint
                   : m_startTable[static_cast<size_t>(TableCell(d))];
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

bool convexOverlap(const ConvexShape& a, const ScaledPose& X_WA, const ConvexShape& b, const ScaledPose& X_WB) {
    ConvexPairCache cache;
    return convexOverlap(a, X_WA, b, X_WB, cache);
}

bool convexOverlap(const ConvexShape& a, const ScaledPose& X_WA, const ConvexShape& b, const ScaledPose& X_WB,
                   ConvexPairCache& ioCache) {
    if (a.empty() || b.empty()) return false;

    const float sA = X_WA.scale, sB = X_WB.scale;
    const Vector3 dW = X_WB.translation - X_WA.translation;

    // Bounding spheres about the model origins decide most pairs without a support query.
    const float dist2 = lengthSqr(dW);
    const float outer = sA * a.outerRadius() + sB * b.outerRadius();
    // Shapes closer than this count as touching, and touching as overlapping: every path answers
    // the same for a pair, with or without a remembered axis (a pair 1e-6 apart went both ways).
    const double touch = 1e-6 * static_cast<double>(outer);
    const double reach = outer + touch;
    if (dist2 >= reach * reach) return false;
    const float inner = sA * a.innerRadius() + sB * b.innerRadius();
    if (dist2 < inner * inner) return true;

    if (lengthSqr(ioCache.axis_W) > 0.0f) {
        // The last separating direction, tried first, in the world frame: two support queries,
        // each climbing from where it ended last time (a step or none after a small move).
        const Vector3& axis = ioCache.axis_W;
        const Vector3 la = transpose(X_WA.rotation) * axis;
        const Vector3 lb = transpose(X_WB.rotation) * (-axis);
        ioCache.supportA = a.support(la, ioCache.supportA);
        ioCache.supportB = b.support(lb, ioCache.supportB);
        const float maxA = sA * dot(a.vertices()[static_cast<size_t>(ioCache.supportA)], la);
        const float maxB = sB * dot(b.vertices()[static_cast<size_t>(ioCache.supportB)], lb);
        // A reaches dot(axis, tA) + maxA along the axis, B starts at dot(axis, tB) - maxB.
        if (dot(axis, dW) - maxA - maxB > touch * Vectormath::Aos::length(axis)) return false;
    }

    // Work in A's frame without its scale: A's points are sA * v, B's are R_AB * (sB * v) + t_AB.
    const Matrix3 rotAT = transpose(X_WA.rotation);
    const Matrix3 rotAB = rotAT * X_WB.rotation;
    const Matrix3 rotBA = transpose(rotAB);
    const Vector3 tAB = rotAT * dW;

    // Every support query starts from the shapes' direction tables: GJK's directions jump about,
    // so the last answer is a worse start than the table's (measured: 1.7x slower overall).
    int hintA = -1, hintB = -1;
    const auto& va = a.vertices();
    const auto& vb = b.vertices();
    auto supportDiff = [&](const Vector3& dir) {
        // Point of A - B farthest along dir.
        hintA = a.support(dir);
        hintB = b.support(rotBA * (-dir));
        return va[static_cast<size_t>(hintA)] * sA - (rotAB * (vb[static_cast<size_t>(hintB)] * sB) + tAB);
    };

    Simplex s;
    D3 v{1.0, 0.0, 0.0};
    bool overlap = true, done = false;
    auto diffAt = [&](int32_t ia, int32_t ib) {
        return ToD3(va[static_cast<size_t>(ia)] * sA - (rotAB * (vb[static_cast<size_t>(ib)] * sB) + tAB));
    };
    auto closest = [&]() {
        // The closest point of the simplex to the origin, the simplex cut down to the feature that
        // holds it; true when the simplex holds the origin.
        switch (s.n) {
            case 1:
                v = s.p[0];
                return false;
            case 2:
                v = ClosestOnSegment(s);
                return false;
            case 3:
                v = ClosestOnTriangle(s);
                return false;
            default:
                return !ClosestOnTetrahedron(s, v);
        }
    };
    // Start from the last test's simplex at the new poses: after a small move it is nearly the
    // answer. Its points are points of A - B wherever the shapes are, so holding the origin
    // already means overlap. Indices out of range come from another pair and are ignored.
    for (int k = 0; k < ioCache.simplexCount && k < 4; ++k) {
        const int32_t ia = ioCache.simplexA[k], ib = ioCache.simplexB[k];
        if (ia < 0 || ib < 0 || static_cast<size_t>(ia) >= va.size() || static_cast<size_t>(ib) >= vb.size()) {
            s.n = 0;
            break;
        }
        s.Push(diffAt(ia, ib), ia, ib);
    }
    if (s.n > 0) done = closest() || Len2(v) <= touch * touch;
    if (s.n == 0) {
        // First point: the difference's extreme towards the origin, seen along the last separating
        // direction when there is one (it still points nearly the right way), else from the centre.
        const bool warm = lengthSqr(ioCache.axis_W) > 0.0f;
        v = ToD3(supportDiff(warm ? rotAT * ioCache.axis_W : (dist2 > 0.0f ? tAB : Vector3(1.0f, 0.0f, 0.0f))));
        if (Len2(v) == 0.0) v = ToD3(-tAB);
        if (Len2(v) == 0.0) v = D3{1.0, 0.0, 0.0};
    }
    for (int iter = 0; !done && iter < kMaxGjkIterations; ++iter) {
        const D3 w =
            ToD3(supportDiff(Vector3(static_cast<float>(-v.x), static_cast<float>(-v.y), static_cast<float>(-v.z))));
        const double vw = Dot(v, w);
        const double vv = Len2(v);
        if (vw > touch * std::sqrt(vv)) {
            // A plane with normal v separates the origin from A - B by more than touching.
            overlap = false;
            break;
        }
        // No progress (w is no closer than v, or already a corner): v is the closest point, and
        // its length the distance.
        bool seen = false;
        for (int k = 0; k < s.n; ++k) seen = seen || Len2(s.p[k] - w) <= 1e-18 * vv;
        if (seen || vv - vw <= kGjkRelativeProgress * vv) {
            overlap = vv <= touch * touch;
            break;
        }
        s.Push(w, hintA, hintB);
        if (closest() || Len2(v) <= touch * touch) break;
    }
    const bool small = va.size() <= 32767 && vb.size() <= 32767;
    ioCache.simplexCount = static_cast<int8_t>(small ? s.n : 0);
    for (int k = 0; k < s.n && small; ++k) {
        ioCache.simplexA[k] = static_cast<int16_t>(s.ia[k]);
        ioCache.simplexB[k] = static_cast<int16_t>(s.ib[k]);
    }
    // v, the closest point of A - B to the origin, points from B to A: the direction from A to B
    // is -v. An overlap keeps the last separating direction: the compression asks about a trial
    // pose that mostly overlaps and is then dropped, and the next trial starts from the pose that
    // direction separated (forgetting it made most tests of a jammed packing a whole GJK).
    if (!overlap) {
        ioCache.axis_W =
            X_WA.rotation * Vector3(static_cast<float>(-v.x), static_cast<float>(-v.y), static_cast<float>(-v.z));
        ioCache.supportA = ioCache.supportB = -1;
    }
    return overlap;
}

}  // namespace col
