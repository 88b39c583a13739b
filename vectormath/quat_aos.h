#pragma once
// Quat: rotation quaternion stored as (x, y, z, w), w the scalar part.

#include "vectormath/vec_aos.h"

namespace Vectormath::Aos {

class alignas(16) Quat {
 public:
    Quat() = default;  ///< (0, 0, 0, 0): not a rotation; use identity() for "no rotation".
    Quat(float x, float y, float z, float w) : m_v{x, y, z, w} {}
    Quat(const Vector3& xyz, float w) : m_v{xyz.getX(), xyz.getY(), xyz.getZ(), w} {}

    static Quat identity() { return {0.0f, 0.0f, 0.0f, 1.0f}; }
    /// Right-handed rotation by `radians` about `unitAxis`; the axis is not normalised here.
    static Quat rotation(float radians, const Vector3& unitAxis) {
        const float half = radians * 0.5f;
        return {unitAxis * std::sin(half), std::cos(half)};
    }
    /// Shortest rotation taking unitVec0 onto unitVec1. For opposite vectors, where that
    /// rotation is not unique, returns a half turn about some axis perpendicular to unitVec0.
    static Quat rotation(const Vector3& unitVec0, const Vector3& unitVec1);
    static Quat rotationX(float radians) { return rotation(radians, Vector3::xAxis()); }
    static Quat rotationY(float radians) { return rotation(radians, Vector3::yAxis()); }
    static Quat rotationZ(float radians) { return rotation(radians, Vector3::zAxis()); }

    float getX() const { return m_v[0]; }
    float getY() const { return m_v[1]; }
    float getZ() const { return m_v[2]; }
    float getW() const { return m_v[3]; }
    Quat& setX(float x) {
        m_v[0] = x;
        return *this;
    }
    Quat& setY(float y) {
        m_v[1] = y;
        return *this;
    }
    Quat& setZ(float z) {
        m_v[2] = z;
        return *this;
    }
    Quat& setW(float w) {
        m_v[3] = w;
        return *this;
    }
    Vector3 getXYZ() const { return {m_v[0], m_v[1], m_v[2]}; }
    Quat& setXYZ(const Vector3& v) {
        m_v[0] = v.getX();
        m_v[1] = v.getY();
        m_v[2] = v.getZ();
        return *this;
    }
    float getElem(int i) const {
        assert(i >= 0 && i < 4);
        return m_v[i];
    }
    Quat& setElem(int i, float value) {
        assert(i >= 0 && i < 4);
        m_v[i] = value;
        return *this;
    }
    float operator[](int i) const {
        assert(i >= 0 && i < 4);
        return m_v[i];
    }
    float& operator[](int i) {
        assert(i >= 0 && i < 4);
        return m_v[i];
    }

    Quat operator-() const { return {-m_v[0], -m_v[1], -m_v[2], -m_v[3]}; }
    Quat operator+(const Quat& b) const {
        return {m_v[0] + b.m_v[0], m_v[1] + b.m_v[1], m_v[2] + b.m_v[2], m_v[3] + b.m_v[3]};
    }
    Quat operator-(const Quat& b) const {
        return {m_v[0] - b.m_v[0], m_v[1] - b.m_v[1], m_v[2] - b.m_v[2], m_v[3] - b.m_v[3]};
    }
    Quat operator*(float s) const { return {m_v[0] * s, m_v[1] * s, m_v[2] * s, m_v[3] * s}; }
    Quat operator/(float s) const { return {m_v[0] / s, m_v[1] / s, m_v[2] / s, m_v[3] / s}; }
    /// Hamilton product: (a * b) rotates by b first, then by a.
    Quat operator*(const Quat& b) const {
        const Vector3 av = getXYZ(), bv = b.getXYZ();
        return {bv * m_v[3] + av * b.m_v[3] + cross(av, bv), m_v[3] * b.m_v[3] - dot(av, bv)};
    }
    Quat& operator+=(const Quat& b) { return *this = *this + b; }
    Quat& operator-=(const Quat& b) { return *this = *this - b; }
    Quat& operator*=(float s) { return *this = *this * s; }
    Quat& operator*=(const Quat& b) { return *this = *this * b; }

 private:
    float m_v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

static_assert(sizeof(Quat) == 16 && alignof(Quat) == 16);

inline Quat operator*(float s, const Quat& q) { return q * s; }
inline float dot(const Quat& a, const Quat& b) {
    return a.getX() * b.getX() + a.getY() * b.getY() + a.getZ() * b.getZ() + a.getW() * b.getW();
}
/// Squared length, x² + y² + z² + w².
inline float norm(const Quat& q) { return dot(q, q); }
inline float length(const Quat& q) { return std::sqrt(dot(q, q)); }
/// Divides by the length without a guard: a zero quaternion gives NaNs.
inline Quat normalize(const Quat& q) { return q / length(q); }
/// Conjugate; the inverse rotation for a unit quaternion.
inline Quat conj(const Quat& q) { return {-q.getX(), -q.getY(), -q.getZ(), q.getW()}; }

/// q · (v, 0) · conj(q) for a unit q, without forming the two products.
inline Vector3 rotate(const Quat& q, const Vector3& v) {
    const Vector3 u = q.getXYZ();
    const Vector3 t = cross(u, v) * 2.0f;
    return v + t * q.getW() + cross(u, t);
}

/// Spherical interpolation along the shorter arc (q1 is negated when dot(q0, q1) < 0);
/// q0 at t = 0. Nearly equal inputs fall back to linear weights, where the sine ratio loses precision.
inline Quat slerp(float t, const Quat& q0, const Quat& q1) {
    // Below ~1.4e-3 rad the unnormalised linear blend is shorter than unit by < 3e-7, about float noise.
    constexpr float kLinearAbove = 1.0f - 1e-6f;
    float cosAngle = dot(q0, q1);
    Quat end = q1;
    if (cosAngle < 0.0f) {
        cosAngle = -cosAngle;
        end = -q1;
    }
    float w0 = 1.0f - t, w1 = t;
    if (cosAngle < kLinearAbove) {
        const float angle = std::acos(cosAngle);
        const float recipSin = 1.0f / std::sin(angle);
        w0 = std::sin(w0 * angle) * recipSin;
        w1 = std::sin(w1 * angle) * recipSin;
    }
    return q0 * w0 + end * w1;
}

inline Quat Quat::rotation(const Vector3& unitVec0, const Vector3& unitVec1) {
    // Built from the half-way direction: near-opposite inputs cancel exactly in the sum, whereas
    // 1 + dot(v0, v1) would lose all digits there.
    constexpr float kOppositeBelow = 1e-6f;  // |v0 + v1| under this: no usable half-way direction
    const Vector3 half = unitVec0 + unitVec1;
    const float halfLen = length(half);
    if (halfLen < kOppositeBelow) {
        Vector3 axis = cross(Vector3::xAxis(), unitVec0);
        if (lengthSqr(axis) < 1e-6f) axis = cross(Vector3::yAxis(), unitVec0);
        return {normalize(axis), 0.0f};
    }
    const Vector3 h = half / halfLen;
    return {cross(unitVec0, h), dot(unitVec0, h)};
}

}  // namespace Vectormath::Aos
