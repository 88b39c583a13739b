#pragma once
/// @file RandomSequentialAddition.h
/// Random sequential addition (RSA), the baseline packing studies compare with.
///
/// Each attempt draws a type by the configured shares, a position uniform in the container and a
/// uniformly random orientation. The object is kept if it overlaps nothing, neither the container
/// wall nor a placed object, and never moves again; otherwise the attempt has failed. The filling
/// ends after a run of consecutive failed attempts (kDefaultFailureLimit). Nothing is relaxed, so
/// the result does not depend on --limits: a --seed run repeats byte for byte in either mode.
///
/// One engine plays both roles: as construction it fills the empty container, as improvement it
/// adds to the packing it is handed (its runner then prints the report).

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/ImprovementHeuristic.h"
#include "collision/Callback.h"
#include "collision/CollisionPipeline.h"

class MovingObject;
struct PackingObjectInfo;

namespace col {
class ExactMesh;
}

/// Any report of the pair is an overlap: it clears the attempt's "free" flag.
class RsaCallback : public col::Callback {
 public:
    /// `a` is the container or a placed object, `b` the candidate.
    RsaCallback(const MovingObject& a, const MovingObject& b, bool& free);
    void operator()(const col::Data* data) override;

 private:
    bool& m_free;
};

namespace Packing {

/// The rotation of the unit quaternion that three numbers uniform in [0, 1) give by Shoemake's
/// construction; uniform over all orientations when they are uniform.
Vectormath::Aos::Matrix4 UniformRotation(float u1, float u2, float u3);

}  // namespace Packing

/// What a filling did.
struct RsaStats {
    int64_t attempts = 0;          ///< attempts made, kept or not
    int64_t added = 0;             ///< objects kept
    int64_t lastAddedAttempt = 0;  ///< number of the attempt that kept the last object (0: none)
};

template <class Phase>
class RandomSequentialAdditionOf : public Phase {
 public:
    /// Consecutive failed attempts that end a filling. At 1,000 the chance that an attempt
    /// still succeeds (the share of the container where a new object fits) is about 1/1,000,
    /// whatever the container's size.
    static constexpr int64_t kDefaultFailureLimit = 1000;
    /// Draws per attempt for a position inside the container; a container that fills less than
    /// 1/1,000 of its bounding box fails the attempt instead.
    static constexpr int kMaxInsideDraws = 1000;

    RandomSequentialAdditionOf(std::vector<PackingObjectInfo>& types, MovingObject* container,
                               std::vector<Vectormath::Aos::Vector3>& points, std::list<MovingObject*>* placed,
                               Vectormath::Aos::Vector3 gridCells);
    ~RandomSequentialAdditionOf() override;

    /// Base Init (main pipeline, container id 0), then the objects already placed (ids 1..n, at
    /// their poses) and the inside test of the container mesh.
    void Init() override;

    void SetFailureLimit(int64_t limit) { m_failureLimit = limit; }
    const RsaStats& stats() const { return m_stats; }

 protected:
    /// Attempts until the failure limit is reached in a row; prints one line with the outcome.
    void AddUntilStuck();

 private:
    /// The type's waiting candidate, registered (inactive) with callbacks to the container and
    /// every placed object; made on first use.
    MovingObject* Candidate(int type);
    /// One attempt; true when the object was kept.
    bool Attempt();
    /// A position uniform in the container (world frame); false after kMaxInsideDraws misses.
    bool DrawInside(Vectormath::Aos::Vector3& out);
    void Keep(MovingObject* candidate);

    std::vector<MovingObject*> m_candidates;                 ///< one per type, null until needed
    std::unique_ptr<col::ExactMesh> m_inside;                ///< the container mesh, for the inside test
    float m_boxMin[3] = {0, 0, 0}, m_boxMax[3] = {0, 0, 0};  ///< the container's model-frame box
    bool m_free = true;
    int64_t m_failureLimit = kDefaultFailureLimit;
    RsaStats m_stats;
};

/// Random sequential addition as the construction: fills the empty container.
class RandomSequentialAddition final : public RandomSequentialAdditionOf<IConstructionHeuristic> {
 public:
    using RandomSequentialAdditionOf::RandomSequentialAdditionOf;
    void ConstructionHeuristic() override { AddUntilStuck(); }
};

/// Random sequential addition as the improvement: adds to the packing it is handed.
class RandomSequentialAdditionImprovement final : public RandomSequentialAdditionOf<IImprovementHeuristic> {
 public:
    using RandomSequentialAdditionOf::RandomSequentialAdditionOf;
    void ImprovementHeuristic() override { AddUntilStuck(); }
};
