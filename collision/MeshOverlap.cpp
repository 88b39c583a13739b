#include "collision/MeshOverlap.h"

#include <algorithm>

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

ExactOverlapResult exactOverlap(const ExactOverlapQuery& q) {
    ExactOverlapResult res;
    if (q.a == nullptr || q.b == nullptr || q.a->empty() || q.b->empty()) return res;
    const ExactMesh& a = *q.a;
    const ExactMesh& b = *q.b;
    if (!q.useTriangles && a.convex() != nullptr && b.convex() != nullptr) {
        res.convexPath = true;
        res.overlap = convexOverlap(*a.convex(), q.X_WA, *b.convex(), q.X_WB, q.ioHint);
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
    res.inside = !surfacesIntersect(obj.tree(), box.tree(), m_CO) &&
                 box.contains(apply(m_CO, obj.points()[size_t(obj.extremes()[0])]));
    if (!res.inside && q.wantDepth) {
        bool anyOutside = false;
        res.depth = farthestOutside(obj, box, m_CO, anyOutside) * q.X_WC.scale;
    }
    return res;
}

}  // namespace col
