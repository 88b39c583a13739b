#pragma once
// Test-side reader of ".spheres" files and an independent brute-force point-mesh oracle.
#include <string>
#include <vector>

#include "tools/spheres/TriMesh.h"

namespace toolstest {

using spheres::Vec3;

struct FileNode {
    Vec3 c;
    double r = 0, angle = 0;
    Vec3 dir;
    int first = -1, count = 0;
};

struct TreeFile {
    std::string kind;
    long declaredNodes = -1, declaredLeaves = -1;
    std::vector<FileNode> nodes;
};

/// Parses the file; returns an empty string or the first problem found.
std::string ReadTree(const std::string& path, TreeFile& out);
/// Checks every structural rule of the format; returns the first violation or "".
std::string ValidateTree(const TreeFile& t);

/// Distance to the nearest triangle, by looping over all of them.
double BruteDistance(const spheres::TriMesh& m, const Vec3& p, Vec3* outClosest = nullptr);
/// Generalised winding number (solid-angle sum / 4 pi): ~1 inside, ~0 outside.
double WindingNumber(const spheres::TriMesh& m, const Vec3& p);

std::string ModelsDir();
std::string ReadAll(const std::string& path);

}  // namespace toolstest
