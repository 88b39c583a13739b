#pragma once
// Matrix3: column-major 3x3 of three Vector3 columns (48 bytes, the padding floats between columns unused).

#include <cmath>

#include "vectormath/quat_aos.h"

namespace Vectormath::Aos {

class Matrix3 {
 public:
    Matrix3() = default;  ///< All zero; use identity() for "no change".
    Matrix3(const Vector3& col0, const Vector3& col1, const Vector3& col2) : m_col{col0, col1, col2} {}
    /// Rotation matrix of a unit quaternion (the formula assumes unit length).
    explicit Matrix3(const Quat& unitQuat);
    explicit Matrix3(float scalar) : m_col{Vector3(scalar), Vector3(scalar), Vector3(scalar)} {}  ///< Every element.

    static Matrix3 identity() { return {Vector3::xAxis(), Vector3::yAxis(), Vector3::zAxis()}; }
    static Matrix3 rotationX(float radians) {
        const float s = std::sin(radians), c = std::cos(radians);
        return {Vector3::xAxis(), Vector3(0.0f, c, s), Vector3(0.0f, -s, c)};
    }
    static Matrix3 rotationY(float radians) {
        const float s = std::sin(radians), c = std::cos(radians);
        return {Vector3(c, 0.0f, -s), Vector3::yAxis(), Vector3(s, 0.0f, c)};
    }
    static Matrix3 rotationZ(float radians) {
        const float s = std::sin(radians), c = std::cos(radians);
        return {Vector3(c, s, 0.0f), Vector3(-s, c, 0.0f), Vector3::zAxis()};
    }
    /// Right-handed rotation by `radians` about `unitAxis` (Rodrigues); the axis is not normalised here.
    static Matrix3 rotation(float radians, const Vector3& unitAxis);
    static Matrix3 rotation(const Quat& unitQuat) { return Matrix3(unitQuat); }
    static Matrix3 scale(const Vector3& s) {
        return {Vector3(s.getX(), 0.0f, 0.0f), Vector3(0.0f, s.getY(), 0.0f), Vector3(0.0f, 0.0f, s.getZ())};
    }

    const Vector3& getCol0() const { return m_col[0]; }
    const Vector3& getCol1() const { return m_col[1]; }
    const Vector3& getCol2() const { return m_col[2]; }
    Matrix3& setCol0(const Vector3& c) {
        m_col[0] = c;
        return *this;
    }
    Matrix3& setCol1(const Vector3& c) {
        m_col[1] = c;
        return *this;
    }
    Matrix3& setCol2(const Vector3& c) {
        m_col[2] = c;
        return *this;
    }
    const Vector3& getCol(int col) const {
        assert(col >= 0 && col < 3);
        return m_col[col];
    }
    Matrix3& setCol(int col, const Vector3& c) {
        assert(col >= 0 && col < 3);
        m_col[col] = c;
        return *this;
    }
    Vector3 getRow(int row) const { return {m_col[0][row], m_col[1][row], m_col[2][row]}; }
    Matrix3& setRow(int row, const Vector3& r) {
        m_col[0][row] = r.getX();
        m_col[1][row] = r.getY();
        m_col[2][row] = r.getZ();
        return *this;
    }
    float getElem(int col, int row) const { return getCol(col)[row]; }
    Matrix3& setElem(int col, int row, float value) {
        (*this)[col][row] = value;
        return *this;
    }
    const Vector3& operator[](int col) const {
        assert(col >= 0 && col < 3);
        return m_col[col];
    }
    Vector3& operator[](int col) {
        assert(col >= 0 && col < 3);
        return m_col[col];
    }

    Matrix3 operator-() const { return {-m_col[0], -m_col[1], -m_col[2]}; }
    Matrix3 operator+(const Matrix3& b) const {
        return {m_col[0] + b.m_col[0], m_col[1] + b.m_col[1], m_col[2] + b.m_col[2]};
    }
    Matrix3 operator-(const Matrix3& b) const {
        return {m_col[0] - b.m_col[0], m_col[1] - b.m_col[1], m_col[2] - b.m_col[2]};
    }
    Matrix3 operator*(float s) const { return {m_col[0] * s, m_col[1] * s, m_col[2] * s}; }
    Vector3 operator*(const Vector3& v) const {
        return m_col[0] * v.getX() + m_col[1] * v.getY() + m_col[2] * v.getZ();
    }
    /// (a * b) * v == a * (b * v): b is applied first.
    Matrix3 operator*(const Matrix3& b) const { return {*this * b.m_col[0], *this * b.m_col[1], *this * b.m_col[2]}; }
    Matrix3& operator+=(const Matrix3& b) { return *this = *this + b; }
    Matrix3& operator-=(const Matrix3& b) { return *this = *this - b; }
    Matrix3& operator*=(float s) { return *this = *this * s; }
    Matrix3& operator*=(const Matrix3& b) { return *this = *this * b; }

