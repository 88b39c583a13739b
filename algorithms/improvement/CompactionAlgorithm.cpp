#include "algorithms/improvement/CompactionAlgorithm.h"

#include <iostream>
#include <string>

#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "collision/Data.h"
#include "collision/NanoTimer.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"
#include "geometry/Random.h"
#include "geometry/Timer.h"

using Packing::Park;
using Packing::RebuildModel;
using Packing::SetBoxInertia;
using Packing::SetPosition;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

bool CompactionAlgorithm::M_overlapConverged = false;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;  // leaf pairs of the largest lens volumes
constexpr double kRelaxLimitSeconds = 30.0;
constexpr int kPointStride = 30;  // candidate points used per insertion attempt
constexpr float kMakeRoomSpeed = 2.5f;
constexpr float kNudge = 0.0001f;  // keeps successive orientation tries from testing the same pose twice

}  // namespace

CompCallback::CompCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix)
    : Packing::MatrixCallback(a, b, level, matrix, CompactionAlgorithm::M_overlapConverged, {}) {}

// ---------------------------------------------------------------------------------------------
// CompactionAlgorithm

CompactionAlgorithm::CompactionAlgorithm(std::vector<PackingObjectInfo>& types, MovingObject* container,
                                         std::vector<Vector3>& points, std::list<MovingObject*>* placed,
                                         Vector3 gridCells)
    : IImprovementHeuristic(types, container, points, placed, gridCells) {
    m_isecMatrix = new IsecMatrix();
}

int& CompactionAlgorithm::PointIndex() {
    static int pointIndex = 0;
    return pointIndex;
}

void CompactionAlgorithm::Init() {
    IPackingAlgorithm::Init();
    for (MovingObject* o : *m_placedObjects) {
        m_objects.push_back(o);
        MakeObjectCollidable(m_collisionPipeline, o);
    }
    for (MovingObject* o : m_objects) SetBoxInertia(*o);

    const size_t n = m_objects.size();
    for (size_t i = 0; i + 1 < n; ++i)
        for (size_t j = 0; j <= i; ++j)
            m_collisionPipeline->addCallback(new CompCallback(*m_objects[i + 1], *m_objects[j], kLevel, m_isecMatrix));

    Packing::SizeMatrix(*m_isecMatrix, n + 1);

    for (MovingObject* o : m_objects)
        m_collisionPipeline->addCallback(new CompCallback(*m_container, *o, kLevel, m_isecMatrix));
    std::cout << "Objects callback registered." << std::endl;
}

void CompactionAlgorithm::ImprovementHeuristic() { Main(); }

void CompactionAlgorithm::Main() {
    col::CollisionPipeline* placement = CreatePipeline("PlacementPipeline", 2);
    MakeObjectCollidable(placement, m_container);
    for (MovingObject* o : *m_placedObjects) MakeObjectCollidable(placement, o);

    // Same pairs as the main pipeline; only the container and the candidate stay active here.
    const size_t n = m_objects.size();
    for (size_t i = 0; i + 1 < n; ++i)
        for (size_t j = 0; j <= i; ++j)
            placement->addCallback(new CompCallback(*m_objects[i + 1], *m_objects[j], kLevel, m_isecMatrix));
    for (MovingObject* o : m_objects) {
        placement->addCallback(new CompCallback(*m_container, *o, kLevel, m_isecMatrix));
        placement->deactivate(o->m_id);
    }

    col::NanoTimer nanoTimer;
    nanoTimer.start();
    Packing::Timer packingTimer;
    packingTimer.Start();
    SaveObjectStates(m_placedObjects);
    m_settled = true;
    bool createNew = true;
    int placedCount = 0;
    MovingObject* obj = nullptr;
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Compaction", m_pointsInside->size(), "points");

    while (true) {
        if (PlaceObject(placement, createNew, &obj) == 0) break;
        progress.update(static_cast<uint64_t>(PointIndex()), "added " + std::to_string(placedCount));

        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            m_placedObjects->push_back(obj);
        }
        m_objects.push_back(obj);
        m_collisionPipeline->activate(obj->m_id);

        if (Compact()) {
            ++placedCount;
            createNew = true;
            continue;
        }
        // Could not settle: take it out again and retry the same object at the next point.
        std::cout << "THEORY" << std::endl;
        obj->m_stopped = false;
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            Park(*obj);
            m_placedObjects->pop_back();
        }
        m_objects.pop_back();
        m_collisionPipeline->deactivate(obj->m_id);
        createNew = false;
    }

    if (!m_settled) {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        LoadObjectStates(m_placedObjects);
        for (MovingObject* o : *m_placedObjects) m_collisionPipeline->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
    }

    progress.end("added " + std::to_string(placedCount));
    std::cout << "End" << std::endl;
    std::cout << placedCount << std::endl;
    std::cout << "Time Sec.: " << nanoTimer.elapsed() / 1e9 << std::endl;
    std::cout << "time packing timer: " << packingTimer.Elapsed() / 1000 / 60 << std::endl;
}

