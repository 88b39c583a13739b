#include "viewer/Framing.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "viewer/Camera.h"
#include "viewer/Viewer.h"

using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace {

// 35 degrees round from the front towards +x, 25 degrees up.
const glm::vec3 kThreeQuarterView(0.5198f, 0.4226f, 0.7424f);

// Farthest mesh point from the model origin: an object's extent about its position.
float MeshRadius(const PackingGeometry* geometry) {
    static std::map<const PackingGeometry*, float> known;  // meshes never change once loaded
    const auto it = known.find(geometry);
    if (it != known.end()) return it->second;
    float r = 0.0f;
    for (const Point3& p : geometry->getPoints()) r = std::max(r, length(Vector3(p)));
    return known[geometry] = r;
}

struct Box {
    Vector3 lo{INFINITY}, hi{-INFINITY};
    void Add(const Vector3& p, float margin = 0.0f) {
        lo = minPerElem(lo, p - Vector3(margin));
        hi = maxPerElem(hi, p + Vector3(margin));
    }
    bool Empty() const { return !(lo.getX() <= hi.getX()); }
};

}  // namespace

bool PackingSphere(glm::vec3& outCentre, float& outRadius) {
    const ViewerContext& c = g_viewerContext;
    Box container, all;
    std::lock_guard<std::mutex> lock(g_packingMutex);
    if (c.container != nullptr && c.container->m_geometry != nullptr)
        for (const Point3& p : c.container->m_geometry->getPoints())
            container.Add((c.container->m_modelMatrix * p).getXYZ());
    all = container;
    if (c.placedObjects != nullptr) {
        const float reach = container.Empty() ? INFINITY : length(container.hi - container.lo);
        for (const MovingObject* o : *c.placedObjects) {
            if (o->m_geometry == nullptr) continue;
            const Vector3 p = o->m_position;
            const Vector3 outside = maxPerElem(maxPerElem(container.lo - p, p - container.hi), Vector3(0.0f));
            if (!container.Empty() && length(outside) > reach) continue;
            all.Add(p, std::abs(o->m_scaleMatrix.getElem(0, 0)) * MeshRadius(o->m_geometry));
        }
    }
    if (all.Empty()) return false;
    const Vector3 centre = 0.5f * (all.lo + all.hi);
    outCentre = glm::vec3(centre.getX(), centre.getY(), centre.getZ());
    outRadius = 0.5f * length(all.hi - all.lo);
    return outRadius > 0.0f && std::isfinite(outRadius);
}

void FramePacking(Camera& camera, bool keepDirection) {
    glm::vec3 centre;
    float radius = 0.0f;
    if (!PackingSphere(centre, radius)) return;
    camera.Frame(centre, radius, keepDirection ? camera.viewedFrom() : kThreeQuarterView);
}
