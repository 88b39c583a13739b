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

    const Contact contact = ContactOf(A, B, *list);
    const Vector3& D = contact.direction;
    if (contact.usablePairs > 0) {
        if (NoZeroComponent(NA)) NA = normalize(NA);
        // Opposite wall cones can cancel; a zero sum then simply gives no wall push.
        NB = SafeNormalize(NB);
    }

    if (rule.spin) {
        const TurnDirections turns = TurnsOf(A, B, contact);
        // Without the component test a zero torque direction (a push through the centre) adds no
        // spin: normalising it would put NaNs into the pose.
        const Vector3& uA = turns.a;
        if (!rule.spinNeedsNoZero)
            A.m_angularVelocity += 0.25f * SafeNormalize(uA);
        else if (NoZeroComponent(uA))
            A.m_angularVelocity += 0.25f * normalize(uA);
        const Vector3& uB = turns.b;
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

PairCallback::PairCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level)
    : col::Callback(a.m_id, b.m_id, false, true, level), m_a(a), m_b(b) {}

Contact ContactOf(const MovingObject& A, const MovingObject& B, const std::vector<col::SphereIntersectionData>& list) {
    Contact c;
    Vector3 D(0.0f), S(0.0f);
    for (const col::SphereIntersectionData& e : list) {
        if (!(static_cast<double>(e.radius1) > 1e-7 && static_cast<double>(e.radius2) > 1e-7)) continue;
        const Vector3 pA = WorldPoint(A.m_modelMatrix, e.center1);
        const Vector3 pB = WorldPoint(B.m_modelMatrix, e.center2);
        const float d = length(pA - pB);
        if (d > 0.0f) {
            D += (pA - pB) / d;
            S += pA + pB;
            ++c.usablePairs;
        }
    }
    c.direction = c.usablePairs > 0 ? normalize(D) : D;
    if (!list.empty()) c.point = S / (2.0f * static_cast<float>(list.size()));
    return c;
}

TurnDirections TurnsOf(const MovingObject& A, const MovingObject& B, const Contact& contact) {
    const Vector3& D = contact.direction;
    const Vector3 rA = contact.point - A.m_position;
    const Vector3 rB = contact.point - B.m_position;
    const Matrix3& IA = A.m_inverseInertia;
    const Matrix3& IB = B.m_inverseInertia;
    // Only the directions are used, so the impulse magnitude matters only through its sign.
    const float j =
        2.0f / (lengthSqr(IA * cross(rA, D)) + A.m_inverseMass + B.m_inverseMass + lengthSqr(IB * cross(rB, D)));
    const Vector3 J = j * D;
    return {IA * cross(rA, J), IB * cross(rB, J)};
}

}  // namespace Packing
