#include "algorithms/improvement/CavityHeuristic.h"

#include <mutex>

#include "algorithms/ObjectPose.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingLock.h"

void CavityHeuristic::FillUpBuffer() {
    if (m_buffer.empty()) m_buffer.resize(m_objectTypes->size());
    for (size_t t = 0; t < m_buffer.size(); ++t) {
        if (!m_buffer[t].empty()) continue;
        MovingObject* obj = AddParked(GenerateObject(static_cast<int>(t)), nullptr);
        if (m_candidateScale != 1.0f) {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            Packing::ScaleObject(*obj, m_candidateScale);
            Packing::RebuildModel(*obj);
        }
        m_collisionPipeline->deactivate(obj->m_id);
        m_buffer[t].push_back(obj);
    }
}

MovingObject* CavityHeuristic::Drop(int type, const Vectormath::Aos::Vector3& at) {
    MovingObject* c = m_buffer[static_cast<size_t>(type)].front();
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        Packing::SetPosition(*c, at);
        Packing::RebuildModel(*c);
        m_placedObjects->push_back(c);
    }
    m_collisionPipeline->activate(c->m_id);
    return c;
}

void CavityHeuristic::Reject(MovingObject* c) {
    c->m_stopped = false;
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        Packing::Park(*c);
        m_placedObjects->pop_back();
    }
    m_collisionPipeline->deactivate(c->m_id);
}

void CavityHeuristic::RestoreSettled() {
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        LoadObjectStates(m_placedObjects);
    }
    MovePlaced();
}
