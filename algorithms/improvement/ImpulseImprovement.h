#pragma once
/// @file ImpulseImprovement.h
/// What the impulse improvement heuristics (cavity filling, shuffle, shrink-and-grow, the
/// one-at-a-time test) share: the pair matrix over the compacted objects, their registration in
/// the pipelines, making parked candidates, taking objects in and out of the placed list, and
/// the relaxation of the packing with unit impulses on the shared engine.

#include <list>
#include <vector>

#include "algorithms/ImprovementHeuristic.h"
#include "algorithms/PairMatrix.h"
#include "collision/CollisionPipeline.h"

class MovingObject;
struct PackingObjectInfo;

/// The callback of these heuristics: records the pair's intersection list, adds the reported
/// overlap to both objects and clears the class's flag `*Flag`.
template <bool* Flag, bool ReleaseNodePairs = false>
class OverlapCallback : public Packing::MatrixCallback {
 public:
    OverlapCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix)
        : Packing::MatrixCallback(a, b, level, matrix, *Flag, {true, ReleaseNodePairs}) {}
};

class ImpulseImprovement : public IImprovementHeuristic {
 public:
    ImpulseImprovement(std::vector<PackingObjectInfo>& types, MovingObject* container,
                       std::vector<Vectormath::Aos::Vector3>& points, std::list<MovingObject*>* placed,
                       Vectormath::Aos::Vector3 gridCells);

    std::vector<MovingObject*> m_objects;  ///< every object known here; the one with id k sits at k - 1

    IsecMatrix* pairMatrix() const { return m_pairs; }
    /// Whether the last relaxation converged.
    bool settled() const { return m_settled; }

 protected:
    /// The relaxation's stop rules.
    struct RelaxRule {
        double limitSeconds = 30.0;
        /// > 0: stop unconverged once the newest placed object's overlap exceeds this share of
        /// its scaled volume (s^3 V).
        float maxOverlapRatio = 0.0f;
        /// Empty and release every intersection list after its impulse.
        bool releaseLists = false;
        /// Print the per-iteration lines of the compaction ("Counter : ", the three averages and
        /// "Placed Objs nr: ").
        bool report = false;
    };

    /// Base Init, then the placed objects as ids 1..n in the main pipeline (with the box inertia
    /// when `boxInertia`), a callback for every pair and container pair, the (n+1)^2 matrix, and
    /// "Objects callback registered.".
    void RegisterPlaced(bool boxInertia);
    /// "PlacementPipeline": the container and the placed objects in the same order as in the main
    /// pipeline (so the ids agree), the same callbacks, every object inactive.
    col::CollisionPipeline* CreatePlacement();
    /// Registers `obj` in the main pipeline (and in `placement` if given) with callbacks against
    /// every known object and the container, grows the matrix, parks it with a random
    /// orientation, gives it the box inertia (if m_newBoxInertia) and appends it to m_objects.
    MovingObject* AddParked(MovingObject* obj, col::CollisionPipeline* placement);
    /// A new object of a type drawn by share; the smallest type when the shares leave the draw
    /// without one.
    MovingObject* DrawObject();

    /// Relaxes the placed objects; true when a check found no overlap.
    bool Relax(const RelaxRule& rule);
    /// The impulse pass over the pair matrix (pairs by rows and columns from 1, then the
    /// container row); the matrix is empty afterwards.
    void ResolvePass(bool releaseLists = false);

    void AppendPlaced(MovingObject* o);
    /// Removes the first placed entry with o's id and deactivates o in the main pipeline and in
    /// `placement` if given.
    void RemovePlaced(MovingObject* o, col::CollisionPipeline* placement);
    /// Loads the saved states of the placed objects, every scale back to 1, and moves them in the
    /// main pipeline.
    void RestoreFullSize();
    /// Moves every placed object to its model matrix in the main pipeline.
    void MovePlaced();

    /// The class's convergence flag: true before a check, cleared by its callbacks.
    virtual bool& OverlapFlag() = 0;
    /// The class's callback for the pair (a, b), recording into m_pairs.
    virtual col::Callback* NewCallback(MovingObject& a, MovingObject& b) = 0;

    IsecMatrix* m_pairs;  ///< the matrix the callbacks record into (m_isecMatrix unless a class has its own)
    bool m_settled = true;
    /// Whether new objects get the box inertia and impulse scale 5, or keep what they were made with.
    bool m_newBoxInertia = true;

 private:
    template <class Objects>
    void Connect(col::CollisionPipeline* pipeline, const Objects& partners, MovingObject& obj) {
        for (MovingObject* o : partners) pipeline->addCallback(NewCallback(*o, obj));
        pipeline->addCallback(NewCallback(*m_container, obj));
    }
    /// Every pair of m_objects (newer second) and every container pair, in `pipeline`.
    void ConnectAll(col::CollisionPipeline* pipeline);
};

/// Binds a heuristic class to its own convergence flag `Self::M_overlapConverged` and to its
/// callback class `Callback` (an OverlapCallback on that flag).
template <class Self, class Base, class Callback>
class WithCallback : public Base {
 public:
    using Base::Base;

 protected:
    bool& OverlapFlag() override { return Self::M_overlapConverged; }
    col::Callback* NewCallback(MovingObject& a, MovingObject& b) override {
        return new Callback(a, b, col::LEVEL_CONTACT, this->m_pairs);
    }
};
