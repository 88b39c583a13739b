#pragma once
/// @file CheckMesh.h
/// One exact triangle mesh as densepack-check tests it: a triangle tree for mesh-to-mesh
/// distances, an axis-aligned box tree for inside tests and point-to-surface distances, and the
/// surface sample points whose depth inside another mesh estimates a penetration.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "collision/TriangleTree.h"
#include "vectormath/vectormath_aos.h"

namespace check {

using Vectormath::Aos::Point3;

class CheckMesh {
 public:
    /// Reads the OBJ file (v and f lines, polygons fanned into triangles) and builds the trees.
    /// Returns false with `outError` set when the file cannot be read or has no triangle.
    bool Load(const std::string& path, std::string& outError);
    /// The same from points and polygons already in memory.
    bool Build(std::vector<Point3> points, const std::vector<std::vector<unsigned>>& polygons, std::string& outError);

    /// Whether p (model frame) lies inside the closed mesh: majority of three ray-parity votes
    /// along skew directions; a ray that grazes an edge or vertex is replaced by the next
    /// direction. Points on the surface may go either way.
    bool Inside(const Point3& p) const;
    /// Distance from p (model frame) to the nearest triangle, model units.
    float SurfaceDistance(const Point3& p) const;

    const col::TriangleTree& Tree() const { return m_tree; }
    /// Vertices, edge midpoints and triangle centroids, model frame.
    const std::vector<Point3>& Samples() const { return m_samples; }
    const std::vector<Point3>& Points() const { return m_points; }
    /// Enclosing sphere (box centre, farthest vertex), model frame.
    const Point3& Centre() const { return m_centre; }
    float Radius() const { return m_radius; }
    /// Smallest extent of the model-frame bounding box: the thickness penetrations are measured against.
    float MinExtent() const { return m_minExtent; }
    /// Divergence-theorem volume, summed in single precision over the triangles in file order.
    float Volume() const { return m_volume; }
    size_t TriangleCount() const { return m_tris.size(); }

 private:
    struct Node {
        float lo[3], hi[3];
        int32_t first;  ///< inner: index of the left child; leaf: first triangle
        int32_t count;  ///< leaf: triangle count (> 0); inner: minus the right child's index
    };

    int32_t BuildNode(int32_t first, int32_t count, std::vector<std::array<float, 3>>& centroids);
    int RayParity(const double origin[3], const double dir[3]) const;

    std::vector<Point3> m_points;
    std::vector<std::array<unsigned, 3>> m_tris;
    std::vector<Node> m_nodes;
    col::TriangleTree m_tree;
    std::vector<Point3> m_samples;
    Point3 m_centre;
    float m_radius = 0.0f;
    float m_minExtent = 0.0f;
    float m_volume = 0.0f;
};

}  // namespace check
