#pragma once
/// @file TriDist.h
/// Exact distance between two triangles with the closest points.

#include "vectormath/vectormath_aos.h"

namespace col {

using Vectormath::Aos::Point3;

/// Distance of triangles s and t (both in the same frame); p (on s) and q (on t) are a closest pair.
/// - Separated: returns |p - q| > 0; when several pairs are closest (parallel edges or faces) any one of them.
/// - Touching or intersecting (also coplanar overlap, one containing the other): returns 0 and p == q,
///   a point common to both triangles. Gaps below float resolution (about 1e-6 of the triangles' size)
///   may be reported as touching.
/// - Degenerate triangles (zero area: collinear or coincident corners) are treated as the segment or
///   point they span; the result stays exact.
/// Vertex order and argument order do not change the distance.
float TriDist(Point3& p, Point3& q, const Point3 s[3], const Point3 t[3]);

namespace detail {

/// Packed float triple used by the triangle routines' inner loops (12 bytes, no SIMD padding).
struct Float3 {
    float x, y, z;
};

/// TriDist on packed corners: the workhorse behind TriDist and the mesh distance query.
float triDist(Float3& outP, Float3& outQ, const Float3 s[3], const Float3 t[3]);

}  // namespace detail
}  // namespace col
