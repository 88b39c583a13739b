#include "algorithms/construction/DistanceAlgorithm.h"

#include <cmath>
#include <iostream>
#include <mutex>
#include <string>

#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "collision/Data.h"
#include "collision/ExtraData.h"
#include "collision/TriDist.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"
#include "geometry/Timer.h"

using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

bool DistanceAlgorithm::M_overlapConverged = false;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;
constexpr int kAttachTargets = 20;    // most recently placed objects tried as contact partners
constexpr float kAttachReach = 5.0f;  // farther than this the object stays at its point

col::SphereTree* TreeOf(const MovingObject* o) {
    auto* extra = dynamic_cast<col::ExtraData_SphereTree*>(o->m_geometry->m_extraData);
    return extra == nullptr ? nullptr : extra->tree();
}

}  // namespace

void DCallback::operator()(const col::Data*) {
    DistanceAlgorithm::M_overlapConverged = false;
    std::cout.flush();
}

void DistanceAlgorithm::ConstructionHeuristic() {
    Packing::Timer timer;
    timer.Start();
    const Vector3 cells = m_gridCells;  // the grid here is the pipeline's only
    UseGrid(Vector3(6.0f, 6.0f, 1.0f), nullptr);
    m_gridCells = cells;
    PlaceObjectsGrid();
    std::cout << "Packing ended." << std::endl;
    std::cout << "Time: " << Packing::Timer::ToMinutes(timer.Elapsed()) << " min." << std::endl;
}

MovingObject* DistanceAlgorithm::CreateObject() {
    MovingObject* obj = GenerateRandomObject();
    // Shares that add up to less than 100 % leave some draws without a type: the smallest one.
    if (obj == nullptr) obj = GenerateObject(static_cast<int>(m_objectTypes->size()) - 1);
    MakeObjectCollidable(m_collisionPipeline, obj);
    for (MovingObject* o : *m_placedObjects) m_collisionPipeline->addCallback(new DCallback(*o, *obj, kLevel));
    m_collisionPipeline->addCallback(new DCallback(*m_container, *obj, kLevel));
    return obj;
}

void DistanceAlgorithm::PlaceObjectsGrid() {
    if (m_pointsInside->empty()) return;
    MovingObject* obj = nullptr;
    bool needNew = true;
    uint64_t visited = 0;
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Distance", m_pointsInside->size(), "points");
    for (const Vector3& p : *m_pointsInside) {
        progress.update(visited++, "placed " + std::to_string(m_placedObjects->size()));
        if (needNew) obj = CreateObject();
        for (MovingObject* o : *m_placedObjects) m_collisionPipeline->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
        Packing::SetPosition(*obj, p);
        RotateObject(m_collisionPipeline, obj);
        // An object that fits nowhere here is carried to the next point.
        needNew = M_overlapConverged && PlaceNear(obj, p);
    }
    progress.end("placed " + std::to_string(m_placedObjects->size()));
}

bool DistanceAlgorithm::PlaceNear(MovingObject* obj, const Vector3& p) {
    if (m_placedObjects->empty()) {
        Append(obj);  // where the search found it free
        return true;
    }
    const Vector3 searched = obj->m_position;
    int tried = 0;
    for (auto target = m_placedObjects->rbegin(); target != m_placedObjects->rend() && tried < kAttachTargets;
         ++target, ++tried) {
        ResetAt(obj, p);
        if (Attach(obj, *target) > kAttachReach) {
            ResetAt(obj, p);
            // The search tested p plus its small nudges; p itself may touch a neighbour. The
            // searched pose was free, so it is the fallback.
            if (!Packing::CheckFree(m_collisionPipeline, *obj, M_overlapConverged)) {
                Packing::SetPosition(*obj, searched);
                Packing::RebuildModel(*obj);
                m_collisionPipeline->moveObject(obj->m_id, &obj->m_modelMatrix, nullptr);
            }
            Append(obj);
            return true;
        }
        if (Packing::CheckFree(m_collisionPipeline, *obj, M_overlapConverged)) {
            Append(obj);
            return true;
        }
    }
    return false;
}

void DistanceAlgorithm::ResetAt(MovingObject* obj, const Vector3& p) {
    Packing::SetPosition(*obj, p);
    obj->m_rotationMatrix = Packing::RememberedRotation(obj->m_typeIndex);
    Packing::RebuildModel(*obj);
}

void DistanceAlgorithm::Append(MovingObject* obj) {
    std::lock_guard<std::mutex> lock(g_packingMutex);
    m_placedObjects->push_back(obj);
}

void DistanceAlgorithm::RotateObject(col::CollisionPipeline* pipeline, MovingObject* obj) {
    Packing::TryOrientations(pipeline, *obj, M_overlapConverged, Packing::RememberedOrientation(obj->m_typeIndex), 6);
}

float DistanceAlgorithm::Attach(MovingObject* obj, MovingObject* target) {
    col::SphereTree* treeObj = TreeOf(obj);
    const col::SphereTree* treeTarget = TreeOf(target);
    if (treeObj == nullptr || treeTarget == nullptr) return INFINITY;

    col::Data data(obj->m_geometry, target->m_geometry);
    data.m12 = Vectormath::Aos::inverse(target->m_modelMatrix) * obj->m_modelMatrix;
    data.m21 = Vectormath::Aos::inverse(data.m12);
    data.m12Specified = data.m21Specified = true;
    const float d = treeObj->checkDistance(treeTarget, &data);
    treeObj->m_distanceBound = 0;
    treeObj->m_visitCount = 0;

    // Both closest triangles are in target's frame; their closest points give the move there.
    Vector3 move(0.0f);
    if (data.hasClosestTriangles) {
        Point3 onObj, onTarget;
        col::TriDist(onObj, onTarget, data.closestTri1, data.closestTri2);
        move = (target->m_modelMatrix * (onTarget - onObj)).getXYZ();
    } else if (std::isfinite(d)) {
        // Trees without a mesh measure leaf spheres only: close the gap along the centre line.
        move = d * Packing::SafeNormalize(target->m_position - obj->m_position);
    }
    Packing::SetPosition(*obj, obj->m_position + move);
    Packing::RebuildModel(*obj);
    return d;
}
