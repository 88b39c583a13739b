#pragma once
/// @file HybridAlgorithm.h
/// Construction heuristic that fills the container cell by cell and lets the objects settle
/// under gravity.
///
/// The container's bounding box is cut into the configured grid of cells. In each cell, objects
/// of drawn types are dropped at the points of the cell's two highest point layers: an object
/// goes to the next point where it overlaps no placed object, the first one of a cell is turned
/// and pushed clear of the wall, the packing is relaxed without gravity, and then everything
/// falls under gravity until the new object rests. A cell is done when its points are used up,
/// or when a whole round of its points has failed without an object being accepted.

#include <list>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/PairMatrix.h"
#include "algorithms/Separation.h"
#include "collision/CollisionPipeline.h"

class MovingObject;
struct PackingObjectInfo;

/// Settling reaction: records the pair's intersection list in the matrix; the impulses are
/// applied after the check, in a fixed order.
class HybridCallback : public Packing::MatrixCallback {
 public:
    HybridCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix);
};

/// Relaxation reaction: a unit push apart along the contact direction plus a random unit jitter
/// for each object, and a small spin; the container is pushed like any object.
class HybridPlacementCallback : public Packing::PairCallback {
 public:
    using PairCallback::PairCallback;
    void operator()(const col::Data* data) override;
};

/// Wall reaction: the separation push along the wall's normal cones, without spin.
class HybridContainerCallback : public Packing::PairCallback {
 public:
    using PairCallback::PairCallback;
    void operator()(const col::Data* data) override;
};

class HybridAlgorithm : public IConstructionHeuristic {
 public:
    /// True before each check; the callbacks clear it on an overlap.
    static bool M_overlapConverged;

    HybridAlgorithm(std::vector<PackingObjectInfo>& types, MovingObject* container,
                    std::vector<Vectormath::Aos::Vector3>& points, std::list<MovingObject*>* placed,
                    Vectormath::Aos::Vector3 gridCells);
    ~HybridAlgorithm() override = default;

    /// Base Init (main pipeline, container id 0) and a 1 x 1 pair matrix.
    void Init() override;
    /// The cell loop; prints "Simulation ended.".
    void ConstructionHeuristic() override;

    void MainAttach();
    /// Appends the points of [cellMin, cellMax] (bounds included) on the two highest y values
    /// among them to `out`, the lower layer first, in point-list order. Returns 1.
    int FindFurthestPosInGrid(Vectormath::Aos::Vector3 cellMin, Vectormath::Aos::Vector3& cellMax,
                              std::vector<Vectormath::Aos::Vector3>* out);
    /// An object of a drawn type, registered in the three pipelines with callbacks to every placed
    /// object and the container; the matrix grows by one row and column. Parked far away.
    MovingObject* CreateObject(col::CollisionPipeline* main, col::CollisionPipeline* placement,
                               col::CollisionPipeline* container);
    /// Turns the object to the canonical turn that overlaps the wall least and pushes it clear of
    /// the wall; the push ends after 1 s (see docs/heuristics.md).
    void MoveObjectInsideContainer(col::CollisionPipeline* container, MovingObject* obj);
    /// Relaxes `objects` in `pipeline` without gravity. True when a check reports no overlap,
    /// false after 5 s.
    bool ResolveOverlap(col::CollisionPipeline* pipeline, std::list<MovingObject*>* objects);
    /// Lets the placed objects that are not at rest fall under m_gravity until the newest one
    /// rests (true). False when an object falls below y = -1000. After 10 s the newest one is
    /// taken as at rest where it is if it lies in the container's box (true), else as fallen out.
    bool Compact2();

    std::vector<MovingObject*> m_objects;  ///< every object made, in creation order (id k at k - 1)
    Vectormath::Aos::Vector3 m_gravity;    ///< added to every moving object's force per settling step

    /// Loops that ended on their bound in this run (written to standard error at the end).
    struct Bounds {
        int settling = 0;      ///< Compact2: the newest object did not come to rest
        int wallPush = 0;      ///< MoveObjectInsideContainer: the object was not clear of the wall
        int relaxation = 0;    ///< ResolveOverlap time-outs
        int cellsGivenUp = 0;  ///< cells ended by a round of failed tries
    };
    const Bounds& bounds() const { return m_bounds; }

 private:
    /// Works off one cell's points.
    void FillCell(col::CollisionPipeline* main, col::CollisionPipeline* placement, col::CollisionPipeline* container,
                  std::vector<Vectormath::Aos::Vector3>& pts);
    MovingObject* NewObject(col::CollisionPipeline* main, col::CollisionPipeline* placement,
                            col::CollisionPipeline* container);
    /// Puts obj at pts[k] and checks it against the placed objects only; a point where it
    /// overlaps is dropped with `message`, and the search goes on at the same index (first
    /// search of a cell) or at the next one (`advance`). False when the points run out; obj is
    /// then out of both pipelines.
    bool SearchPoint(col::CollisionPipeline* main, col::CollisionPipeline* placement, MovingObject* obj,
                     std::vector<Vectormath::Aos::Vector3>& pts, size_t& k, const char* message, bool advance);
    void Place(col::CollisionPipeline* main, MovingObject* obj);
    /// Back to the last saved packing, without obj (the newest entry).
    void TakeBack();

    Bounds m_bounds;
    Vectormath::Aos::Vector3 m_boxMin, m_boxMax;  ///< the container's bounding box
};
