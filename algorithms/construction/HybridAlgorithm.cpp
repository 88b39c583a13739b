#include "algorithms/construction/HybridAlgorithm.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iostream>
#include <mutex>
#include <string>

#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "algorithms/Separation.h"
#include "collision/Data.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"
#include "geometry/Timer.h"

using Packing::RebuildModel;
using Packing::SetPosition;
using Vectormath::Aos::Vector3;

bool HybridAlgorithm::M_overlapConverged = false;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;  // leaf pairs of the largest lens volumes
constexpr double kRelaxLimitSeconds = 5.0;
// Falling the container's height takes well under a hundred steps; an object still moving after
// ten seconds is wedged or jittering, and the point is given another try later.
constexpr double kSettleLimitSeconds = 10.0;
// A push moves the object by a fifteenth of a unit per pass; a second covers many object sizes.
constexpr double kWallPushLimitSeconds = 1.0;
constexpr float kPlacementSpin = 0.05f;
const Vector3 kDropVelocity(0.0f, -9.0f, 0.0f);
const Packing::SeparationRule kWallRule{0.7854f, false, true};

// Cells smaller than an object: most of them then hold no point ("FurthestIndex Error") and the
// objects dropped in the others reach into their neighbours. One line says so, with the finest
// grid whose cells hold the largest object's bounding box in any of its three extents.
void WarnIfCellsTooSmall(const Vector3& cells, const Vector3& boxSize, const std::vector<PackingObjectInfo>& types) {
    float object = 0.0f;
    for (const PackingObjectInfo& t : types) {
        float mn[3], mx[3];
        t.geometry->getBBox(mn, mx);
        for (int i = 0; i < 3; ++i) object = std::max(object, mx[i] - mn[i]);
    }
    bool noCells = false, tooSmall = false;
    for (int i = 0; i < 3; ++i) {
        noCells = noCells || !(cells[i] >= 1.0f);
        tooSmall = tooSmall || boxSize[i] / cells[i] < object;
    }
    if (!noCells && !tooSmall) return;
    std::cerr << "densepack: HybridAlgorithm: [Grid] " << cells[0] << " " << cells[1] << " " << cells[2];
    if (noCells)
        std::cerr << " gives no cells";
    else
        std::cerr << " gives cells of " << boxSize[0] / cells[0] << " x " << boxSize[1] / cells[1] << " x "
                  << boxSize[2] / cells[2] << ", smaller than the largest object (" << object << " across)";
    std::cerr << "; the finest grid whose cells hold it is [Grid]";
    // The small allowance keeps a box of exactly n objects from rounding down to n - 1.
    for (int i = 0; i < 3; ++i) std::cerr << " " << std::max(1.0f, std::floor(boxSize[i] / object * (1.0f + 1e-5f)));
    std::cerr << "." << std::endl;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Callbacks

HybridCallback::HybridCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix)
    : Packing::MatrixCallback(a, b, level, matrix, HybridAlgorithm::M_overlapConverged, {}) {}

void HybridPlacementCallback::operator()(const col::Data* data) {
    const std::vector<col::SphereIntersectionData>* list = data->sphereIntersections;
    if (list == nullptr || list->empty()) {
        std::cout << "IsecData was NULL!" << std::endl;
        return;
    }
    const Packing::Contact contact = Packing::ContactOf(m_a, m_b, *list);
    // Named draws: the jitter of A first, then that of B.
    const Vector3 jitterA = Packing::RandomDirection();
    const Vector3 jitterB = Packing::RandomDirection();
    HybridAlgorithm::M_overlapConverged = false;
    // A push through the centre has no turn direction; it then adds no spin (instead of NaNs).
    const Packing::TurnDirections turns = Packing::TurnsOf(m_a, m_b, contact);
    m_a.m_angularVelocity += kPlacementSpin * Packing::SafeNormalize(turns.a);
    m_b.m_angularVelocity += kPlacementSpin * Packing::SafeNormalize(turns.b);
    m_a.m_velocity += contact.direction + jitterA;
    m_b.m_velocity += -contact.direction + jitterB;
    std::cout.flush();
}

