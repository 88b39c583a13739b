#pragma once
// Vector3, Point3 and Vector4: 16-byte, zero-initialised, trivially copyable.

#include <cassert>
#include <cmath>

namespace Vectormath::Aos {

class Point3;
class Matrix3;

namespace detail {
// Plain compares: cheaper than std::fmin and NaN handling is not needed here.
inline float minf(float a, float b) { return b < a ? b : a; }
inline float maxf(float a, float b) { return a < b ? b : a; }
}  // namespace detail

/// Direction or offset in 3D. The fourth float is padding and stays 0.
class alignas(16) Vector3 {
 public:
    Vector3() = default;  ///< (0, 0, 0), so members and arrays of vectors start out defined.
    Vector3(float x, float y, float z) : m_v{x, y, z, 0.0f} {}
    explicit Vector3(float scalar) : m_v{scalar, scalar, scalar, 0.0f} {}
    explicit Vector3(const Point3& p);

    static Vector3 xAxis() { return {1.0f, 0.0f, 0.0f}; }
    static Vector3 yAxis() { return {0.0f, 1.0f, 0.0f}; }
    static Vector3 zAxis() { return {0.0f, 0.0f, 1.0f}; }

    float getX() const { return m_v[0]; }
    float getY() const { return m_v[1]; }
    float getZ() const { return m_v[2]; }
    Vector3& setX(float x) {
        m_v[0] = x;
        return *this;
    }
    Vector3& setY(float y) {
        m_v[1] = y;
        return *this;
    }
    Vector3& setZ(float z) {
        m_v[2] = z;
        return *this;
    }
    float getElem(int i) const {
        assert(i >= 0 && i < 3);
        return m_v[i];
    }
    Vector3& setElem(int i, float value) {
        assert(i >= 0 && i < 3);
        m_v[i] = value;
        return *this;
    }
    float operator[](int i) const {
        assert(i >= 0 && i < 3);
        return m_v[i];
    }
    float& operator[](int i) {
        assert(i >= 0 && i < 3);
        return m_v[i];
    }

    Vector3 operator-() const { return {-m_v[0], -m_v[1], -m_v[2]}; }
    Vector3 operator+(const Vector3& b) const { return {m_v[0] + b.m_v[0], m_v[1] + b.m_v[1], m_v[2] + b.m_v[2]}; }
    Vector3 operator-(const Vector3& b) const { return {m_v[0] - b.m_v[0], m_v[1] - b.m_v[1], m_v[2] - b.m_v[2]}; }
    Vector3 operator*(float s) const { return {m_v[0] * s, m_v[1] * s, m_v[2] * s}; }
    Vector3 operator/(float s) const { return {m_v[0] / s, m_v[1] / s, m_v[2] / s}; }
    Vector3& operator+=(const Vector3& b) { return *this = *this + b; }
    Vector3& operator-=(const Vector3& b) { return *this = *this - b; }
    Vector3& operator*=(float s) { return *this = *this * s; }
    Vector3& operator/=(float s) { return *this = *this / s; }

 private:
    float m_v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

/// Position in 3D. Differences of points are vectors; a point plus a vector is a point.
class alignas(16) Point3 {
 public:
    Point3() = default;  ///< The origin.
    Point3(float x, float y, float z) : m_v{x, y, z, 0.0f} {}
    explicit Point3(float scalar) : m_v{scalar, scalar, scalar, 0.0f} {}
    explicit Point3(const Vector3& v) : m_v{v.getX(), v.getY(), v.getZ(), 0.0f} {}

    float getX() const { return m_v[0]; }
    float getY() const { return m_v[1]; }
    float getZ() const { return m_v[2]; }
    Point3& setX(float x) {
        m_v[0] = x;
        return *this;
    }
    Point3& setY(float y) {
        m_v[1] = y;
        return *this;
    }
    Point3& setZ(float z) {
        m_v[2] = z;
        return *this;
    }
    float getElem(int i) const {
        assert(i >= 0 && i < 3);
        return m_v[i];
    }
    Point3& setElem(int i, float value) {
        assert(i >= 0 && i < 3);
        m_v[i] = value;
        return *this;
    }
    float operator[](int i) const {
        assert(i >= 0 && i < 3);
        return m_v[i];
    }
    float& operator[](int i) {
        assert(i >= 0 && i < 3);
        return m_v[i];
    }

