#include "algorithms/construction/PlacementAlgorithm.h"

#include <iostream>
#include <string>

#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "algorithms/Separation.h"
#include "collision/Data.h"
#include "collision/FibRand.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"
#include "geometry/Random.h"

using Packing::Park;
using Packing::RebuildModel;
using Packing::SetPosition;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

bool PlacementAlgorithm::M_overlapConverged = false;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;  // leaf pairs of the largest lens volumes
constexpr double kRelaxLimitSeconds = 5.0;
constexpr float kNudge = 0.0001f;  // keeps successive orientation tries from testing the same pose twice

}  // namespace

// ---------------------------------------------------------------------------------------------
// PCallback

PCallback::PCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level)
    : col::Callback(a.m_id, b.m_id, false, true, level), m_a(a), m_b(b) {}

void PCallback::operator()(const col::Data* data) {
    if (Packing::Separate(m_a, m_b, data, Packing::SeparationRule{})) PlacementAlgorithm::M_overlapConverged = false;
}

// ---------------------------------------------------------------------------------------------
// PlacementAlgorithm

PlacementAlgorithm::PlacementAlgorithm(std::vector<PackingObjectInfo>& types, MovingObject* container,
                                       std::vector<Vector3>& points, std::list<MovingObject*>* placed, Vector3 v)
    : IConstructionHeuristic(types, container, points, placed, v) {}

PlacementAlgorithm::~PlacementAlgorithm() = default;

int& PlacementAlgorithm::PointIndex() {
    static int pointIndex = 0;
    return pointIndex;
}

void PlacementAlgorithm::Init() {
    IPackingAlgorithm::Init();
    for (size_t t = 0; t < m_objectTypes->size(); ++t) m_buffer.push_back(nullptr);
}

void PlacementAlgorithm::ConstructionHeuristic() {
    m_container->m_geometry->updateBBox();
    col::CollisionPipeline* placement = CreatePipeline("PlacementPipeline", 2);
    MakeObjectCollidable(placement, m_container);

    FillUpBuffer(placement);
    bool randomType = true;
    int placedCount = 0;
    MovingObject* obj = nullptr;
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Placement", m_pointsInside->size(), "points");

    while (true) {
        if (PlaceObject(placement, randomType, &obj) == 0) break;
        progress.update(static_cast<uint64_t>(PointIndex()), "placed " + std::to_string(placedCount));

        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            m_placedObjects->push_back(obj);
        }
        m_collisionPipeline->activate(obj->m_id);

        if (Compact()) {
            ++placedCount;
            SaveObjectStates(m_placedObjects);
            m_buffer[static_cast<size_t>(obj->m_typeIndex)] = nullptr;
            FillUpBuffer(placement);
            randomType = true;
        } else {
            // Could not settle: take it out and fall back to the last accepted packing; the same
            // object is the candidate at the next point.
            obj->m_stopped = false;
            std::cout << "THEORY" << std::endl;
            {
                std::lock_guard<std::mutex> lock(g_packingMutex);
                Park(*obj);
                m_placedObjects->pop_back();
            }
            m_collisionPipeline->deactivate(obj->m_id);
            std::lock_guard<std::mutex> lock(g_packingMutex);
            LoadObjectStates(m_placedObjects);
            randomType = false;
        }
    }

    progress.end("placed " + std::to_string(placedCount));
    std::cout << "End" << std::endl;
    std::cout << placedCount << std::endl;
    std::lock_guard<std::mutex> lock(g_packingMutex);
    LoadObjectStates(m_placedObjects);
}

void PlacementAlgorithm::FillUpBuffer(col::CollisionPipeline* placement) {
    for (size_t t = 0; t < m_buffer.size(); ++t) {
        if (m_buffer[t] != nullptr) continue;
        MovingObject* obj = GenerateObject(static_cast<int>(t));
        MakeObjectCollidable(placement, obj);
        MakeObjectCollidable(m_collisionPipeline, obj);

        // Every pair is registered once, here, so a relaxation never adds callbacks.
        for (MovingObject* g : m_generatedObjects) {
            placement->addCallback(new PCallback(*g, *obj, kLevel));
            m_collisionPipeline->addCallback(new PCallback(*g, *obj, kLevel));
        }
        placement->addCallback(new PCallback(*m_container, *obj, kLevel));
        m_collisionPipeline->addCallback(new PCallback(*m_container, *obj, kLevel));

        m_collisionPipeline->deactivate(obj->m_id);
        placement->deactivate(obj->m_id);
        m_generatedObjects.push_back(obj);

        Park(*obj);
        obj->m_rotationMatrix = Packing::RandomRotation();
        RebuildModel(*obj);

        m_buffer[t] = obj;
    }
}

