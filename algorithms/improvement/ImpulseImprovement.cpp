#include "algorithms/improvement/ImpulseImprovement.h"

#include <iostream>
#include <mutex>

#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "collision/NanoTimer.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"

using Vectormath::Aos::Vector3;

namespace {

// The compaction's per-iteration console lines: iteration count, then the running averages of
// the step, the check and the resolve pass in seconds.
class IterationReport {
 public:
    IterationReport(bool on, size_t placed) : m_on(on), m_placed(placed) {}
    void Begin() {
        ++m_count;
        m_timer.start();
    }
    void Checking() {
        if (!m_on) return;
        std::cout << "Counter : " << m_count << std::endl;
        m_sum[0] += Lap();
    }
    void Checked() {
        if (!m_on) return;
        m_sum[1] += Lap();
        std::cout << "Compaction Avg: " << m_sum[0] / m_count << std::endl;
        std::cout << "Collision  Avg: " << m_sum[1] / m_count << std::endl;
    }
    void Resolved() {
        if (!m_on) return;
        m_sum[2] += Lap();
        std::cout << "Resolve Avg: " << m_sum[2] / m_count << std::endl;
        std::cout << "Placed Objs nr: " << m_placed << std::endl;
    }

 private:
    double Lap() {
        const double s = m_timer.elapsed() / 1e9;
        m_timer.start();
        return s;
    }
    bool m_on;
    size_t m_placed;
    int m_count = 0;
    double m_sum[3] = {0.0, 0.0, 0.0};
    col::NanoTimer m_timer;
};

}  // namespace

ImpulseImprovement::ImpulseImprovement(std::vector<PackingObjectInfo>& types, MovingObject* container,
                                       std::vector<Vector3>& points, std::list<MovingObject*>* placed,
                                       Vector3 gridCells)
    : IImprovementHeuristic(types, container, points, placed, gridCells) {
    m_isecMatrix = new IsecMatrix();
    m_pairs = m_isecMatrix;
}

void ImpulseImprovement::ConnectAll(col::CollisionPipeline* pipeline) {
    const size_t n = m_objects.size();
    for (size_t i = 1; i < n; ++i)
        for (size_t j = 0; j < i; ++j) pipeline->addCallback(NewCallback(*m_objects[i], *m_objects[j]));
    for (MovingObject* o : m_objects) pipeline->addCallback(NewCallback(*m_container, *o));
}

void ImpulseImprovement::RegisterPlaced(bool boxInertia) {
    IPackingAlgorithm::Init();
    for (MovingObject* o : *m_placedObjects) {
        m_objects.push_back(o);
        MakeObjectCollidable(m_collisionPipeline, o);
        if (boxInertia) Packing::SetBoxInertia(*o);
    }
    ConnectAll(m_collisionPipeline);
    Packing::SizeMatrix(*m_pairs, m_objects.size() + 1);
    std::cout << "Objects callback registered." << std::endl;
}

col::CollisionPipeline* ImpulseImprovement::CreatePlacement() {
    col::CollisionPipeline* placement = CreatePipeline("PlacementPipeline", 2);
    MakeObjectCollidable(placement, m_container);
    for (MovingObject* o : m_objects) MakeObjectCollidable(placement, o);
    ConnectAll(placement);
    for (MovingObject* o : m_objects) placement->deactivate(o->m_id);
    return placement;
}

MovingObject* ImpulseImprovement::DrawObject() {
    MovingObject* obj = GenerateRandomObject();
    return obj != nullptr ? obj : GenerateObject(static_cast<int>(m_objectTypes->size()) - 1);
}

MovingObject* ImpulseImprovement::AddParked(MovingObject* obj, col::CollisionPipeline* placement) {
    MakeObjectCollidable(m_collisionPipeline, obj);
    Connect(m_collisionPipeline, m_objects, *obj);
    if (placement != nullptr) {
        MakeObjectCollidable(placement, obj);
        Connect(placement, m_objects, *obj);
    }
    Packing::GrowMatrix(*m_pairs);
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        Packing::Park(*obj);
        obj->m_rotationMatrix = Packing::RandomRotation();
        Packing::RebuildModel(*obj);
    }
    obj->m_geometry->updateBBox();
    if (m_newBoxInertia) Packing::SetBoxInertia(*obj);
    m_objects.push_back(obj);
    return obj;
}

bool ImpulseImprovement::Relax(const RelaxRule& rule) {
    m_container->m_inverseMass = 0.0f;
    MovingObject* newest = rule.maxOverlapRatio > 0.0f && !m_placedObjects->empty() ? m_placedObjects->back() : nullptr;
    IterationReport report(rule.report && !Packing::Quiet(), m_placedObjects->size());

    Packing::Relaxation relax;
    relax.pipeline = m_collisionPipeline;
    relax.objects = m_placedObjects;
    relax.step = Packing::ImpulseSteps();
    relax.flag = &OverlapFlag();
    relax.limitSeconds = rule.limitSeconds;
    relax.beginIteration = [&] {
        report.Begin();
        if (newest != nullptr) newest->m_overlap = 0.0f;
    };
    relax.beforeCheck = [&] {
        report.Checking();
        Packing::ClearMatrix(*m_pairs);
    };
    relax.afterCheck = [&] {
        report.Checked();
        ResolvePass(rule.releaseLists);
        report.Resolved();
        if (newest == nullptr) return true;
        const float s = Packing::ScaleOf(*newest);
        return !(newest->m_overlap / (s * s * s * newest->m_volume) > rule.maxOverlapRatio);
    };
    OverlapFlag() = false;
    m_settled = relax.Run() == Packing::RelaxResult::Converged;
    return m_settled;
}

void ImpulseImprovement::ResolvePass(bool releaseLists) {
    Packing::ResolvePairs(*m_pairs, m_objects, m_container, &MovingObject::ApplyImpulse2, releaseLists);
}

void ImpulseImprovement::AppendPlaced(MovingObject* o) {
    std::lock_guard<std::mutex> lock(g_packingMutex);
    m_placedObjects->push_back(o);
}

void ImpulseImprovement::RemovePlaced(MovingObject* o, col::CollisionPipeline* placement) {
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        for (auto it = m_placedObjects->begin(); it != m_placedObjects->end(); ++it) {
            if ((*it)->m_id == o->m_id) {
                m_placedObjects->erase(it);
                break;
            }
        }
    }
    m_collisionPipeline->deactivate(o->m_id);
    if (placement != nullptr) placement->deactivate(o->m_id);
}

void ImpulseImprovement::RestoreFullSize(bool geometryToo) {
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        LoadObjectStates(m_placedObjects);
        for (MovingObject* o : *m_placedObjects) {
            Packing::ScaleObject(*o, 1.0f, geometryToo);
            Packing::RebuildModel(*o);
        }
    }
    MovePlaced();
}

void ImpulseImprovement::MovePlaced() {
    for (MovingObject* o : *m_placedObjects) m_collisionPipeline->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
}