void HybridContainerCallback::operator()(const col::Data* data) {
    if (Packing::Separate(m_a, m_b, data, kWallRule)) HybridAlgorithm::M_overlapConverged = false;
}

// ---------------------------------------------------------------------------------------------
// HybridAlgorithm

HybridAlgorithm::HybridAlgorithm(std::vector<PackingObjectInfo>& types, MovingObject* container,
                                 std::vector<Vector3>& points, std::list<MovingObject*>* placed, Vector3 gridCells)
    : IConstructionHeuristic(types, container, points, placed, gridCells), m_gravity(kDropVelocity) {
    m_isecMatrix = new IsecMatrix();
}

void HybridAlgorithm::Init() {
    IPackingAlgorithm::Init();
    Packing::SizeMatrix(*m_isecMatrix, 1);
    std::cout << "Objects callback registered." << std::endl;
}

void HybridAlgorithm::ConstructionHeuristic() {
    // A coarse collision grid for the settling checks; the configured cells are the fill's.
    const Vector3 cells = m_gridCells;
    UseGrid(Vector3(2.0f, 2.0f, 1.0f), nullptr);
    m_gridCells = cells;
    MainAttach();
    std::cout << "Simulation ended." << std::endl;
    const Bounds& b = m_bounds;
    if (b.settling + b.wallPush + b.relaxation + b.cellsGivenUp > 0)
        std::cerr << "densepack: HybridAlgorithm bounds reached: settling " << b.settling << ", wall push "
                  << b.wallPush << ", relaxation " << b.relaxation << ", cells given up " << b.cellsGivenUp
                  << std::endl;
}

void HybridAlgorithm::MainAttach() {
    m_container->m_geometry->updateBBox();
    float mn[3], mx[3];
    m_container->m_geometry->getBBox(mn, mx);
    m_boxMin = Vector3(mn[0], mn[1], mn[2]);
    m_boxMax = Vector3(mx[0], mx[1], mx[2]);
    m_container->m_inverseMass = 0.0f;

    col::CollisionPipeline* placement = CreatePipeline("PlacementPipeline", 2);
    MakeObjectCollidable(placement, m_container);
    col::CollisionPipeline* container = CreatePipeline("ContainerPipeline", 3);
    MakeObjectCollidable(container, m_container);
    Packing::Timer timer;
    timer.Start();

    const Vector3 n = m_gridCells;
    const Vector3& lo = m_boxMin;
    const Vector3 size((mx[0] - mn[0]) / n.getX(), (mx[1] - mn[1]) / n.getY(), (mx[2] - mn[2]) / n.getZ());
    WarnIfCellsTooSmall(n, m_boxMax - m_boxMin, *m_objectTypes);
    int emptyCount = 0;
    const bool lines = !Packing::Quiet();  // the per-cell lines
    const auto cellsAlong = [](float cells) { return static_cast<uint64_t>(std::ceil(std::max(0.0f, cells))); };
    uint64_t cellsDone = 0;
    Packing::Progress progress;
    Packing::BeginPhase(progress, "Hybrid", cellsAlong(n.getX()) * cellsAlong(n.getY()) * cellsAlong(n.getZ()),
                        "cells");
    for (int y = 0; static_cast<float>(y) < n.getY(); ++y) {
        for (int x = 0; static_cast<float>(x) < n.getX(); ++x) {
            for (int z = 0; static_cast<float>(z) < n.getZ(); ++z, ++cellsDone) {
                progress.update(cellsDone, "placed " + std::to_string(m_placedObjects->size()));
                if (lines) std::cout << "Current Cell(xyz): " << x << " " << y << " " << z << std::endl;
                const Vector3 cellMin =
                    lo + mulPerElem(Vector3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)), size);
                Vector3 cellMax = cellMin + size;
                std::vector<Vector3> pts;
                FindFurthestPosInGrid(cellMin, cellMax, &pts);
                if (pts.empty()) {
                    ++emptyCount;
                    if (lines) {
                        std::cout << cellMin.getX() << "/" << cellMin.getY() << "/" << cellMin.getZ() << std::endl;
                        std::cout << "FurthestIndex Error" << std::endl;
                        std::cout << "empty counter: " << emptyCount << std::endl;
                    }
                    continue;
                }
                if (lines) std::cout << "Points in Cell: " << pts.size() << std::endl;
                FillCell(m_collisionPipeline, placement, container, pts);
            }
        }
    }
    progress.end("placed " + std::to_string(m_placedObjects->size()));
    std::cout << "time packing timer: " << Packing::Timer::ToMinutes(timer.Elapsed()) << std::endl;
}

