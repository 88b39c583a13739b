#pragma once
/// @file CompactionAlgorithm.h
/// Improvement heuristic that grows a packing by insertion and impulse relaxation.
///
/// Starting from the construction's objects, it inserts one more object at every 30th interior
/// point after pushing the neighbours away from it, and relaxes the packing with unit impulses
/// until no pair (and no object and the container) overlaps. An insertion that does not settle
/// within 30 s of wall-clock time is taken out and tried at the next candidate point.

#include <list>
#include <vector>

#include "algorithms/ImprovementHeuristic.h"
#include "algorithms/PairMatrix.h"
#include "collision/CollisionPipeline.h"

class MovingObject;
struct PackingObjectInfo;

/// Collision reaction of the compaction: records the pair's intersection list in the matrix, so
/// the impulses are applied after the check, in a fixed order.
class CompCallback : public Packing::MatrixCallback {
 public:
    CompCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix);
};

class CompactionAlgorithm : public IImprovementHeuristic {
 public:
    /// True before each check; every matching callback clears it.
    static bool M_overlapConverged;

    CompactionAlgorithm(std::vector<PackingObjectInfo>& types, MovingObject* container,
                        std::vector<Vectormath::Aos::Vector3>& points, std::list<MovingObject*>* placed,
                        Vectormath::Aos::Vector3 gridCells);
    ~CompactionAlgorithm() override = default;

    /// Registers the container (id 0) and the placed objects (ids 1..n) with the main pipeline,
    /// one callback per pair, and sizes the matrix to (n + 1)².
    void Init() override;
    void ImprovementHeuristic() override;

    /// The insertion loop; prints "End", the number of inserted objects and two times.
    void Main();
    /// Makes room at the next candidate point and tests an object there against the wall.
    /// Returns 1 when *obj is placed, 0 when the candidate points are used up. With createNew
    /// false *obj is retried instead of making a new object.
    int PlaceObject(col::CollisionPipeline* placement, bool createNew, MovingObject** obj);
    /// A new object registered in both pipelines with callbacks to every placed object and the
    /// container; the matrix grows by one row and column. Parked far away.
    MovingObject* CreateObject(col::CollisionPipeline* main, col::CollisionPipeline* placement);
    /// Tries the remembered orientation of the type (and, for the largest type, six fixed ones);
    /// the outcome is left in M_overlapConverged.
    void RotateObject(col::CollisionPipeline* placement, MovingObject* obj);
    /// Relaxes the placed objects. True when a check reports no overlap, false once 30 s of
    /// wall-clock time have passed.
    bool Compact();

    /// Index of the next candidate point, advanced by 30 per attempt. One counter for the whole
    /// program: it only ever advances.
    static int& PointIndex();

    IsecMatrix* isecMatrix() const { return m_isecMatrix; }

    std::vector<MovingObject*> m_objects;  ///< the compacted objects; the one with id k sits at k - 1

 private:
    /// Whether the last relaxation settled. Each settled relaxation saves the states; a run that
    /// ends on one that did not (its candidate points ran out) puts the saved ones back, so the
    /// packing written is never a half-relaxed one.
    bool m_settled = true;
};
