#include "algorithms/improvement/CavityFilling.h"

#include <iostream>
#include <string>

#include "algorithms/Relaxation.h"
#include "geometry/MovingObject.h"
#include "geometry/Progress.h"

using Vectormath::Aos::Vector3;

bool CavityFilling::M_overlapConverged = false;

namespace {

constexpr int kFillerTypeIndex = 6;

}  // namespace

int CavityFilling::FirstFiller(int typeCount) { return typeCount > kFillerTypeIndex ? kFillerTypeIndex : 0; }

void CavityFilling::Init() { RegisterPlaced(true); }

bool CavityFilling::Compact() {
    RelaxRule rule;
    rule.limitSeconds = m_timeLimit;
    rule.report = true;
    if (!Relax(rule)) return false;
    SaveObjectStates(m_placedObjects);
    return true;
}

void CavityFilling::ImprovementHeuristic() {
    FillUpBuffer();
    const int typeCount = static_cast<int>(m_objectTypes->size());
    const int first = FirstFiller(typeCount);
    const int count = static_cast<int>(m_pointsInside->size());
    int type = first, pointIndex = 0, tries = 0, skipped = 0;
    SaveObjectStates(m_placedObjects);
    m_settled = true;
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Cavity filling", static_cast<uint64_t>(count), "points");
    const auto figures = [&] { return "tries " + std::to_string(tries) + ", skipped " + std::to_string(skipped); };

    while (count > 0 && typeCount > 0) {
        progress.update(static_cast<uint64_t>(pointIndex), figures());
        if (type == typeCount) {
            pointIndex += m_pointStep;
            if (pointIndex >= count) break;
            type = first;
        }
        MovingObject* c = Drop(type, (*m_pointsInside)[static_cast<size_t>(pointIndex)]);
        for (MovingObject* o : *m_placedObjects) {
            m_collisionPipeline->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
            o->m_overlap = 0.0f;
        }
        ++tries;
        Packing::ClearMatrix(*m_pairs);
        OverlapFlag() = true;
        m_collisionPipeline->check();

        if (c->m_overlap / c->m_volume > m_maxOverlapRatio) {
            Packing::ClearMatrix(*m_pairs);
            Reject(c);
            ++skipped;
            ++type;
            continue;
        }
        ResolvePass();
        if (Compact()) {
            m_buffer[static_cast<size_t>(type)].clear();
            FillUpBuffer();
            pointIndex += m_pointStep;
            if (pointIndex >= count) break;
            type = first;
        } else {
            std::cout << "THEORY" << std::endl;
            Reject(c);
            ++type;
        }
    }
    progress.end(figures());
    // A walk that ends on a relaxation that did not converge leaves the last settled packing.
    if (!m_settled) RestoreSettled();
    m_collisionPipeline->activate(m_container->m_id);
    std::cout << "tries: " << tries << " | skipped: " << skipped << std::endl;
}
