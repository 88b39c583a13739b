#pragma once
/// @file TriIntersect.h
/// Exact yes/no intersection test of two triangles.

#include "collision/TriDist.h"
#include "vectormath/vectormath_aos.h"

namespace col {

using Vectormath::Aos::Point3;

/// Whether triangles s and t (same frame) have a point in common.
/// - Crossing, touching (a corner or an edge on the other triangle), coplanar overlap and one
///   containing the other all count as intersecting.
/// - Evaluated in double on the float corners: only pairs whose gap or crossing is within double
///   rounding of the coordinates' magnitude (about 1e-15 relative) may go either way.
/// - Degenerate triangles (zero area) are the segment or point they span (answered by TriDist == 0,
///   so a gap below float resolution counts as touching there).
/// Vertex order and argument order do not change the answer.
bool TriIntersect(const Point3 s[3], const Point3 t[3]);

namespace detail {

/// TriIntersect on packed corners.
bool triIntersect(const Float3 s[3], const Float3 t[3]);

}  // namespace detail
}  // namespace col