 private:
    Vector3 m_col[3];
};

inline Matrix3::Matrix3(const Quat& q) {
    const float x = q.getX(), y = q.getY(), z = q.getZ(), w = q.getW();
    const float xx = x * x, yy = y * y, zz = z * z;
    const float xy = x * y, xz = x * z, yz = y * z;
    const float wx = w * x, wy = w * y, wz = w * z;
    m_col[0] = Vector3(1.0f - 2.0f * (yy + zz), 2.0f * (xy + wz), 2.0f * (xz - wy));
    m_col[1] = Vector3(2.0f * (xy - wz), 1.0f - 2.0f * (xx + zz), 2.0f * (yz + wx));
    m_col[2] = Vector3(2.0f * (xz + wy), 2.0f * (yz - wx), 1.0f - 2.0f * (xx + yy));
}

inline Matrix3 Matrix3::rotation(float radians, const Vector3& a) {
    const float s = std::sin(radians), c = std::cos(radians), t = 1.0f - c;
    const float x = a.getX(), y = a.getY(), z = a.getZ();
    return {Vector3(c + t * x * x, t * x * y + s * z, t * x * z - s * y),
            Vector3(t * x * y - s * z, c + t * y * y, t * y * z + s * x),
            Vector3(t * x * z + s * y, t * y * z - s * x, c + t * z * z)};
}

inline Matrix3 operator*(float s, const Matrix3& m) { return m * s; }
inline Matrix3 outer(const Vector3& a, const Vector3& b) { return {a * b.getX(), a * b.getY(), a * b.getZ()}; }
inline Matrix3 transpose(const Matrix3& m) { return {m.getRow(0), m.getRow(1), m.getRow(2)}; }
inline float determinant(const Matrix3& m) { return dot(m.getCol2(), cross(m.getCol0(), m.getCol1())); }
/// No guard: a singular matrix gives infs/NaNs.
inline Matrix3 inverse(const Matrix3& m) {
    // Rows of the inverse are the cross products of column pairs over the determinant.
    const Vector3 r0 = cross(m.getCol1(), m.getCol2());
    const Vector3 r1 = cross(m.getCol2(), m.getCol0());
    const Vector3 r2 = cross(m.getCol0(), m.getCol1());
    const float recipDet = 1.0f / dot(m.getCol2(), r2);
    return transpose(Matrix3(r0, r1, r2)) * recipDet;
}
inline Matrix3 absPerElem(const Matrix3& m) {
    return {absPerElem(m.getCol0()), absPerElem(m.getCol1()), absPerElem(m.getCol2())};
}
inline Matrix3 mulPerElem(const Matrix3& a, const Matrix3& b) {
    return {mulPerElem(a.getCol0(), b.getCol0()), mulPerElem(a.getCol1(), b.getCol1()),
            mulPerElem(a.getCol2(), b.getCol2())};
}
/// m * scale(s): scales along the local axes (before m).
inline Matrix3 appendScale(const Matrix3& m, const Vector3& s) {
    return {m.getCol0() * s.getX(), m.getCol1() * s.getY(), m.getCol2() * s.getZ()};
}
/// scale(s) * m: scales the result of m.
inline Matrix3 prependScale(const Vector3& s, const Matrix3& m) {
    return {mulPerElem(s, m.getCol0()), mulPerElem(s, m.getCol1()), mulPerElem(s, m.getCol2())};
}
/// Column-major packing for GL upload (the in-memory columns are padded to 4 floats).
inline void toFloat9(const Matrix3& m, float out[9]) {
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) out[c * 3 + r] = m[c][r];
}

/// The unit quaternion of a rotation matrix, the inverse of Matrix3(q) up to the sign of q (the
/// largest-component branch: stable for every rotation, half turns included).
inline Quat QuatFromRotation(const Matrix3& m) {
    const float tr = m.getElem(0, 0) + m.getElem(1, 1) + m.getElem(2, 2);
    float x, y, z, w;
    // getElem(column, row)
    const float m00 = m.getElem(0, 0), m11 = m.getElem(1, 1), m22 = m.getElem(2, 2);
    const float m01 = m.getElem(1, 0), m10 = m.getElem(0, 1);
    const float m02 = m.getElem(2, 0), m20 = m.getElem(0, 2);
    const float m12 = m.getElem(2, 1), m21 = m.getElem(1, 2);
    if (tr > 0.0f) {
        const float s = 2.0f * std::sqrt(tr + 1.0f);
        w = 0.25f * s;
        x = (m21 - m12) / s;
        y = (m02 - m20) / s;
        z = (m10 - m01) / s;
    } else if (m00 > m11 && m00 > m22) {
        const float s = 2.0f * std::sqrt(1.0f + m00 - m11 - m22);
        w = (m21 - m12) / s;
        x = 0.25f * s;
        y = (m01 + m10) / s;
        z = (m02 + m20) / s;
    } else if (m11 > m22) {
        const float s = 2.0f * std::sqrt(1.0f + m11 - m00 - m22);
        w = (m02 - m20) / s;
        x = (m01 + m10) / s;
        y = 0.25f * s;
        z = (m12 + m21) / s;
    } else {
        const float s = 2.0f * std::sqrt(1.0f + m22 - m00 - m11);
        w = (m10 - m01) / s;
        x = (m02 + m20) / s;
        y = (m12 + m21) / s;
        z = 0.25f * s;
    }
    return normalize(Quat(x, y, z, w));
}

}  // namespace Vectormath::Aos
