// The base overlap resolution: integrate the callbacks' velocities into poses until free.

#include <chrono>

#include "algorithms/PackingAlgorithm.h"
#include "collision/CollisionPipeline.h"
#include "geometry/MovingObject.h"

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

namespace {
constexpr float kTimeStep = 0.03333333f;
constexpr float kAngularDamping = -0.4f;
constexpr double kTimeLimitSeconds = 1.0;
}  // namespace

bool IPackingAlgorithm::ResolveOverlap(col::CollisionPipeline* pipeline, MovingObject* object, bool& overlapFlag) {
    // The container never moves under impulses from here on.
    m_container->m_inverseMass = 0.0f;

    const auto start = std::chrono::system_clock::now();
    overlapFlag = true;
    for (;;) {
        object->m_position = object->m_position + kTimeStep * object->m_velocity;
        object->m_translationMatrix.setTranslation(object->m_position);

        object->m_torque = object->m_torque + kAngularDamping * object->m_angularVelocity;
        if (Vectormath::Aos::lengthSqr(object->m_torque) != 0.0f)
            object->m_torque = Vectormath::Aos::normalize(object->m_torque);
        object->m_angularMomentum = object->m_angularMomentum + kTimeStep * object->m_torque;

        // First-order rotation of two columns, then Gram-Schmidt so the rotation stays orthonormal.
        const Vector3 w = object->m_angularVelocity;
        const Vector3 c0 = object->m_rotationMatrix.getCol0().getXYZ();
        const Vector3 c1 = object->m_rotationMatrix.getCol1().getXYZ();
        Vector3 u0 = c0 + kTimeStep * Vectormath::Aos::cross(c0, w);
        const Vector3 c1n = c1 + kTimeStep * Vectormath::Aos::cross(c1, w);
        const float len0 = Vectormath::Aos::length(u0);
        Vector3 u2 = Vectormath::Aos::cross(u0, c1n);
        Vector3 u1;
        if (len0 != 0.0f) {
            u0 = u0 / len0;
            u2 = Vectormath::Aos::normalize(Vectormath::Aos::cross(u0, c1n));
            u1 = Vectormath::Aos::normalize(Vectormath::Aos::cross(u2, u0));
        } else {
            u1 = Vectormath::Aos::cross(u2, u0);
        }
        const Matrix3 rotation(u0, u1, u2);
        object->m_rotationMatrix.setUpper3x3(rotation);
        object->m_inverseInertiaWorld = rotation * object->m_inverseInertia * Vectormath::Aos::transpose(rotation);

        object->m_force = Vector3(0.0f);
        object->m_torque = Vector3(0.0f);
        object->m_velocity = Vector3(0.0f);
        object->m_angularVelocity = Vector3(0.0f);

        object->m_modelMatrix = object->m_translationMatrix * object->m_rotationMatrix * object->m_scaleMatrix;
        pipeline->moveObject(object->m_id, &object->m_modelMatrix, nullptr);

        overlapFlag = false;
        pipeline->check(nullptr);

        const std::chrono::duration<double> passed = std::chrono::system_clock::now() - start;
        if (passed.count() > kTimeLimitSeconds) return false;
        if (!overlapFlag) return true;
    }
}