int HybridAlgorithm::FindFurthestPosInGrid(Vector3 cellMin, Vector3& cellMax, std::vector<Vector3>* out) {
    std::vector<const Vector3*> inCell;
    for (const Vector3& p : *m_pointsInside) {
        bool inside = true;
        for (int i = 0; i < 3; ++i) inside = inside && cellMin[i] <= p[i] && p[i] <= cellMax[i];
        if (inside) inCell.push_back(&p);
    }
    // The two highest distinct layers: a sampled cell has many points per layer, so the two
    // largest y values alone would nearly always be the top layer twice.
    float top = -FLT_MAX, below = -FLT_MAX;
    bool haveTop = false, haveBelow = false;
    for (const Vector3* p : inCell) {
        const float y = p->getY();
        if (!haveTop || y > top) {
            if (haveTop) below = top, haveBelow = true;
            top = y, haveTop = true;
        } else if (y < top && (!haveBelow || y > below)) {
            below = y, haveBelow = true;
        }
    }
    const auto appendLayer = [&](float y) {
        for (const Vector3* p : inCell)
            if (std::fabs(static_cast<double>(p->getY()) - static_cast<double>(y)) < 2.220446e-16) out->push_back(*p);
    };
    if (haveBelow) appendLayer(below);
    if (haveTop) appendLayer(top);
    return 1;
}

MovingObject* HybridAlgorithm::CreateObject(col::CollisionPipeline* main, col::CollisionPipeline* placement,
                                            col::CollisionPipeline* container) {
    MovingObject* obj = GenerateRandomObject();
    // Shares that add up to less than 100 % leave some draws without a type: the smallest one.
    if (obj == nullptr) obj = GenerateObject(static_cast<int>(m_objectTypes->size()) - 1);
    MakeObjectCollidable(main, obj);
    MakeObjectCollidable(placement, obj);
    MakeObjectCollidable(container, obj);

    const auto pair = [&](MovingObject& a) {
        main->addCallback(new HybridCallback(a, *obj, kLevel, m_isecMatrix));
        placement->addCallback(new HybridPlacementCallback(a, *obj, kLevel));
        container->addCallback(new HybridContainerCallback(a, *obj, kLevel));
    };
    for (MovingObject* o : *m_placedObjects) pair(*o);
    pair(*m_container);
    Packing::GrowMatrix(*m_isecMatrix);
    // Active only where its stage needs it: the search activates it in the placement pipeline,
    // placing it in the main one, the wall push in the container one. Left active, every object
    // would sit at its registration pose there and be pushed against all the others.
    main->deactivate(obj->m_id);
    placement->deactivate(obj->m_id);
    container->deactivate(obj->m_id);

    Packing::Park(*obj);
    obj->m_rotationMatrix = Packing::RandomRotation();
    RebuildModel(*obj);
    obj->m_geometry->updateBBox();
    Packing::SetBoxInertia(*obj);
    return obj;
}

