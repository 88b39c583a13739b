#include "collision/ConvexPenetration.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace col {
namespace {

// Expanding polytope (EPA, as in van den Bergen's description) on M = A - B in double. There is
// no GJK simplex to start from, so the polytope starts as a tetrahedron of support points and
// first grows towards the origin: while the origin lies outside a face, the support point along
// that face's normal lies beyond it (the origin is inside M), so the hull takes it in. Once the
// origin is inside, the closest face is expanded until the support along its normal gains less
// than the tolerance. Both phases pick the face with the smallest signed offset.

struct D3 {
    double x, y, z;
};
inline D3 operator+(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline D3 operator-(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline D3 operator*(double s, D3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline D3 cross(D3 a, D3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// Support points added before giving up with a lower bound. Spheres of 320 faces converge in
// about 20 (tests/collision/test_exact.cpp).
constexpr int kMaxPoints = 128;
// Convergence: the support beyond the closest face, relative to the two shapes' size. The
// vertices are floats, so nothing below about 1e-7 of the size is real.
constexpr double kRelTolerance = 1e-6;

struct Face {
    int v[3];  // counter-clockwise seen from outside
    D3 n;      // unit outward normal
    double off;
};

class Polytope {
 public:
    std::vector<D3> verts;
    std::vector<Face> faces;
    D3 interior{0, 0, 0};

    void addFace(int a, int b, int c) {
        D3 n = cross(verts[size_t(b)] - verts[size_t(a)], verts[size_t(c)] - verts[size_t(a)]);
        const double len = std::sqrt(dot(n, n));
        if (len > 0) n = (1.0 / len) * n;
        double off = dot(n, verts[size_t(a)]);
        if (dot(n, interior) > off) {  // inward: turn it round
            std::swap(b, c);
            n = -1.0 * n;
            off = -off;
        }
        faces.push_back({{a, b, c}, n, len > 0 ? off : INFINITY});
    }

    /// Takes in w: faces that see it go, the hole's rim is joined to w.
    void add(D3 w, double eps) {
        const int wi = int(verts.size());
        verts.push_back(w);
        std::vector<std::pair<int, int>> rim;
        std::vector<Face> kept;
        for (const Face& f : faces) {
            if (dot(f.n, w) - f.off > eps) {
                for (int k = 0; k < 3; ++k) rim.emplace_back(f.v[k], f.v[(k + 1) % 3]);
            } else {
                kept.push_back(f);
            }
        }
        faces = std::move(kept);
        // An edge of a removed face whose reverse is not also removed borders a kept face.
        for (const auto& e : rim)
            if (std::find(rim.begin(), rim.end(), std::make_pair(e.second, e.first)) == rim.end())
                addFace(e.first, e.second, wi);
    }
};

struct Posed {
    const ConvexShape& shape;
    double r[3][3];   // scale * rotation
    double rt[3][3];  // rotation transposed (support directions into the model frame)
    D3 t;
    int hint = 0;

    Posed(const ConvexShape& s, const ScaledPose& X, const Vector3& origin) : shape(s) {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                r[i][j] = double(X.scale) * X.rotation.getElem(j, i);
                rt[j][i] = X.rotation.getElem(j, i);
            }
        const Vector3 d = X.translation - origin;
        t = {d.getX(), d.getY(), d.getZ()};
    }
    D3 support(D3 d) {
        const Vector3 m(float(rt[0][0] * d.x + rt[0][1] * d.y + rt[0][2] * d.z),
                        float(rt[1][0] * d.x + rt[1][1] * d.y + rt[1][2] * d.z),
                        float(rt[2][0] * d.x + rt[2][1] * d.y + rt[2][2] * d.z));
        hint = shape.support(m, hint);
        const Vector3& v = shape.vertices()[size_t(hint)];
        const D3 p{v.getX(), v.getY(), v.getZ()};
        return D3{dot({r[0][0], r[0][1], r[0][2]}, p), dot({r[1][0], r[1][1], r[1][2]}, p),
                  dot({r[2][0], r[2][1], r[2][2]}, p)} +
               t;
    }
};

// Four support points of M spanning the largest tetrahedron found among 14 directions.
bool startTetrahedron(const std::vector<D3>& pts, double size, int out[4]) {
    auto farthest = [&](auto dist) {
        int best = 0;
        for (int i = 1; i < int(pts.size()); ++i)
            if (dist(pts[size_t(i)]) > dist(pts[size_t(best)])) best = i;
        return best;
    };
    out[0] = 0;
    const D3 p0 = pts[0];
    out[1] = farthest([&](D3 p) { return dot(p - p0, p - p0); });
    const D3 e = pts[size_t(out[1])] - p0;
    out[2] = farthest([&](D3 p) {
        const D3 c = cross(e, p - p0);
        return dot(c, c);
    });
    const D3 n = cross(e, pts[size_t(out[2])] - p0);
    out[3] = farthest([&](D3 p) { return std::abs(dot(n, p - p0)); });
    // Flat to within rounding: M has no volume worth measuring.
    return std::abs(dot(n, pts[size_t(out[3])] - p0)) > 1e-9 * size * size * size;
}

}  // namespace

PenetrationResult convexPenetration(const ConvexShape& a, const ScaledPose& X_WA, const ConvexShape& b,
                                    const ScaledPose& X_WB) {
    PenetrationResult res;
    res.converged = true;
    if (a.empty() || b.empty()) return res;
    // Work about A's position, so that coordinates stay of the shapes' size.
    Posed pa(a, X_WA, X_WA.translation), pb(b, X_WB, X_WA.translation);
    const double size = double(X_WA.scale) * a.outerRadius() + double(X_WB.scale) * b.outerRadius();
    const double tol = kRelTolerance * size, eps = 1e-3 * tol;
    auto support = [&](D3 d) { return pa.support(d) - pb.support(-1.0 * d); };

    std::vector<D3> start;
    for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j)
            for (int k = -1; k <= 1; ++k)
                if ((i != 0) + (j != 0) + (k != 0) == 1 || (i != 0 && j != 0 && k != 0))
                    start.push_back(support({double(i), double(j), double(k)}));
    int tet[4];
    if (!startTetrahedron(start, size, tet)) {
        res.converged = false;
        return res;
    }
    Polytope poly;
    for (int i : tet) poly.verts.push_back(start[size_t(i)]);
    poly.interior = 0.25 * (poly.verts[0] + poly.verts[1] + poly.verts[2] + poly.verts[3]);
    poly.addFace(0, 1, 2);
    poly.addFace(0, 1, 3);
    poly.addFace(0, 2, 3);
    poly.addFace(1, 2, 3);

    for (res.iterations = 0; res.iterations < kMaxPoints; ++res.iterations) {
        const Face* f = &poly.faces[0];
        for (const Face& g : poly.faces)
            if (g.off < f->off) f = &g;
        const D3 n = f->n;
        const double off = f->off;
        const D3 w = support(n);
        const double h = dot(n, w);
        if (off < 0 && h <= tol) return res;  // the origin is not inside M: apart or touching
        if (off >= 0 && h - off <= tol) {
            res.depth = float(off);
            res.normal_W = Vector3(float(n.x), float(n.y), float(n.z));
            return res;
        }
        poly.add(w, eps);
        if (poly.faces.empty()) break;  // lost the hull to rounding
    }
    // Out of support points: the closest face still bounds the depth from below.
    res.converged = false;
    double best = INFINITY;
    for (const Face& g : poly.faces) best = std::min(best, g.off);
    if (best > 0 && best < INFINITY) res.depth = float(best);
    return res;
}

}  // namespace col
