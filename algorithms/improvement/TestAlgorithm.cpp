#include "algorithms/improvement/TestAlgorithm.h"

#include <iostream>

#include "algorithms/Relaxation.h"
#include "app/PackingObjectInfo.h"
#include "geometry/MovingObject.h"

using Vectormath::Aos::Vector3;

bool TestAlgorithm::M_overlapConverged = false;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;
constexpr float kHalfSize = 0.5f;
constexpr int kGatherPasses = 25;
constexpr float kOutwardSpeed = 0.25f;
constexpr int kScaleSteps = 60;
constexpr int kAttemptsPerType = 3;

col::Callback* MakeCallback(MovingObject& a, MovingObject& b, IsecMatrix* matrix) {
    return new TestCallback(a, b, kLevel, matrix);
}

}  // namespace

TestCallback::TestCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix)
    : Packing::MatrixCallback(a, b, level, matrix, TestAlgorithm::M_overlapConverged, {true, false}) {}

TestAlgorithm::TestAlgorithm(std::vector<PackingObjectInfo>& types, MovingObject* container,
                             std::vector<Vector3>& points, std::list<MovingObject*>* placed, Vector3 gridCells)
    : BatchHeuristic(types, container, points, placed, gridCells, M_overlapConverged, MakeCallback) {}

void TestAlgorithm::Init() { RegisterPlaced(true); }

void TestAlgorithm::ImprovementHeuristic() { ForceApproach(); }

void TestAlgorithm::ForceApproach() {
    if (!ContainerCentred()) return;
    m_placement = CreatePlacement();
    const int typeCount = static_cast<int>(m_objectTypes->size());
    float percentage = 0.05f;  // only printed
    int tries = 0;
    for (int type = 0; type < typeCount;) {
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
            std::cout << "Current percentage: " << percentage << std::endl;
            std::cout << "Objects added: " << m_addedObjects.size() << std::endl;
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

    ScaleSchedule schedule;
    schedule.start = kHalfSize;
    schedule.step = 0.66f * dt;
    schedule.retreat = "ScaleDown ";
    schedule.maxIterations = kScaleSteps;
    schedule.apply = [this](float scale) {
        ScalePlaced(scale, false);
        for (MovingObject* o : *m_placedObjects) o->m_velocity = kOutwardSpeed * Packing::AwayFromOrigin(*o);
    };
    schedule.shake = [](const MovingObject& o) { return -Packing::AwayFromOrigin(o); };
    return RunSchedule(schedule);
}
