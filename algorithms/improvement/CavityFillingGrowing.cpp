#include "algorithms/improvement/CavityFillingGrowing.h"

#include <iostream>
#include <mutex>
#include <string>

#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingLock.h"
#include "geometry/Progress.h"

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

bool CavityFillingGrowing::M_overlapConverged = false;

namespace {

constexpr float kMaxOverlapRatio = 0.8f;
constexpr float kCompactExtentRatio = 0.65f;  // at most this: the type is worth turning
constexpr float kTryNudge = 0.001f;
constexpr float kFinalNudge = 0.0001f;
constexpr float kSnap = 0.05f;  // the last growth step goes straight to full size

// Orthonormal rotation from the first two columns of m (c0, c0 x c1, c2 x c0).
Matrix4 Orthonormal(const Matrix3& m) {
    const Vector3 c0 = Packing::SafeNormalize(m.getCol0());
    const Vector3 c2 = Packing::SafeNormalize(cross(c0, m.getCol1()));
    const Vector3 c1 = Packing::SafeNormalize(cross(c2, c0));
    Matrix4 r = Matrix4::identity();
    r.setUpper3x3(Matrix3(c0, c1, c2));
    return r;
}

}  // namespace

void CavityFillingGrowing::Init() {
    m_pairs = m_growIsecMatrix;
    m_newBoxInertia = false;  // candidates keep the inertia they were made with
    m_candidateScale = m_startScale;
    RegisterPlaced(true);
}

bool CavityFillingGrowing::Compact() {
    RelaxRule rule;
    rule.limitSeconds = m_timeLimit;
    rule.maxOverlapRatio = kMaxOverlapRatio;
    rule.releaseLists = true;
    return Relax(rule);
}

void CavityFillingGrowing::RotateObject(col::CollisionPipeline* pipeline, MovingObject* c) {
    const Matrix3 R0 = c->m_rotationMatrix.getUpper3x3();
    const int tries = c->m_extentRatio <= kCompactExtentRatio ? 7 : 1;
    float best = 99999.0f;
    Matrix4 bestRotation = c->m_rotationMatrix;
    for (int i = 0; i < tries; ++i) {
        const Matrix3 Rk =
            i == 0 ? Matrix3::identity()
                   : Matrix3::rotation(Packing::kCanonicalTurns[i - 1].angle, Packing::kCanonicalTurns[i - 1].axis);
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            c->m_rotationMatrix = Orthonormal(Rk * R0 + R0);
            Packing::SetPosition(*c, c->m_position + Vector3(kTryNudge));
            Packing::RebuildModel(*c);
        }
        c->m_overlap = 0.0f;
        Packing::ClearMatrix(*m_pairs);
        Packing::CheckFree(pipeline, *c, OverlapFlag());
        if (c->m_overlap < best) {
            best = c->m_overlap;
            bestRotation = c->m_rotationMatrix;
        }
    }
    Packing::ClearMatrix(*m_pairs);
    std::lock_guard<std::mutex> lock(g_packingMutex);
    c->m_rotationMatrix = bestRotation;
    Packing::SetPosition(*c, c->m_position + Vector3(kFinalNudge, 0.0f, 0.0f));
    Packing::RebuildModel(*c);
    c->m_overlap = best;
}

float CavityFillingGrowing::Grow(MovingObject* c) {
    // A growth rate that is not positive would never reach the target: one step to it instead.
    const float rate = m_growRate * Packing::kImpulseTimeStep;
    const float step = rate > 0.0f ? rate : m_targetScale - m_startScale;
    for (float s = m_startScale; s < m_targetScale; s += step) {
        if (m_targetScale - s < kSnap) s = 1.0f;
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            Packing::ScaleObject(*c, s, true);
        }
        if (!Compact()) return s;
    }
    return 0.0f;
}

void CavityFillingGrowing::PrintIndex(int index, int count) const {
    if (Packing::Quiet()) return;
    std::cout << "Index: " << index << " | Percent: " << static_cast<float>(index) / static_cast<float>(count) * 100.0f
              << " %" << std::endl;
}

void CavityFillingGrowing::ImprovementHeuristic() {
    FillUpBuffer();
    const int typeCount = static_cast<int>(m_objectTypes->size());
    const int count = static_cast<int>(m_pointsInside->size());
    int index = 0, type = 0;
    Vector3 gapAt(0.0f);  // where the previous candidate ended, for the next type at this point
    if (count == 0 || typeCount == 0) return;
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Cavity filling with growing", static_cast<uint64_t>(count), "points");

    while (true) {
        progress.update(static_cast<uint64_t>(index), "placed " + std::to_string(m_placedObjects->size()));
        if (type >= typeCount) {
            index += m_indexStep;
            PrintIndex(index, count);
            if (index >= count) return;
            type = 0;
        }
        MovingObject* c = Drop(type, type == 0 ? (*m_pointsInside)[static_cast<size_t>(index)] : gapAt);
        c->m_overlap = 0.0f;
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            Packing::ScaleObject(*c, m_startScale, true);
            Packing::RebuildModel(*c);
        }
        MovePlaced();
        RotateObject(m_collisionPipeline, c);

        if (c->m_overlap > 0.0f) {
            gapAt = c->m_position;
            ++type;
            Reject(c);
            continue;
        }
        SaveObjectStates(m_placedObjects);
        const float failedAt = Grow(c);
        if (failedAt == 0.0f) {
            m_buffer[static_cast<size_t>(type)].clear();
            FillUpBuffer();
            index += m_indexStep;
            PrintIndex(index, count);
            if (index >= count) return;
            type = 0;
            continue;
        }
        // The packing goes back to how it was before the growth; the next type tried here is
        // the first whose candidate fits the gap the failed one found.
        gapAt = c->m_position;
        RestoreSettled();
        Reject(c);
        const float gap = failedAt * failedAt * failedAt * c->m_volume - c->m_overlap;
        int next = type + 1;
        while (next < typeCount && !(m_buffer[static_cast<size_t>(next)].front()->m_volume < gap)) ++next;
        type = next < typeCount ? next : type + 1;
    }
}
