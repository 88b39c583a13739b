#pragma once
/// @file ShellVolume.h
/// How much of an object's volume lies in the shell between a container's wall and a copy of the
/// container shrunk about its model origin, measured on the exact meshes (not on the sphere trees,
/// whose leaves may overlap one another and leave a layer under the surface uncovered).

#include <cstddef>
#include <vector>

#include "collision/ExactMesh.h"
#include "vectormath/vectormath_aos.h"

namespace Packing {

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;

/// Points that stand for a closed mesh's volume: one point at a seeded random place in every cell
/// of a grid over the mesh's bounding box, kept when the mesh contains it (stratified sampling).
/// Each point weighs the mesh volume over their number, so all of them sum to that volume exactly.
/// The points are grouped in bricks of neighbouring cells, each with an enclosing ball.
struct VolumeSamples {
    struct Brick {
        Point3 centre;     ///< model frame
        float radius = 0;  ///< encloses the brick's points
        size_t first = 0, count = 0;
    };
    std::vector<Point3> points;  ///< model frame, brick by brick
    std::vector<Brick> bricks;
    Point3 centre = Point3(0.0f);  ///< with `radius`, a ball holding every point
    float radius = 0;
    double weight = 0;  ///< volume per point, model units^3
};

/// About `target` points (at least one cell per axis) standing for `volume`, the mesh's own
/// volume; an empty mesh, or one that contains none of the points, gives none (and weight 0).
/// The same mesh gives the same points on every run.
VolumeSamples SampleVolume(const col::ExactMesh& mesh, double volume, size_t target);

/// The region inside a container and outside its copy shrunk by s about the container's model
/// origin. Points on either wall may count either way.
class Shell {
 public:
    /// `X_WC` poses the container (a rigid motion: its scale is not applied); 0 < s < 1.
    Shell(const col::ExactMesh& container, const Matrix4& X_WC, float s);

    bool contains(const Point3& p_W) const;

    /// Volume of the object inside the shell, world units^3, from its samples posed by X_WO
    /// (translation * rotation * uniform scale k: each point then weighs k^3 as much). Only the
    /// points of bricks whose ball reaches across a wall of the shell are tested one by one.
    double objectVolume(const VolumeSamples& samples, const Matrix4& X_WO) const;

 private:
    enum class Side { Inside, Outside, Across };
    /// p_C in the container's model frame.
    bool inside(const Point3& p_C) const;
    /// Where the ball (container's model frame) lies against the container's wall.
    Side side(const Point3& c_C, float r) const;

    const col::ExactMesh& m_container;
    bool m_planes;        ///< inside tests by the convex container's face planes
    Matrix4 m_fromWorld;  ///< world into the container's model frame
    float m_s;
};

}  // namespace Packing
