#pragma once
// The committed trees as the collision library reads them (it checks the format's structural
// rules), and an independent brute-force point-mesh oracle.
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
    std::string kind;  ///< "object" or "container"
    std::vector<FileNode> nodes;
};

/// Loads the file with the collision library; returns an empty string or its error.
std::string ReadTree(const std::string& path, TreeFile& out);

/// Distance to the nearest triangle, by looping over all of them.
double BruteDistance(const spheres::TriMesh& m, const Vec3& p, Vec3* outClosest = nullptr);
/// Generalised winding number (solid-angle sum / 4 pi): ~1 inside, ~0 outside.
double WindingNumber(const spheres::TriMesh& m, const Vec3& p);

std::string ModelsDir();

}  // namespace toolstest
