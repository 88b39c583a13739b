#include "algorithms/improvement/BatchHeuristic.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <mutex>

#include "algorithms/ObjectPose.h"
#include "collision/FibRand.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/Progress.h"
#include "geometry/Timer.h"

using Vectormath::Aos::Vector3;

namespace {

constexpr float kInsertLimitSeconds = 5.0f;
constexpr float kShakeSpeed = 2.0f;
constexpr float kCentreTolerance = 1e-3f;  // of the container box diagonal
// Objects that keep failing to grow step back below their start size; they never shrink below
// this, so they neither vanish nor turn inside out.
constexpr float kMinObjectScale = 0.1f;
constexpr int kFloorFailures = 2;

// "timing.txt" in the working directory, truncated per schedule. A file that cannot be opened
// is reported once per run; the schedule goes on without it.
class TimingFile {
 public:
    TimingFile() : m_out("timing.txt", std::ios::out | std::ios::trunc) {
        static bool reported = false;
        if (!m_out.is_open() && !reported) {
            reported = true;
            std::cerr << "Cannot open timing.txt for writing; the relaxation times are not recorded." << std::endl;
        }
    }
    void Line(float scale, double seconds) {
        if (m_out.is_open()) m_out << scale << " " << seconds << "\n";
    }

 private:
    std::ofstream m_out;
};

}  // namespace

Vector3 Packing::AwayFromOrigin(const MovingObject& o) { return SafeNormalize(o.m_position); }

void BatchHeuristic::Init() { RegisterPlaced(true); }

void BatchHeuristic::ImprovementHeuristic() { ForceApproach(); }

bool BatchHeuristic::Compact() {
    RelaxRule rule;
    rule.limitSeconds = m_timeLimit;
    rule.maxOverlapRatio = m_overlapExit;
    return Relax(rule);
}

BatchHeuristic::ScaleSchedule BatchHeuristic::Growth(float dt) {
    ScaleSchedule schedule;
    schedule.start = kHalfSize;
    schedule.step = 0.66f * dt;
    schedule.retreat = "ScaleDown ";
    return schedule;
}

bool BatchHeuristic::RunSchedule(const ScaleSchedule& schedule) {
    TimingFile timing;
    float lastScale = schedule.start;
    bool solved = false;
    int failures = 0;
    int floorFailures = 0;  // failed growth steps in a row that ended at the smallest scale
    for (int iteration = 1;; ++iteration) {
        const float next = lastScale + schedule.step;
        float scale = schedule.step < 0.0f ? std::max(1.0f, next) : std::min(1.0f, next);
        if (!Packing::Quiet()) std::cout << "C. Scale " << scale << std::endl;
        lastScale = scale;
        schedule.apply(scale);

        Packing::Timer timer;
        timer.Start();
        const bool converged = Compact();
        timing.Line(lastScale, timer.Elapsed() / 1000.0);

        if (converged) {
            solved = true;
            if (scale == 1.0f) break;
        } else {
            scale = lastScale - 2.0f * schedule.step;
            // A growth that keeps failing at the smallest scale has every object pulled onto one
            // spot by each retreat, where no relaxation parts them: the rest of its iterations
            // would only repeat that, at the cost of every leaf pair of every pair.
            if (schedule.step > 0.0f && scale < kMinObjectScale) {
                scale = kMinObjectScale;
                if (++floorFailures >= kFloorFailures) return false;
            } else {
                floorFailures = 0;
            }
            if (!Packing::Quiet()) std::cout << schedule.retreat << scale << std::endl;
            lastScale = scale;
            schedule.apply(scale);
            m_collisionPipeline->moveObject(m_container->m_id, &m_container->m_modelMatrix, nullptr);
            for (MovingObject* o : *m_placedObjects)
                o->m_velocity = kShakeSpeed * Packing::SafeNormalize(schedule.shake(*o) + Packing::RandomDirection());
            Compact();
            solved = false;
            ++failures;
        }
        if (schedule.maxFailures > 0 && failures >= schedule.maxFailures) return false;
        if (schedule.maxIterations > 0 && iteration >= schedule.maxIterations) return false;
    }
    if (!Packing::Quiet()) {
        std::cout << "solved: " << solved << std::endl;
        std::cout << "scale: " << lastScale << std::endl;
    }
    return true;
}

void BatchHeuristic::Spread(int passes, const std::function<Vector3(const MovingObject&)>& push) {
    for (int pass = 0; pass < passes; ++pass) {
        for (MovingObject* o : *m_placedObjects) o->m_velocity += push(*o);
        Compact();
    }
}

Vector3 BatchHeuristic::AwayFromSameType(const MovingObject& o, float radiusSq) const {
    Vector3 sum(0.0f);
    for (const MovingObject* j : *m_placedObjects) {
        if (j->m_id == o.m_id || j->m_typeIndex != o.m_typeIndex) continue;
        const Vector3 d = j->m_position - o.m_position;
        if (lengthSqr(d) < radiusSq) sum += d;
    }
    return -Packing::SafeNormalize(sum);
}

bool BatchHeuristic::DropBatch(bool report) {
    const size_t count = m_pointsInside->size();
    const float savedLimit = m_timeLimit;
    m_timeLimit = kInsertLimitSeconds;
    bool inserted = count > 0;
    for (auto it = m_addedObjects.begin(); inserted && it != m_addedObjects.end(); ++it) {
        MovingObject& o = **it;
        m_collisionPipeline->activate(o.m_id);
        inserted = false;
        for (int tries = 0; tries < kInsertTries && !inserted; ++tries) {
            const unsigned k = m_random->mrand(static_cast<unsigned>(count));
            {
                std::lock_guard<std::mutex> lock(g_packingMutex);
                o.m_colorPtr = o.m_color;
                Packing::SetPosition(o, (*m_pointsInside)[k]);
                Packing::RebuildModel(o);
            }
            inserted = Compact();
            if (report && !Packing::Quiet()) std::cout << OverlapFlag() << std::endl;
        }
    }
    m_timeLimit = savedLimit;
    return inserted;
}

void BatchHeuristic::ScaleContainer(float s, bool activate) {
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        Packing::ScaleObject(*m_container, s);
        Packing::RebuildModel(*m_container);
    }
    if (activate) m_collisionPipeline->activate(m_container->m_id);
    m_collisionPipeline->moveObject(m_container->m_id, &m_container->m_modelMatrix, nullptr);
}

void BatchHeuristic::ScalePlaced(float s) {
    std::lock_guard<std::mutex> lock(g_packingMutex);
    for (MovingObject* o : *m_placedObjects) {
        Packing::ScaleObject(*o, s);
        Packing::RebuildModel(*o);
    }
}

bool BatchHeuristic::ContainerCentred() const {
    float mn[3], mx[3];
    m_container->m_geometry->updateBBox();
    m_container->m_geometry->getBBox(mn, mx);
    const Vector3 lo(mn[0], mn[1], mn[2]), hi(mx[0], mx[1], mx[2]);
    if (length(0.5f * (lo + hi)) <= kCentreTolerance * length(hi - lo)) return true;
    std::cerr << "The container's box is centred at (" << 0.5f * (mn[0] + mx[0]) << ", " << 0.5f * (mn[1] + mx[1])
              << ", " << 0.5f * (mn[2] + mx[2]) << "), not at the origin the objects are pulled to; "
              << "the improvement leaves the packing as it is." << std::endl;
    return false;
}
