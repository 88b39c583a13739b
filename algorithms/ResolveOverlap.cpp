// The base overlap resolution: integrate the callbacks' velocities into poses until free.

#include "algorithms/PackingAlgorithm.h"
#include "algorithms/Relaxation.h"
#include "geometry/MovingObject.h"

namespace {
constexpr double kLimitSeconds = 1.0;
}  // namespace

bool IPackingAlgorithm::ResolveOverlap(col::CollisionPipeline* pipeline, MovingObject* object, bool& overlapFlag) {
    // The container never moves under impulses from here on.
    m_container->m_inverseMass = 0.0f;
    overlapFlag = true;

    Packing::Relaxation relax;
    relax.pipeline = pipeline;
    relax.single = object;
    relax.step = Packing::ImpulseSteps(Packing::kSeparationTimeStep);
    relax.flag = &overlapFlag;
    relax.flagMeansOverlap = true;
    relax.limitSeconds = kLimitSeconds;
    return relax.Run() == Packing::RelaxResult::Converged;
}
