#pragma once
/// @file TriangleTree.h
/// Bounding-sphere tree over a mesh's triangles and the exact queries on it: mesh–mesh distance,
/// surface intersection, ray parity and point distance.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "collision/TriDist.h"
#include "vectormath/vectormath_aos.h"

namespace col {

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;

/// Closest triangles of mesh 1 and mesh 2, both expressed in mesh 2's frame.
struct MeshDistanceResult {
    float distance;  ///< surface distance in mesh 2's units; 0 when the surfaces touch or cross
    Point3 tri1[3];  ///< closest triangle of mesh 1 (mapped into mesh 2's frame)
    Point3 tri2[3];  ///< closest triangle of mesh 2
    bool valid;      ///< false when either tree is empty (distance is then +infinity, no triangles)
};

/// Binary tree of bounding spheres (each with a slab along its mean normal) over the triangles of one mesh, in the
/// mesh's model frame. Immutable after build(); safe to share read-only between threads.
class TriangleTree {
 public:
    /// Builds the tree. Polygons with more than 3 corners are fan-triangulated from their first
    /// corner; polygons with fewer than 3 corners or an index outside `pts` are skipped.
    /// Degenerate (zero-area) triangles are kept: they still have a distance.
    void build(const std::vector<Point3>& pts, const std::vector<std::vector<unsigned>>& polygons);
    bool empty() const { return m_nodes.empty(); }
    size_t triangleCount() const { return m_tris.size() / 3; }
    /// Longest root-to-leaf path (1 for a single triangle, 0 when empty).
    int depth() const { return m_depth; }
    /// Sphere that encloses every triangle (the root's), model frame; false when empty.
    bool boundingSphere(Point3& centre, float& radius) const {
        if (m_nodes.empty()) return false;
        centre = Point3(m_nodes[0].c[0], m_nodes[0].c[1], m_nodes[0].c[2]);
        radius = m_nodes[0].r;
        return true;
    }

    /// Parity of the number of triangles the ray o + t d, t > 0, passes through (model frame, d
    /// need not be unit): 0 or 1, or -1 when the ray passes within about 1e-7 (barycentric) of an
    /// edge or a corner of a triangle it meets, or meets one in its plane, so that the count
    /// cannot be trusted. Zero-area triangles are never counted. An empty tree gives 0.
    int rayParity(const double o[3], const double d[3]) const;
    /// Distance from p (model frame) to the nearest triangle, model units; 0 on the surface,
    /// +infinity for an empty tree. Zero-area triangles count as their segment or point.
    float pointDistance(const Point3& p) const;

    /// One node: a bounding sphere cut by a slab. Read-only view for the traversals of col::.
    struct Node {
        float c[3];     ///< sphere centre, model frame
        float r;        ///< sphere radius
        int32_t child;  ///< >= 0: children at child and child+1; < 0: leaf of triangle ~child
        float n[3];     ///< slab axis (unit): the node's mean face normal, along which a patch is thin
        float lo, hi;   ///< extent of the node's corners along n
    };
    static_assert(sizeof(Node) == 40, "12 + 4 + 4 + 12 + 8 bytes");
    const Node* nodes() const { return m_nodes.data(); }
    /// Corners of triangle i (leaf order, as a leaf's ~child names it), model frame.
    const detail::Float3* triangle(int32_t i) const { return &m_tris[3 * size_t(i)]; }

 private:
    friend MeshDistanceResult meshDistance(const TriangleTree&, const TriangleTree&, const Matrix4&);

    void computeSlabs();
    void buildRange(int32_t self, std::vector<int32_t>& order, const std::vector<detail::Float3>& cent,
                    const std::vector<detail::Float3>& tris, int32_t first, int32_t count, int level);

    std::vector<Node> m_nodes;           ///< node 0 is the root
    std::vector<detail::Float3> m_tris;  ///< three corners per triangle
    std::vector<float> m_planes;         ///< per triangle: unit normal and offset (zero normal when flat)
    int m_depth = 0;
};

/// Exact distance between the triangle surfaces of two meshes. m12 maps mesh 1's frame into
/// mesh 2's frame (rigid, optionally with uniform scale). Only surfaces count: a mesh lying wholly
/// inside the other is at its positive surface gap. Among several equally close pairs any one.
MeshDistanceResult meshDistance(const TriangleTree& mesh1, const TriangleTree& mesh2, const Matrix4& m12);

/// Whether the triangle surfaces of two meshes have a point in common (TriIntersect on the
/// triangle pairs: touching counts). m12 maps mesh 1's frame into mesh 2's (rigid, optionally
/// with uniform scale). Only surfaces count: a mesh wholly inside the other gives false. Stops at
/// the first intersecting pair; an empty tree intersects nothing. Node bounds carry a slack of
/// 1e-6 of the coordinates' magnitude in mesh 2's frame, so surfaces that come within rounding
/// of each other may go either way.
bool surfacesIntersect(const TriangleTree& mesh1, const TriangleTree& mesh2, const Matrix4& m12);

}  // namespace col
