// Impulse-based separation of two overlapping objects from their overlapping sphere pairs.
// Both variants only accumulate; the calling heuristic integrates and clears.

#include <cmath>

#include "geometry/MovingObject.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace {

constexpr double kMinRadius = 1e-7;  // smaller spheres are leftovers of degenerate tree nodes
constexpr float kImpulseNumerator = 2.0f;
constexpr float kSpinStep = 0.25f;  // fixed length of each angular-velocity contribution
constexpr float kContactWeight = 0.5f;
constexpr double kRestSpeedSqr = 0.01;
constexpr float kVelocityDamping = 0.8f;

bool Usable(const col::SphereIntersectionData& s) {
    return static_cast<double>(s.radius1) > kMinRadius && static_cast<double>(s.radius2) > kMinRadius;
}

Vector3 WorldCentre(const Matrix4& model, const Point3& centre) { return (model * centre).getXYZ(); }

// A NaN component compares unequal to zero, so it counts as non-zero here.
bool NoZeroComponent(const Vector3& v) { return v.getX() != 0.0f && v.getY() != 0.0f && v.getZ() != 0.0f; }

void DampOntoNormal(MovingObject* obj, const Vector3& direction) {
    const Vector3 v = obj->m_velocity;
    const double speedSqr = static_cast<double>(v.getX()) * v.getX() + static_cast<double>(v.getY()) * v.getY() +
                            static_cast<double>(v.getZ()) * v.getZ();
    if (speedSqr < kRestSpeedSqr) {
        obj->m_stopped = true;
        return;
    }
    obj->m_velocity = direction * length(v) * kVelocityDamping;
}

}  // namespace

void MovingObject::ApplyImpulse2(MovingObject* other, const std::vector<col::SphereIntersectionData>* spheres) {
    if (other == nullptr || spheres == nullptr || spheres->empty()) return;

    Vector3 centreSum;
    Vector3 normalSum;
    int normalCount = 0;
    for (const col::SphereIntersectionData& s : *spheres) {
        if (!Usable(s)) continue;
        const Vector3 w1 = WorldCentre(m_modelMatrix, s.center1);
        const Vector3 w2 = WorldCentre(other->m_modelMatrix, s.center2);
        centreSum += w1 + w2;
        const Vector3 d = w1 - w2;
        const float len = length(d);
        if (len > 0.0f) {
            normalSum += d / len;
            ++normalCount;
        }
    }
    if (normalCount == 0) return;

    const Vector3 mean = normalSum / static_cast<float>(normalCount);
    const float meanLen = length(mean);
    // Opposite contacts that cancel give no direction to push in.
    if (!(meanLen > 0.0f)) return;
    const Vector3 n = mean / meanLen;  // from other towards this

    // Divided by every entry, skipped ones included, as the tree reports them.
    const Vector3 contact = centreSum / (2.0f * static_cast<float>(spheres->size()));
    const Vector3 r1 = contact - m_position;
    const Vector3 r2 = contact - other->m_position;
    const Vector3 a1 = m_inverseInertia * cross(r1, n);
    const Vector3 a2 = other->m_inverseInertia * cross(r2, n);
    const float j = kImpulseNumerator / (lengthSqr(a1) + (m_inverseMass + other->m_inverseMass) + lengthSqr(a2));

    // j only scales the spin directions, which are normalised; it is infinite only when both
    // objects are immovable and neither can turn, and then there is nothing to spin.
    if (std::isfinite(j)) {
        const Vector3 impulse = n * j;
        const Vector3 t1 = m_inverseInertia * cross(r1, impulse);
        if (NoZeroComponent(t1)) m_angularVelocity += kSpinStep * (t1 / length(t1));
        const Vector3 t2 = other->m_inverseInertia * cross(r2, impulse);
        if (NoZeroComponent(t2)) other->m_angularVelocity += kSpinStep * (t2 / length(t2));
    }

    m_force += m_impulseScale * n;
    m_velocity += n;
    other->m_force -= other->m_impulseScale * n;
    other->m_velocity -= n;
}

void MovingObject::ApplyImpulse4(MovingObject* other, const std::vector<col::SphereIntersectionData>* spheres) {
    if (other == nullptr || spheres == nullptr) return;

    Vector3 normalSum;
    int normalCount = 0;
    Vector3 torque1;
    Vector3 torque2;
    for (const col::SphereIntersectionData& s : *spheres) {
        if (!Usable(s)) continue;
        const Vector3 w1 = WorldCentre(m_modelMatrix, s.center1);
        const Vector3 w2 = WorldCentre(other->m_modelMatrix, s.center2);
        const float len = length(w2 - w1);
        if (!(len > 0.0f)) continue;
        // Point between the centres, shifted towards the smaller sphere; the midpoint for equal radii.
        const float t = ((s.radius1 - s.radius2) / len + 1.0f) * kContactWeight;
        const Vector3 contact = w1 + t * (w2 - w1);
        const Vector3 u = (w1 - w2) / len;
        normalSum += u;
        ++normalCount;
        const Vector3 f1 = m_impulseScale * u;
        const Vector3 f2 = -(other->m_impulseScale * u);
        torque1 += cross(m_position - contact, f1);
        torque2 += cross(other->m_position - contact, f2);
    }

    // A zero torque sum (no usable pair, or forces through the centre) has no direction.
    const float t1Len = length(torque1);
    if (t1Len > 0.0f) m_torque += torque1 / t1Len;
    const float t2Len = length(torque2);
    if (t2Len > 0.0f) other->m_torque += torque2 / t2Len;

    if (normalCount == 0) return;
    const Vector3 mean = normalSum / static_cast<float>(normalCount);
    const float meanLen = length(mean);
    if (!(meanLen > 0.0f)) return;
    const Vector3 n = mean / meanLen;

    m_force += m_impulseScale * n;
    other->m_force -= other->m_impulseScale * n;
    DampOntoNormal(this, n);
    DampOntoNormal(other, -n);
}
