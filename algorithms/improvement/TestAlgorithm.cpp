#include "algorithms/improvement/TestAlgorithm.h"

#include <iostream>
#include <string>

#include "algorithms/Relaxation.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"

using Vectormath::Aos::Vector3;

bool TestAlgorithm::M_overlapConverged = false;

namespace {

constexpr int kGatherPasses = 25;
constexpr float kOutwardSpeed = 0.25f;
constexpr int kAttemptsPerType = 3;

}  // namespace

void TestAlgorithm::ForceApproach() {
    if (!ContainerCentred()) return;
    m_placement = CreatePlacement();
    const int typeCount = static_cast<int>(m_objectTypes->size());
    float percentage = 0.05f;  // only printed
    int tries = 0;
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Test", static_cast<uint64_t>(typeCount), "types");
    for (int type = 0; type < typeCount;) {
        progress.update(static_cast<uint64_t>(type), "placed " + std::to_string(m_placedObjects->size()));
        SaveObjectStates(m_placedObjects);
        m_addedObjects.clear();
        if (tries >= kAttemptsPerType) {
            ++type;
            tries = 0;
            continue;
        }
        MovingObject* obj = CreateObject(m_collisionPipeline, m_placement, type);
        m_addedObjects.push_back(obj);
        AppendPlaced(obj);
        bool inserted = InsertObjects();
        while (true) {
            ++tries;
            if (!Packing::Quiet()) {
                std::cout << "Current percentage: " << percentage << std::endl;
                std::cout << "Objects added: " << m_addedObjects.size() << std::endl;
            }
            if (inserted && Optimize(Packing::kImpulseTimeStep)) break;
            percentage = 0.5f * percentage;
            RestoreFullSize(false);
            // Out of attempts, or no place for it at all: the packing goes back to how it was
            // before this object, without it.
            if (tries >= kAttemptsPerType || !inserted) {
                RemovePlaced(obj, m_placement);
                ++type;
                tries = 0;
                break;
            }
            inserted = InsertObjects();
        }
    }
    for (MovingObject* a : m_addedObjects) RemovePlaced(a, m_placement);
    ScaleContainer(1.0f);
    RestoreFullSize(false);
}

MovingObject* TestAlgorithm::CreateObject(col::CollisionPipeline*, col::CollisionPipeline* placement, int typeIndex) {
    return AddParked(GenerateObject(typeIndex), placement);
}

bool TestAlgorithm::InsertObjects() {
    m_collisionPipeline->deactivate(m_container->m_id);
    ScalePlaced(kHalfSize, false);
    return DropBatch(false);
}

bool TestAlgorithm::Optimize(float dt) {
    ScalePlaced(kHalfSize, false);
    ScaleContainer(1.0f);
    Spread(kGatherPasses, [](const MovingObject& o) { return -Packing::AwayFromOrigin(o); });
    m_timeLimit = 30.0f;

    ScaleSchedule schedule = Growth(dt);
    schedule.maxIterations = kScaleSteps;
    schedule.apply = [this](float scale) {
        ScalePlaced(scale, false);
        for (MovingObject* o : *m_placedObjects) o->m_velocity = kOutwardSpeed * Packing::AwayFromOrigin(*o);
    };
    schedule.shake = [](const MovingObject& o) { return -Packing::AwayFromOrigin(o); };
    return RunSchedule(schedule);
}
