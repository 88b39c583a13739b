#pragma once
/// @file ConvexShape.h
/// A convex mesh as a support mapping, and the exact yes/no overlap test of two posed convex meshes
/// (GJK on the meshes' own vertices).

#include <cstdint>
#include <vector>

#include "vectormath/vectormath_aos.h"

namespace col {

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

/// A rigid pose with uniform scale: p_W = scale * rotation * p_M + translation.
struct ScaledPose {
    Matrix3 rotation = Matrix3::identity();
    Vector3 translation = Vector3(0.0f);
    float scale = 1.0f;

    /// From a model matrix translation * rotation * uniform scale; the scale is the length of the
    /// first column, the rotation the upper 3x3 divided by it.
    static ScaledPose fromMatrix(const Matrix4& m);
};

/// A face plane of a convex shape: points p inside satisfy dot(normal, p) <= offset.
struct Plane {
    Vector3 normal;  ///< unit, outward, model frame
    float offset;    ///< model units
};

/// The vertices of a closed convex mesh, with the mesh's edges for hill-climbing support queries and
/// its distinct face planes. Immutable after build(); safe to share read-only between threads.
class ConvexShape {
 public:
    /// Builds from an OBJ-style mesh (0-based polygons, fanned into triangles). Returns false and
    /// stays empty when the mesh has fewer than four distinct vertices, a polygon with an index out
    /// of range, or is not convex: some vertex lies more than `relTolerance` x the mesh's largest
    /// extent in front of some face plane (degenerate faces are skipped).
    bool build(const std::vector<Point3>& points, const std::vector<std::vector<unsigned>>& polygons,
               float relTolerance = 1e-4f);
    bool empty() const { return m_vertices.empty(); }

    /// Index of a vertex farthest along d (model frame); ties go to any of them. `hint` is where
    /// the hill climb starts (any valid index; a vertex near the answer makes it short).
    int support(const Vector3& d, int hint = 0) const;

    const std::vector<Vector3>& vertices() const { return m_vertices; }
    /// Distinct face planes (coplanar triangles merged), model frame.
    const std::vector<Plane>& planes() const { return m_planes; }
    /// Largest vertex distance from the model origin.
    float outerRadius() const { return m_outerRadius; }
    /// Radius of the largest ball about the model origin inside the shape; 0 when the origin is not
    /// strictly inside.
    float innerRadius() const { return m_innerRadius; }

 private:
    std::vector<Vector3> m_vertices;
    std::vector<int32_t> m_adjacencyStart;  ///< neighbours of vertex i: m_adjacency[start[i], start[i+1])
    std::vector<int32_t> m_adjacency;
    std::vector<Plane> m_planes;
    float m_outerRadius = 0.0f;
    float m_innerRadius = 0.0f;
};

/// Whether two posed convex shapes intersect. Exact up to float rounding: shapes that touch, or
/// whose gap or depth is below about 1e-6 of their size, may go either way. An empty shape
/// overlaps nothing. `ioHint` (optional, two ints) carries the support start vertices from one
/// call to the next for the same pair of shapes.
bool convexOverlap(const ConvexShape& a, const ScaledPose& X_WA, const ConvexShape& b, const ScaledPose& X_WB,
                   int* ioHint = nullptr);

}  // namespace col
