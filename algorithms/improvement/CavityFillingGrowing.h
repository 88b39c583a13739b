#pragma once
/// @file CavityFillingGrowing.h
/// Growing variant of the cavity filling: at every interior point it drops half-size candidates,
/// largest type first, turns each into the orientation with the least overlap and, if one fits
/// without any, grows it back to full size in steps of 1/30 with a relaxation after each. A
/// candidate that cannot grow is taken out with the packing put back as it was, and a type small
/// enough for the gap it found is tried next at the same point.

#include <list>
#include <vector>

#include "algorithms/improvement/CavityHeuristic.h"

class CavGrowingCallback;

class CavityFillingGrowing : public WithCallback<CavityFillingGrowing, CavityHeuristic, CavGrowingCallback> {
 public:
    static bool M_overlapConverged;

    using WithCallback::WithCallback;

    void Init() override;
    /// The point walk; prints "Index: " and the share of the points visited after each point.
    void ImprovementHeuristic() override;
    /// Leaves c in the orientation with the least overlap among its entry one and, for compact
    /// types, six turns towards the canonical ones; c's overlap is that least one.
    void RotateObject(col::CollisionPipeline* pipeline, MovingObject* c);
    /// Relaxation under m_timeLimit; false early when the newest object overlaps by more than
    /// 0.8 of its scaled volume.
    bool Compact();

    IsecMatrix* m_growIsecMatrix = new IsecMatrix();
    float m_startScale = 0.5f;
    float m_targetScale = 1.0f;
    float m_growRate = 1.0f;
    float m_timeLimit = 5.0f;
    int m_indexStep = 1;

 private:
    /// Grows the dropped candidate; the scale reached when a relaxation failed, or 0 when grown.
    float Grow(MovingObject* c);
    void PrintIndex(int index, int count) const;
};

/// Records the pair's intersection list into the growing matrix, adds the reported overlap to
/// both objects and releases the node pairs it does not need.
class CavGrowingCallback : public OverlapCallback<&CavityFillingGrowing::M_overlapConverged, true> {
 public:
    using OverlapCallback::OverlapCallback;
};
