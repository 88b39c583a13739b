#pragma once
/// @file Separation.h
/// The separation rule the construction heuristics' callbacks push overlapping pairs apart with:
/// a unit push along the mean direction between the overlapping sphere pairs, wall directions from
/// the sphere-tree normal cones for contacts with the container, and a fixed spin step.

#include <vector>

#include "collision/Callback.h"
#include "collision/Data.h"
#include "vectormath/vectormath_aos.h"

class MovingObject;

namespace Packing {

struct SeparationRule {
    /// A node pair counts for the wall directions only when the first node's cone half-angle is
    /// below this.
    float wallAngle = 0.785398f;
    /// Add the spin step at all; with `spinNeedsNoZero`, only to an object whose torque direction
    /// has no zero component.
    bool spin = true;
    bool spinNeedsNoZero = true;
};

/// Applies the rule to A (the container or the older object) and B (the newer one). Returns false,
/// after printing "IsecData was NULL!", for a report without intersections: the pair then does not
/// count as an overlap. Otherwise the caller's flag must be cleared (the pair overlapped); the rule
/// also sets both objects' m_overlap to the reported overlap.
bool Separate(MovingObject& A, MovingObject& B, const col::Data* data, const SeparationRule& rule);

/// Base of the construction callbacks: the pair's two objects, registered by their current ids.
class PairCallback : public col::Callback {
 public:
    /// `a` is the container or the older object, `b` the newer one.
    PairCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level);

 protected:
    MovingObject& m_a;
    MovingObject& m_b;
};

/// Where and along which direction a reported pair overlaps, seen from A.
struct Contact {
    /// Mean unit direction from B's sphere centres towards A's over the usable pairs (both radii
    /// above 1e-7, distinct world centres), normalised; zero when no pair is usable.
    Vectormath::Aos::Vector3 direction;
    /// Sum of the usable pairs' two world centres over twice the number of entries (unusable
    /// entries count in the divisor).
    Vectormath::Aos::Vector3 point;
    int usablePairs = 0;
};
Contact ContactOf(const MovingObject& A, const MovingObject& B, const std::vector<col::SphereIntersectionData>& list);

/// The body-frame turn directions an impulse along the contact direction gives A and B:
/// I^-1 (r x J) with r from each object's position to the contact point. Not normalised; zero
/// for a push through the centre or a zero direction.
struct TurnDirections {
    Vectormath::Aos::Vector3 a, b;
};
TurnDirections TurnsOf(const MovingObject& A, const MovingObject& B, const Contact& contact);

}  // namespace Packing
