#pragma once
/// @file Data.h
/// What a callback receives for one overlapping pair, and the in/out record of distance queries.

#include <vector>

#include "collision/SphereTree.h"

namespace col {

class ColGeometry;

/// One overlapping leaf-sphere pair.
struct SphereIntersectionData {
    Point3 center1;  ///< sphere of the callback's FIRST object, its model frame
    float radius1;   ///< world units: tree radius x the model matrix's scale x the geometry scale
    Point3 center2;  ///< sphere of the SECOND object, its model frame
    float radius2;
};

/// The overlapping leaf nodes, same order as the intersection list.
struct NodePair {
    const SphereNode* node1;
    const SphereNode* node2;
};

struct Data {
    Data();
    Data(ColGeometry* geomA, ColGeometry* geomB);

    ColGeometry* geom1 = nullptr;
    ColGeometry* geom2 = nullptr;
    /// Owned by the pipeline, valid until that pipeline's next check.
    std::vector<SphereIntersectionData>* sphereIntersections = nullptr;
    /// Same order and lifetime; a callback may clear()/shrink_to_fit() it.
    std::vector<NodePair>* nodePairs = nullptr;
    /// Summed lens volume of all overlapping leaf pairs, world units^3.
    float overlap = 0;

    // distance query
    Matrix4 m12, m21;  ///< m12 maps object 1's model frame into object 2's; m21 its inverse
    bool m12Specified = false, m21Specified = false;
    float distance = 0;
    Point3 closestTri1[3], closestTri2[3];  ///< both in object 2's model frame
    bool hasClosestTriangles = false;

    int id1 = -1, id2 = -1;  ///< pipeline ids of the pair during a callback
};

}  // namespace col
