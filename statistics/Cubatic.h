#pragma once
/// @file Cubatic.h
/// Cubatic order of cube-like objects: how well the three body axes of every object line up with
/// one common direction, measured by the fourth Legendre polynomial.

#include <vector>

#include "vectormath/vectormath_aos.h"

namespace check {

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Point3;

/// Cubatic order of N frames whose columns are each object's three body axes (lengths do not
/// matter, a scaled rotation is fine):
///   P4 = max over unit n of 1/(14 N) sum_i sum_k (35 c^4 - 30 c^2 + 3),  c = (axis k of i) . n.
/// 1 when every frame has an axis along one common direction, whatever its turn about it; about
/// 1/sqrt(N) for independent random orientations; never below 0. No frames give 0. Deterministic:
/// a fixed set of trial directions, the best of them refined to the local maximum.
/// `outDirector`, when given, receives the maximising n.
double CubaticOrder(const std::vector<Matrix3>& frames, Vectormath::Aos::Vector3* outDirector = nullptr);

/// Whether the box axes of a mesh (model frame) are body axes a cubatic order can follow: across
/// each of the six face diagonals of its bounding box the mesh is more than 5 % wider or narrower
/// than across the box. Not so for a sphere, nor for a body of revolution about a box axis, whose
/// two other axes are arbitrary. Meant for meshes whose three box extents agree.
bool HasCubicAxes(const std::vector<Point3>& points);

}  // namespace check
