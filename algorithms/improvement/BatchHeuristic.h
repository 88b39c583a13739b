#pragma once
/// @file BatchHeuristic.h
/// The common part of the batch heuristics (container shuffling, shrink-and-grow, the
/// one-object variant): a batch of added objects dropped at random interior points, the
/// relaxation with its overlap and time-limit exits, the spreading passes, the scale schedule
/// that brings the packing back to true size, and "timing.txt".

#include <functional>
#include <list>

#include "algorithms/improvement/ImpulseImprovement.h"

class BatchHeuristic : public ImpulseImprovement {
 public:
    using ImpulseImprovement::ImpulseImprovement;

    /// As the compaction's, with the box inertia.
    void Init() override;
    void ImprovementHeuristic() override;
    /// The batch loop.
    virtual void ForceApproach() = 0;

    /// Relaxes the placed objects within m_timeLimit; false early when the newest placed
    /// object's overlap exceeds m_overlapExit of its scaled volume (no such exit when 0).
    bool Compact();

    std::list<MovingObject*> m_addedObjects;  ///< the current batch
    float m_timeLimit = 30.0f;                ///< seconds (or the budget they stand for) of one Compact

    /// Drops per object of a batch before the batch counts as not insertable.
    static constexpr int kInsertTries = 13;
    /// The size objects shrink to while a batch goes in.
    static constexpr float kHalfSize = 0.5f;
    /// Steps of the scale schedules that have a step bound.
    static constexpr int kScaleSteps = 60;

 protected:
    /// How the packing is brought back to true size: the scale moves from `start` by `step`
    /// towards 1 (step < 0: the container shrinks; step > 0: the objects grow). After a failed
    /// relaxation it steps back by 2 |step| (growing objects not below 0.1), prints `retreat` and
    /// the scale, and shakes every
    /// object with 2 * normalise(shake(o) + a random unit vector).
    struct ScaleSchedule {
        float start = 1.0f;
        float step = 0.0f;
        const char* retreat = "";
        int maxIterations = 0;  ///< 0: unbounded
        int maxFailures = 0;    ///< 0: unbounded
        std::function<void(float)> apply;
        std::function<Vectormath::Aos::Vector3(const MovingObject&)> shake;
    };
    /// Objects growing from half size in steps of 0.66 dt ("ScaleDown " on a retreat).
    static ScaleSchedule Growth(float dt);
    /// Runs the schedule, writing "timing.txt"; true when a relaxation at scale 1 converged
    /// (then "solved: " and "scale: " are printed).
    bool RunSchedule(const ScaleSchedule& schedule);

    /// `passes` times: every placed object gets push(o) added to its velocity, then Compact.
    void Spread(int passes, const std::function<Vectormath::Aos::Vector3(const MovingObject&)>& push);
    /// Unit vector away from the objects of o's type within sqrt(radiusSq) (zero when there are
    /// none or their offsets cancel).
    Vectormath::Aos::Vector3 AwayFromSameType(const MovingObject& o, float radiusSq) const;

    /// Drops every object of the batch (activated in the main pipeline) at random interior
    /// points until a Compact converges, at most kInsertTries times each, under a 5 s limit;
    /// with `report` prints the flag after each drop. False when an object finds no place.
    bool DropBatch(bool report);

    /// The container at scale s, walls and all, moved in the main pipeline (and activated there
    /// unless `activate` is false).
    void ScaleContainer(float s, bool activate = true);
    /// Every placed object at scale s; its model is rebuilt.
    void ScalePlaced(float s);

    /// The pulling steps aim at the world origin and scale the container about its own origin.
    /// False, after one line on standard error, for a container whose box is not centred there.
    bool ContainerCentred() const;

    col::CollisionPipeline* m_placement = nullptr;
    float m_overlapExit = 0.5f;
};

namespace Packing {
/// p / |p|: the direction away from the world origin; zero for an object exactly there.
Vectormath::Aos::Vector3 AwayFromOrigin(const MovingObject& o);
}  // namespace Packing
