#include "algorithms/construction/RandomSequentialAddition.h"

#include <cmath>
#include <iostream>
#include <mutex>

#include "algorithms/ObjectPose.h"
#include "collision/ExactMesh.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Random.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Quat;
using Vectormath::Aos::Vector3;

namespace {

// Any reported pair is an overlap; the lists are never read, so they need no selection.
constexpr col::LevelOfDetectionE kLevel = col::LEVEL_ALL;
constexpr float kTwoPi = 6.28318531f;

}  // namespace

RsaCallback::RsaCallback(const MovingObject& a, const MovingObject& b, bool& free)
    : col::Callback(a.m_id, b.m_id, false, true, kLevel), m_free(free) {}

void RsaCallback::operator()(const col::Data*) { m_free = false; }

Matrix4 Packing::UniformRotation(float u1, float u2, float u3) {
    // Shoemake: a point uniform on the unit 3-sphere, taken as a quaternion.
    const float a = std::sqrt(1.0f - u1), b = std::sqrt(u1);
    const Quat q(a * std::sin(kTwoPi * u2), a * std::cos(kTwoPi * u2), b * std::sin(kTwoPi * u3),
                 b * std::cos(kTwoPi * u3));
    return Matrix4::rotation(q);
}

template <class Phase>
RandomSequentialAdditionOf<Phase>::RandomSequentialAdditionOf(std::vector<PackingObjectInfo>& types,
                                                              MovingObject* container, std::vector<Vector3>& points,
                                                              std::list<MovingObject*>* placed, Vector3 gridCells)
    : Phase(types, container, points, placed, gridCells) {}

template <class Phase>
RandomSequentialAdditionOf<Phase>::~RandomSequentialAdditionOf() = default;

template <class Phase>
void RandomSequentialAdditionOf<Phase>::Init() {
    IPackingAlgorithm::Init();
    col::CollisionPipeline* pipeline = this->m_collisionPipeline;
    // Every check moves the candidate, so remembered pair results would only be copied around.
    pipeline->setIncremental(false);
    // A packing handed over by a construction: its objects only ever meet candidates.
    for (MovingObject* o : *this->m_placedObjects) {
        this->MakeObjectCollidable(pipeline, o);
        pipeline->moveObject(o->m_id, &o->m_modelMatrix, nullptr);
    }
    m_candidates.assign(this->m_objectTypes->size(), nullptr);

    // The wall test alone would keep an object lying wholly outside a container that does not
    // fill its box (a cylinder's corners); the centre must also lie inside the mesh.
    PackingGeometry* mesh = this->m_container->m_geometry;
    mesh->updateBBox();
    mesh->getBBox(m_boxMin, m_boxMax);
    m_inside = std::make_unique<col::ExactMesh>();
    if (!m_inside->build(mesh->getPoints(), mesh->getPrimitives())) {
        std::cerr << "densepack: RandomSequentialAddition: the container mesh has no triangles; nothing is added."
                  << std::endl;
        m_inside.reset();
    }
}

template <class Phase>
MovingObject* RandomSequentialAdditionOf<Phase>::Candidate(int type) {
    MovingObject*& slot = m_candidates[static_cast<size_t>(type)];
    if (slot != nullptr) return slot;
    col::CollisionPipeline* pipeline = this->m_collisionPipeline;
    slot = this->GenerateObject(type);
    this->MakeObjectCollidable(pipeline, slot);
    pipeline->addCallback(new RsaCallback(*this->m_container, *slot, m_free));
    for (MovingObject* o : *this->m_placedObjects) pipeline->addCallback(new RsaCallback(*o, *slot, m_free));
    // Only the candidate being tried takes part in a check.
    pipeline->deactivate(slot->m_id);
    return slot;
}

template <class Phase>
bool RandomSequentialAdditionOf<Phase>::DrawInside(Vector3& out) {
    // Rejection sampling in the container's box keeps the accepted positions uniform.
    for (int draw = 0; draw < kMaxInsideDraws; ++draw) {
        Point3 p;
        for (int i = 0; i < 3; ++i) p[i] = randMToN(m_boxMin[i], m_boxMax[i]);
        if (!m_inside->contains(p)) continue;
        out = (this->m_container->m_modelMatrix * p).getXYZ();
        return true;
    }
    return false;
}

template <class Phase>
bool RandomSequentialAdditionOf<Phase>::Attempt() {
    // Draws in a fixed order (type, position, orientation), so a seed gives one sequence.
    int type = this->TypeForShareDraw(randMToN(0.0f, 100.0f));
    // Shares that add up to less than 100 % leave some draws without a type: the smallest one.
    if (type < 0) type = static_cast<int>(this->m_objectTypes->size()) - 1;
    MovingObject* c = Candidate(type);
    Vector3 position;
    if (!DrawInside(position)) return false;
    const float u1 = randMToN(0.0f, 1.0f), u2 = randMToN(0.0f, 1.0f), u3 = randMToN(0.0f, 1.0f);
    Packing::SetPosition(*c, position);
    c->m_rotationMatrix = Packing::UniformRotation(u1, u2, u3);
    Packing::RebuildModel(*c);

    col::CollisionPipeline* pipeline = this->m_collisionPipeline;
    pipeline->activate(c->m_id);
    if (Packing::CheckFree(pipeline, *c, m_free)) {
        Keep(c);
        return true;
    }
    pipeline->deactivate(c->m_id);
    return false;
}

template <class Phase>
void RandomSequentialAdditionOf<Phase>::Keep(MovingObject* candidate) {
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        this->m_placedObjects->push_back(candidate);
    }
    candidate->m_stopped = true;
    m_candidates[static_cast<size_t>(candidate->m_typeIndex)] = nullptr;
    // The other waiting candidates must see the new object from now on.
    for (MovingObject* c : m_candidates)
        if (c != nullptr) this->m_collisionPipeline->addCallback(new RsaCallback(*candidate, *c, m_free));
}

template <class Phase>
void RandomSequentialAdditionOf<Phase>::AddUntilStuck() {
    m_stats = RsaStats{};
    if (m_inside != nullptr && !this->m_objectTypes->empty()) {
        int64_t failures = 0;
        while (failures < m_failureLimit) {
            ++m_stats.attempts;
            if (!Attempt()) {
                ++failures;
                continue;
            }
            failures = 0;
            ++m_stats.added;
            m_stats.lastAddedAttempt = m_stats.attempts;
        }
    }
    std::cout << "Random sequential addition ended: " << m_stats.added << " objects added in " << m_stats.attempts
              << " attempts." << std::endl;
}

template class RandomSequentialAdditionOf<IConstructionHeuristic>;
template class RandomSequentialAdditionOf<IImprovementHeuristic>;
