#pragma once
// Object cover mode: overlapping balls inside a closed mesh that together hold every point lying
// deeper than a tolerance below the surface. Two objects whose leaves do not overlap can then
// cross by at most about twice that depth: a point inside both meshes that is deeper than the
// limit in both would lie in a leaf of each.
//
// Leaves: every leaf is an inscribed ball. Its centre is rounded to float first, and its radius is
// the depth of that centre (exact distance to the surface) times (1 - 1e-6), rounded down to a
// float, so the leaf as written lies inside the mesh (protrusion <= 0 up to double rounding).
//
// Construction, a greedy set cover:
//  - Targets: the points of a grid of spacing e = limit / 2 in a layer of depth e*sqrt(3) just
//    under the level limit - e/4 (found by descending an octree), each moved along its distance
//    ray onto that level.
//  - Candidates: the medial ball of a point p, the largest inscribed ball that touches the surface
//    at p's closest point (its centre moves from there through p until the depth stops growing).
//    Seeds are every third grid point along each axis of the layer.
//  - The candidate holding the most uncovered targets is taken next (lazy re-evaluation); targets
//    no candidate holds contribute their own medial balls.
// Check, sound on cells: an octree descends from the mesh's bounding cube; a cell is done when its
// centre depth plus its half-diagonal is at most the limit (no point of it is deeper), or when one
// leaf holds the cell's eight corners. Cells left at edge e / 8 fail; they become targets of the
// next round (a level with more than a million open cells stops the check early, and their
// centres become the targets). The cover is accepted when no cell fails: then every point deeper
// than the limit lies in some leaf, up to the rounding of the distance computations.
//
// Sharp edges and corners: the uncovered region reaches sqrt(2) times the limit from a
// right-angled edge and sqrt(3) times from a cube's vertex; two edges crossing, or a corner
// pressed into a face, cross by that much more than two faces do. With an edge or corner
// tolerance, further passes started from the leaves so far cover the region within the feature
// radius of every sharp edge, then of every sharp corner, to those smaller limits; their targets
// and check are those of the whole mesh restricted to that region.
#include <utility>
#include <vector>

#include "MeshDistance.h"

namespace spheres {

struct ObjectCoverSettings {
    double tolerance = 0.01;  ///< depth limit relative to the thickness (smallest box extent)
    /// Depth limits within the feature radius of a sharp edge and of a sharp corner, relative to
    /// the thickness; 0, or not below the limit before: no such pass.
    double edgeTolerance = 0.0;
    double cornerTolerance = 0.0;
    double featureRadius = 0.06;  ///< relative to the thickness
    int maxSpheres = 2000;        ///< leaf cap; the cover stops there even when the limit is not met
    int threads = 1;
};

struct CoverCheck {
    double thickness = 0.0;      ///< smallest extent of the mesh's bounding box
    double depthLimit = 0.0;     ///< tolerance * thickness
    bool met = false;            ///< every point deeper than depthLimit lies in some leaf
    long failingCells = 0;       ///< finest check cells deeper than the limit that no single leaf holds
    double failingDepth = 0;     ///< largest depth bound among those cells (0 when met)
    double deepestSample = 0.0;  ///< deepest uncovered cell centre the check evaluated
    Vec3 deepestPoint;
};

/// Convex features whose deep region starts farther away than a face's: the nearest point lying
/// at depth 1 below every incident face plane is more than 1.2 away for an edge (a right angle:
/// sqrt(2)) and more than 1.5 for a vertex (a cube's: sqrt(3); a right-angled edge's vertices
/// sqrt(2)). Smooth or finely faceted surfaces have none.
struct SharpFeatures {
    std::vector<Vec3> corners;
    std::vector<std::pair<Vec3, Vec3>> edges;
};
SharpFeatures FindSharpFeatures(const TriMesh& mesh);

struct ObjectCover {
    std::vector<Sphere> spheres;        ///< leaves in the order taken
    CoverCheck check;                   ///< of the final leaves
    int rounds = 0;                     ///< construction rounds (1 when the first check passed)
    SharpFeatures features;             ///< refined features (an empty list when its pass did not run)
    CoverCheck edgeCheck, cornerCheck;  ///< of the final leaves near the features, to their limits
};

ObjectCover CoverObject(const MeshDistance& mesh, const ObjectCoverSettings& settings);

struct CoverSample {
    double share = 0.0;           ///< share of random interior points inside some leaf
    double deepestUncovered = 0;  ///< depth of the deepest interior sample outside every leaf
    Vec3 deepestPoint;
};

/// Monte Carlo over the mesh's bounding box with a fixed seed (the same at any thread count).
CoverSample SampleCoverage(const MeshDistance& mesh, const std::vector<Sphere>& spheres, int samples, int threads);

/// Largest amount by which a leaf reaches out of the mesh: max of radius - depth of the centre.
double WorstProtrusion(const MeshDistance& mesh, const std::vector<Sphere>& spheres, int threads);

}  // namespace spheres
