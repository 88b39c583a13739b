// Hopkins statistic per object type: nearest-neighbour distances of sampled real objects (W)
// against those of probe objects dropped at random interior points (U). U / (U + W) is near 0.5
// for a random layout, larger for a clustered one and smaller for a regular one.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iostream>
#include <vector>

#include "collision/CollisionPipeline.h"
#include "collision/ExtraData.h"
#include "collision/FibRand.h"
#include "collision/TriangleTree.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/Random.h"
#include "statistics/Statistics.h"
#include "statistics/StatisticsCallbacks.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

namespace {

constexpr col::LevelOfDetectionE kLevel = col::LEVEL_CONTACT;
/// Placements of one probe before its last pose is taken as it is.
constexpr int kMaxProbePlacements = 100;

bool NormalFloat(float v) { return std::isnormal(v); }

/// v / |v|, or v unchanged when it has no direction.
Vector3 NormalizedOrSame(const Vector3& v) {
    const float len = Vectormath::Aos::length(v);
    return len > 0.0f ? v / len : v;
}

Vector3 Transform(const Matrix4& m, const Point3& p) { return (m * p).getXYZ(); }

/// Probes and pipelines of every Hopkins run stay alive (and reachable) until the process ends.
struct HopkinsKeepAlive {
    std::vector<col::CollisionPipeline*> pipelines;
    std::vector<MovingObject*> probes;
    std::vector<HopkinsCallback*> callbacks;
};
HopkinsKeepAlive& KeepAlive() {
    static HopkinsKeepAlive* keep = new HopkinsKeepAlive;
    return *keep;
}

}  // namespace

HopkinsCallback::HopkinsCallback(MovingObject& first, MovingObject& second, bool& overlapFlag)
    : col::Callback(first.m_auxId, second.m_auxId, false, true, kLevel),
      m_first(first),
      m_second(second),
      m_flag(overlapFlag) {}

void HopkinsCallback::operator()(const col::Data* data) {
    MovingObject& a = m_first;   // the container
    MovingObject& b = m_second;  // the probe
    m_flag = true;
    const std::vector<col::SphereIntersectionData>* isec = data->sphereIntersections;
    if (isec == nullptr || isec->empty()) {
        std::cout << "IsecData was NULL!" << std::endl;
        return;
    }

    // Surface normals of the leaf pairs near a flat patch of the container wall.
    Vector3 sumA(0.0f), sumB(0.0f);
    bool hasNormals = false;
    if (data->nodePairs != nullptr) {
        for (const col::NodePair& np : *data->nodePairs) {
            const Vector3& na = np.node1->direction;
            const Vector3& nb = np.node2->direction;
            if (NormalFloat(na.getX()) && NormalFloat(na.getY()) && NormalFloat(na.getZ()) && NormalFloat(nb.getX()) &&
                static_cast<double>(np.node1->angle) < 0.785398) {
                sumA = sumA + na;
                sumB = sumB + nb;
                hasNormals = true;
            }
        }
    }

    Vector3 n(0.0f), s(0.0f);
    int k = 0;
    for (const col::SphereIntersectionData& e : *isec) {
        if (!(static_cast<double>(e.radius1) > 1e-7 && static_cast<double>(e.radius2) > 1e-7)) continue;
        const Vector3 w1 = Transform(a.m_modelMatrix, e.center1);
        const Vector3 w2 = Transform(b.m_modelMatrix, e.center2);
        const float len = Vectormath::Aos::length(w1 - w2);
        if (len > 0.0f) {
            n = n + (w1 - w2) / len;
            s = s + w1 + w2;
            ++k;
        }
    }
    if (k > 0) {
        n = NormalizedOrSame(n);
        if (sumA.getX() != 0.0f && sumA.getY() != 0.0f && sumA.getZ() != 0.0f) sumA = NormalizedOrSame(sumA);
        sumB = NormalizedOrSame(sumB);
    }

    // Contact point over all listed pairs, skipped ones included.
    const Vector3 p = s / (2.0f * static_cast<float>(isec->size()));
    const Vector3 r1 = p - a.m_position;
    const Vector3 r2 = p - b.m_position;
    const Vector3 a1 = a.m_inverseInertia * Vectormath::Aos::cross(r1, n);
    const Vector3 a2 = b.m_inverseInertia * Vectormath::Aos::cross(r2, n);
    const float j =
        2.0f / (Vectormath::Aos::lengthSqr(a2) + a.m_inverseMass + b.m_inverseMass + Vectormath::Aos::lengthSqr(a1));
    const Vector3 impulse = j * n;
    // The container has no inertia: a zero turn stays zero rather than becoming NaN.
    a.m_angularVelocity =
        a.m_angularVelocity + 0.25f * NormalizedOrSame(a.m_inverseInertia * Vectormath::Aos::cross(r1, impulse));
    b.m_angularVelocity =
        b.m_angularVelocity + 0.25f * NormalizedOrSame(b.m_inverseInertia * Vectormath::Aos::cross(r2, impulse));

    if (a.m_inverseMass == 0.0f && hasNormals) {
        a.m_velocity = a.m_velocity - sumB;
        b.m_velocity = b.m_velocity - 2.0f * sumA;  // pushed along the wall's node normals
    } else {
        a.m_velocity = a.m_velocity + n;
        b.m_velocity = b.m_velocity - n;
    }
    a.m_overlap = data->overlap;
    b.m_overlap = data->overlap;
    std::cout.flush();
}

