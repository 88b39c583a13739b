#pragma once
/// @file Separation.h
/// The separation rule the construction heuristics' callbacks push overlapping pairs apart with:
/// a unit push along the mean direction between the overlapping sphere pairs, wall directions from
/// the sphere-tree normal cones for contacts with the container, and a fixed spin step.

namespace col {
struct Data;
}
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

}  // namespace Packing