    Vector3 operator-(const Point3& b) const { return {m_v[0] - b.m_v[0], m_v[1] - b.m_v[1], m_v[2] - b.m_v[2]}; }
    Point3 operator+(const Vector3& v) const { return {m_v[0] + v.getX(), m_v[1] + v.getY(), m_v[2] + v.getZ()}; }
    Point3 operator-(const Vector3& v) const { return {m_v[0] - v.getX(), m_v[1] - v.getY(), m_v[2] - v.getZ()}; }
    Point3& operator+=(const Vector3& v) { return *this = *this + v; }
    Point3& operator-=(const Vector3& v) { return *this = *this - v; }

 private:
    float m_v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

inline Vector3::Vector3(const Point3& p) : m_v{p.getX(), p.getY(), p.getZ(), 0.0f} {}

/// Homogeneous 4-vector; also the column type of Matrix4.
class alignas(16) Vector4 {
 public:
    Vector4() = default;  ///< (0, 0, 0, 0).
    Vector4(float x, float y, float z, float w) : m_v{x, y, z, w} {}
    Vector4(const Vector3& xyz, float w) : m_v{xyz.getX(), xyz.getY(), xyz.getZ(), w} {}
    explicit Vector4(const Point3& p) : m_v{p.getX(), p.getY(), p.getZ(), 1.0f} {}  ///< w = 1.
    explicit Vector4(float scalar) : m_v{scalar, scalar, scalar, scalar} {}

    static Vector4 xAxis() { return {1.0f, 0.0f, 0.0f, 0.0f}; }
    static Vector4 yAxis() { return {0.0f, 1.0f, 0.0f, 0.0f}; }
    static Vector4 zAxis() { return {0.0f, 0.0f, 1.0f, 0.0f}; }
    static Vector4 wAxis() { return {0.0f, 0.0f, 0.0f, 1.0f}; }

