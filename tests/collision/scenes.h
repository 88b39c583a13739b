#pragma once
// Random sphere trees, poses and packed scenes shared by the collision tests and benchmarks.

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "collision/col.h"

namespace colscene {

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

struct Sphere {
    float x, y, z, r;
};

/// Valid hierarchy over the leaves: top-down split along the longest axis into `branching`
/// groups, nodes laid out breadth first so siblings are contiguous; parents enclose children.
col::SphereTree buildTree(const std::vector<Sphere>& leaves, int branching = 4,
                          col::SphereTreeKind kind = col::SphereTreeKind::Object);

/// A blob of `count` random leaf spheres within radius `extent` of the origin.
std::vector<Sphere> randomLeaves(std::mt19937& rng, int count, float extent, float rmin, float rmax);
/// Band of spheres just outside the axis-aligned box [-h, h]^3: what a container's tree covers.
std::vector<Sphere> boxShell(float h, float cell);

/// Rotation about a random axis, translation in [-range, range]^3, uniform scale k.
Matrix4 randomPose(std::mt19937& rng, float range, float k = 1.0f);

/// Writes the tree as ".spheres" into `dir` and loads it back through the library's loader.
std::unique_ptr<col::ExtraData_SphereTree> roundTrip(const col::SphereTree& tree, const std::string& dir,
                                                     const std::string& name);
/// A fresh per-process temporary directory.
std::string tempDir();

/// Reference answer: every leaf pair, compared in world coordinates in double precision (centres
/// through M, radii times M's scale and s).
/// `ambiguous` receives pairs whose gap is within float rounding of touching.
struct BruteResult {
    std::vector<std::pair<int, int>> overlapping;
    std::vector<std::pair<int, int>> ambiguous;
    double overlap = 0;
};
BruteResult bruteForce(const col::SphereTree& t1, const Matrix4& M1, float s1, const col::SphereTree& t2,
                       const Matrix4& M2, float s2);

/// Icosphere triangle mesh (unit sphere subdivided `level` times) scaled to semi-axes a, b, c.
void ellipsoidMesh(float a, float b, float c, int level, std::vector<Point3>& pts,
                   std::vector<std::vector<unsigned>>& tris);

}  // namespace colscene
