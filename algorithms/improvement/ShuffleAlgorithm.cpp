#include "algorithms/improvement/ShuffleAlgorithm.h"

#include <iostream>
#include <string>

#include "algorithms/Relaxation.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"

using Vectormath::Aos::Vector3;

bool ShuffleAlgorithm::M_overlapConverged = false;

namespace {

constexpr float kBatchFraction = 0.05f;
constexpr int kExcludedTypes = 2;  // the largest types stay out of the batches

}  // namespace

void ShuffleAlgorithm::ForceApproach() {
    if (!ContainerCentred()) return;
    m_placement = CreatePlacement();
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Shuffle", 0, "batches");
    for (uint64_t batches = 0;; ++batches) {
        progress.update(batches, "placed " + std::to_string(m_placedObjects->size()));
        SaveObjectStates(m_placedObjects);
        m_addedObjects.clear();
        AddObjects(kBatchFraction, m_placement);
        const bool inserted = InsertObjects();
        if (!Packing::Quiet()) {
            std::cout << "Current percentage: " << kBatchFraction << std::endl;
            std::cout << "Objects added: " << m_addedObjects.size() << std::endl;
        }
        // A batch that adds nothing (an empty packing) would repeat for ever.
        if (!inserted || !Optimize(Packing::kImpulseTimeStep) || m_addedObjects.empty()) break;
    }
    for (MovingObject* a : m_addedObjects) RemovePlaced(a, m_placement);
    ScaleContainer(1.0f);
    RestoreFullSize(false);
}

bool ShuffleAlgorithm::SmallerTypeDrawable() const {
    float below = 0.0f;  // running share sum before type k
    const int n = static_cast<int>(m_objectTypes->size());
    for (int k = 0; k < n; ++k) {
        const float share = (*m_objectTypes)[static_cast<size_t>(k)].percentage;
        if (k >= kExcludedTypes && share > 0.0f && below < 100.0f) return true;
        below += share;
    }
    // Draws the shares leave without a type fall back to the smallest.
    return below < 100.0f && n > kExcludedTypes;
}

void ShuffleAlgorithm::AddObjects(float fraction, col::CollisionPipeline* placement) {
    float placedVolume = 0.0f;
    for (const MovingObject* o : *m_placedObjects) placedVolume += o->m_volume;
    const float target = fraction * placedVolume;
    if (target <= 0.0f) return;
    const bool exclude = SmallerTypeDrawable();
    float added = 0.0f;
    while (added < target) {
        MovingObject* obj = CreateObject(m_collisionPipeline, placement);
        if (exclude && obj->m_typeIndex < kExcludedTypes) {
            m_collisionPipeline->deactivate(obj->m_id);
            placement->deactivate(obj->m_id);
            continue;
        }
        m_addedObjects.push_back(obj);
        AppendPlaced(obj);
        if (!(obj->m_volume > 0.0f)) break;  // an object without volume would never fill the batch
        added += obj->m_volume;
    }
}

MovingObject* ShuffleAlgorithm::CreateObject(col::CollisionPipeline*, col::CollisionPipeline* placement) {
    return AddParked(DrawObject(), placement);
}

bool ShuffleAlgorithm::InsertObjects() {
    m_collisionPipeline->deactivate(m_container->m_id);
    return DropBatch(false);
}

bool ShuffleAlgorithm::Optimize(float dt) {
    constexpr float kSpreadScale = 1.5f;  // the container while same-type neighbours spread
    constexpr int kSpreadPasses = 50;
    constexpr float kSpreadRadiusSq = 10.0f;
    ScaleContainer(kSpreadScale);
    Spread(kSpreadPasses, [this](const MovingObject& o) { return AwayFromSameType(o, kSpreadRadiusSq); });
    m_timeLimit = 30.0f;

    ScaleSchedule schedule;
    schedule.start = 1.6f;
    schedule.step = -0.66f * dt;
    schedule.retreat = "ScaleUp ";
    schedule.maxIterations = kScaleSteps;
    schedule.apply = [this](float scale) {
        constexpr float kPullSpeed = 0.5f;
        for (MovingObject* o : *m_placedObjects) o->m_velocity = -kPullSpeed * Packing::AwayFromOrigin(*o);
        ScaleContainer(scale);
    };
    schedule.shake = [](const MovingObject& o) { return Packing::AwayFromOrigin(o); };
    return RunSchedule(schedule);
}