MovingObject* HybridAlgorithm::NewObject(col::CollisionPipeline* main, col::CollisionPipeline* placement,
                                         col::CollisionPipeline* container) {
    MovingObject* obj = CreateObject(main, placement, container);
    m_objects.push_back(obj);
    return obj;
}

void HybridAlgorithm::FillCell(col::CollisionPipeline* main, col::CollisionPipeline* placement,
                               col::CollisionPipeline* container, std::vector<Vector3>& pts) {
    MovingObject* obj = NewObject(main, placement, container);
    size_t k = 0;
    if (!SearchPoint(main, placement, obj, pts, k, "DELETE 1", false)) return;
    Place(main, obj);
    m_gravity = kDropVelocity;
    container->activate(obj->m_id);
    MoveObjectInsideContainer(container, obj);
    container->deactivate(obj->m_id);

    // Failed tries that keep their point (the object fell out or did not settle, or the packing
    // did not relax after it); a whole round of them without an acceptance ends the cell.
    size_t failures = 0;
    while (true) {
        bool accepted = false;
        obj->m_velocity = kDropVelocity;
        if (!ResolveOverlap(placement, m_placedObjects)) {
            if (!Packing::Quiet()) std::cout << "DELETE 3" << std::endl;
            TakeBack();
            pts.erase(pts.begin() + static_cast<std::ptrdiff_t>(k));
            if (pts.empty()) break;
            k = (k + 1) % pts.size();
        } else if (!Compact2()) {
            TakeBack();
            k = (k + 1) % pts.size();
            ++failures;
        } else {
            for (MovingObject* o : *m_placedObjects) {
                o->m_velocity = Vector3(0.0f);
                o->m_angularVelocity = Vector3(0.0f);
            }
            accepted = ResolveOverlap(placement, m_placedObjects);
            if (accepted) {
                SaveObjectStates(m_placedObjects);
                failures = 0;
            } else {
                TakeBack();
                ++failures;
            }
            k = (k + 1) % pts.size();
        }

        if (accepted) {
            obj = NewObject(main, placement, container);
        } else if (failures >= pts.size()) {
            ++m_bounds.cellsGivenUp;
            break;
        } else {
            obj->m_stopped = false;
        }
        if (!SearchPoint(main, placement, obj, pts, k, "DELETE 2", true)) return;
        Place(main, obj);
    }
    placement->deactivate(obj->m_id);
    main->deactivate(obj->m_id);
}

bool HybridAlgorithm::SearchPoint(col::CollisionPipeline* main, col::CollisionPipeline* placement, MovingObject* obj,
                                  std::vector<Vector3>& pts, size_t& k, const char* message, bool advance) {
    placement->activate(obj->m_id);
    placement->deactivate(m_container->m_id);  // only the placed objects count here
    size_t idx = k;
    bool probed = false;
    bool found = true;
    while (true) {
        SetPosition(*obj, pts[idx]);
        RebuildModel(*obj);
        for (MovingObject* o : *m_placedObjects) placement->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
        if (Packing::CheckFree(placement, *obj, M_overlapConverged)) break;
        probed = true;
        if (!Packing::Quiet()) std::cout << message << std::endl;
        pts.erase(pts.begin() + static_cast<std::ptrdiff_t>(idx));
        if (pts.empty()) {
            placement->deactivate(obj->m_id);
            main->deactivate(obj->m_id);
            found = false;
            break;
        }
        if (advance) {
            k = (k + 1) % pts.size();
            idx = k;
        }
    }
    placement->activate(m_container->m_id);
    // A probe that overlapped pushed the objects it met; those pushes belong to no pose and
    // would shove placed objects in the next relaxation.
    if (probed) {
        obj->m_velocity = obj->m_angularVelocity = Vector3(0.0f);
        for (MovingObject* o : *m_placedObjects) o->m_velocity = o->m_angularVelocity = Vector3(0.0f);
    }
    return found;
}