int PlacementAlgorithm::PlaceObject(col::CollisionPipeline* placement, bool randomType, MovingObject** obj) {
    int& pointIndex = PointIndex();
    const int n = static_cast<int>(m_pointsInside->size());
    MovingObject* c = *obj;
    int result = 0;

    while (true) {
        if (pointIndex >= n) return result;
        if (result == 2) return 2;
        if (randomType) {
            if (m_buffer.empty()) return 0;
            c = m_buffer[m_random->mrand(static_cast<unsigned>(m_buffer.size()))];
        }

        const Vector3 p = (*m_pointsInside)[static_cast<size_t>(pointIndex)];
        ++pointIndex;
        SetPosition(*c, p);
        RebuildModel(*c);
        placement->activate(c->m_id);
        placement->moveObject(c->m_id, &c->m_modelMatrix, nullptr);
        M_overlapConverged = true;
        placement->check();
        if (!M_overlapConverged) RotateObject(placement, c);
        placement->deactivate(c->m_id);

        if (M_overlapConverged) {
            c->m_stopped = true;
            *obj = c;
            placement->deactivate(c->m_id);
            return 1;
        }

        // The candidate does not fit: give the smaller types that are short of their share a
        // chance at the same point.
        if (m_placedObjects->empty()) continue;
        const size_t typeCount = m_objectTypes->size();
        for (size_t t = static_cast<size_t>(c->m_typeIndex) + 1; t < typeCount; ++t) {
            size_t ofType = 0;
            for (const MovingObject* o : *m_placedObjects)
                if (o->m_typeIndex == static_cast<int>(t)) ++ofType;
            const float share = static_cast<float>(ofType) / static_cast<float>(m_placedObjects->size()) * 100.0f;
            if (!((*m_objectTypes)[t].percentage > share)) continue;

            MovingObject* b = m_buffer[t];
            b->m_position = c->m_position;
            placement->activate(b->m_id);
            RotateObject(placement, b);
            if (M_overlapConverged) {
                b->m_stopped = true;
                *obj = b;
                Park(*c);
                result = 2;
                placement->deactivate(b->m_id);
                break;
            }
            Park(*b);
            placement->deactivate(b->m_id);
        }
    }
}

void PlacementAlgorithm::RotateObject(col::CollisionPipeline* placement, MovingObject* obj) {
    // Try 0 is the identity; it is remembered with the x axis.
    for (int i = 0; i < 7; ++i) {
        const Packing::Orientation o =
            i == 0 ? Packing::Orientation{Vector3(1, 0, 0), 0.0f} : Packing::kCanonicalTurns[i - 1];
        obj->m_rotationMatrix = i == 0 ? Matrix4::identity() : Matrix4::rotation(o.angle, o.axis);
        obj->m_position.setX(obj->m_position.getX() + kNudge);
        obj->m_translationMatrix.setTranslation(obj->m_position);
        RebuildModel(*obj);
        if (Packing::CheckFree(placement, *obj, M_overlapConverged)) {
            Packing::RememberRotation(obj->m_typeIndex, o);
            return;
        }
    }
}

bool PlacementAlgorithm::Compact() {
    m_container->m_inverseMass = 0.0f;
    M_overlapConverged = false;
    MovingObject* newest = m_placedObjects->empty() ? nullptr : m_placedObjects->back();

    Packing::Relaxation relax;
    relax.pipeline = m_collisionPipeline;
    relax.objects = m_placedObjects;
    relax.step = Packing::SeparationSteps();
    relax.flag = &M_overlapConverged;
    relax.limitSeconds = kRelaxLimitSeconds;
    relax.beginIteration = [newest] {
        if (newest != nullptr) newest->m_overlap = 0.0f;
    };
    return relax.Run() == Packing::RelaxResult::Converged;
}