namespace Packing {

namespace {

/// A lower bound of view.distance(a, b) from the meshes' bounding spheres, in the same frame
/// (b's model frame); -infinity when either object has no mesh, so nothing is skipped.
float DistanceLowerBound(MovingObject* a, MovingObject* b) {
    auto* extraA = dynamic_cast<col::ExtraData_SphereTree*>(a->m_geometry->m_extraData);
    auto* extraB = dynamic_cast<col::ExtraData_SphereTree*>(b->m_geometry->m_extraData);
    const col::TriangleTree* meshA = extraA != nullptr ? extraA->tree()->mesh() : nullptr;
    const col::TriangleTree* meshB = extraB != nullptr ? extraB->tree()->mesh() : nullptr;
    Point3 ca, cb;
    float ra = 0.0f, rb = 0.0f;
    if (meshA == nullptr || meshB == nullptr || !meshA->boundingSphere(ca, ra) || !meshB->boundingSphere(cb, rb))
        return -INFINITY;
    const Matrix4 m12 = Vectormath::Aos::inverse(b->m_modelMatrix) * a->m_modelMatrix;
    const float scale = Vectormath::Aos::length(m12.getCol0().getXYZ());
    const float reach = ra * scale + rb;
    const float gap = Vectormath::Aos::length(Transform(m12, ca) - Vector3(cb)) - reach;
    // Rounding of either side must never skip a nearer object.
    return gap - 1e-4f * reach;
}

}  // namespace

float NearestNeighborDist(const PackingView& view, MovingObject* object, const std::vector<MovingObject*>& candidates) {
    if (candidates.size() < 2) return 0.0f;
    // The exact distance is the cost: try the candidates nearest first and stop at the first one
    // whose bounding spheres are already farther apart than the best distance found.
    std::vector<std::pair<float, MovingObject*>> order;
    order.reserve(candidates.size());
    for (MovingObject* c : candidates)
        if (c != object) order.emplace_back(DistanceLowerBound(object, c), c);
    std::sort(order.begin(), order.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    float best = FLT_MAX;
    for (const auto& [bound, c] : order) {
        if (bound >= best) break;
        const float d = view.distance(object, c);
        if (d < best) best = d;
        if (d == 0.0f) break;  // nothing is nearer than touching
    }
    return best;
}

std::vector<std::vector<float>> HopkinsValues(const PackingView& view) {
    MovingObject* container = view.container;
    col::CollisionPipeline* pipeline = view.createPipeline("HopkinsStatistic", 1337);
    container->m_auxId = pipeline->makeCollidable(container->m_geometry, PackingGeometryConverter);
    bool overlapFlag = false;
    container->m_inverseMass = 0.0f;
    KeepAlive().pipelines.push_back(pipeline);

    // One probe per type; probes meet only the container, never the placed objects.
    const size_t typeCount = view.types->size();
    std::vector<MovingObject*> probes(typeCount);
    for (size_t t = 0; t < typeCount; ++t) {
        MovingObject* probe = view.generateObject(static_cast<int>(t));
        probe->m_auxId = pipeline->makeCollidable(probe->m_geometry, PackingGeometryConverter);
        // ResolveOverlap moves an object by m_id; the probe lives in this pipeline only.
        probe->m_id = probe->m_auxId;
        auto* cb = new HopkinsCallback(*container, *probe, overlapFlag);
        pipeline->addCallback(cb);
        probes[t] = probe;
        KeepAlive().probes.push_back(probe);
        KeepAlive().callbacks.push_back(cb);
    }

    std::vector<std::vector<MovingObject*>> byType(typeCount);
    for (MovingObject* o : *view.placedObjects) byType[static_cast<size_t>(o->m_typeIndex)].push_back(o);

    const unsigned pointCount = static_cast<unsigned>(view.points->size());
    bool toldNoPoints = false;

    std::vector<std::vector<float>> values(typeCount);
    for (int rep = 0; rep < view.hopkinsRepeat; ++rep) {
        std::vector<std::vector<MovingObject*>> pool = byType;
        for (size_t t = 0; t < typeCount; ++t) {
            const size_t n = byType[t].size();
            if (n < 2) {
                values[t].push_back(-1.0f);
                continue;
            }
            long m = std::lround(static_cast<float>(n) * view.hopkinsSubSet);
            if (m < 1) m = 1;
            // A fraction above 1 would empty the pool; every object is sampled once at most.
            if (m > static_cast<long>(n)) m = static_cast<long>(n);
            float w = 0.0f, u = 0.0f;
            MovingObject* probe = probes[t];
            for (long i = 0; i < m; ++i) {
                const unsigned k = view.random->mrand(static_cast<unsigned>(pool[t].size()));
                MovingObject* o = pool[t][k];
                pool[t].erase(pool[t].begin() + k);
                w += NearestNeighborDist(view, o, byType[t]);

                int tries = 0;
                for (;;) {
                    if (pointCount > 0) {
                        const Vector3& point = (*view.points)[view.random->mrand(pointCount)];
                        probe->m_position = point;
                        probe->m_translationMatrix.setTranslation(point);
                    } else if (!toldNoPoints) {
                        std::cerr << "Hopkins statistic without interior points: probes stay where they are"
                                  << std::endl;
                        toldNoPoints = true;
                    }
                    const float d1 = randMToN(-1.0f, 1.0f);
                    const float d2 = randMToN(-1.0f, 1.0f);
                    const float d3 = randMToN(-1.0f, 1.0f);
                    Vector3 axis(d3, d2, d1);
                    axis =
                        Vectormath::Aos::lengthSqr(axis) > 0.0f ? Vectormath::Aos::normalize(axis) : Vector3::zAxis();
                    const float angle = randMToN(0.0f, 359.0f);  // taken as radians as it is
                    probe->m_rotationMatrix = Matrix4::rotation(angle, axis);
                    if (view.resolveOverlap(pipeline, probe, overlapFlag)) break;
                    if (++tries == kMaxProbePlacements) {
                        std::cerr << "Hopkins statistic: no overlap-free place for a " << (*view.types)[t].name
                                  << " probe after " << kMaxProbePlacements << " tries; its last place is used"
                                  << std::endl;
                        break;
                    }
                }
                u += NearestNeighborDist(view, probe, byType[t]);
            }
            values[t].push_back(u == 0.0f && w == 0.0f ? 0.0f : u / (u + w));
        }
    }

    return values;
}

}  // namespace Packing
