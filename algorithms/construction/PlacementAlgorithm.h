#pragma once
/// @file PlacementAlgorithm.h
/// Construction heuristic that fills an empty container point by point.
///
/// The interior points are walked in their stored order. At each point one buffered candidate
/// (one ready-made object per type) is tested against the container wall, in its own orientation
/// and then in seven fixed ones; an accepted object joins the packing, which is then relaxed
/// until no pair overlaps. A packing that does not settle within 5 s of wall-clock time drops
/// the new object again and restores the last accepted poses.

#include <list>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "collision/Callback.h"
#include "collision/CollisionPipeline.h"

class MovingObject;
struct PackingObjectInfo;

/// Collision reaction of the placement heuristic: separates the pair by velocity changes of its
/// own (wall directions for container contacts, a unit push otherwise).
class PCallback : public col::Callback {
 public:
    /// `a` is the container or the older object, `b` the newer one.
    PCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level);
    ~PCallback() override = default;

    /// An absent or empty intersection list is reported and leaves the pair (and the
    /// convergence flag) untouched.
    void operator()(const col::Data* data) override;

 private:
    MovingObject& m_a;
    MovingObject& m_b;
};

class PlacementAlgorithm : public IConstructionHeuristic {
 public:
    /// True before each check; every callback with intersection data clears it.
    static bool M_overlapConverged;

    PlacementAlgorithm(std::vector<PackingObjectInfo>& types, MovingObject* container,
                       std::vector<Vectormath::Aos::Vector3>& points, std::list<MovingObject*>* placed,
                       Vectormath::Aos::Vector3 v);
    ~PlacementAlgorithm() override;

    /// Base Init (main pipeline, container id 0), then one empty buffer slot per type.
    void Init() override;
    /// The placement loop; prints "End" and the number of accepted objects.
    void ConstructionHeuristic() override;

    /// Makes, registers and parks an object for every empty buffer slot.
    void FillUpBuffer(col::CollisionPipeline* placement);
    /// Walks the interior points until a candidate fits. Returns 1 when the candidate was placed,
    /// 2 when a buffered object of a smaller, under-represented type was placed instead (*obj is
    /// then that object), 0 when the points are used up. With randomType false the candidate is
    /// *obj.
    int PlaceObject(col::CollisionPipeline* placement, bool randomType, MovingObject** obj);
    /// Tries the seven fixed orientations; the outcome is left in M_overlapConverged.
    void RotateObject(col::CollisionPipeline* placement, MovingObject* obj);
    /// Relaxes the placed objects in the main pipeline. True when no overlap is left, false
    /// when 5 s of wall-clock time have passed first.
    bool Compact();

    /// Index of the next interior point to try. One counter for the whole program: it only
    /// ever advances, so a second run continues where the first stopped.
    static int& PointIndex();

    std::vector<MovingObject*> m_generatedObjects;  ///< every buffered object, in creation order
    std::vector<MovingObject*> m_buffer;            ///< one candidate per type, null = make a new one
};
