#pragma once
/// @file ShuffleAlgorithm.h
/// Improvement heuristic that adds objects in batches and makes room for them by scaling the
/// container: each batch (5 % of the placed volume) is dropped at random interior points, the
/// objects of a type are spread apart, and the container shrinks from 1.6 times its size back to
/// its true size while everything is pulled to the centre and relaxed. The first batch that
/// cannot be brought back to the true size is undone and the run ends.

#include <list>
#include <vector>

#include "algorithms/improvement/BatchHeuristic.h"

class ShuffleCallback;

class ShuffleAlgorithm : public WithCallback<ShuffleAlgorithm, BatchHeuristic, ShuffleCallback> {
 public:
    static bool M_overlapConverged;

    using WithCallback::WithCallback;

    /// Objects of random types until their volume reaches `fraction` of the placed volume. The
    /// two largest types are left out while a smaller one can be drawn at all.
    void AddObjects(float fraction, col::CollisionPipeline* placement);
    /// A parked object of a random type, registered in both pipelines.
    MovingObject* CreateObject(col::CollisionPipeline* main, col::CollisionPipeline* placement);
    /// Drops the batch with the container inactive; false when an object finds no place.
    bool InsertObjects();
    /// Spreading, then the container from 1.6 down to 1 in steps of 0.66 dt; true when the
    /// packing fits at scale 1 within 60 steps.
    bool Optimize(float dt);

    /// Batches until one fails; the failed one is undone.
    void ForceApproach() override;

 private:
    /// Whether a type past the two largest can come out of a share draw.
    bool SmallerTypeDrawable() const;
};

/// Records the pair's intersection list and adds the reported overlap to both objects.
class ShuffleCallback : public OverlapCallback<&ShuffleAlgorithm::M_overlapConverged> {
 public:
    using OverlapCallback::OverlapCallback;
};