namespace {

Vector3 MakeRoomDirection() {
    for (int i = 0; i < 16; ++i) {
        // Named draws: the order of constructor arguments is unspecified, the draw order must not be.
        const float x = randMToN(-1.0f, 1.0f);
        const float y = randMToN(-1.0f, 1.0f);
        const float z = randMToN(-1.0f, 1.0f);
        const Vector3 v(x, y, z);
        const float len = length(v);
        if (len > 1e-3f) return v / len;
    }
    return Vector3(1.0f, 0.0f, 0.0f);
}

}  // namespace

int CompactionAlgorithm::PlaceObject(col::CollisionPipeline* placement, bool createNew, MovingObject** obj) {
    int& pointIndex = PointIndex();
    const int count = static_cast<int>(m_pointsInside->size());
    if (pointIndex >= count) return 0;
    MovingObject* o = createNew ? nullptr : *obj;

    while (true) {
        if (o != nullptr) m_collisionPipeline->deactivate(o->m_id);

        // Make room: push every placed object straight away from the point and relax.
        const Vector3 p = (*m_pointsInside)[static_cast<size_t>(pointIndex)];
        for (MovingObject* q : *m_placedObjects) {
            const Vector3 d = q->m_position - p;
            const float len = length(d);
            // An object sitting exactly on the point (the construction leaves objects on the
            // points) gets a random direction: the new object would otherwise coincide with it,
            // and two coincident objects have no separation direction to relax along.
            q->m_velocity = kMakeRoomSpeed * (len > 0.0f ? d / len : MakeRoomDirection());
        }
        Compact();

        if (createNew) o = CreateObject(m_collisionPipeline, placement);

        SetPosition(*o, p);
        pointIndex += kPointStride;
        if (pointIndex > count) return 0;

        const int t = o->m_typeIndex;
        o->m_rotationMatrix = Matrix4::rotation(MovingObject::m_angle[t], MovingObject::m_rotDir[t]);
        RebuildModel(*o);

        placement->activate(o->m_id);
        placement->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
        M_overlapConverged = true;
        placement->check();
        if (!M_overlapConverged) RotateObject(placement, o);

        placement->deactivate(o->m_id);
        if (M_overlapConverged) break;
        createNew = false;
        if (count <= pointIndex) return 0;
    }

    o->m_stopped = true;
    *obj = o;
    placement->deactivate(o->m_id);
    return 1;
}

