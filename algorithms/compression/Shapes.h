#pragma once
/// @file Shapes.h
/// What the compression collides: every object type as a convex shape and the container's wall,
/// both tested exactly on the meshes (no sphere trees), so a packing the compression accepts has
/// no overlapping meshes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "collision/ConvexShape.h"
#include "collision/ExactMesh.h"
#include "vectormath/vectormath_aos.h"

namespace col {
class ColGeometry;
}

namespace Packing::compression {

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Quat;
using Vectormath::Aos::Vector3;

/// One object as the compression moves it: centre, orientation (unit quaternion and its matrix),
/// type and its own size factor. It is tested at the run's common scale times that factor.
struct Body {
    Vector3 position;
    Quat orientation = Quat::identity();
    Matrix3 rotation = Matrix3::identity();
    int32_t type = 0;
    float size = 1.0f;
};

/// Per type its exact mesh, and its convex shape when the mesh is convex. The container: its exact
/// mesh, with a grid that keeps per cell a lower bound of the clearance to the wall and, for a
/// convex container, the face planes within reach of an object in the cell.
class Shapes {
 public:
    /// False with `outError` set when a type's mesh or the container's has no triangle.
    /// `largestSize` holds per type the largest size factor of its bodies (empty: all 1); the
    /// wall grid and MaxOuterRadius() cover it.
    bool Build(const std::vector<const col::ColGeometry*>& types, const col::ColGeometry& container,
               std::string& outError, const std::vector<float>& largestSize = {});

    /// Every test below takes each body at `scale` times its own size factor.
    /// Whether the two bodies' meshes intersect at `scale`; touching counts as overlapping. Two
    /// convex meshes by GJK, any other pair by the triangle trees and an inside test.
    bool Overlap(const Body& a, const Body& b, float scale) const;
    /// The same, remembering what helps the next test of this pair in `ioCache` (convex pairs).
    bool Overlap(const Body& a, const Body& b, float scale, col::ConvexPairCache& ioCache) const;
    /// Whether a test of these two types gains from a pair cache (two convex meshes that are not both boxes).
    bool Remembers(int typeA, int typeB) const {
        return m_remembers[static_cast<size_t>(typeA) * m_types.size() + static_cast<size_t>(typeB)] != 0;
    }
    /// Whether the body's mesh lies inside the container at `scale` (touching the wall is inside for
    /// a convex container, may go either way for another).
    bool Inside(const Body& b, float scale) const;
    /// How far the body reaches beyond the wall at `scale` (0 when inside): for a convex container
    /// the largest distance of its mesh beyond a wall plane, for another the estimate of
    /// col::exactContainment.
    float Protrusion(const Body& b, float scale) const;

    /// The same types in a copy of `from`'s container scaled by `factor` about its box's centre
    /// (a smaller container of the same shape). The types' meshes are shared with `from`.
    bool BuildScaled(const Shapes& from, float factor, std::string& outError);

    /// A lower bound of how far p lies inside the wall (negative or -infinity outside), from a
    /// grid of cells about one object radius wide.
    float Clearance(const Vector3& p) const;
    /// The volume of the grid cells whose every point lies at least `margin` inside the wall:
    /// the region where Clearance() >= margin.
    double InnerVolume(float margin) const;

    size_t TypeCount() const { return m_types.size(); }
    bool Convex(int type) const { return m_types[static_cast<size_t>(type)]->mesh.convex() != nullptr; }
    /// Whether the type has three body axes a cubatic order follows (a cube, not a sphere or an M&M).
    bool Cubic(int type) const { return m_types[static_cast<size_t>(type)]->cubic; }
    bool ContainerConvex() const { return m_planes != nullptr; }
    /// Whether the container is its axis-aligned bounding box (BoxMin, BoxMax).
    bool ContainerIsBox() const { return m_isBox; }
    /// Largest vertex distance from the model origin at scale 1 and size factor 1.
    float OuterRadius(int type) const { return m_types[static_cast<size_t>(type)]->outer; }
    /// The largest outer radius at scale 1 of any body, at its type's largest size factor.
    float MaxOuterRadius() const { return m_maxOuter; }
    const Vector3& BoxMin() const { return m_lo; }
    const Vector3& BoxMax() const { return m_hi; }

 private:
    struct Type {
        col::ExactMesh mesh;
        float outer = 0.0f;
        bool cubic = false;
    };
    struct WallCell {
        float clearance;  ///< every point of the cell is at least this far inside the wall
        uint32_t first;   ///< convex container: planes m_cellPlanes[first, first + count)
        uint32_t count;
    };
    bool BuildContainer(const std::vector<Vectormath::Aos::Point3>& points,
                        const std::vector<std::vector<unsigned>>& polygons, std::string& outError);
    size_t CellIndex(const Vector3& p) const;
    col::ScaledPose Pose(const Body& b, float scale) const { return {b.rotation, b.position, scale * b.size}; }

    std::vector<std::shared_ptr<const Type>> m_types;
    std::vector<uint8_t> m_remembers;  ///< per ordered type pair: Remembers()
    float m_maxOuter = 0.0f;
    col::ExactMesh m_container;
    std::vector<Vectormath::Aos::Point3> m_containerPoints;  ///< as given, for scaled copies
    std::vector<std::vector<unsigned>> m_containerPolygons;
    const std::vector<col::Plane>* m_planes = nullptr;  ///< the convex container's face planes, else null
    Vector3 m_lo, m_hi;                                 ///< container bounding box
    bool m_isBox = false;
    float m_cellSize = 1.0f;
    float m_invCellSize = 1.0f;
    int m_dims[3] = {1, 1, 1};
    std::vector<WallCell> m_cells;
    std::vector<col::Plane> m_cellPlanes;
};

}  // namespace Packing::compression
