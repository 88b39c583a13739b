#pragma once
// Matrix4: column-major 4x4 of four contiguous Vector4 columns (64 bytes, uploadable as 16 floats).

#include "vectormath/mat3_aos.h"

namespace Vectormath::Aos {

class Matrix4 {
 public:
    Matrix4() = default;  ///< All zero; use identity() for "no change".
    Matrix4(const Vector4& col0, const Vector4& col1, const Vector4& col2, const Vector4& col3)
        : m_col{col0, col1, col2, col3} {}
    /// Affine transform: x -> upper3x3 * x + translation.
    Matrix4(const Matrix3& upper3x3, const Vector3& translation)
        : m_col{Vector4(upper3x3.getCol0(), 0.0f), Vector4(upper3x3.getCol1(), 0.0f), Vector4(upper3x3.getCol2(), 0.0f),
                Vector4(translation, 1.0f)} {}
    Matrix4(const Quat& unitQuat, const Vector3& translation) : Matrix4(Matrix3(unitQuat), translation) {}
    explicit Matrix4(float scalar) : m_col{Vector4(scalar), Vector4(scalar), Vector4(scalar), Vector4(scalar)} {}

    static Matrix4 identity() { return {Vector4::xAxis(), Vector4::yAxis(), Vector4::zAxis(), Vector4::wAxis()}; }
    static Matrix4 translation(const Vector3& t) { return {Matrix3::identity(), t}; }
    static Matrix4 rotationX(float radians) { return {Matrix3::rotationX(radians), Vector3()}; }
    static Matrix4 rotationY(float radians) { return {Matrix3::rotationY(radians), Vector3()}; }
    static Matrix4 rotationZ(float radians) { return {Matrix3::rotationZ(radians), Vector3()}; }
    /// Right-handed rotation by `radians` about `unitAxis`; the axis is not normalised here.
    static Matrix4 rotation(float radians, const Vector3& unitAxis) {
        return {Matrix3::rotation(radians, unitAxis), Vector3()};
    }
    static Matrix4 rotation(const Quat& unitQuat) { return {Matrix3(unitQuat), Vector3()}; }
    static Matrix4 scale(const Vector3& s) { return {Matrix3::scale(s), Vector3()}; }
    /// Right-handed projection onto GL clip space (z in [-w, w]).
    static Matrix4 perspective(float fovyRadians, float aspect, float zNear, float zFar);
    /// Right-handed parallel projection onto GL clip space (z in [-1, 1]).
    static Matrix4 orthographic(float left, float right, float bottom, float top, float zNear, float zFar);
    /// Right-handed view matrix: eye to the origin, looking down -z with `up` roughly +y.
    /// Not guarded: eye == lookAt or up parallel to the view direction gives NaNs.
    static Matrix4 lookAt(const Point3& eye, const Point3& lookAt, const Vector3& up);

    const Vector4& getCol0() const { return m_col[0]; }
    const Vector4& getCol1() const { return m_col[1]; }
    const Vector4& getCol2() const { return m_col[2]; }
    const Vector4& getCol3() const { return m_col[3]; }
    Matrix4& setCol0(const Vector4& c) {
        m_col[0] = c;
        return *this;
    }
    Matrix4& setCol1(const Vector4& c) {
        m_col[1] = c;
        return *this;
    }
    Matrix4& setCol2(const Vector4& c) {
        m_col[2] = c;
        return *this;
    }
    Matrix4& setCol3(const Vector4& c) {
        m_col[3] = c;
        return *this;
    }
    const Vector4& getCol(int col) const {
        assert(col >= 0 && col < 4);
        return m_col[col];
    }
    Matrix4& setCol(int col, const Vector4& c) {
        assert(col >= 0 && col < 4);
        m_col[col] = c;
        return *this;
    }
    Vector4 getRow(int row) const { return {m_col[0][row], m_col[1][row], m_col[2][row], m_col[3][row]}; }
    Matrix4& setRow(int row, const Vector4& r) {
        for (int c = 0; c < 4; ++c) m_col[c][row] = r[c];
        return *this;
    }
    float getElem(int col, int row) const { return getCol(col)[row]; }
    Matrix4& setElem(int col, int row, float value) {
        (*this)[col][row] = value;
        return *this;
    }
    const Vector4& operator[](int col) const {
        assert(col >= 0 && col < 4);
        return m_col[col];
    }
    Vector4& operator[](int col) {
        assert(col >= 0 && col < 4);
        return m_col[col];
    }
    /// 16 floats, column after column.
    const float* data() const { return m_col[0].data(); }

