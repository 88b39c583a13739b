#include "algorithms/improvement/CompactionAlgorithm.h"

#include <chrono>
#include <cmath>
#include <iostream>

#include "collision/Data.h"
#include "collision/NanoTimer.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Random.h"
#include "geometry/Timer.h"

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

bool CompactionAlgorithm::M_overlapConverged = false;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;  // leaf pairs of the largest lens volumes
constexpr float kTimeStep = 0.0333333f;                        // 1/30
constexpr double kRelaxLimitSeconds = 30.0;
constexpr int kPointStride = 30;  // candidate points used per insertion attempt
constexpr float kMakeRoomSpeed = 2.5f;
constexpr float kAngularDamping = 0.4f;
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

// Box inertia of the object's bounding box, with the inverse mass standing in for the mass.
void SetBoxInertia(MovingObject& o) {
    float mn[3], mx[3];
    o.m_geometry->getBBox(mn, mx);
    const float hx = (mx[0] - mn[0]) / 2.0f, hy = (mx[1] - mn[1]) / 2.0f, hz = (mx[2] - mn[2]) / 2.0f;
    const float m = o.m_inverseMass;
    o.m_impulseScale = 5.0f;
    o.m_inverseInertia.setElem(0, 0, 3.0f / (m * (hy * hy + hz * hz)));
    o.m_inverseInertia.setElem(1, 1, 3.0f / (m * (hx * hx + hz * hz)));
    o.m_inverseInertia.setElem(2, 2, 3.0f / (m * (hx * hx + hy * hy)));
}

void ClearMatrix(IsecMatrix& matrix) {
    for (auto& row : matrix)
        for (auto& entry : row) entry = nullptr;
}

bool HasIntersections(const std::vector<col::SphereIntersectionData>* list) {
    return list != nullptr && !list->empty();
}

// One explicit Euler step; velocities are consumed by the step, m_force never moves anything.
void Integrate(MovingObject& o) {
    SetPosition(o, o.m_position + kTimeStep * o.m_velocity);

    const Vector3 w = o.m_angularVelocity;
    Vector3 c0 = o.m_rotationMatrix.getCol0().getXYZ();
    Vector3 c1 = o.m_rotationMatrix.getCol1().getXYZ();
    c0 = c0 + kTimeStep * cross(c0, w);
    c1 = c1 + kTimeStep * cross(c1, w);
    // The third column is rebuilt from the first two, so stepping it would change nothing.
    c0 = SafeNormalize(c0);
    const Vector3 c2 = SafeNormalize(cross(c0, c1));
    c1 = SafeNormalize(cross(c2, c0));
    const Matrix3 R(c0, c1, c2);
    o.m_rotationMatrix.setUpper3x3(R);

    o.m_angularMomentum += kTimeStep * SafeNormalize(o.m_torque - kAngularDamping * w);
    o.m_inverseInertiaWorld = R * o.m_inverseInertia * transpose(R);

    o.m_force = Vector3(0.0f);
    o.m_velocity = Vector3(0.0f);
    o.m_torque = Vector3(0.0f);
    o.m_angularVelocity = Vector3(0.0f);
    RebuildModel(o);
}

struct Orientation {
    Vector3 axis;
    float angle;
};

// Tries 1..6; try 0 is the type's remembered orientation.
const Orientation kFixedOrientations[7] = {
    {Vector3(0, 0, 1), 0.0f},     {Vector3(0, 0, 1), 0.78539f}, {Vector3(0, 0, 1), 1.5708f},
    {Vector3(1, 0, 0), 0.78539f}, {Vector3(1, 0, 0), 1.5708f},  {Vector3(0, 1, 0), 0.78539f},
    {Vector3(0, 1, 0), 1.5708f},
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// CompCallback

CompCallback::CompCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix)
    : col::Callback(a.m_id, b.m_id, false, true, level), m_a(a), m_b(b), m_matrix(matrix) {}