MovingObject* CompactionAlgorithm::CreateObject(col::CollisionPipeline* main, col::CollisionPipeline* placement) {
    // The insertions use the seventh type. A configuration with fewer types draws by share
    // instead, and takes the smallest type when the shares leave the draw without one.
    const int typeCount = static_cast<int>(m_objectTypes->size());
    MovingObject* obj = nullptr;
    if (typeCount > 6) {
        obj = GenerateObject(6);
    } else {
        obj = GenerateRandomObject();
        if (obj == nullptr) obj = GenerateObject(typeCount - 1);
    }
    MakeObjectCollidable(main, obj);
    MakeObjectCollidable(placement, obj);

    for (MovingObject* o : *m_placedObjects) {
        main->addCallback(new CompCallback(*o, *obj, kLevel, m_isecMatrix));
        placement->addCallback(new CompCallback(*o, *obj, kLevel, m_isecMatrix));
    }
    main->addCallback(new CompCallback(*m_container, *obj, kLevel, m_isecMatrix));
    placement->addCallback(new CompCallback(*m_container, *obj, kLevel, m_isecMatrix));

    Packing::GrowMatrix(*m_isecMatrix);

    Park(*obj);
    obj->m_rotationMatrix = Packing::RandomRotation();
    RebuildModel(*obj);

    obj->m_geometry->updateBBox();
    SetBoxInertia(*obj);
    return obj;
}

void CompactionAlgorithm::RotateObject(col::CollisionPipeline* placement, MovingObject* obj) {
    const int t = obj->m_typeIndex;
    // Only the largest type gets the canonical turns; the others keep their remembered orientation.
    const int tries = t <= 0 ? 7 : 1;
    for (int i = 0; i < tries; ++i) {
        const Packing::Orientation o = i == 0
                                           ? Packing::Orientation{MovingObject::m_rotDir[t], MovingObject::m_angle[t]}
                                           : Packing::kCanonicalTurns[i - 1];
        obj->m_rotationMatrix = Matrix4::rotation(o.angle, o.axis);
        SetPosition(*obj, obj->m_position + Vector3(kNudge, 0.0f, 0.0f));
        RebuildModel(*obj);
        if (Packing::CheckFree(placement, *obj, M_overlapConverged)) {
            Packing::RememberRotation(t, o);
            return;
        }
    }
}

bool CompactionAlgorithm::Compact() {
    m_container->m_inverseMass = 0.0f;
    col::NanoTimer stepTimer, checkTimer, resolveTimer;
    double stepSum = 0.0, checkSum = 0.0, resolveSum = 0.0;
    M_overlapConverged = false;
    int counter = 0;
    const size_t placedObjs = m_placedObjects->size();
    IsecMatrix& matrix = *m_isecMatrix;
    const bool lines = !Packing::Quiet();  // the per-iteration lines

    Packing::Relaxation relax;
    relax.pipeline = m_collisionPipeline;
    relax.objects = m_placedObjects;
    relax.step = Packing::ImpulseSteps();
    relax.flag = &M_overlapConverged;
    relax.limitSeconds = kRelaxLimitSeconds;
    relax.beginIteration = [&] {
        stepTimer.start();
        ++counter;
    };
    relax.beforeCheck = [&] {
        if (lines) std::cout << "Counter : " << counter << std::endl;
        stepSum += stepTimer.elapsed() / 1e9;
        checkTimer.start();
        Packing::ClearMatrix(matrix);
    };
    relax.afterCheck = [&] {
        checkSum += checkTimer.elapsed() / 1e9;
        if (lines) {
            std::cout << "Compaction Avg: " << stepSum / counter << std::endl;
            std::cout << "Collision  Avg: " << checkSum / counter << std::endl;
        }
        resolveTimer.start();
        Packing::ResolvePairs(matrix, m_objects, m_container, &MovingObject::ApplyImpulse2);
        resolveSum += resolveTimer.elapsed() / 1e9;
        if (lines) {
            std::cout << "Resolve Avg: " << resolveSum / counter << std::endl;
            std::cout << "Placed Objs nr: " << placedObjs << std::endl;
        }
        return true;
    };
    m_settled = relax.Run() == Packing::RelaxResult::Converged;
    if (m_settled) SaveObjectStates(m_placedObjects);
    return m_settled;
}
