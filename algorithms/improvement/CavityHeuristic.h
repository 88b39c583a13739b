#pragma once
/// @file CavityHeuristic.h
/// What the two cavity-filling heuristics share: one parked, ready-made candidate per object
/// type, dropped at interior points and taken out again when it does not stay.

#include <vector>

#include "algorithms/improvement/ImpulseImprovement.h"

class CavityHeuristic : public ImpulseImprovement {
 public:
    using ImpulseImprovement::ImpulseImprovement;

    /// Gives every type without a candidate a new one: parked, inactive, registered against every
    /// known object; scaled to m_candidateScale unless that is 1.
    void FillUpBuffer();

    /// The candidates by type.
    std::vector<std::vector<MovingObject*>> m_buffer;

 protected:
    /// The candidate of `type`, appended to the placed list at `at`, active in the main pipeline.
    MovingObject* Drop(int type, const Vectormath::Aos::Vector3& at);
    /// Takes the newest placed object (the candidate) out again: parked, off the list, inactive.
    void Reject(MovingObject* c);
    /// The placed poses saved at the last settled relaxation come back and are moved in the
    /// pipeline.
    void RestoreSettled();

    float m_candidateScale = 1.0f;
};