    Matrix3 getUpper3x3() const { return {m_col[0].getXYZ(), m_col[1].getXYZ(), m_col[2].getXYZ()}; }
    /// Replaces the top 3x3 block; row 3 and column 3 stay as they are.
    Matrix4& setUpper3x3(const Matrix3& m) {
        m_col[0].setXYZ(m.getCol0());
        m_col[1].setXYZ(m.getCol1());
        m_col[2].setXYZ(m.getCol2());
        return *this;
    }
    Vector3 getTranslation() const { return m_col[3].getXYZ(); }
    /// Replaces x, y, z of column 3; its w stays as it is.
    Matrix4& setTranslation(const Vector3& t) {
        m_col[3].setXYZ(t);
        return *this;
    }

    Matrix4 operator-() const { return {-m_col[0], -m_col[1], -m_col[2], -m_col[3]}; }
    Matrix4 operator+(const Matrix4& b) const {
        return {m_col[0] + b.m_col[0], m_col[1] + b.m_col[1], m_col[2] + b.m_col[2], m_col[3] + b.m_col[3]};
    }
    Matrix4 operator-(const Matrix4& b) const {
        return {m_col[0] - b.m_col[0], m_col[1] - b.m_col[1], m_col[2] - b.m_col[2], m_col[3] - b.m_col[3]};
    }
    Matrix4 operator*(float s) const { return {m_col[0] * s, m_col[1] * s, m_col[2] * s, m_col[3] * s}; }
    Vector4 operator*(const Vector4& v) const {
        return m_col[0] * v.getX() + m_col[1] * v.getY() + m_col[2] * v.getZ() + m_col[3] * v.getW();
    }
    /// A direction: (x, y, z, 0), so the translation does not apply. w of the result is 0 for affine matrices.
    Vector4 operator*(const Vector3& v) const {
        return m_col[0] * v.getX() + m_col[1] * v.getY() + m_col[2] * v.getZ();
    }
    /// A point: (x, y, z, 1), so the translation applies.
    Vector4 operator*(const Point3& p) const {
        return m_col[0] * p.getX() + m_col[1] * p.getY() + m_col[2] * p.getZ() + m_col[3];
    }
    /// (a * b) * v == a * (b * v): b is applied first, so T * R * S scales, then rotates, then moves.
    Matrix4 operator*(const Matrix4& b) const {
        return {*this * b.m_col[0], *this * b.m_col[1], *this * b.m_col[2], *this * b.m_col[3]};
    }
    Matrix4& operator+=(const Matrix4& b) { return *this = *this + b; }
    Matrix4& operator-=(const Matrix4& b) { return *this = *this - b; }
    Matrix4& operator*=(float s) { return *this = *this * s; }
    Matrix4& operator*=(const Matrix4& b) { return *this = *this * b; }

