#pragma once
/// @file PackingCheck.h
/// Checks a packing with the exact meshes, independently of the sphere trees: which object pairs
/// intersect and how deep, and which objects leave the container.

#include <cstddef>
#include <string>
#include <vector>

#include "statistics/CheckMesh.h"

namespace check {

using Vectormath::Aos::Matrix4;

/// The meshes a configuration names, with types in the run's order (largest volume first), so
/// the type indices of a placement file apply.
struct CheckScene {
    std::vector<std::string> typeNames;
    std::vector<CheckMesh> types;
    CheckMesh container;
};

struct PlacedObject {
    int type = -1;
    Matrix4 model = Matrix4::identity();  ///< translation * rotation * scale
};

/// Reads a placement file: per line a type index and three matrices of 16 numbers.
bool LoadPlacement(const std::string& path, size_t typeCount, std::vector<PlacedObject>& outObjects,
                   std::string& outError);

struct PairFinding {
    size_t a = 0, b = 0;    ///< object indices (placement-file line - 1), a < b
    float depth = 0.0f;     ///< deepest sample point of one mesh inside the other, world units
    float relative = 0.0f;  ///< depth / smaller object thickness
};

struct OutsideFinding {
    size_t object = 0;
    float depth = 0.0f;     ///< farthest sample point outside the container, world units
    float relative = 0.0f;  ///< depth / object thickness
};

struct CheckResult {
    size_t objects = 0;
    size_t candidatePairs = 0;  ///< pairs whose enclosing spheres overlap
    /// Pairs whose surfaces meet or where one mesh holds the other; depth 0 means touching.
    std::vector<PairFinding> pairs;
    /// Objects with a sample point outside the container or a surface meeting its wall.
    std::vector<OutsideFinding> outside;
};

CheckResult CheckPacking(const CheckScene& scene, const std::vector<PlacedObject>& objects);

}  // namespace check
