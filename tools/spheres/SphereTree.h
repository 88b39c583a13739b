#pragma once
// Sphere hierarchy above a set of leaf spheres, normal cones, and the ".spheres" writer.
#include <string>
#include <vector>

#include "MeshDistance.h"

namespace spheres {

struct Cone {
    Vec3 direction;  ///< unit, or exactly zero when there is no direction
    double angle = 3.14159265358979323846;
};

struct TreeNode {
    Sphere sphere;
    Cone cone;
    int first = -1;  ///< first child, -1 for a leaf
    int count = 0;   ///< number of children, 0 for a leaf
};

/// Cone around a set of unit normals: mean direction, half-angle = largest deviation.
Cone ConeOfNormals(const std::vector<Vec3>& normals);

/// Leaf cones. Object mode: outward normals of the triangles that a leaf touches (distance
/// within r(1+2e-3)); leaves clear of the surface get no direction. Container mode: outward
/// normals of the triangles the leaf reaches, or of the nearest ones if it reaches none.
std::vector<Cone> LeafCones(const MeshDistance& mesh, const std::vector<Sphere>& leaves, bool container, int threads);

/// Top-down median clustering with fan-out up to `fanOut`; node 0 is the root and the children
/// of every node are contiguous (breadth-first layout).
std::vector<TreeNode> BuildTree(const std::vector<Sphere>& leaves, const std::vector<Cone>& cones, int fanOut = 8);

/// Small sphere holding all given spheres (iterative farthest-point refinement, then the exact
/// radius for the centre found, so the result always encloses them).
Sphere EnclosingSphere(const std::vector<Sphere>& parts);

int TreeDepth(const std::vector<TreeNode>& nodes);

/// Writes the tree as a ".spheres" file (col::formatSpheres) through the atomic replace, so a
/// failed run leaves nothing half-written. Returns an empty string on success, else the error line.
std::string WriteSpheresFile(const std::string& path, const std::vector<TreeNode>& nodes, bool container);

}  // namespace spheres
