#pragma once
/// @file ObjectPose.h
/// Pose chores every heuristic repeats: moving an object while keeping its position, translation
/// and model matrix in step, parking it far away, random and canonical orientations, scaling, and
/// the box inertia of a newly made object.

#include "vectormath/vectormath_aos.h"

class MovingObject;

namespace col {
class CollisionPipeline;
}

namespace Packing {

/// m_modelMatrix = translation * rotation * scale.
void RebuildModel(MovingObject& o);
/// m_position and the translation column (the model matrix is not rebuilt).
void SetPosition(MovingObject& o, const Vectormath::Aos::Vector3& p);
/// Far outside any container: three draws of randMToN(500, 50000), then the model is rebuilt.
void Park(MovingObject& o);

/// v / |v|, or v itself when its length is 0.
Vectormath::Aos::Vector3 SafeNormalize(const Vectormath::Aos::Vector3& v);
/// True when no component is zero; a NaN component counts as non-zero.
bool NoZeroComponent(const Vectormath::Aos::Vector3& v);
/// A unit vector from three randMToN(-1, 1) draws, normalised (zero when all three are 0).
Vectormath::Aos::Vector3 RandomDirection();
/// The random orientation of a new object: an axis from three randMToN(-1, 1) draws, normalised,
/// and an angle drawn with randMToN(0, 359) and used as radians.
Vectormath::Aos::Matrix4 RandomRotation();

/// One orientation of the fixed search order: an axis and an angle in radians.
struct Orientation {
    Vectormath::Aos::Vector3 axis;
    float angle;
};
/// The six canonical turns tried after the first orientation: 0.78539 and 1.5708 radians about
/// z, then x, then y.
extern const Orientation kCanonicalTurns[6];
/// The rotation the type's remembered angle and axis give (MovingObject::m_angle, m_rotDir).
Vectormath::Aos::Matrix4 RememberedRotation(int typeIndex);
/// Stores an orientation as the type's remembered one.
void RememberRotation(int typeIndex, const Orientation& o);

/// Moves `o` to its model matrix in `pipeline`, sets `flag` = true and checks: true when no
/// callback cleared the flag, i.e. nothing overlapped.
bool CheckFree(col::CollisionPipeline* pipeline, MovingObject& o, bool& flag);

/// The type's remembered orientation as an axis and an angle.
Orientation RememberedOrientation(int typeIndex);
/// Adds 0.0001 to the x of the position (the translation follows) and rebuilds the model, so
/// successive orientation tries never test the same pose twice.
void Nudge(MovingObject& o);
/// The orientation search: `first`, then the first `turns` canonical turns. Each try replaces the
/// rotation, nudges the object (the nudges add up) and checks it in `pipeline`; the first free try
/// is remembered for the type and ends the search (true). Otherwise the object keeps the last try
/// and `flag` is false.
bool TryOrientations(col::CollisionPipeline* pipeline, MovingObject& o, bool& flag, const Orientation& first,
                     int turns);

/// Box inertia of the object's bounding box (half extents a, b, c; inverse mass m standing for
/// the mass): diagonal 3/(m(b^2+c^2)), 3/(m(a^2+c^2)), 3/(m(a^2+b^2)); m_impulseScale 5.0.
void SetBoxInertia(MovingObject& o);

/// Uniform scale s times the object's size factor on the scale matrix's diagonal, so 1 is the
/// object's own full size: once the model is rebuilt the object collides at that size, sphere
/// centres and radii alike (the geometry's own scale value stays as it is, so nothing is scaled
/// twice). The model is not rebuilt.
void ScaleObject(MovingObject& o, float s);
/// The object's uniform scale relative to its size factor (what ScaleObject was given).
float ScaleOf(const MovingObject& o);

}  // namespace Packing