 private:
    Vector4 m_col[4];
};

static_assert(sizeof(Matrix4) == 16 * sizeof(float), "data() relies on four unpadded columns");

inline Matrix4 Matrix4::perspective(float fovyRadians, float aspect, float zNear, float zFar) {
    const float f = 1.0f / std::tan(fovyRadians * 0.5f);
    const float rangeInv = 1.0f / (zNear - zFar);
    return {Vector4(f / aspect, 0.0f, 0.0f, 0.0f), Vector4(0.0f, f, 0.0f, 0.0f),
            Vector4(0.0f, 0.0f, (zNear + zFar) * rangeInv, -1.0f),
            Vector4(0.0f, 0.0f, 2.0f * zNear * zFar * rangeInv, 0.0f)};
}

inline Matrix4 Matrix4::orthographic(float left, float right, float bottom, float top, float zNear, float zFar) {
    const float rl = 1.0f / (right - left), tb = 1.0f / (top - bottom), fn = 1.0f / (zFar - zNear);
    return {Vector4(2.0f * rl, 0.0f, 0.0f, 0.0f), Vector4(0.0f, 2.0f * tb, 0.0f, 0.0f),
            Vector4(0.0f, 0.0f, -2.0f * fn, 0.0f),
            Vector4(-(right + left) * rl, -(top + bottom) * tb, -(zFar + zNear) * fn, 1.0f)};
}

inline Matrix4 Matrix4::lookAt(const Point3& eye, const Point3& lookAt, const Vector3& up) {
    const Vector3 f = normalize(lookAt - eye);
    const Vector3 s = normalize(cross(f, up));
    const Vector3 u = cross(s, f);
    const Vector3 e(eye);
    // Rows are the camera axes (s, u, -f); the translation moves the eye to the origin.
    return {Vector4(s.getX(), u.getX(), -f.getX(), 0.0f), Vector4(s.getY(), u.getY(), -f.getY(), 0.0f),
            Vector4(s.getZ(), u.getZ(), -f.getZ(), 0.0f), Vector4(-dot(s, e), -dot(u, e), dot(f, e), 1.0f)};
}

inline Matrix4 operator*(float s, const Matrix4& m) { return m * s; }
inline Matrix4 transpose(const Matrix4& m) { return {m.getRow(0), m.getRow(1), m.getRow(2), m.getRow(3)}; }

namespace detail {
// 2x2 minors of rows 0-1 (s) and rows 2-3 (c); both the determinant and the adjugate are built from them.
struct Minors4 {
    float s0, s1, s2, s3, s4, s5, c0, c1, c2, c3, c4, c5;
    explicit Minors4(const Matrix4& m) {
        auto a = [&m](int row, int col) { return m.getElem(col, row); };
        s0 = a(0, 0) * a(1, 1) - a(1, 0) * a(0, 1);
        s1 = a(0, 0) * a(1, 2) - a(1, 0) * a(0, 2);
        s2 = a(0, 0) * a(1, 3) - a(1, 0) * a(0, 3);
        s3 = a(0, 1) * a(1, 2) - a(1, 1) * a(0, 2);
        s4 = a(0, 1) * a(1, 3) - a(1, 1) * a(0, 3);
        s5 = a(0, 2) * a(1, 3) - a(1, 2) * a(0, 3);
        c0 = a(2, 0) * a(3, 1) - a(3, 0) * a(2, 1);
        c1 = a(2, 0) * a(3, 2) - a(3, 0) * a(2, 2);
        c2 = a(2, 0) * a(3, 3) - a(3, 0) * a(2, 3);
        c3 = a(2, 1) * a(3, 2) - a(3, 1) * a(2, 2);
        c4 = a(2, 1) * a(3, 3) - a(3, 1) * a(2, 3);
        c5 = a(2, 2) * a(3, 3) - a(3, 2) * a(2, 3);
    }
    float det() const { return s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0; }
};
}  // namespace detail

inline float determinant(const Matrix4& m) { return detail::Minors4(m).det(); }

/// General 4x4 inverse by cofactors. No guard: a singular matrix gives infs/NaNs.
inline Matrix4 inverse(const Matrix4& m) {
    const detail::Minors4 k(m);
    auto a = [&m](int row, int col) { return m.getElem(col, row); };
    const float r = 1.0f / k.det();
    Matrix4 inv;
    // inv.setElem(col, row, ...): the adjugate is the transposed cofactor matrix.
    inv.setElem(0, 0, (a(1, 1) * k.c5 - a(1, 2) * k.c4 + a(1, 3) * k.c3) * r);
    inv.setElem(1, 0, (-a(0, 1) * k.c5 + a(0, 2) * k.c4 - a(0, 3) * k.c3) * r);
    inv.setElem(2, 0, (a(3, 1) * k.s5 - a(3, 2) * k.s4 + a(3, 3) * k.s3) * r);
    inv.setElem(3, 0, (-a(2, 1) * k.s5 + a(2, 2) * k.s4 - a(2, 3) * k.s3) * r);
    inv.setElem(0, 1, (-a(1, 0) * k.c5 + a(1, 2) * k.c2 - a(1, 3) * k.c1) * r);
    inv.setElem(1, 1, (a(0, 0) * k.c5 - a(0, 2) * k.c2 + a(0, 3) * k.c1) * r);
    inv.setElem(2, 1, (-a(3, 0) * k.s5 + a(3, 2) * k.s2 - a(3, 3) * k.s1) * r);
    inv.setElem(3, 1, (a(2, 0) * k.s5 - a(2, 2) * k.s2 + a(2, 3) * k.s1) * r);
    inv.setElem(0, 2, (a(1, 0) * k.c4 - a(1, 1) * k.c2 + a(1, 3) * k.c0) * r);
    inv.setElem(1, 2, (-a(0, 0) * k.c4 + a(0, 1) * k.c2 - a(0, 3) * k.c0) * r);
    inv.setElem(2, 2, (a(3, 0) * k.s4 - a(3, 1) * k.s2 + a(3, 3) * k.s0) * r);
    inv.setElem(3, 2, (-a(2, 0) * k.s4 + a(2, 1) * k.s2 - a(2, 3) * k.s0) * r);
    inv.setElem(0, 3, (-a(1, 0) * k.c3 + a(1, 1) * k.c1 - a(1, 2) * k.c0) * r);
    inv.setElem(1, 3, (a(0, 0) * k.c3 - a(0, 1) * k.c1 + a(0, 2) * k.c0) * r);
    inv.setElem(2, 3, (-a(3, 0) * k.s3 + a(3, 1) * k.s1 - a(3, 2) * k.s0) * r);
    inv.setElem(3, 3, (a(2, 0) * k.s3 - a(2, 1) * k.s1 + a(2, 2) * k.s0) * r);
    return inv;
}

/// Inverse of an affine matrix (row 3 = 0 0 0 1; it is not checked). No guard on a singular 3x3 block.
inline Matrix4 affineInverse(const Matrix4& m) {
    const Matrix3 inv3 = inverse(m.getUpper3x3());
    return {inv3, -(inv3 * m.getTranslation())};
}
/// Inverse of a rigid transform (orthonormal 3x3 block, no scale; it is not checked): transposes the rotation.
inline Matrix4 orthoInverse(const Matrix4& m) {
    const Matrix3 inv3 = transpose(m.getUpper3x3());
    return {inv3, -(inv3 * m.getTranslation())};
}
inline Matrix4 mulPerElem(const Matrix4& a, const Matrix4& b) {
    return {mulPerElem(a.getCol0(), b.getCol0()), mulPerElem(a.getCol1(), b.getCol1()),
            mulPerElem(a.getCol2(), b.getCol2()), mulPerElem(a.getCol3(), b.getCol3())};
}
inline Matrix4 absPerElem(const Matrix4& m) {
    return {absPerElem(m.getCol0()), absPerElem(m.getCol1()), absPerElem(m.getCol2()), absPerElem(m.getCol3())};
}
/// m * scale(s): scales along the local axes before m; the translation is untouched.
inline Matrix4 appendScale(const Matrix4& m, const Vector3& s) {
    return {m.getCol0() * s.getX(), m.getCol1() * s.getY(), m.getCol2() * s.getZ(), m.getCol3()};
}
/// scale(s) * m: scales the result of m, translation included.
inline Matrix4 prependScale(const Vector3& s, const Matrix4& m) {
    const Vector4 s4(s, 1.0f);
    return {mulPerElem(s4, m.getCol0()), mulPerElem(s4, m.getCol1()), mulPerElem(s4, m.getCol2()),
            mulPerElem(s4, m.getCol3())};
}

}  // namespace Vectormath::Aos