void CompCallback::operator()(const col::Data* data) {
    if (m_a.m_id != getId1() || m_b.m_id != getId2()) {
        std::cerr << "MovemCallback: mobj.node != obj !" << std::endl;
        return;
    }
    CompactionAlgorithm::M_overlapConverged = false;
    if (!HasIntersections(data->sphereIntersections)) {
        std::cout << "IsecData was NULL!" << std::endl;
        return;
    }
    const size_t i = static_cast<size_t>(getId1()), j = static_cast<size_t>(getId2());
    // Ids of a pipeline never outgrow the matrix; the check only guards against a foreign one.
    if (i < m_matrix->size() && j < (*m_matrix)[i].size()) (*m_matrix)[i][j] = data->sphereIntersections;
}

// ---------------------------------------------------------------------------------------------
// CompactionAlgorithm

CompactionAlgorithm::CompactionAlgorithm(std::vector<PackingObjectInfo>& types, MovingObject* container,
                                         std::vector<Vector3>& points, std::list<MovingObject*>* placed,
                                         Vector3 gridCells)
    : IImprovementHeuristic(types, container, points, placed, gridCells) {
    m_isecMatrix = new IsecMatrix();
}

int& CompactionAlgorithm::PointIndex() {
    static int pointIndex = 0;
    return pointIndex;
}

void CompactionAlgorithm::Init() {
    IPackingAlgorithm::Init();
    for (MovingObject* o : *m_placedObjects) {
        m_objects.push_back(o);
        MakeObjectCollidable(m_collisionPipeline, o);
    }
    for (MovingObject* o : m_objects) SetBoxInertia(*o);

    const size_t n = m_objects.size();
    for (size_t i = 0; i + 1 < n; ++i)
        for (size_t j = 0; j <= i; ++j)
            m_collisionPipeline->addCallback(new CompCallback(*m_objects[i + 1], *m_objects[j], kLevel, m_isecMatrix));

    m_isecMatrix->assign(n + 1, std::vector<std::vector<col::SphereIntersectionData>*>(n + 1, nullptr));

    for (MovingObject* o : m_objects)
        m_collisionPipeline->addCallback(new CompCallback(*m_container, *o, kLevel, m_isecMatrix));
    std::cout << "Objects callback registered." << std::endl;
}

void CompactionAlgorithm::ImprovementHeuristic() { Main(); }

void CompactionAlgorithm::Main() {
    col::CollisionPipeline* placement = CreatePipeline("PlacementPipeline", 2);
    MakeObjectCollidable(placement, m_container);
    for (MovingObject* o : *m_placedObjects) MakeObjectCollidable(placement, o);

    // Same pairs as the main pipeline; only the container and the candidate stay active here.
    const size_t n = m_objects.size();
    for (size_t i = 0; i + 1 < n; ++i)
        for (size_t j = 0; j <= i; ++j)
            placement->addCallback(new CompCallback(*m_objects[i + 1], *m_objects[j], kLevel, m_isecMatrix));
    for (MovingObject* o : m_objects) {
        placement->addCallback(new CompCallback(*m_container, *o, kLevel, m_isecMatrix));
        placement->deactivate(o->m_id);
    }

    col::NanoTimer nanoTimer;
    nanoTimer.start();
    Packing::Timer packingTimer;
    packingTimer.Start();
    bool createNew = true;
    int placedCount = 0;
    MovingObject* obj = nullptr;

    while (true) {
        if (PlaceObject(placement, createNew, &obj) == 0) break;

        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            m_placedObjects->push_back(obj);
        }
        m_objects.push_back(obj);
        m_collisionPipeline->activate(obj->m_id);

        if (Compact()) {
            ++placedCount;
            createNew = true;
            continue;
        }
        // Could not settle: take it out again and retry the same object at the next point.
        std::cout << "THEORY" << std::endl;
        obj->m_stopped = false;
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);
            Park(*obj);
            m_placedObjects->pop_back();
        }
        m_objects.pop_back();
        m_collisionPipeline->deactivate(obj->m_id);
        createNew = false;
    }

    std::cout << "End" << std::endl;
    std::cout << placedCount << std::endl;
    std::cout << "Time Sec.: " << nanoTimer.elapsed() / 1e9 << std::endl;
    std::cout << "time packing timer: " << packingTimer.Elapsed() / 1000 / 60 << std::endl;
}

