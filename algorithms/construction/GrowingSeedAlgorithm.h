#pragma once
/// @file GrowingSeedAlgorithm.h
/// Construction heuristic that puts a small seed on every interior point and grows the seeds to
/// full size one at a time.
///
/// Seeds (scale 0.05, drawn type and orientation) take no part in the checks until their turn.
/// The next seed grown is the first waiting one of the type furthest below its share; it is
/// scaled up in steps, and the packing is relaxed after each step (1 s limit). A seed that cannot
/// be relaxed at some size is removed and the packing returns to its state before that seed.

#include <list>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/Separation.h"
#include "collision/CollisionPipeline.h"

class MovingObject;
struct PackingObjectInfo;

/// Separation push of the growing seeds, with the spin step for every pair.
class GSCallback : public Packing::PairCallback {
 public:
    using PairCallback::PairCallback;
    void operator()(const col::Data* data) override;
};

class GrowingSeedAlgorithm : public IConstructionHeuristic {
 public:
    /// True before each check; every callback with intersection data clears it.
    static bool M_overlapConverged;

    using IConstructionHeuristic::IConstructionHeuristic;

    /// Base Init, then one inactive seed per interior point, each with a callback to every
    /// earlier seed and the container.
    void Init() override;
    /// The growing loop; prints "Growing ended." and the time.
    void ConstructionHeuristic() override;
    /// Relaxes the placed objects in the main pipeline: true when a check reports no overlap,
    /// false after 1 s.
    bool Compact();

    /// The type to grow next: the first enabled type below its share of the grown seeds; none
    /// below (every share at its mark) counts one more grown seed and asks again. Before any seed
    /// has grown, type 0 if it is enabled, else the first enabled type; the first enabled type
    /// too when no enabled type has a share above 0. -1 when every type is disabled.
    int ChooseType(const std::vector<int>& counts, const std::vector<bool>& enabled, int& grownCount) const;

    float m_seedScale = 0.05f;  ///< scale of a new seed
    float m_finalScale = 1.0f;  ///< a seed grows while its scale is below this
    float m_growthRate = 1.0f;  ///< scale added per growth step, times 1/30
    int removedSeeds() const { return m_removed; }

 private:
    /// Scales the seed up step by step; false (the seed removed, the packing restored) when a
    /// relaxation does not settle.
    bool Grow(MovingObject* seed);

    int m_removed = 0;
};
