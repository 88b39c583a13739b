#pragma once
/// @file CullTree.h
/// The hierarchy the overlap traversal actually walks: rebuilt at load time over a tree's leaf
/// spheres, four children per node, each node's sphere enclosing exactly the leaves below it.
///
/// A ".spheres" file's own inner nodes enclose their children within a tolerance and are
/// clustered for whatever tool wrote them; on the bundled trees (one large sphere among
/// thousands of small ones, fan-out 8) the traversal at touching poses tested about twice as many
/// sphere pairs as it does on this rebuilt hierarchy. Leaves keep pointing at the file's nodes,
/// which are what callers receive.

#include <cstdint>
#include <vector>

namespace col {

struct SphereNode;

struct CullTree {
    /// Four children side by side, so one 4-wide test culls them all. Each child is bounded by
    /// a sphere and by the model-frame box of its leaf spheres: near a touching neighbour the box
    /// cuts off what the sphere bulges beyond a flat or gently curved patch of leaves, which
    /// halves the node pairs opened on the bundled cube at packing poses.
    struct alignas(16) Node {
        float cx[4], cy[4], cz[4], r[4];  ///< child spheres, model frame; unused lanes have NaN centres
        float lo[3][4], hi[3][4];         ///< child boxes (x, y, z rows), model frame; NaN in unused lanes
        int32_t child[4];                 ///< >= 0 inner node, < 0 leaf ~index into the leaf arrays
    };
    // 4 x 16 bytes of spheres + 6 x 16 bytes of boxes + 16 bytes of child references.
    static_assert(sizeof(Node) == 176, "node of the cull tree: 176 bytes");

    std::vector<Node> nodes;  ///< node 0 is the root unless the tree is a single leaf
    /// Own sphere of every inner node (the sphere its parent's lane holds).
    std::vector<float> nx, ny, nz, nr;
    /// Largest leaf radius below every inner node: with the node spheres it bounds the lens
    /// volume of any leaf pair below a node pair.
    std::vector<float> nm;
    /// Box of the leaf spheres below every inner node, model frame: centre then half extents
    /// (6 floats a node, rounded outwards). Near a flat face the leaves fill a thin slab that
    /// the node's sphere bulges far beyond; two such boxes bound the depth of any leaf pair.
    std::vector<float> nbox;
    /// Inner nodes whose box is thin against their sphere (a patch of a flat face): only there
    /// does the box pair test pay for itself; round patches are culled as well by the spheres.
    std::vector<uint8_t> nflat;

    /// Support of all leaf spheres, h(d) = max over leaves of (c.d + |d| r), at the corners of a
    /// cube map of directions (kSupportCells a side, faces +x -x +y -y +z -z), rounded up; empty
    /// for a single leaf. The support function is convex and positively homogeneous, so its value
    /// between corners is bounded by interpolating theirs: supportBound().
    static constexpr int kSupportCells = 16;
    std::vector<float> support;
    /// True when the leaves fill their box no better than a ball does (its corners stick out
    /// beyond the support along the diagonals): there a separating axis other than the box's
    /// may prove two trees apart where the boxes cannot.
    bool rounded = false;
    /// An upper bound on h(d) for any d != 0 (model frame); needs a non-empty `support`.
    float supportBound(float x, float y, float z) const;
    /// Leaf spheres in traversal order and the index of each in the file's node array.
    std::vector<float> lx, ly, lz, lr;
    std::vector<int32_t> leafNode;
    int32_t root = 0;  ///< reference of the root: 0, or ~0 when the tree is one leaf
    float rootX = 0, rootY = 0, rootZ = 0, rootR = 0;
    /// Model-frame box of all leaf spheres, rounded outwards.
    float rootLo[3] = {0, 0, 0}, rootHi[3] = {0, 0, 0};
    int depth = 0;  ///< inner levels on the longest root-to-leaf path

    bool empty() const { return leafNode.empty(); }
    /// Builds over the leaves of `file` (a valid node array, root at 0); empty input, empty tree.
    void build(const std::vector<SphereNode>& file);

    /// Clearance grid of a container: per cell of a regular grid over the leaves' box, the gap
    /// between the cell's centre and the nearest leaf sphere (model frame, rounded down). Most
    /// objects of a packing sit away from the walls; one look-up proves that their bounding
    /// sphere meets no wall leaf, where the traversal opened about a hundred node pairs to find
    /// nothing.
    struct Clearance {
        float lo[3] = {0, 0, 0};
        float invCell = 0;  ///< cells per model unit; 0 when there is no grid
        int n[3] = {0, 0, 0};
        std::vector<float> gap;  ///< x fastest

        /// Lower bound on the gap at p (the centre's gap less the distance to it; the gap changes
        /// no faster than the point moves), or -infinity outside the grid.
        float at(float x, float y, float z) const;
    };
    Clearance clearance;
    /// Builds `clearance` with at most `maxCells` cells along the longest side.
    /// Coarse on purpose: each cell is a tree search, and 64 cells a side cost a second at load.
    void buildClearance(int maxCells = 16);
};

}  // namespace col
