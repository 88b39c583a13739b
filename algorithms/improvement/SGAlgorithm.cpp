#include "algorithms/improvement/SGAlgorithm.h"

#include <cmath>
#include <iostream>
#include <mutex>
#include <string>

#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "collision/FibRand.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"
#include "geometry/Random.h"

using Vectormath::Aos::Vector3;

bool SGAlgorithm::M_overlapConverged = false;

namespace {

constexpr float kFirstBatchShare = 0.1f;  // of the container volume
constexpr int kGrowthFailures = 3;

}  // namespace

void SGAlgorithm::Init() {
    // The objects keep the inertia they were made with, and a relaxation ends only on
    // convergence or its limit.
    m_newBoxInertia = false;
    m_overlapExit = 0.0f;
    RegisterPlaced(false);
}

bool SGAlgorithm::ReportNaN(const char* what) const {
    bool found = false;
    for (const MovingObject* o : *m_placedObjects) {
        if (!std::isnan(o->m_position.getX())) continue;
        std::cout << what << std::endl;
        found = true;
    }
    return found;
}

void SGAlgorithm::ForceApproach() {
    m_placement = CreatePlacement();
    float current = kFirstBatchShare * m_container->m_volume;
    const float smallest = m_objectTypes->empty() ? current : m_objectTypes->back().volume;
    bool more = current > smallest;
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Shrink and grow", 0, "batches");
    for (uint64_t batches = 0; more; ++batches) {
        progress.update(batches, "placed " + std::to_string(m_placedObjects->size()));
        SaveObjectStates(m_placedObjects);
        m_addedObjects.clear();
        AddObjects(current, m_placement);
        // A pose that is not a number ends the run like a batch without a place: the undo below
        // brings back the poses saved before it.
        if (!InsertObjects() || ReportNaN("NAN AFTER INSERT")) break;
        bool inserted = true;
        while (true) {
            if (!Packing::Quiet()) {
                std::cout << "Smallest volume: " << smallest << std::endl;
                std::cout << "Current volume: " << current << std::endl;
                std::cout << "Placed Objects: " << m_placedObjects->size() << std::endl;
                std::cout << "Objects added: " << m_addedObjects.size() << std::endl;
            }
            // A reduced batch that found no place is not grown with objects still parked
            // outside the container; it is reduced again.
            const bool grown = inserted && Optimize(Packing::kImpulseTimeStep);
            if (!ReportNaN("NAN AFTER OPTIMIZE") && grown) break;
            current = 0.5f * current;
            if (current <= smallest) {
                more = false;
                break;
            }
            HalveBatch();
            RestoreFullSize(true);
            ReportNaN("NAN AFTER REMOVE");
            inserted = InsertObjects();
        }
    }
    for (MovingObject* a : m_addedObjects) RemovePlaced(a, m_placement);
    RestoreFullSize(true);
}

void SGAlgorithm::HalveBatch() {
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        for (size_t i = 0; i < m_addedObjects.size() && !m_placedObjects->empty(); ++i) m_placedObjects->pop_back();
    }
    float sum = 0.0f;
    for (const MovingObject* a : m_addedObjects) sum += a->m_volume;
    const float target = 0.5f * sum;
    while (sum > target && !m_addedObjects.empty()) {
        auto it = m_addedObjects.begin();
        std::advance(it, m_random->mrand(static_cast<unsigned>(m_addedObjects.size())));
        MovingObject* gone = *it;
        m_addedObjects.erase(it);
        sum -= gone->m_volume;
        m_collisionPipeline->deactivate(gone->m_id);
        m_placement->deactivate(gone->m_id);
    }
}

void SGAlgorithm::AddObjects(float volume, col::CollisionPipeline* placement) {
    float added = 0.0f;
    while (added < volume) {
        MovingObject* obj = AddParked(DrawObject(), placement);
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            Packing::ScaleObject(*obj, kHalfSize, false);
            Packing::RebuildModel(*obj);
        }
        m_addedObjects.push_back(obj);
        if (!(obj->m_volume > 0.0f)) break;  // an object without volume would never fill the batch
        added += obj->m_volume;
    }
}

bool SGAlgorithm::InsertObjects() {
    m_collisionPipeline->deactivate(m_container->m_id);
    ScaleContainer(1.0f, false);
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        for (MovingObject* a : m_addedObjects) {
            const float x = randMToN(5000, 50000);
            const float y = randMToN(5000, 50000);
            const float z = randMToN(5000, 50000);
            Packing::SetPosition(*a, Vector3(x, y, z));
            Packing::ScaleObject(*a, kHalfSize, true);
            a->m_colorPtr = a->m_color;
            Packing::RebuildModel(*a);
        }
    }
    ScalePlaced(kHalfSize, true);
    for (MovingObject* o : *m_placedObjects) o->m_velocity = Vector3(0.0f);
    for (MovingObject* a : m_addedObjects) AppendPlaced(a);
    const bool inserted = DropBatch(true);
    if (inserted) std::cout << OverlapFlag() << std::endl;
    return inserted;
}

bool SGAlgorithm::Optimize(float dt) {
    ScalePlaced(kHalfSize, true);
    ScaleContainer(1.0f);
    m_timeLimit = 2.0f;
    Spread(25, [this](const MovingObject& o) {
        constexpr float kFourPi = 12.566371f;
        const float r = std::cbrt(3.0f * o.m_volume / kFourPi);  // radius of a sphere of o's volume
        return 2.0f * AwayFromSameType(o, 4.0f * r * r);         // speed 2 away from closer than 2r
    });
    m_timeLimit = 30.0f;

    ScaleSchedule schedule = Growth(dt);
    schedule.maxFailures = kGrowthFailures;
    schedule.apply = [this](float scale) { ScalePlaced(scale, true); };
    schedule.shake = [](const MovingObject& o) { return o.m_velocity; };
    return RunSchedule(schedule);
}
