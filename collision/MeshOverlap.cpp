#include "collision/MeshOverlap.h"

#include <algorithm>
#include <cmath>

#include "collision/ConvexPenetration.h"

namespace col {
namespace {

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Vector3;

/// Maps A's model frame into B's: X_WB^-1 * X_WA, built from the poses without a general inverse.
Matrix4 relative(const ScaledPose& X_WB, const ScaledPose& X_WA) {
    const float inv = 1.0f / X_WB.scale;
    const Matrix3 rotBT = transpose(X_WB.rotation);
    const Matrix3 upper = rotBT * X_WA.rotation * (X_WA.scale * inv);
    return Matrix4(upper, rotBT * (X_WA.translation - X_WB.translation) * inv);
}

Point3 apply(const Matrix4& m, const Point3& p) { return Point3((m * p).getXYZ()); }

/// A convex object in a container with few face planes: inside when its farthest point along
/// every outward normal stays strictly behind that plane (touching counts as not inside).
bool behindAllPlanes(const ExactMesh& mesh, const ScaledPose& X_WO, const ConvexShape& box, const ScaledPose& X_WC) {
    const ConvexShape& obj = *mesh.convex();
    // Both in the container's frame: p_C = s R v + t.
    const Matrix3 rotCT = transpose(X_WC.rotation);
    const Matrix3 rotOT = transpose(X_WO.rotation);
    const float s = X_WO.scale / X_WC.scale;
    const Vector3 t = rotCT * (X_WO.translation - X_WC.translation) / X_WC.scale;
    const Matrix3 rotOC = rotOT * X_WC.rotation;  // container directions into the object's frame
    for (const Plane& pl : box.planes()) {
        const Vector3 n_O = rotOC * pl.normal;
        const int v = obj.support(n_O, mesh.supportStart(n_O));
        if (!(s * dot(n_O, obj.vertices()[size_t(v)]) + dot(pl.normal, t) < pl.offset)) return false;
    }
    return true;
}

/// Whether `inner` (mapped by m_OI into outer's frame) lies wholly inside `outer`, given that
/// their surfaces do not meet: then one vertex decides. Its six extreme vertices must all lie in
/// outer's enclosing sphere first, which settles most pairs without casting a ray.
bool heldBy(const ExactMesh& inner, const ExactMesh& outer, const Matrix4& m_OI) {
    const float r2 = outer.radius() * outer.radius();
    for (int k = 0; k < 6; ++k)
        if (lengthSqr(apply(m_OI, inner.points()[size_t(inner.extremes()[k])]) - outer.centre()) > r2) return false;
    return outer.contains(apply(m_OI, inner.points()[size_t(inner.extremes()[0])]));
}

}  // namespace

// The separating-axis test of two oriented boxes (Gottschalk's OBB test as Ericson writes it
// down): the three face normals of each and the nine cross products of their edges. The
// rotation's absolute values get a small addition so that near-parallel edges, whose cross
// product is no axis at all, cannot claim a gap.
bool boxesOverlap(const ExactMesh& a, const ScaledPose& X_WA, const ExactMesh& b, const ScaledPose& X_WB) {
    constexpr float kParallelSlack = 1e-6f;
    const Matrix3 rotAT = transpose(X_WA.rotation);
    const Matrix3 r = rotAT * X_WB.rotation;  // B's axes in A's frame
    const Vector3 cA = X_WA.rotation * a.boxCentre() * X_WA.scale + X_WA.translation;
    const Vector3 cB = X_WB.rotation * b.boxCentre() * X_WB.scale + X_WB.translation;
    const Vector3 t = rotAT * (cB - cA);
    const Vector3 ha = a.boxHalf() * X_WA.scale, hb = b.boxHalf() * X_WB.scale;
    float m[3][3], abs[3][3];  // row i, column j: A's axis i against B's axis j
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            m[i][j] = r.getElem(j, i);
            abs[i][j] = std::abs(m[i][j]) + kParallelSlack;
        }
    for (int i = 0; i < 3; ++i)
        if (std::abs(t[i]) > ha[i] + hb[0] * abs[i][0] + hb[1] * abs[i][1] + hb[2] * abs[i][2]) return false;
    for (int j = 0; j < 3; ++j) {
        const float tj = t[0] * m[0][j] + t[1] * m[1][j] + t[2] * m[2][j];
        if (std::abs(tj) > ha[0] * abs[0][j] + ha[1] * abs[1][j] + ha[2] * abs[2][j] + hb[j]) return false;
    }
    for (int i = 0; i < 3; ++i) {
        const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        for (int j = 0; j < 3; ++j) {
            const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            const float ra = ha[i1] * abs[i2][j] + ha[i2] * abs[i1][j];
            const float rb = hb[j1] * abs[i][j2] + hb[j2] * abs[i][j1];
            if (std::abs(t[i2] * m[i1][j] - t[i1] * m[i2][j]) > ra + rb) return false;
        }
    }
    return true;
}

ExactOverlapResult exactOverlap(const ExactOverlapQuery& q) {
    ExactOverlapResult res;
    if (q.a == nullptr || q.b == nullptr || q.a->empty() || q.b->empty()) return res;
    const ExactMesh& a = *q.a;
    const ExactMesh& b = *q.b;
    if (!q.useTriangles && a.convex() != nullptr && b.convex() != nullptr) {
        res.convexPath = true;
        res.overlap = a.isBox() && b.isBox() ? boxesOverlap(a, q.X_WA, b, q.X_WB)
                                             : convexOverlap(*a.convex(), q.X_WA, *b.convex(), q.X_WB);
        if (res.overlap && q.wantDepth) res.depth = convexPenetration(*a.convex(), q.X_WA, *b.convex(), q.X_WB).depth;
        return res;
    }
    const Matrix4 m_BA = relative(q.X_WB, q.X_WA), m_AB = relative(q.X_WA, q.X_WB);
    res.overlap = surfacesIntersect(a.tree(), b.tree(), m_BA) || heldBy(a, b, m_BA) || heldBy(b, a, m_AB);
    if (res.overlap && q.wantDepth)
        res.depth = std::max(deepestInside(a, b, m_BA) * q.X_WB.scale, deepestInside(b, a, m_AB) * q.X_WA.scale);
    return res;
}

ContainmentResult exactContainment(const ContainmentQuery& q) {
    ContainmentResult res;
    if (q.object == nullptr || q.container == nullptr || q.object->empty() || q.container->empty()) return res;
    const ExactMesh& obj = *q.object;
    const ExactMesh& box = *q.container;
    const Matrix4 m_CO = relative(q.X_WC, q.X_WO);
    if (obj.convex() != nullptr && box.fewPlanes())
        res.inside = behindAllPlanes(obj, q.X_WO, *box.convex(), q.X_WC);
    else
        res.inside = !surfacesIntersect(obj.tree(), box.tree(), m_CO) &&
                     box.contains(apply(m_CO, obj.points()[size_t(obj.extremes()[0])]));
    if (!res.inside && q.wantDepth) {
        bool anyOutside = false;
        res.depth = farthestOutside(obj, box, m_CO, anyOutside) * q.X_WC.scale;
    }
    return res;
}

}  // namespace col
