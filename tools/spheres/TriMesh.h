#pragma once
// Indexed triangle mesh as read from an OBJ file, and the checks the builder needs before
// it can trust inside/outside: closed, consistently oriented, non-zero volume.
#include <array>
#include <string>
#include <vector>

#include "Vec3.h"

namespace spheres {

struct TriMesh {
    std::vector<Vec3> points;
    std::vector<std::array<int, 3>> triangles;  ///< 0-based indices into points
};

/// Outcome of reading or checking a mesh; message is one line without a trailing newline.
struct MeshResult {
    bool ok = false;
    std::string message;
};

/// Reads v/vn/vt/f lines (corners a, a/b, a//c, a/b/c; negative indices count from the end;
/// polygons are fan-triangulated). Other lines and "#" comments are ignored. CRLF line ends are
/// accepted.
MeshResult ReadObj(const std::string& path, TriMesh& outMesh);

/// Every undirected edge must be used by exactly two triangles, once in each direction.
MeshResult CheckClosedAndOriented(const TriMesh& mesh);

/// Signed volume by the divergence theorem; positive for outward-facing triangles.
double SignedVolume(const TriMesh& mesh);

/// Reads, checks and orients the mesh (a consistently inward-facing mesh is flipped, so the
/// rest of the builder may assume outward normals). The message names the first problem.
MeshResult LoadClosedMesh(const std::string& path, TriMesh& outMesh);

}  // namespace spheres
