#include "algorithms/construction/PlacementAlgorithm.h"

#include <chrono>
#include <cmath>
#include <iostream>

#include "collision/Data.h"
#include "collision/FibRand.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Random.h"

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

bool PlacementAlgorithm::M_overlapConverged = false;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;  // leaf pairs of the largest lens volumes
constexpr float kTimeStep = 0.03333333f;                       // 1/30
constexpr double kRelaxLimitSeconds = 5.0;
constexpr float kNudge = 0.0001f;  // keeps successive orientation tries from testing the same pose twice

void RebuildModel(MovingObject& o) { o.m_modelMatrix = o.m_translationMatrix * o.m_rotationMatrix * o.m_scaleMatrix; }

void SetPosition(MovingObject& o, const Vector3& p) {
    o.m_position = p;
    o.m_translationMatrix.setTranslation(p);
}

// Far outside any container; three separate draws so the order of draws is fixed.
void Park(MovingObject& o) {
    const float x = randMToN(500, 50000);
    const float y = randMToN(500, 50000);
    const float z = randMToN(500, 50000);
    SetPosition(o, Vector3(x, y, z));
    RebuildModel(o);
}

Vector3 SafeNormalize(const Vector3& v) {
    const float len = length(v);
    return len > 0.0f ? v / len : v;
}

bool NoZeroComponent(const Vector3& v) {
    // NaN compares unequal to zero, so it counts as non-zero.
    return v.getX() != 0.0f && v.getY() != 0.0f && v.getZ() != 0.0f;
}

Vector3 WorldPoint(const Matrix4& m, const Point3& p) { return (m * p).getXYZ(); }

struct Orientation {
    Vector3 axis;
    float angle;
};

// Try 0 is the identity; it is remembered with the x axis.
const Orientation kOrientations[7] = {
    {Vector3(1, 0, 0), 0.0f},     {Vector3(0, 0, 1), 0.78539f}, {Vector3(0, 0, 1), 1.5708f},
    {Vector3(1, 0, 0), 0.78539f}, {Vector3(1, 0, 0), 1.5708f},  {Vector3(0, 1, 0), 0.78539f},
    {Vector3(0, 1, 0), 1.5708f},
};

// One explicit Euler step of the placed objects; velocities are consumed by the step.
void Integrate(MovingObject& o) {
    SetPosition(o, o.m_position + kTimeStep * o.m_velocity);

    const Vector3 w = o.m_angularVelocity;
    Vector3 c0 = o.m_rotationMatrix.getCol0().getXYZ();
    Vector3 c1 = o.m_rotationMatrix.getCol1().getXYZ();
    c0 = c0 + kTimeStep * cross(c0, w);
    c1 = c1 + kTimeStep * cross(c1, w);
    c0 = SafeNormalize(c0);
    const Vector3 c2 = SafeNormalize(cross(c0, c1));
    c1 = SafeNormalize(cross(c2, c0));
    o.m_rotationMatrix.setUpper3x3(Matrix3(c0, c1, c2));

    o.m_velocity = Vector3(0.0f);
    o.m_angularVelocity = Vector3(0.0f);
    o.m_force = Vector3(0.0f);
    o.m_torque = Vector3(0.0f);
    RebuildModel(o);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// PCallback

PCallback::PCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level)
    : col::Callback(a.m_id, b.m_id, false, true, level), m_a(a), m_b(b) {}

