#pragma once
/// @file CavityFilling.h
/// Improvement heuristic that fills the gaps of a packing with small objects: at every 60th
/// interior point it drops the filler types, largest first, one candidate at a time. A candidate
/// that overlaps its neighbours by more than a third of its volume is taken out at once; otherwise
/// the packing is relaxed and the candidate stays if the relaxation converges.
///
/// The fillers are the types from the seventh on; a configuration with fewer than seven types
/// fills with all of them (the types the compaction's insertions can also be).

#include <list>
#include <vector>

#include "algorithms/improvement/CavityHeuristic.h"

class CavCallback;

class CavityFilling : public WithCallback<CavityFilling, CavityHeuristic, CavCallback> {
 public:
    static bool M_overlapConverged;

    using WithCallback::WithCallback;

    void Init() override;
    /// The point walk; prints "tries: " and " | skipped: " at the end.
    void ImprovementHeuristic() override;
    /// The compaction's relaxation (with its per-iteration lines) under m_timeLimit.
    bool Compact();

    /// The first filler type for `typeCount` types.
    static int FirstFiller(int typeCount);

    float m_maxOverlapRatio = 0.33f;
    float m_timeLimit = 30.0f;
    int m_pointStep = 60;
};

/// Records the pair's intersection list and adds the reported overlap to both objects.
class CavCallback : public OverlapCallback<&CavityFilling::M_overlapConverged> {
 public:
    using OverlapCallback::OverlapCallback;
};
