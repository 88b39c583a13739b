#include "algorithms/Relaxation.h"

#include <mutex>
#include <utility>

#include "algorithms/Limits.h"
#include "algorithms/ObjectPose.h"
#include "collision/CollisionPipeline.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingLock.h"
#include "geometry/Progress.h"

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Vector3;

namespace Packing {

namespace {

constexpr float kAngularDamping = 0.4f;
constexpr float kSettleLinearDamping = 0.4f;
constexpr float kSettleAngularDamping = 0.05f;
constexpr float kFallOutY = -1000.0f;

std::atomic<int64_t> g_limitsReached{0};

// First-order turn of the first two columns by w, then Gram-Schmidt; the third column is rebuilt
// from the first two, so stepping it would change nothing.
Matrix3 TurnRotation(MovingObject& o, const Vector3& w, float dt) {
    Vector3 c0 = o.m_rotationMatrix.getCol0().getXYZ();
    Vector3 c1 = o.m_rotationMatrix.getCol1().getXYZ();
    c0 = c0 + dt * cross(c0, w);
    c1 = c1 + dt * cross(c1, w);
    c0 = SafeNormalize(c0);
    const Vector3 c2 = SafeNormalize(cross(c0, c1));
    c1 = SafeNormalize(cross(c2, c0));
    const Matrix3 R(c0, c1, c2);
    o.m_rotationMatrix.setUpper3x3(R);
    return R;
}

}  // namespace

void SeparationStep(MovingObject& o, float dt) {
    SetPosition(o, o.m_position + dt * o.m_velocity);
    TurnRotation(o, o.m_angularVelocity, dt);
    o.m_velocity = Vector3(0.0f);
    o.m_angularVelocity = Vector3(0.0f);
    o.m_force = Vector3(0.0f);
    o.m_torque = Vector3(0.0f);
    RebuildModel(o);
}

void ImpulseStep(MovingObject& o, float dt) {
    SetPosition(o, o.m_position + dt * o.m_velocity);
    const Vector3 w = o.m_angularVelocity;
    const Matrix3 R = TurnRotation(o, w, dt);
    o.m_angularMomentum += dt * SafeNormalize(o.m_torque - kAngularDamping * w);
    o.m_inverseInertiaWorld = R * o.m_inverseInertia * transpose(R);
    o.m_force = Vector3(0.0f);
    o.m_velocity = Vector3(0.0f);
    o.m_torque = Vector3(0.0f);
    o.m_angularVelocity = Vector3(0.0f);
    RebuildModel(o);
}

bool GravityStep(MovingObject& o, const Vector3& gravity, float dt) {
    o.m_force += gravity - kSettleLinearDamping * o.m_velocity;
    o.m_velocity += dt * o.m_force;
    o.m_position += dt * o.m_velocity;
    if (o.m_position.getY() < kFallOutY) return false;
    o.m_torque += -kSettleAngularDamping * o.m_angularVelocity;
    o.m_angularMomentum += dt * o.m_torque;
    const Matrix3 R = TurnRotation(o, o.m_angularVelocity, dt);
    o.m_inverseInertiaWorld = R * o.m_inverseInertia * transpose(R);
    o.m_angularVelocity = o.m_inverseInertiaWorld * o.m_angularMomentum;
    o.m_force = Vector3(0.0f);
    o.m_torque = Vector3(0.0f);
    o.m_translationMatrix.setTranslation(o.m_position);
    RebuildModel(o);
    return true;
}

RelaxResult Relaxation::Run() {
    Limit limit(limitSeconds);
    iterations = 0;
    while (true) {
        ++iterations;
        if (beginIteration) beginIteration();
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);  // the viewer copies these poses
            if (single != nullptr) {
                if (!step(*single)) return RelaxResult::Stopped;
            } else {
                for (MovingObject* o : *objects)
                    if (!step(*o)) return RelaxResult::Stopped;
            }
        }
        if (single != nullptr) {
            pipeline->moveObject(single->m_id, &single->m_modelMatrix, nullptr);
        } else {
            for (MovingObject* o : *objects) pipeline->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
        }

        if (beforeCheck) beforeCheck();
        *flag = !flagMeansOverlap;
        pipeline->check();
        if (afterCheck && !afterCheck()) return RelaxResult::Stopped;

        if (limit.Passed()) {
            ++g_limitsReached;
            return RelaxResult::Limit;
        }
        if (*flag != flagMeansOverlap) return RelaxResult::Converged;
        Progress::Tick();
    }
}

const std::atomic<int64_t>* RelaxationLimitsReached() { return &g_limitsReached; }

void BeginPhase(Progress& progress, std::string phase, uint64_t total, std::string unit) {
    progress.begin(std::move(phase), total, std::move(unit));
    progress.track("time-outs", &g_limitsReached);
}

RelaxResult RelaxSeparation(col::CollisionPipeline* pipeline, std::list<MovingObject*>* objects, bool& flag,
                            double limitSeconds, MovingObject* newest) {
    Relaxation relax;
    relax.pipeline = pipeline;
    relax.objects = objects;
    relax.step = SeparationSteps();
    relax.flag = &flag;
    relax.limitSeconds = limitSeconds;
    if (newest != nullptr) relax.beginIteration = [newest] { newest->m_overlap = 0.0f; };
    return relax.Run();
}

}  // namespace Packing