    float getX() const { return m_v[0]; }
    float getY() const { return m_v[1]; }
    float getZ() const { return m_v[2]; }
    float getW() const { return m_v[3]; }
    Vector4& setX(float x) {
        m_v[0] = x;
        return *this;
    }
    Vector4& setY(float y) {
        m_v[1] = y;
        return *this;
    }
    Vector4& setZ(float z) {
        m_v[2] = z;
        return *this;
    }
    Vector4& setW(float w) {
        m_v[3] = w;
        return *this;
    }
    Vector3 getXYZ() const { return {m_v[0], m_v[1], m_v[2]}; }
    Vector4& setXYZ(const Vector3& v) {
        m_v[0] = v.getX();
        m_v[1] = v.getY();
        m_v[2] = v.getZ();
        return *this;
    }
    float getElem(int i) const {
        assert(i >= 0 && i < 4);
        return m_v[i];
    }
    Vector4& setElem(int i, float value) {
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
    const float* data() const { return m_v; }

    Vector4 operator-() const { return {-m_v[0], -m_v[1], -m_v[2], -m_v[3]}; }
    Vector4 operator+(const Vector4& b) const {
        return {m_v[0] + b.m_v[0], m_v[1] + b.m_v[1], m_v[2] + b.m_v[2], m_v[3] + b.m_v[3]};
    }
    Vector4 operator-(const Vector4& b) const {
        return {m_v[0] - b.m_v[0], m_v[1] - b.m_v[1], m_v[2] - b.m_v[2], m_v[3] - b.m_v[3]};
    }
    Vector4 operator*(float s) const { return {m_v[0] * s, m_v[1] * s, m_v[2] * s, m_v[3] * s}; }
    Vector4 operator/(float s) const { return {m_v[0] / s, m_v[1] / s, m_v[2] / s, m_v[3] / s}; }
    Vector4& operator+=(const Vector4& b) { return *this = *this + b; }
    Vector4& operator-=(const Vector4& b) { return *this = *this - b; }
    Vector4& operator*=(float s) { return *this = *this * s; }
    Vector4& operator/=(float s) { return *this = *this / s; }

 private:
    float m_v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// ---- Vector3 free functions ----

inline Vector3 operator*(float s, const Vector3& v) { return v * s; }
inline float dot(const Vector3& a, const Vector3& b) {
    return a.getX() * b.getX() + a.getY() * b.getY() + a.getZ() * b.getZ();
}
inline Vector3 cross(const Vector3& a, const Vector3& b) {
    return {a.getY() * b.getZ() - a.getZ() * b.getY(), a.getZ() * b.getX() - a.getX() * b.getZ(),
            a.getX() * b.getY() - a.getY() * b.getX()};
}
inline float lengthSqr(const Vector3& v) { return dot(v, v); }
inline float length(const Vector3& v) { return std::sqrt(dot(v, v)); }
/// Divides by the length without a guard: a zero vector gives NaNs.
inline Vector3 normalize(const Vector3& v) { return v / length(v); }
inline Vector3 mulPerElem(const Vector3& a, const Vector3& b) {
    return {a.getX() * b.getX(), a.getY() * b.getY(), a.getZ() * b.getZ()};
}
inline Vector3 divPerElem(const Vector3& a, const Vector3& b) {
    return {a.getX() / b.getX(), a.getY() / b.getY(), a.getZ() / b.getZ()};
}
inline Vector3 absPerElem(const Vector3& v) { return {std::fabs(v.getX()), std::fabs(v.getY()), std::fabs(v.getZ())}; }
inline Vector3 minPerElem(const Vector3& a, const Vector3& b) {
    return {detail::minf(a.getX(), b.getX()), detail::minf(a.getY(), b.getY()), detail::minf(a.getZ(), b.getZ())};
}
inline Vector3 maxPerElem(const Vector3& a, const Vector3& b) {
    return {detail::maxf(a.getX(), b.getX()), detail::maxf(a.getY(), b.getY()), detail::maxf(a.getZ(), b.getZ())};
}
inline float maxElem(const Vector3& v) { return detail::maxf(detail::maxf(v.getX(), v.getY()), v.getZ()); }
inline float minElem(const Vector3& v) { return detail::minf(detail::minf(v.getX(), v.getY()), v.getZ()); }
inline float sum(const Vector3& v) { return v.getX() + v.getY() + v.getZ(); }
/// a at t = 0, b at t = 1; t is not clamped.
inline Vector3 lerp(float t, const Vector3& a, const Vector3& b) { return a + (b - a) * t; }
/// a · bᵀ (column a times row b); defined with Matrix3.
inline Matrix3 outer(const Vector3& a, const Vector3& b);

// ---- Point3 free functions ----

inline float distSqr(const Point3& a, const Point3& b) { return lengthSqr(b - a); }
inline float dist(const Point3& a, const Point3& b) { return length(b - a); }
inline Point3 minPerElem(const Point3& a, const Point3& b) { return Point3(minPerElem(Vector3(a), Vector3(b))); }
inline Point3 maxPerElem(const Point3& a, const Point3& b) { return Point3(maxPerElem(Vector3(a), Vector3(b))); }
inline Point3 lerp(float t, const Point3& a, const Point3& b) { return a + (b - a) * t; }
/// Scales the point's coordinates about the origin.
inline Point3 scale(const Point3& p, float s) { return Point3(Vector3(p) * s); }

// ---- Vector4 free functions ----

inline Vector4 operator*(float s, const Vector4& v) { return v * s; }
inline float dot(const Vector4& a, const Vector4& b) {
    return a.getX() * b.getX() + a.getY() * b.getY() + a.getZ() * b.getZ() + a.getW() * b.getW();
}
inline float lengthSqr(const Vector4& v) { return dot(v, v); }
inline float length(const Vector4& v) { return std::sqrt(dot(v, v)); }
/// Divides by the length without a guard: a zero vector gives NaNs.
inline Vector4 normalize(const Vector4& v) { return v / length(v); }
inline Vector4 mulPerElem(const Vector4& a, const Vector4& b) {
    return {a.getX() * b.getX(), a.getY() * b.getY(), a.getZ() * b.getZ(), a.getW() * b.getW()};
}
inline Vector4 absPerElem(const Vector4& v) {
    return {std::fabs(v.getX()), std::fabs(v.getY()), std::fabs(v.getZ()), std::fabs(v.getW())};
}

static_assert(sizeof(Vector3) == 16 && alignof(Vector3) == 16);
static_assert(sizeof(Point3) == 16 && alignof(Point3) == 16);
static_assert(sizeof(Vector4) == 16 && alignof(Vector4) == 16);

}  // namespace Vectormath::Aos
