#pragma once
/// @file DistanceAlgorithm.h
/// Construction heuristic that walks the interior points once and grows the packing in contact.
///
/// At each point an object of a drawn type is tried in its type's remembered orientation and six
/// fixed ones; one that fits is pulled along the shortest distance onto one of the 20 most
/// recently placed objects and kept there if it overlaps nothing. An object whose nearest recent
/// neighbour is farther than 5.0 stays at its point. No relaxation: a reported collision only
/// means "does not fit here". View mode also uses this class, only to load placement files.

#include <list>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/Separation.h"
#include "collision/CollisionPipeline.h"

class MovingObject;
struct PackingObjectInfo;

/// Any report of the pair means an overlap; the data is not looked at.
class DCallback : public Packing::PairCallback {
 public:
    using PairCallback::PairCallback;
    void operator()(const col::Data* data) override;
};

class DistanceAlgorithm : public IConstructionHeuristic {
 public:
    /// True before each check; every callback clears it.
    static bool M_overlapConverged;

    using IConstructionHeuristic::IConstructionHeuristic;

    /// The point loop; prints "Packing ended." and the time.
    void ConstructionHeuristic() override;
    void PlaceObjectsGrid();
    /// Tries the type's remembered orientation, then the six canonical turns; the outcome is left
    /// in M_overlapConverged.
    void RotateObject(col::CollisionPipeline* pipeline, MovingObject* obj);
    /// Moves obj, without turning it, so that its closest surface point meets target's; returns
    /// the distance before the move (+infinity when a sphere tree is missing).
    float Attach(MovingObject* obj, MovingObject* target);

 private:
    MovingObject* CreateObject();
    /// Places obj, found free near point p, in contact with a recent object or at p. False when
    /// every attachment overlapped (obj is then carried to the next point).
    bool PlaceNear(MovingObject* obj, const Vectormath::Aos::Vector3& p);
    /// obj at exactly p in its type's remembered orientation.
    void ResetAt(MovingObject* obj, const Vectormath::Aos::Vector3& p);
    void Append(MovingObject* obj);
};
