#pragma once
// Scenes only the collision benchmarks use, built on the shared random trees and poses.

#include <string>

#include "scenes.h"

namespace colscene {

/// Spheres on a cubic grid filling the ellipsoid with semi-axes a, b, c, staying inside it.
std::vector<Sphere> ellipsoidFill(float a, float b, float c, int cellsAcross);

/// Objects on a jittered cubic lattice inside a box container: about 55% volume fraction with
/// small overlaps between neighbours. Index 0 is the container.
struct PackedScene {
    std::vector<std::unique_ptr<col::ExtraData_SphereTree>> trees;  // [0] container, then shapes
    std::vector<col::ColGeometry> geoms;                            // per object
    std::vector<Matrix4> poses;
    float halfBox = 0;
};
PackedScene packedScene(std::mt19937& rng, int objects, int leavesAcross = 8);

/// Poses of two copies of one tree as neighbours in a packing: random orientations, the second
/// object moved along a random direction to where the leaf spheres just touch, then pushed in by
/// a share of `diameter` drawn from [minShare, maxShare] (negative values leave a gap).
struct NeighbourPose {
    Matrix4 pose1, pose2;
};
std::vector<NeighbourPose> neighbourPoses(const col::SphereTree& tree, float diameter, int count, std::mt19937& rng,
                                          float minShare = -0.005f, float maxShare = 0.02f);

/// A placement file the program wrote: per object its type and model matrix (translation x
/// rotation x scale). Unreadable lines are skipped.
struct Packing {
    std::vector<int> types;
    std::vector<Matrix4> poses;
};
Packing loadPacking(const std::string& path);

/// The mesh the program loads for a bundled model (models/NAME_l.obj if there is one, else
/// models/NAME.obj), with its polygons fanned into triangles. False when it cannot be read.
bool loadModelMesh(const std::string& name, col::ColGeometry& outGeom, std::vector<std::vector<unsigned>>& outTris);

/// Neighbours of a packing: the pose pairs of objects whose trees' enclosing spheres (radius
/// `radius`, about the model origin) overlap.
std::vector<NeighbourPose> packingNeighbours(const Packing& packing, float radius);

}  // namespace colscene