namespace {

Vector3 RandomDirection() {
    for (int i = 0; i < 16; ++i) {
        // Named draws: the order of constructor arguments is unspecified, the draw order must not be.
        const float x = randMToN(-1.0f, 1.0f);
        const float y = randMToN(-1.0f, 1.0f);
        const float z = randMToN(-1.0f, 1.0f);
        const Vector3 v(x, y, z);
        const float len = length(v);
        if (len > 1e-3f) return v / len;
    }
    return Vector3(1.0f, 0.0f, 0.0f);
}

}  // namespace

int CompactionAlgorithm::PlaceObject(col::CollisionPipeline* placement, bool createNew, MovingObject** obj) {
    int& pointIndex = PointIndex();
    const int count = static_cast<int>(m_pointsInside->size());
    if (pointIndex >= count) return 0;
    MovingObject* o = createNew ? nullptr : *obj;

    while (true) {
        if (o != nullptr) m_collisionPipeline->deactivate(o->m_id);

        // Make room: push every placed object straight away from the point and relax.
        const Vector3 p = (*m_pointsInside)[static_cast<size_t>(pointIndex)];
        for (MovingObject* q : *m_placedObjects) {
            const Vector3 d = q->m_position - p;
            const float len = length(d);
            // An object sitting exactly on the point (the construction leaves objects on the
            // points) gets a random direction: the new object would otherwise coincide with it,
            // and two coincident objects have no separation direction to relax along.
            q->m_velocity = kMakeRoomSpeed * (len > 0.0f ? d / len : RandomDirection());
        }
        Compact();

        if (createNew) o = CreateObject(m_collisionPipeline, placement);

        SetPosition(*o, p);
        pointIndex += kPointStride;
        if (pointIndex > count) return 0;

        const int t = o->m_typeIndex;
        o->m_rotationMatrix = Matrix4::rotation(MovingObject::m_angle[t], MovingObject::m_rotDir[t]);
        RebuildModel(*o);

        placement->activate(o->m_id);
        placement->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
        M_overlapConverged = true;
        placement->check();
        if (!M_overlapConverged) RotateObject(placement, o);

        placement->deactivate(o->m_id);
        if (M_overlapConverged) break;
        createNew = false;
        if (count <= pointIndex) return 0;
    }

    o->m_stopped = true;
    *obj = o;
    placement->deactivate(o->m_id);
    return 1;
}

MovingObject* CompactionAlgorithm::CreateObject(col::CollisionPipeline* main, col::CollisionPipeline* placement) {
    // The insertions use the seventh type. A configuration with fewer types draws by share
    // instead, and takes the smallest type when the shares leave the draw without one.
    const int typeCount = static_cast<int>(m_objectTypes->size());
    MovingObject* obj = nullptr;
    if (typeCount > 6) {
        obj = GenerateObject(6);
    } else {
        obj = GenerateRandomObject();
        if (obj == nullptr) obj = GenerateObject(typeCount - 1);
    }
    MakeObjectCollidable(main, obj);
    MakeObjectCollidable(placement, obj);

    for (MovingObject* o : *m_placedObjects) {
        main->addCallback(new CompCallback(*o, *obj, kLevel, m_isecMatrix));
        placement->addCallback(new CompCallback(*o, *obj, kLevel, m_isecMatrix));
    }
    main->addCallback(new CompCallback(*m_container, *obj, kLevel, m_isecMatrix));
    placement->addCallback(new CompCallback(*m_container, *obj, kLevel, m_isecMatrix));

    IsecMatrix& matrix = *m_isecMatrix;
    matrix.emplace_back();
    for (auto& row : matrix) row.resize(matrix.size(), nullptr);
    for (auto& row : matrix) row.back() = nullptr;
    for (auto& entry : matrix.back()) entry = nullptr;

    Park(*obj);
    const float ax = randMToN(-1, 1);
    const float ay = randMToN(-1, 1);
    const float az = randMToN(-1, 1);
    const float angle = randMToN(0, 359);  // used as radians
    obj->m_rotationMatrix = Matrix4::rotation(angle, SafeNormalize(Vector3(ax, ay, az)));
    RebuildModel(*obj);

    obj->m_geometry->updateBBox();
    SetBoxInertia(*obj);
    return obj;
}

