#pragma once
/// @file Relaxation.h
/// The relaxation engine every heuristic runs on: the integration steps that turn the velocities
/// the collision callbacks produce into new poses, and one loop that integrates, moves the objects
/// in a pipeline, checks, lets the heuristic react, and stops on convergence, on a heuristic's own
/// stop rule or on its limit (Limits.h).
///
/// Each heuristic keeps its own callback and constants; it hands the loop the pipeline, the objects,
/// the step and its hooks.

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <string>

#include "vectormath/vectormath_aos.h"

class MovingObject;

namespace col {
class CollisionPipeline;
}

namespace Packing {

class Progress;

/// 1/30 as the constructions and the base overlap resolution write it.
inline constexpr float kSeparationTimeStep = 0.03333333f;
/// 1/30 as the improvement heuristics write it (a different float from the one above).
inline constexpr float kImpulseTimeStep = 0.0333333f;

/// Construction step: the position moves by dt * velocity; the first two rotation columns turn by
/// dt * (c x angular velocity) and the rotation is made orthonormal again (c0, c0 x c1, c2 x c0);
/// velocity, angular velocity, force and torque are cleared; the model is rebuilt.
void SeparationStep(MovingObject& o, float dt);

/// Improvement step: the construction step plus the angular momentum (dt * normalised torque with
/// the angular damping -0.4 * angular velocity) and the world-frame inverse inertia R I^-1 R^T.
void ImpulseStep(MovingObject& o, float dt);

/// Settling step under gravity (the hybrid construction): force += gravity - 0.4 velocity,
/// velocity += dt force, position += dt velocity; torque damping -0.05 angular velocity into the
/// angular momentum, rotation step, angular velocity from the world inverse inertia; force and
/// torque cleared, velocity kept. Returns false when the object fell below y = -1000.
bool GravityStep(MovingObject& o, const Vectormath::Aos::Vector3& gravity, float dt);

/// How a relaxation ended.
enum class RelaxResult {
    Converged,  ///< a check reported no overlap
    Limit,      ///< the limit passed first
    Stopped     ///< a hook ended it (an overlap too deep, an object that fell out, ...)
};

/// One relaxation loop. Per iteration, in this order:
///  1. `beginIteration` (if set);
///  2. the step over every object (under the packing lock the viewer reads poses with), then
///     `moveObject` of every object in the pipeline;
///  3. `beforeCheck` (if set); the flag is set to "no overlap" and the pipeline is checked (the
///     heuristic's callbacks clear it and record or push);
///  4. `afterCheck` (if set): the heuristic reacts; returning false ends the loop (Stopped);
///  5. the limit: passed -> Limit; else converged -> Converged; else the next iteration.
struct Relaxation {
    col::CollisionPipeline* pipeline = nullptr;
    /// The objects stepped and moved; `single` instead relaxes one object.
    std::list<MovingObject*>* objects = nullptr;
    MovingObject* single = nullptr;
    /// The step; a false result ends the loop at once (Stopped).
    std::function<bool(MovingObject&)> step;
    /// The heuristic's convergence flag. With `flagMeansOverlap` the callbacks set it on an
    /// overlap instead of clearing it (the base overlap resolution).
    bool* flag = nullptr;
    bool flagMeansOverlap = false;
    double limitSeconds = 0.0;

    std::function<void()> beginIteration;
    std::function<void()> beforeCheck;
    std::function<bool()> afterCheck;

    /// Iterations the last Run made.
    int64_t iterations = 0;

    RelaxResult Run();
};

/// Step functions for Relaxation::step.
inline std::function<bool(MovingObject&)> SeparationSteps(float dt = kSeparationTimeStep) {
    return [dt](MovingObject& o) {
        SeparationStep(o, dt);
        return true;
    };
}
inline std::function<bool(MovingObject&)> ImpulseSteps(float dt = kImpulseTimeStep) {
    return [dt](MovingObject& o) {
        ImpulseStep(o, dt);
        return true;
    };
}

/// The construction heuristics' relaxation of a list: separation steps over `objects` in
/// `pipeline` (flag cleared by the heuristic's callbacks) until a check reports no overlap
/// (Converged) or the limit passes (Limit). With `newest`, its m_overlap is cleared at the start
/// of every iteration.
/// Relaxations of this process that ended on their limit: the time-outs of the progress lines.
const std::atomic<int64_t>* RelaxationLimitsReached();

/// Begins a heuristic's progress phase with its time-outs counted from here on.
void BeginPhase(Progress& progress, std::string phase, uint64_t total, std::string unit);

RelaxResult RelaxSeparation(col::CollisionPipeline* pipeline, std::list<MovingObject*>* objects, bool& flag,
                            double limitSeconds, MovingObject* newest = nullptr);

}  // namespace Packing
