#pragma once
/// @file ImprovementHeuristic.h
/// Base of the heuristics that add objects to an existing packing and compact it.

#include "algorithms/PackingAlgorithm.h"

class IImprovementHeuristic : public IPackingAlgorithm {
 public:
    using IPackingAlgorithm::IPackingAlgorithm;
    ~IImprovementHeuristic() override = default;

    /// Init, the improvement (timed), the improvement file written, then the report (timed).
    /// The improvement file is never read.
    void Run() override;
    virtual void ImprovementHeuristic() = 0;
};