void PCallback::operator()(const col::Data* data) {
    const std::vector<col::SphereIntersectionData>* list = data->sphereIntersections;
    if (list == nullptr || list->empty()) {
        std::cout << "IsecData was NULL!" << std::endl;
        return;
    }
    MovingObject& A = m_a;
    MovingObject& B = m_b;

    // Wall directions: the normal cones of narrow node pairs near the surface.
    Vector3 NA(0.0f), NB(0.0f);
    int m = 0;
    if (data->nodePairs != nullptr) {
        for (const col::NodePair& np : *data->nodePairs) {
            const Vector3& da = np.node1->direction;
            const Vector3& db = np.node2->direction;
            if (std::isnormal(da.getX()) && std::isnormal(da.getY()) && std::isnormal(da.getZ()) &&
                std::isnormal(db.getX()) && np.node1->angle < 0.785398f) {
                NA += da;
                NB += db;
                ++m;
            }
        }
    }

    // Separation direction from the overlapping sphere pairs, pointing from B towards A.
    Vector3 D(0.0f), S(0.0f);
    int k = 0;
    for (const col::SphereIntersectionData& e : *list) {
        if (!(static_cast<double>(e.radius1) > 1e-7 && static_cast<double>(e.radius2) > 1e-7)) continue;
        const Vector3 pA = WorldPoint(A.m_modelMatrix, e.center1);
        const Vector3 pB = WorldPoint(B.m_modelMatrix, e.center2);
        const float d = length(pA - pB);
        if (d > 0.0f) {
            D += (pA - pB) / d;
            S += pA + pB;
            ++k;
        }
    }
    if (k > 0) {
        D = normalize(D);
        if (NoZeroComponent(NA)) NA = normalize(NA);
        // Opposite wall cones can cancel; a zero sum then simply gives no wall push.
        NB = SafeNormalize(NB);
    }

    PlacementAlgorithm::M_overlapConverged = false;

    const Vector3 Q = S / (2.0f * static_cast<float>(list->size()));
    const Vector3 rA = Q - A.m_position;
    const Vector3 rB = Q - B.m_position;
    const Matrix3& IA = A.m_inverseInertia;
    const Matrix3& IB = B.m_inverseInertia;
    const float j =
        2.0f / (lengthSqr(IA * cross(rA, D)) + A.m_inverseMass + B.m_inverseMass + lengthSqr(IB * cross(rB, D)));
    const Vector3 J = j * D;

    const Vector3 uA = IA * cross(rA, J);
    if (NoZeroComponent(uA)) A.m_angularVelocity += 0.25f * normalize(uA);
    const Vector3 uB = IB * cross(rB, J);
    if (NoZeroComponent(uB)) B.m_angularVelocity += 0.25f * normalize(uB);

    if (A.m_inverseMass == 0.0f && m > 0) {
        A.m_velocity -= NB;
        B.m_velocity -= 2.0f * NA;
    } else {
        A.m_velocity += D;
        B.m_velocity -= D;
    }

    A.m_overlap = data->overlap;
    B.m_overlap = data->overlap;
    std::cout.flush();
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

    while (true) {
        if (PlaceObject(placement, randomType, &obj) == 0) break;

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
        const float ax = randMToN(-1, 1);
        const float ay = randMToN(-1, 1);
        const float az = randMToN(-1, 1);
        const float angle = randMToN(0, 359);  // used as radians
        obj->m_rotationMatrix = Matrix4::rotation(angle, SafeNormalize(Vector3(ax, ay, az)));
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
    for (int i = 0; i < 7; ++i) {
        const Orientation& o = kOrientations[i];
        obj->m_rotationMatrix = i == 0 ? Matrix4::identity() : Matrix4::rotation(o.angle, o.axis);
        obj->m_position.setX(obj->m_position.getX() + kNudge);
        obj->m_translationMatrix.setTranslation(obj->m_position);
        RebuildModel(*obj);
        placement->moveObject(obj->m_id, &obj->m_modelMatrix, nullptr);
        M_overlapConverged = true;
        placement->check();
        if (M_overlapConverged) {
            MovingObject::m_angle[obj->m_typeIndex] = o.angle;
            MovingObject::m_rotDir[obj->m_typeIndex] = o.axis;
            return;
        }
    }
}

bool PlacementAlgorithm::Compact() {
    m_container->m_inverseMass = 0.0f;
    const auto start = std::chrono::system_clock::now();
    M_overlapConverged = false;
    MovingObject* newest = m_placedObjects->empty() ? nullptr : m_placedObjects->back();

    while (true) {
        if (newest != nullptr) newest->m_overlap = 0.0f;
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);  // the viewer copies these poses
            for (MovingObject* o : *m_placedObjects) Integrate(*o);
        }
        for (MovingObject* o : *m_placedObjects) m_collisionPipeline->moveObject(o->m_id, &o->m_modelMatrix, nullptr);

        M_overlapConverged = true;
        m_collisionPipeline->check();

        const std::chrono::duration<double> elapsed = std::chrono::system_clock::now() - start;
        if (elapsed.count() > kRelaxLimitSeconds) return false;
        if (M_overlapConverged) return true;
    }
}
