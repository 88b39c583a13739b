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
    /// the hill climb starts (a vertex near the answer makes it short); -1, or any index that is
    /// not a vertex, starts from a table of answers for a grid of directions, a step or two away.
    int support(const Vector3& d, int hint = -1) const;

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
    std::vector<int32_t> m_startTable;  ///< per cube-map cell of directions: the support of its centre
    float m_outerRadius = 0.0f;
    float m_innerRadius = 0.0f;
};

/// What convexOverlap may remember about one ordered pair of shapes between calls. A default-made
/// cache is valid for any pair; a cache used for another pair only costs time, never correctness.
struct ConvexPairCache {
    Vector3 axis_W = Vector3(0.0f);  ///< the last separating direction found (a to b), world frame; 0: none
    int32_t supportA = -1;           ///< a's and b's extreme vertices along it when last checked
    int32_t supportB = -1;
    /// The last test's final simplex, as pairs of vertex indices (a's, b's); rebuilt at the new
    /// poses it is where the next test starts.
    int16_t simplexA[4] = {-1, -1, -1, -1};
    int16_t simplexB[4] = {-1, -1, -1, -1};
    int8_t simplexCount = 0;
};

/// Whether two posed convex shapes intersect. Shapes closer than 1e-6 of their size (the sum of
/// their scaled outer radii) count as touching, and touching counts as overlapping, whatever the
/// cache holds; the simplex is solved in double, so gaps well above that are never called
/// overlapping. An empty shape overlaps nothing.
bool convexOverlap(const ConvexShape& a, const ScaledPose& X_WA, const ConvexShape& b, const ScaledPose& X_WB);
/// The same with a pair cache: a separating direction that still separates answers at the cost of
/// two support queries, which is what small moves of packed shapes mostly meet.
bool convexOverlap(const ConvexShape& a, const ScaledPose& X_WA, const ConvexShape& b, const ScaledPose& X_WB,
                   ConvexPairCache& ioCache);

}  // namespace col
