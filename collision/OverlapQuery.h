#pragma once
/// @file OverlapQuery.h
/// Pair query: every overlapping leaf-sphere pair of two posed sphere trees.
///
/// Two leaf spheres overlap when |c1' - c2'| < r1' + r2' (strict: touching is not overlap), with
/// c' = X_W * c (the full model matrix, which may carry a uniform scale k) and r' = r * k * s, s
/// the geometry scale value: an object drawn at half size collides at half size, and s is a
/// further factor on the radii alone (1 unless a caller wants a margin). The traversal runs in
/// tree 1's model frame, descends the larger node of each pair with a fixed stack and reports
/// pairs in traversal order (deterministic for given inputs).

#include <cstdint>
#include <vector>

#include "collision/Data.h"

namespace col {

/// A model matrix whose first column is this close to unit length is unscaled: a rotation's
/// columns miss 1 by float rounding, and by up to about 1e-6 when read back from a placement
/// file's six digits.
constexpr float kUnitScaleTolerance = 1e-5f;

/// Intersection volume of two spheres at centre distance d: 0 when d >= r1 + r2, the smaller
/// sphere's volume when one contains the other, else the lens formula.
float lensVolume(float d, float r1, float r2);

/// A tree in a pose, precomputed once per object and check.
struct PosedTree {
    const SphereTree* tree = nullptr;
    float toWorld[12] = {};    ///< rows of the 3x4 model-to-world matrix
    float fromWorld[12] = {};  ///< rows of its inverse
    float modelScale = 1;      ///< uniform scale k of the model matrix (length of its first column)
    float geomScale = 1;       ///< geometry scale value s
    /// k * s: world length of a unit tree radius. k within kUnitScaleTolerance of 1 counts as 1,
    /// so an unscaled pose keeps the tree's radii exactly.
    float radiusScale = 1;

    void set(const SphereTree* t, const Matrix4& X_WM, float geometryScale);
    /// Centre of the bounding sphere of all leaf spheres in world coordinates, and its radius.
    void worldSphere(float outCentre[3], float& outRadius) const;
};

struct OverlapResult {
    std::vector<SphereIntersectionData> intersections;  ///< sphere 1 of tree 1, sphere 2 of tree 2
    std::vector<NodePair> nodePairs;                    ///< same order
    std::vector<float> lensVolumes;                     ///< per pair, world units^3, same order
    /// Summed lens volumes, world units^3. Against a container tree, whose leaves overlap one
    /// another, see containerOverlap().
    float overlap = 0;
    int visited = 0;  ///< node pairs taken off the stack (cost measure)
    void clear() {
        intersections.clear();
        nodePairs.clear();
        lensVolumes.clear();
        overlap = 0;
        visited = 0;
    }
};

/// Reusable traversal stack; grows only when a deeper pair of trees shows up.
class OverlapScratch {
 public:
    struct Entry {
        int32_t a, b;      ///< cull-tree references: >= 0 inner node, < 0 leaf ~index
        float bx, by, bz;  ///< centre of b's sphere in tree 1's frame
    };
    Entry* reserve(size_t n) {
        if (m_stack.size() < n) m_stack.resize(n);
        return m_stack.data();
    }

 private:
    std::vector<Entry> m_stack;
};

/// Which overlapping leaf pairs a query must find.
enum class PairSet {
    All,  ///< every pair; `overlap` sums all of them (containerOverlap() against a container)
    /// At least the pairs selectContacts() keeps, in the same order, so that selectContacts()
    /// gives the same list as after All. Node pairs whose every leaf pair must stay below
    /// kContactShare of the largest lens found so far are not opened, and such leaf pairs are
    /// not reported; `overlap` sums only the pairs reported. Where many leaves of each tree overlap
    /// one another (covers), two penetrating objects have thousands of small pairs and few contacts.
    Contacts,
};

/// Clears `out` and fills it with the overlapping leaf pairs `want` asks for. Empty trees overlap
/// nothing.
void queryOverlap(const PosedTree& t1, const PosedTree& t2, OverlapScratch& scratch, OverlapResult& out,
                  PairSet want = PairSet::All);

/// Overlap of an object with a container from the pairs in `r` (the container is tree 1 when
/// `containerFirst`): per object leaf, the largest lens volume among container leaves with
/// about the same wall normal (they overlap one another along a wall, so summing them counts the
/// same volume several times), summed over the distinct walls and capped at the leaf's volume.
float containerOverlap(const OverlapResult& r, bool containerFirst);

/// Copies into `out` the pairs of `all` whose lens volume reaches kContactShare of the largest,
/// in their order; the overlap value is copied unchanged.
void selectContacts(const OverlapResult& all, OverlapResult& out);

/// Convenience form for tests and tools.
void queryOverlap(const SphereTree* tree1, const Matrix4& X_W1, float scale1, const SphereTree* tree2,
                  const Matrix4& X_W2, float scale2, OverlapResult& out);

}  // namespace col