void HybridAlgorithm::Place(col::CollisionPipeline* main, MovingObject* obj) {
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        m_placedObjects->push_back(obj);
    }
    main->activate(obj->m_id);
}

void HybridAlgorithm::TakeBack() {
    std::lock_guard<std::mutex> lock(g_packingMutex);
    LoadObjectStates(m_placedObjects);
    m_placedObjects->pop_back();
}

void HybridAlgorithm::MoveObjectInsideContainer(col::CollisionPipeline* container, MovingObject* obj) {
    const int t = obj->m_typeIndex;
    float best = FLT_MAX;
    for (const Packing::Orientation& turn : Packing::kCanonicalTurns) {
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            obj->m_rotationMatrix = Vectormath::Aos::Matrix4::rotation(turn.angle, turn.axis);
            Packing::Nudge(*obj);
        }
        // A turn the wall does not report overlaps by 0, not by the previous turn's amount.
        obj->m_overlap = 0.0f;
        Packing::CheckFree(container, *obj, M_overlapConverged);
        if (obj->m_overlap < best) {
            Packing::RememberRotation(t, turn);
            best = obj->m_overlap;
        }
    }
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        obj->m_rotationMatrix = Packing::RememberedRotation(t);
        Packing::Nudge(*obj);
    }

    // Each pass moves the object by the wall push of the previous check.
    Packing::Relaxation push;
    push.pipeline = container;
    push.single = obj;
    push.step = [](MovingObject& o) {
        SetPosition(o, o.m_position + Packing::kSeparationTimeStep * o.m_velocity);
        o.m_velocity = Vector3(0.0f);
        RebuildModel(o);
        return true;
    };
    push.flag = &M_overlapConverged;
    push.limitSeconds = kWallPushLimitSeconds;
    if (push.Run() == Packing::RelaxResult::Limit) ++m_bounds.wallPush;
}

bool HybridAlgorithm::ResolveOverlap(col::CollisionPipeline* pipeline, std::list<MovingObject*>* objects) {
    if (Packing::RelaxSeparation(pipeline, objects, M_overlapConverged, kRelaxLimitSeconds) ==
        Packing::RelaxResult::Converged)
        return true;
    ++m_bounds.relaxation;
    return false;
}

bool HybridAlgorithm::Compact2() {
    m_container->m_inverseMass = 0.0f;
    M_overlapConverged = false;
    if (m_placedObjects->empty()) return true;
    MovingObject* newest = m_placedObjects->back();
    if (newest->m_stopped) return true;

    const Vector3 gravity = m_gravity;
    Packing::Relaxation settle;
    settle.pipeline = m_collisionPipeline;
    settle.objects = m_placedObjects;
    // Objects at rest stay where they are; one that falls out ends the settling.
    settle.step = [gravity](MovingObject& o) {
        return o.m_stopped || Packing::GravityStep(o, gravity, Packing::kSeparationTimeStep);
    };
    settle.flag = &M_overlapConverged;
    settle.limitSeconds = kSettleLimitSeconds;
    settle.afterCheck = [&] {
        Packing::ResolvePairs(*m_isecMatrix, m_objects, m_container, &MovingObject::ApplyImpulse4);
        M_overlapConverged = false;  // the settling ends when the newest object rests, not on a free check
        return !newest->m_stopped;
    };
    if (settle.Run() == Packing::RelaxResult::Limit) {
        ++m_bounds.settling;
        // Still moving after the bound: wedged and jittering in place, which counts as at rest,
        // or on its way out of the container, which counts as fallen out.
        const Vector3& p = newest->m_position;
        bool inBox = true;
        for (int i = 0; i < 3; ++i) inBox = inBox && m_boxMin[i] <= p[i] && p[i] <= m_boxMax[i];
        newest->m_stopped = inBox;
    }
    return newest->m_stopped;
}
