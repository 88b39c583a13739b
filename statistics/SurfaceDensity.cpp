// Surface density: how much of a thin shell along the inside of the container wall the objects
// cover, measured by the overlap of the objects with a copy of the container shrunk by 1 - epsilon.

#include <iostream>
#include <vector>

#include "collision/CollisionPipeline.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "statistics/Statistics.h"
#include "statistics/StatisticsCallbacks.h"

using Vectormath::Aos::Matrix4;

namespace {
constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;

// The matrix scales the wall spheres' centres and radii alike: the shrunk copy is the container
// shrunk, and its band of spheres moves inwards by the shell's width.
void SetContainerScale(MovingObject* container, float s) {
    container->m_scaleMatrix.setElem(0, 0, s);
    container->m_scaleMatrix.setElem(1, 1, s);
    container->m_scaleMatrix.setElem(2, 2, s);
    container->m_modelMatrix = container->m_translationMatrix * container->m_rotationMatrix * container->m_scaleMatrix;
}
}  // namespace

SurfaceDensityCallback::SurfaceDensityCallback(MovingObject& first, MovingObject& second)
    : col::Callback(first.m_auxId, second.m_auxId, false, true, kLevel), m_first(first), m_second(second) {}

void SurfaceDensityCallback::operator()(const col::Data* data) {
    if (m_first.m_inverseMass == 0.0f) m_first.m_overlap += data->overlap;
}

namespace Packing {

float SurfaceDensity(const PackingView& view, float epsilon) {
    // The shell between the container and its shrunk copy is empty for epsilon 0 and turns the
    // copy inside out from 1 on; neither has a density.
    if (!(epsilon > 0.0f && epsilon < 1.0f)) {
        std::cerr << "Surface density needs an epsilon between 0 and 1 (got " << epsilon << "); reported as 0"
                  << std::endl;
        return 0.0f;
    }
    MovingObject* container = view.container;
    col::CollisionPipeline* pipeline = view.createPipeline("SurfaceDensity", 51);
    container->m_auxId = pipeline->makeCollidable(container->m_geometry, PackingGeometryConverter);
    container->m_inverseMass = 0.0f;

    // Only (container, object) pairs add to the measure, so pairs of two placed objects get no
    // callback: they would cost n^2 registrations and narrow-phase work for nothing.
    std::vector<SurfaceDensityCallback*> callbacks;
    callbacks.reserve(view.placedObjects->size());
    for (MovingObject* o : *view.placedObjects) {
        o->m_auxId = pipeline->makeCollidable(o->m_geometry, PackingGeometryConverter);
        callbacks.push_back(new SurfaceDensityCallback(*container, *o));
        pipeline->addCallback(callbacks.back());
    }
    for (MovingObject* o : *view.placedObjects) {
        pipeline->moveObject(o->m_auxId, &o->m_modelMatrix, nullptr);
        o->m_geometry->setScale(1.0f);
    }

    container->m_overlap = 0.0f;
    const float s = 1.0f - epsilon;
    SetContainerScale(container, s);
    pipeline->moveObject(container->m_auxId, &container->m_modelMatrix, nullptr);
    // The shrunk wall meets nearly every object with thousands of leaf pairs each; a few objects
    // per check keep those lists small (all at once they took half a gigabyte). The callbacks
    // still run in the same order, so the sum is the same.
    constexpr size_t kObjectsPerCheck = 8;
    for (MovingObject* o : *view.placedObjects) pipeline->deactivate(o->m_auxId);
    for (auto first = view.placedObjects->begin(); first != view.placedObjects->end();) {
        auto last = first;
        for (size_t k = 0; k < kObjectsPerCheck && last != view.placedObjects->end(); ++k, ++last)
            pipeline->activate((*last)->m_auxId);
        pipeline->check(nullptr);
        for (; first != last; ++first) pipeline->deactivate((*first)->m_auxId);
    }

    const float volume = container->m_volume;
    const float density = container->m_overlap / (volume - s * s * s * volume);

    // Unscaled again; the statistics pipeline is going away, so it is not told.
    SetContainerScale(container, 1.0f);
    delete pipeline;
    for (SurfaceDensityCallback* cb : callbacks) delete cb;
    return density;
}

}  // namespace Packing
