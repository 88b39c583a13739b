#pragma once
/// @file CheckMesh.h
/// One exact triangle mesh as densepack-check tests it: the collision library's exact mesh (triangle
/// tree for mesh-to-mesh distances, inside test, point-to-surface distance, and the surface sample
/// points whose depth inside another mesh estimates a penetration) plus the figures the reports use.

#include <string>
#include <vector>

#include "collision/ExactMesh.h"
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

    /// Whether p (model frame) lies inside the closed mesh (col::ExactMesh::contains).
    bool Inside(const Point3& p) const { return m_exact.contains(p); }
    /// Distance from p (model frame) to the nearest triangle, model units.
    float SurfaceDistance(const Point3& p) const { return m_exact.surfaceDistance(p); }

    const col::ExactMesh& Exact() const { return m_exact; }
    const col::TriangleTree& Tree() const { return m_exact.tree(); }
    /// Vertices, edge midpoints and triangle centroids, model frame.
    const std::vector<Point3>& Samples() const { return m_exact.samples(); }
    const std::vector<Point3>& Points() const { return m_exact.points(); }
    /// Enclosing sphere (box centre, farthest vertex), model frame.
    const Point3& Centre() const { return m_exact.centre(); }
    float Radius() const { return m_exact.radius(); }
    /// Smallest extent of the model-frame bounding box: the thickness penetrations are measured against.
    float MinExtent() const { return m_exact.minExtent(); }
    /// Divergence-theorem volume, summed in single precision over the triangles in file order.
    float Volume() const { return m_volume; }
    size_t TriangleCount() const { return m_triangles; }

 private:
    col::ExactMesh m_exact;
    size_t m_triangles = 0;
    float m_volume = 0.0f;
};

}  // namespace check
