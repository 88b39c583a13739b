#pragma once
/// @file SphereTree.h
/// Immutable hierarchy of spheres bounding one object, in the object's model frame.
///
/// Nodes live in one flat array; node 0 is the root and the children of a node are the
/// contiguous nodes [firstChild, firstChild + childCount). Besides the public node records the
/// tree keeps structure-of-arrays copies of the fields the overlap traversal reads, so one SIMD
/// test culls four siblings at once. A tree is shared read-only by many objects, pipelines and
/// threads; only checkDistance writes (its two per-query fields).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "collision/CullTree.h"
#include "vectormath/vectormath_aos.h"

namespace col {

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

struct Data;
class TriangleTree;

/// What a callback's intersection lists hold. The overlap value is the same at every level.
enum LevelOfDetectionE {
    LEVEL_BV = 0,    ///< like LEVEL_ALL (kept for callers that name it)
    LEVEL_HULL = 1,  ///< like LEVEL_ALL
    /// The contact pairs: overlapping leaf pairs whose lens volume is at least kContactShare of
    /// the largest lens volume of the two objects. Trees packed with one large sphere and many tiny
    /// ones near the surface otherwise drown the deep contacts in slivers, and a rule that sums one
    /// unit normal per pair then points the wrong way.
    LEVEL_CONTACT = 2,
    LEVEL_ALL = 3  ///< every overlapping leaf pair
};

/// Share of the largest lens volume that a LEVEL_CONTACT pair reaches.
inline constexpr float kContactShare = 0.5f;

/// One node of a sphere tree, model frame.
struct SphereNode {
    Point3 center;              ///< 16 bytes (x, y, z, pad)
    float radius = 0;           ///< > 0
    Vector3 direction;          ///< unit mean outward surface normal near the node's spheres, or (0,0,0)
    float angle = 3.14159265f;  ///< half-angle of the normal cone in radians, pi when no surface is near
    int32_t firstChild = -1;    ///< -1 for leaves
    int32_t childCount = 0;     ///< 0 for leaves

    bool isLeaf() const { return childCount == 0; }
};
// center 16 + radius 4 + pad 12 + direction 16 + angle 4 + first 4 + count 4 + pad 4 = 64 bytes.
static_assert(sizeof(SphereNode) == 64, "SphereNode is meant to fill one cache line");

enum class SphereTreeKind { Object, Container };

class SphereTree {
 public:
    SphereTree();
    ~SphereTree();
    SphereTree(SphereTree&&) noexcept;
    SphereTree& operator=(SphereTree&&) noexcept;

    /// Builds from a node array that already satisfies the structural rules of the ".spheres"
    /// format (see SpheresFile.h, which checks them); an empty array gives the empty tree.
    explicit SphereTree(std::vector<SphereNode> nodes, SphereTreeKind kind = SphereTreeKind::Object);

    bool empty() const { return m_nodes.empty(); }
    const std::vector<SphereNode>& nodes() const { return m_nodes; }
    const SphereNode& node(int i) const { return m_nodes[static_cast<size_t>(i)]; }
    int leafCount() const { return m_leafCount; }
    SphereTreeKind kind() const { return m_kind; }

    /// Exact mesh distance between the meshes bound to this tree (object 1) and `other` (object 2).
    /// The pose comes from data->m12 (object 1's model frame into object 2's), or the inverse of
    /// data->m21, or identity when neither is marked set. Returns the distance, 0 when the meshes
    /// touch or intersect; fills data->distance and data->closestTri1/closestTri2, both in object
    /// 2's model frame. Without a bound mesh on either side it falls back to the leaf-sphere
    /// distance (min |c1 - c2| - r1 - r2 in object 2's frame, clamped at 0) and sets
    /// data->hasClosestTriangles = false. An empty tree gives +infinity.
    float checkDistance(const SphereTree* other, Data* data);

    float m_distanceBound = 0;  ///< best bound of the last distance query; the caller zeroes it
    int m_visitCount = 0;       ///< nodes visited by the last distance query; the caller zeroes it

    /// Overlap traversal view: structure-of-arrays over all nodes, padded by four dummy nodes so a
    /// 4-wide load at any child range stays inside the arrays. cullRadius of an inner node is
    /// recomputed on load so that it truly encloses its subtree; leaves keep their exact radius.
    struct Soa {
        std::vector<float> cx, cy, cz, cullRadius;
        std::vector<int32_t> first, count;
        std::vector<uint32_t> leafMask;   ///< all bits set for leaves, used to pick the leaf radius factor
        std::vector<uint8_t> leafParent;  ///< 1 for inner nodes whose children are all leaves
    };
    const Soa& soa() const { return m_soa; }
    /// The hierarchy the overlap traversal walks (see CullTree.h).
    const CullTree& cull() const { return m_cull; }
    /// Upper bound of the traversal stack one side of a pair query can contribute.
    int stackBound() const { return m_stackBound; }
    int maxChildren() const { return m_maxChildren; }
    /// Root radius that encloses every leaf sphere (recomputed, >= the stored root radius).
    float enclosingRadius() const { return m_soa.cullRadius.empty() ? 0.0f : m_soa.cullRadius[0]; }

    void setMesh(std::shared_ptr<const TriangleTree> mesh) { m_mesh = std::move(mesh); }
    const TriangleTree* mesh() const { return m_mesh.get(); }

 private:
    void buildSoa();
    float leafDistance(const SphereTree& other, const Matrix4& m12);

    std::vector<SphereNode> m_nodes;
    Soa m_soa;
    CullTree m_cull;
    SphereTreeKind m_kind = SphereTreeKind::Object;
    int m_leafCount = 0;
    int m_stackBound = 1;
    int m_maxChildren = 0;
    std::shared_ptr<const TriangleTree> m_mesh;
};

}  // namespace col
