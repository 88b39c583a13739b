#pragma once
/// @file TestAlgorithm.h
/// One-object-at-a-time variant of the batch heuristics: for each type in list order it drops
/// single new objects into the packing shrunk to half size and grows the packing back while
/// pushing the objects outwards. Each type gets three growth attempts; an object that fails its
/// third is removed (with the packing put back as it was before it) and the next type begins.

#include <list>
#include <vector>

#include "algorithms/improvement/BatchHeuristic.h"

class TestCallback;

class TestAlgorithm : public WithCallback<TestAlgorithm, BatchHeuristic, TestCallback> {
 public:
    static bool M_overlapConverged;

    using WithCallback::WithCallback;

    /// A parked object of type `typeIndex`, registered in both pipelines.
    MovingObject* CreateObject(col::CollisionPipeline* main, col::CollisionPipeline* placement, int typeIndex);
    /// The packing at half size, the batch dropped with the container
    /// inactive; false when the object finds no place.
    bool InsertObjects();
    /// Gathering towards the centre, then growth to full size in steps of 0.66 dt while pushing
    /// outwards; false when scale 1 is not reached within 60 steps.
    bool Optimize(float dt);
    /// The types in list order, three attempts each.
    void ForceApproach() override;
};

/// Records the pair's intersection list and adds the reported overlap to both objects.
class TestCallback : public OverlapCallback<&TestAlgorithm::M_overlapConverged> {
 public:
    using OverlapCallback::OverlapCallback;
};
