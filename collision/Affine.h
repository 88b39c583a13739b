#pragma once
/// @file Affine.h
/// A similarity (rotation times uniform scale, plus translation) as flat floats, for the triangle
/// tree's traversals.

#include <cmath>

#include "collision/TriDist.h"
#include "vectormath/vectormath_aos.h"

namespace col::detail {

/// m12 as a flat affine map: p' = R p + T (R may carry a uniform scale).
struct Affine {
    float r[3][3];
    float t[3];
    float scale;
    Float3 apply(const float p[3]) const {
        return {r[0][0] * p[0] + r[0][1] * p[1] + r[0][2] * p[2] + t[0],
                r[1][0] * p[0] + r[1][1] * p[1] + r[1][2] * p[2] + t[1],
                r[2][0] * p[0] + r[2][1] * p[1] + r[2][2] * p[2] + t[2]};
    }
    Float3 apply(Float3 p) const {
        const float q[3] = {p.x, p.y, p.z};
        return apply(q);
    }

    /// A unit normal turned by the rotation alone.
    Float3 turn(const float n[3]) const {
        const float inv = 1.f / scale;
        return {inv * (r[0][0] * n[0] + r[0][1] * n[1] + r[0][2] * n[2]),
                inv * (r[1][0] * n[0] + r[1][1] * n[1] + r[1][2] * n[2]),
                inv * (r[2][0] * n[0] + r[2][1] * n[1] + r[2][2] * n[2])};
    }
};

/// The affine map of a model matrix (translation * rotation * uniform scale).
inline Affine affineOf(const Vectormath::Aos::Matrix4& m) {
    Affine a;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) a.r[row][col] = m.getElem(col, row);
        a.t[row] = m.getElem(3, row);
    }
    a.scale = std::sqrt(a.r[0][0] * a.r[0][0] + a.r[1][0] * a.r[1][0] + a.r[2][0] * a.r[2][0]);
    return a;
}

}  // namespace col::detail
