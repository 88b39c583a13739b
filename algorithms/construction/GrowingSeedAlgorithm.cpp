#include "algorithms/construction/GrowingSeedAlgorithm.h"

#include <algorithm>
#include <iostream>
#include <mutex>
#include <numeric>
#include <string>

#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "algorithms/Separation.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"
#include "geometry/Timer.h"

using Vectormath::Aos::Vector3;

bool GrowingSeedAlgorithm::M_overlapConverged = false;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;
constexpr double kRelaxLimitSeconds = 1.0;
constexpr float kLastStep = 0.05f;  // closer than this to full size, the seed takes its full size
// Spin for every pair: a zero torque direction adds none instead of NaNs.
const Packing::SeparationRule kSeedRule{0.7854f, true, false};

}  // namespace

void GSCallback::operator()(const col::Data* data) {
    if (Packing::Separate(m_a, m_b, data, kSeedRule)) GrowingSeedAlgorithm::M_overlapConverged = false;
}

void GrowingSeedAlgorithm::Init() {
    IPackingAlgorithm::Init();
    for (const Vector3& p : *m_pointsInside) {
        MovingObject* seed = GenerateRandomObject();
        // Shares that add up to less than 100 % leave some draws without a type: the smallest one.
        if (seed == nullptr) seed = GenerateObject(static_cast<int>(m_objectTypes->size()) - 1);
        MakeObjectCollidable(m_collisionPipeline, seed);
        for (MovingObject* o : *m_placedObjects) m_collisionPipeline->addCallback(new GSCallback(*o, *seed, kLevel));
        m_collisionPipeline->addCallback(new GSCallback(*m_container, *seed, kLevel));
        std::lock_guard<std::mutex> lock(g_packingMutex);
        m_placedObjects->push_back(seed);
        Packing::SetPosition(*seed, p);
        Packing::ScaleObject(*seed, m_seedScale, true);
        seed->m_rotationMatrix = Packing::RandomRotation();
        Packing::RebuildModel(*seed);
        m_collisionPipeline->deactivate(seed->m_id);
    }
    std::cout << "Objects callback registered." << std::endl;
}

void GrowingSeedAlgorithm::ConstructionHeuristic() {
    Packing::Timer timer;
    timer.Start();
    const size_t typeCount = m_objectTypes->size();
    std::vector<int> counts(typeCount, 0);
    std::vector<bool> enabled(typeCount, true);
    int grownCount = 0;
    // A type found without waiting seeds is disabled and its pass given back, so the loop ends
    // once every seed has been grown or removed.
    size_t total = m_placedObjects->size();
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Growing seeds", total, "seeds");
    const auto handled = [&] {
        return static_cast<uint64_t>(std::accumulate(counts.begin(), counts.end(), m_removed));
    };
    for (size_t pass = 0; pass < total; ++pass) {
        progress.update(handled(), "removed " + std::to_string(m_removed));
        const int t = ChooseType(counts, enabled, grownCount);
        if (t < 0) break;
        SaveObjectStates(m_placedObjects);
        const std::string& name = (*m_objectTypes)[static_cast<size_t>(t)].name;
        const auto waiting = std::find_if(m_placedObjects->begin(), m_placedObjects->end(),
                                          [&](const MovingObject* o) { return o->m_name == name && !o->m_stopped; });
        if (waiting == m_placedObjects->end()) {
            enabled[static_cast<size_t>(t)] = false;
            ++total;
            continue;
        }
        MovingObject* seed = *waiting;
        if (Grow(seed)) {
            seed->m_stopped = true;
            ++grownCount;
            ++counts[static_cast<size_t>(t)];
        }
    }
    progress.update(handled());
    progress.end("removed " + std::to_string(m_removed));
    std::cout << "Growing ended." << std::endl;
    std::cout << "Time Min: " << Packing::Timer::ToMinutes(timer.Elapsed()) << std::endl;
    if (m_removed > 0)
        std::cerr << "densepack: GrowingSeedAlgorithm removed " << m_removed
                  << " seeds whose relaxation reached its limit" << std::endl;
}

int GrowingSeedAlgorithm::ChooseType(const std::vector<int>& counts, const std::vector<bool>& enabled,
                                     int& grownCount) const {
    const auto first = std::find(enabled.begin(), enabled.end(), true);
    if (first == enabled.end()) return -1;
    const int firstEnabled = static_cast<int>(first - enabled.begin());
    if (grownCount == 0) return enabled[0] ? 0 : firstEnabled;
    // Counting more grown seeds only lowers the shares, so a type with a share above 0 is found
    // after finitely many rounds; without one the search could not end.
    bool reachable = false;
    for (size_t t = 0; t < enabled.size(); ++t)
        reachable = reachable || (enabled[t] && (*m_objectTypes)[t].percentage > 0.0f);
    if (!reachable) return firstEnabled;
    while (true) {
        for (size_t t = 0; t < enabled.size(); ++t) {
            const float share = static_cast<float>(counts[t]) / static_cast<float>(grownCount) * 100.0f;
            if (enabled[t] && share < (*m_objectTypes)[t].percentage) return static_cast<int>(t);
        }
        ++grownCount;
    }
}

bool GrowingSeedAlgorithm::Grow(MovingObject* seed) {
    float s = m_seedScale;
    while (s < m_finalScale) {
        if (m_finalScale - s < kLastStep) s = m_finalScale;
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            Packing::ScaleObject(*seed, s, true);
        }
        m_collisionPipeline->activate(seed->m_id);
        if (!Compact()) {
            m_collisionPipeline->moveObject(seed->m_id, &seed->m_modelMatrix, nullptr);
            m_collisionPipeline->deactivate(seed->m_id);
            std::lock_guard<std::mutex> lock(g_packingMutex);
            m_placedObjects->remove(seed);
            LoadObjectStates(m_placedObjects);
            ++m_removed;
            return false;
        }
        s += m_growthRate * Packing::kSeparationTimeStep;
    }
    return true;
}

bool GrowingSeedAlgorithm::Compact() {
    m_container->m_inverseMass = 0.0f;
    M_overlapConverged = false;
    MovingObject* newest = m_placedObjects->empty() ? nullptr : m_placedObjects->back();
    return Packing::RelaxSeparation(m_collisionPipeline, m_placedObjects, M_overlapConverged, kRelaxLimitSeconds,
                                    newest) == Packing::RelaxResult::Converged;
}
