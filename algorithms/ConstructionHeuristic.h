#pragma once
/// @file ConstructionHeuristic.h
/// Base of the heuristics that first fill the container.

#include "algorithms/PackingAlgorithm.h"

class IConstructionHeuristic : public IPackingAlgorithm {
 public:
    using IPackingAlgorithm::IPackingAlgorithm;
    ~IConstructionHeuristic() override = default;

    /// "Construction Run"; then the construction file if it loads, otherwise Init, the
    /// construction (timed, printed in minutes) and the file written; then the next phase's Run.
    void Run() override;
    virtual void ConstructionHeuristic() = 0;
};
