#pragma once
/// @file SGAlgorithm.h
/// Shrink-and-grow improvement heuristic: every object shrinks to half its size, a batch of new
/// objects (a volume that starts at a tenth of the container) is dropped among them, and all
/// objects grow back to full size in small steps with a relaxation after each. A batch that does
/// not grow back loses half its volume and is tried again; the run ends when the batch volume is
/// no larger than the smallest type or a batch cannot be inserted. The last batch is undone.

#include <list>
#include <vector>

#include "algorithms/improvement/BatchHeuristic.h"

class SGCallback;

class SGAlgorithm : public WithCallback<SGAlgorithm, BatchHeuristic, SGCallback> {
 public:
    static bool M_overlapConverged;

    using WithCallback::WithCallback;

    /// As the shuffle's, keeping the inertia the objects were made with.
    void Init() override;
    /// Parked half-size objects of random types until their volume reaches `volume`; they join
    /// the placed list only when inserted.
    void AddObjects(float volume, col::CollisionPipeline* placement);
    /// Shrinks the packing to half size and drops the batch; false when an object finds no place.
    bool InsertObjects();
    /// Same-type spreading at half size, then growth to full size in steps of 0.66 dt; false after
    /// three failed steps.
    bool Optimize(float dt);

    /// Batches while the batch volume exceeds the smallest type; the last one is undone.
    void ForceApproach() override;

 private:
    /// Prints `what` for every placed object whose position is not a number; true if there was one.
    bool ReportNaN(const char* what) const;
    /// Takes the batch out of the placed list and drops half of its volume at random.
    void HalveBatch();
};

/// Records the pair's intersection list and adds the reported overlap to both objects.
class SGCallback : public OverlapCallback<&SGAlgorithm::M_overlapConverged> {
 public:
    using OverlapCallback::OverlapCallback;
};
