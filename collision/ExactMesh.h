#pragma once
/// @file ExactMesh.h
/// One closed triangle mesh prepared for exact queries: its triangle tree, an inside test and
/// point-to-surface distances in the model frame, the sample points whose depth in another mesh
/// estimates a penetration, and its convex shape when it is convex. Built once per object type.

#include <vector>

#include "collision/ConvexShape.h"
#include "collision/TriangleTree.h"
#include "vectormath/vectormath_aos.h"

namespace col {

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;

class ExactMesh {
 public:
    /// Builds from an OBJ-style mesh (0-based polygons, fanned into triangles from their first
    /// corner; polygons with fewer than three corners or an index out of range are skipped).
    /// Returns false and stays empty when no triangle remains. The convex shape is built as well
    /// and stays empty when the mesh is not convex (ConvexShape::build's default tolerance).
    bool build(const std::vector<Point3>& points, const std::vector<std::vector<unsigned>>& polygons);
    bool empty() const { return m_tree.empty(); }

    /// Whether p (model frame) lies inside the closed mesh: majority of three ray-parity votes
    /// along skew directions; a ray that grazes an edge or corner is replaced by the next of seven
    /// directions. Points on the surface may go either way; a point whose every ray grazes counts
    /// as outside. Face orientation does not matter; an empty mesh contains nothing.
    bool contains(const Point3& p_M) const;
    /// Distance from p (model frame) to the nearest triangle, model units (+infinity when empty).
    float surfaceDistance(const Point3& p_M) const { return m_tree.pointDistance(p_M); }

    const TriangleTree& tree() const { return m_tree; }
    /// The mesh as a convex shape, or null when it is not convex (or empty).
    const ConvexShape* convex() const { return m_convex.empty() ? nullptr : &m_convex; }
    /// Every point given to build(), also those no polygon uses, model frame.
    const std::vector<Point3>& points() const { return m_points; }
    /// Points, then per triangle its three edge midpoints and its centroid, model frame.
    const std::vector<Point3>& samples() const { return m_samples; }
    /// Enclosing sphere: the points' bounding-box centre and the farthest point, model frame.
    const Point3& centre() const { return m_centre; }
    float radius() const { return m_radius; }
    /// The points' smallest and largest bounding-box extents, model units.
    float minExtent() const { return m_minExtent; }
    float maxExtent() const { return m_maxExtent; }
    /// Indices into points() of the used points extreme along -x, +x, -y, +y, -z, +z: a mesh lying
    /// inside another puts all six inside the other's enclosing sphere.
    const int* extremes() const { return m_extremes; }

 private:
    std::vector<Point3> m_points;
    std::vector<Point3> m_samples;
    TriangleTree m_tree;
    ConvexShape m_convex;
    Point3 m_centre = Point3(0.0f);
    float m_radius = 0.0f;
    float m_minExtent = 0.0f;
    float m_maxExtent = 0.0f;
    int m_extremes[6] = {0, 0, 0, 0, 0, 0};
};

/// Deepest sample of `inner` inside `outer` (m_OI maps inner's frame into outer's): the largest
/// distance to outer's surface among the samples outer contains, outer's model units; 0 when none
/// is inside. Samples outside outer's enclosing sphere are not tested. A lower bound on how far
/// inner must move to leave outer's inside, up to the samples' spacing.
float deepestInside(const ExactMesh& inner, const ExactMesh& outer, const Matrix4& m_OI);

/// Farthest sample of `obj` outside `outer` (m_OB maps obj's frame into outer's): the largest
/// distance to outer's surface among the samples outer does not contain, outer's model units;
/// 0 when none is outside. `outAnyOutside` tells whether any sample lies outside at all.
float farthestOutside(const ExactMesh& obj, const ExactMesh& outer, const Matrix4& m_OB, bool& outAnyOutside);

}  // namespace col
