#pragma once
// Exact point-to-mesh distance over a bounding-volume hierarchy of the triangles, with the
// inside/outside sign taken from angle-weighted pseudonormals at the closest feature. The
// sign is exact for a closed, consistently oriented mesh, which TriMesh checks first.
#include <vector>

#include "TriMesh.h"

namespace spheres {

struct ClosestHit {
    double distance = 0.0;  ///< unsigned distance to the surface
    Vec3 point;             ///< closest surface point
    int triangle = -1;
    int feature = 6;  ///< 0..2 vertex, 3..5 edge (01, 12, 20), 6 face interior
};

struct NearTriangle {
    int triangle = -1;
    Vec3 point;  ///< closest point of that triangle
    double distance = 0.0;
};

class MeshDistance {
 public:
    /// The mesh must outlive this object and be closed and outward oriented.
    explicit MeshDistance(const TriMesh& mesh);

    ClosestHit Closest(const Vec3& p) const;
    /// Positive inside the mesh, negative outside, 0 on the surface: the depth of p.
    double Depth(const Vec3& p) const;
    /// Depth together with the closest hit it came from.
    double Depth(const Vec3& p, ClosestHit& outHit) const;
    /// Every triangle whose distance to p is at most radius, in triangle order.
    void TrianglesWithin(const Vec3& p, double radius, std::vector<NearTriangle>& out) const;

    const Vec3& FaceNormal(int tri) const { return m_faceNormals[tri]; }
    const TriMesh& Mesh() const { return m_mesh; }
    Vec3 BoxMin() const { return m_nodes[0].lo; }
    Vec3 BoxMax() const { return m_nodes[0].hi; }

 private:
    struct Node {
        Vec3 lo, hi;
        int first = 0;  ///< leaf: first entry in m_order; inner: index of the left child
        int count = 0;  ///< leaf: number of triangles; inner: 0
    };

    int Build(int begin, int end, std::vector<Vec3>& centroids);
    Vec3 PseudoNormal(const ClosestHit& hit) const;

    const TriMesh& m_mesh;
    std::vector<Node> m_nodes;
    std::vector<int> m_order;
    std::vector<Vec3> m_faceNormals;
    std::vector<Vec3> m_vertexNormals;
    std::vector<std::array<Vec3, 3>> m_edgeNormals;  ///< per triangle, per edge
};

/// Closest point of triangle abc to p (Ericson's region test); feature as in ClosestHit.
Vec3 ClosestPointOnTriangle(const Vec3& p, const Vec3& a, const Vec3& b, const Vec3& c, int& outFeature);

}  // namespace spheres
