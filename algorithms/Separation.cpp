#include "algorithms/Separation.h"

#include <cmath>
#include <iostream>

#include "algorithms/ObjectPose.h"
#include "collision/Data.h"
#include "geometry/MovingObject.h"

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace Packing {

namespace {
Vector3 WorldPoint(const Matrix4& m, const Point3& p) { return (m * p).getXYZ(); }
}  // namespace

bool Separate(MovingObject& A, MovingObject& B, const col::Data* data, const SeparationRule& rule) {
    const std::vector<col::SphereIntersectionData>* list = data->sphereIntersections;
    if (list == nullptr || list->empty()) {
        std::cout << "IsecData was NULL!" << std::endl;
        return false;
    }

    // Wall directions: the normal cones of narrow node pairs near the surface.
    Vector3 NA(0.0f), NB(0.0f);
    int m = 0;
    if (data->nodePairs != nullptr) {
        for (const col::NodePair& np : *data->nodePairs) {
            const Vector3& da = np.node1->direction;
            const Vector3& db = np.node2->direction;
            if (std::isnormal(da.getX()) && std::isnormal(da.getY()) && std::isnormal(da.getZ()) &&
                std::isnormal(db.getX()) && np.node1->angle < rule.wallAngle) {
                NA += da;
                NB += db;
                ++m;
            }
        }
    }

    // Separation direction from the overlapping sphere pairs, pointing from B towards A.
    Vector3 D(0.0f), S(0.0f);
    int k = 0;
    for (const col::SphereIntersectionData& e : *list) {
        if (!(static_cast<double>(e.radius1) > 1e-7 && static_cast<double>(e.radius2) > 1e-7)) continue;
        const Vector3 pA = WorldPoint(A.m_modelMatrix, e.center1);
        const Vector3 pB = WorldPoint(B.m_modelMatrix, e.center2);
        const float d = length(pA - pB);
        if (d > 0.0f) {
            D += (pA - pB) / d;
            S += pA + pB;
            ++k;
        }
    }
    if (k > 0) {
        D = normalize(D);
        if (NoZeroComponent(NA)) NA = normalize(NA);
        // Opposite wall cones can cancel; a zero sum then simply gives no wall push.
        NB = SafeNormalize(NB);
    }

    if (rule.spin) {
        const Vector3 Q = S / (2.0f * static_cast<float>(list->size()));
        const Vector3 rA = Q - A.m_position;
        const Vector3 rB = Q - B.m_position;
        const Matrix3& IA = A.m_inverseInertia;
        const Matrix3& IB = B.m_inverseInertia;
        const float j =
            2.0f / (lengthSqr(IA * cross(rA, D)) + A.m_inverseMass + B.m_inverseMass + lengthSqr(IB * cross(rB, D)));
        const Vector3 J = j * D;
        // Without the component test a zero torque direction (a push through the centre) adds no
        // spin: normalising it would put NaNs into the pose.
        const Vector3 uA = IA * cross(rA, J);
        if (!rule.spinNeedsNoZero)
            A.m_angularVelocity += 0.25f * SafeNormalize(uA);
        else if (NoZeroComponent(uA))
            A.m_angularVelocity += 0.25f * normalize(uA);
        const Vector3 uB = IB * cross(rB, J);
        if (!rule.spinNeedsNoZero)
            B.m_angularVelocity += 0.25f * SafeNormalize(uB);
        else if (NoZeroComponent(uB))
            B.m_angularVelocity += 0.25f * normalize(uB);
    }

    if (A.m_inverseMass == 0.0f && m > 0) {
        A.m_velocity -= NB;
        B.m_velocity -= 2.0f * NA;
    } else {
        A.m_velocity += D;
        B.m_velocity -= D;
    }

    A.m_overlap = data->overlap;
    B.m_overlap = data->overlap;
    std::cout.flush();
    return true;
}

}  // namespace Packing
