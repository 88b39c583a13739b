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

/// Records the pair's intersection list and adds the reported overlap to both objects.
class CavCallback : public Packing::MatrixCallback {
 public:
    CavCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix);
};

class CavityFilling : public CavityHeuristic {
 public:
    static bool M_overlapConverged;

    CavityFilling(std::vector<PackingObjectInfo>& types, MovingObject* container,
                  std::vector<Vectormath::Aos::Vector3>& points, std::list<MovingObject*>* placed,
                  Vectormath::Aos::Vector3 gridCells);

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