void CompactionAlgorithm::RotateObject(col::CollisionPipeline* placement, MovingObject* obj) {
    const int t = obj->m_typeIndex;
    // Only the largest type gets the fixed orientations; the others keep their remembered one.
    const int tries = t <= 0 ? 7 : 1;
    for (int i = 0; i < tries; ++i) {
        const Vector3 axis = i == 0 ? MovingObject::m_rotDir[t] : kFixedOrientations[i].axis;
        const float angle = i == 0 ? MovingObject::m_angle[t] : kFixedOrientations[i].angle;
        obj->m_rotationMatrix = Matrix4::rotation(angle, axis);
        SetPosition(*obj, obj->m_position + Vector3(kNudge, 0.0f, 0.0f));
        RebuildModel(*obj);
        placement->moveObject(obj->m_id, &obj->m_modelMatrix, nullptr);
        M_overlapConverged = true;
        placement->check();
        if (M_overlapConverged) {
            MovingObject::m_angle[t] = angle;
            MovingObject::m_rotDir[t] = axis;
            return;
        }
    }
}

bool CompactionAlgorithm::Compact() {
    m_container->m_inverseMass = 0.0f;
    col::NanoTimer stepTimer, checkTimer, resolveTimer;
    double stepSum = 0.0, checkSum = 0.0, resolveSum = 0.0;
    const auto start = std::chrono::system_clock::now();
    M_overlapConverged = false;
    int counter = 0;
    const size_t placedObjs = m_placedObjects->size();
    IsecMatrix& matrix = *m_isecMatrix;

    while (true) {
        stepTimer.start();
        ++counter;
        {
            std::lock_guard<std::mutex> lock(g_packingMutex);  // the viewer copies these poses
            for (MovingObject* o : *m_placedObjects) Integrate(*o);
        }
        std::cout << "Counter : " << counter << std::endl;
        for (MovingObject* o : *m_placedObjects) m_collisionPipeline->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
        stepSum += stepTimer.elapsed() / 1e9;

        checkTimer.start();
        ClearMatrix(matrix);
        M_overlapConverged = true;
        m_collisionPipeline->check();
        checkSum += checkTimer.elapsed() / 1e9;
        std::cout << "Compaction Avg: " << stepSum / counter << std::endl;
        std::cout << "Collision  Avg: " << checkSum / counter << std::endl;

        resolveTimer.start();
        // Object pairs first, then the container contacts, in matrix order.
        const size_t objects = m_objects.size();
        for (size_t i = 1; i < matrix.size(); ++i)
            for (size_t j = 1; j < matrix[i].size(); ++j)
                if (HasIntersections(matrix[i][j]) && i - 1 < objects && j - 1 < objects)
                    m_objects[i - 1]->ApplyImpulse2(m_objects[j - 1], matrix[i][j]);
        for (size_t j = 1; j < matrix.size(); ++j)
            if (HasIntersections(matrix[0][j]) && j - 1 < objects)
                m_container->ApplyImpulse2(m_objects[j - 1], matrix[0][j]);
        ClearMatrix(matrix);
        resolveSum += resolveTimer.elapsed() / 1e9;
        std::cout << "Resolve Avg: " << resolveSum / counter << std::endl;
        std::cout << "Placed Objs nr: " << placedObjs << std::endl;

        const std::chrono::duration<double> elapsed = std::chrono::system_clock::now() - start;
        if (elapsed.count() > kRelaxLimitSeconds) return false;
        if (M_overlapConverged) return true;
    }
}
