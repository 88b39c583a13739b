#include "PourSim.h"

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

namespace peer {
namespace {

constexpr btScalar kStep = 1.0f / 240.0f;
constexpr btScalar kGravity = 9.81f;
constexpr int kSolverIterations = 20;
constexpr int kMinSettleSteps = 240;
constexpr int kSettleCheckEvery = 24;
constexpr double kPi = 3.14159265358979323846;

/// An ellipsoid with an exact support function. Built from a scaled multi-sphere, the engine
/// under-reports its extent in oblique directions (by up to about 6 % for 1:1:0.5); the analytic
/// support point is A^2 d / |A d| for semi-axes A. The semi-axes are shrunk by the margin, which
/// the engine adds back as a rounding.
class EllipsoidShape : public btConvexInternalShape {
 public:
    EllipsoidShape(const btVector3& semiAxes, btScalar margin) : m_outer(semiAxes) {
        m_shapeType = CUSTOM_CONVEX_SHAPE_TYPE;
        m_collisionMargin = margin;
        m_inner = semiAxes - btVector3(margin, margin, margin);
    }

    btVector3 localGetSupportingVertexWithoutMargin(const btVector3& dir) const override {
        const btVector3 ad = m_inner * dir;
        const btScalar len = ad.length();
        if (len < SIMD_EPSILON) return btVector3(m_inner.x(), 0, 0);
        return m_inner * ad / len;
    }
    void batchedUnitVectorGetSupportingVertexWithoutMargin(const btVector3* dirs, btVector3* out,
                                                           int n) const override {
        for (int i = 0; i < n; ++i) out[i] = localGetSupportingVertexWithoutMargin(dirs[i]);
    }
    /// Exact box: along world axis k the half extent is |row k of (R diag(A))|.
    void getAabb(const btTransform& t, btVector3& lo, btVector3& hi) const override {
        const btMatrix3x3& r = t.getBasis();
        btVector3 half;
        for (int k = 0; k < 3; ++k) half[k] = (r.getRow(k) * m_inner).length() + m_collisionMargin;
        lo = t.getOrigin() - half;
        hi = t.getOrigin() + half;
    }
    void calculateLocalInertia(btScalar mass, btVector3& inertia) const override {
        const btVector3 a2 = m_outer * m_outer;
        inertia = btVector3(a2.y() + a2.z(), a2.x() + a2.z(), a2.x() + a2.y()) * (mass / 5.0f);
    }
    const char* getName() const override { return "Ellipsoid"; }

 private:
    btVector3 m_outer, m_inner;
};

/// Owns the engine's world and everything added to it.
struct World {
    btDefaultCollisionConfiguration config;
    btCollisionDispatcher dispatcher{&config};
    btDbvtBroadphase broadphase;
    btSequentialImpulseConstraintSolver solver;
    btDiscreteDynamicsWorld world{&dispatcher, &broadphase, &solver, &config};
    std::vector<std::unique_ptr<btCollisionShape>> shapes;
    std::vector<std::unique_ptr<btDefaultMotionState>> states;
    std::vector<std::unique_ptr<btRigidBody>> bodies;

    World() {
        world.setGravity(btVector3(0, 0, -kGravity));
        btContactSolverInfo& info = world.getSolverInfo();
        info.m_numIterations = kSolverIterations;
        info.m_solverMode |= SOLVER_USE_2_FRICTION_DIRECTIONS;
    }
    ~World() {
        for (auto& b : bodies) world.removeRigidBody(b.get());
    }

    btRigidBody* Add(btCollisionShape* shape, btScalar mass, const btTransform& pose, btScalar friction) {
        btVector3 inertia(0, 0, 0);
        if (mass > 0) shape->calculateLocalInertia(mass, inertia);
        states.push_back(std::make_unique<btDefaultMotionState>(pose));
        btRigidBody::btRigidBodyConstructionInfo ci(mass, states.back().get(), shape, inertia);
        ci.m_friction = friction;
        ci.m_restitution = 0;
        bodies.push_back(std::make_unique<btRigidBody>(ci));
        btRigidBody* body = bodies.back().get();
        body->setActivationState(DISABLE_DEACTIVATION);
        world.addRigidBody(body);
        return body;
    }
    void Step() { world.stepSimulation(kStep, 0, kStep); }
};

float LargestExtent(const PourSettings& s) { return std::max({s.size[0], s.size[1], s.size[2]}); }

btCollisionShape* MakeShape(const PourSettings& s) {
    const btVector3 half(s.size[0] / 2, s.size[1] / 2, s.size[2] / 2);
    const btScalar smallest = std::min({half.x(), half.y(), half.z()});
    switch (s.shape) {
        case Shape::Sphere:
            return new btSphereShape(half.x());  // the margin is the radius: exact
        case Shape::Cube: {
            auto* box = new btBoxShape(half);
            box->setMargin(0.01f * smallest);  // keeps the outer extents, rounds the edges slightly
            return box;
        }
        case Shape::Ellipsoid:
            return new EllipsoidShape(half, 0.04f * smallest);
    }
    return nullptr;
}

/// The container: floor and four side walls as one kinematic compound, so shaking moves it whole.
btRigidBody* AddContainer(World& w, const PourSettings& s, float height, btScalar friction) {
    const float t = LargestExtent(s);
    auto* compound = new btCompoundShape();
    w.shapes.emplace_back(compound);
    const btVector3 lo(s.boxLo[0], s.boxLo[1], s.boxLo[2]), hi(s.boxHi[0], s.boxHi[1], s.boxHi[2]);
    const btVector3 mid = (lo + hi) / 2, ext = hi - lo;
    auto addBox = [&](const btVector3& half, const btVector3& centre) {
        auto* box = new btBoxShape(half);
        w.shapes.emplace_back(box);
        btTransform tr;
        tr.setIdentity();
        tr.setOrigin(centre);
        compound->addChildShape(tr, box);
    };
    const float wallMid = lo.z() + height / 2;
    addBox(btVector3(ext.x() / 2 + t, ext.y() / 2 + t, t / 2), btVector3(mid.x(), mid.y(), lo.z() - t / 2));
    addBox(btVector3(t / 2, ext.y() / 2 + t, height / 2), btVector3(lo.x() - t / 2, mid.y(), wallMid));
    addBox(btVector3(t / 2, ext.y() / 2 + t, height / 2), btVector3(hi.x() + t / 2, mid.y(), wallMid));
    addBox(btVector3(ext.x() / 2, t / 2, height / 2), btVector3(mid.x(), lo.y() - t / 2, wallMid));
    addBox(btVector3(ext.x() / 2, t / 2, height / 2), btVector3(mid.x(), hi.y() + t / 2, wallMid));
    btTransform pose;
    pose.setIdentity();
    btRigidBody* body = w.Add(compound, 0, pose, friction);
    body->setCollisionFlags(body->getCollisionFlags() | btCollisionObject::CF_KINEMATIC_OBJECT);
    return body;
}

/// Steps until every object is slower than a hundredth of its size per second (checked every
/// tenth of a second, after at least one second) or the step limit is reached.
int Settle(World& w, const std::vector<btRigidBody*>& objects, float size, int limit) {
    const btScalar still2 = (0.01f * size) * (0.01f * size);
    for (int step = 1; step <= limit; ++step) {
        w.Step();
        if (step < kMinSettleSteps || step % kSettleCheckEvery != 0) continue;
        btScalar fastest = 0;
        for (const btRigidBody* b : objects) fastest = std::max(fastest, b->getLinearVelocity().length2());
        if (fastest < still2) return step;
    }
    return limit;
}

/// One cycle moving the container by A sin(wt) vertically and along `axis` horizontally.
int Shake(World& w, btRigidBody* container, const PourSettings& s, int axis) {
    const float amp = s.shakeAmplitude * LargestExtent(s);
    const int steps = std::max(8, static_cast<int>(std::lround(1.0 / (s.shakeFrequency * kStep))));
    for (int k = 1; k <= steps; ++k) {
        const double phase = 2.0 * kPi * k / steps;
        btVector3 offset(0, 0, static_cast<btScalar>(amp * std::sin(phase)));
        offset[axis] = static_cast<btScalar>(amp * std::sin(phase));
        btTransform pose;
        pose.setIdentity();
        pose.setOrigin(k == steps ? btVector3(0, 0, 0) : offset);
        container->getMotionState()->setWorldTransform(pose);
        w.Step();
    }
    return steps;
}

float UpperZ(const btRigidBody* b) {
    btVector3 lo, hi;
    b->getCollisionShape()->getAabb(b->getWorldTransform(), lo, hi);
    return hi.z();
}

}  // namespace

bool ParseShape(const std::string& text, Shape& out) {
    if (text == "sphere")
        out = Shape::Sphere;
    else if (text == "mm" || text == "ellipsoid")
        out = Shape::Ellipsoid;
    else if (text == "cube")
        out = Shape::Cube;
    else
        return false;
    return true;
}

const char* ShapeName(Shape s) {
    switch (s) {
        case Shape::Sphere:
            return "sphere";
        case Shape::Ellipsoid:
            return "mm";
        case Shape::Cube:
            return "cube";
    }
    return "?";
}

double ObjectVolume(const PourSettings& s) {
    const double a = s.size[0], b = s.size[1], c = s.size[2];
    return s.shape == Shape::Cube ? a * b * c : kPi / 6.0 * a * b * c;
}

PourResult Pour(const PourSettings& s) {
    const auto start = std::chrono::steady_clock::now();
    PourResult result;
    const float e = LargestExtent(s);
    const float ext[3] = {s.boxHi[0] - s.boxLo[0], s.boxHi[1] - s.boxLo[1], s.boxHi[2] - s.boxLo[2]};
    const double boxVolume = double(ext[0]) * ext[1] * ext[2];
    const int count =
        s.count > 0 ? s.count : static_cast<int>(std::ceil(s.overfill * 0.64 * boxVolume / ObjectVolume(s)));

    // A loose lattice over the footprint, layer on layer from the floor up.
    const float spacing = 1.15f * e;
    const int nx = std::max(1, static_cast<int>((ext[0] - 0.1f * e) / spacing));
    const int ny = std::max(1, static_cast<int>((ext[1] - 0.1f * e) / spacing));
    const int layers = (count + nx * ny - 1) / (nx * ny);
    const float height = std::max(ext[2], (layers + 1) * spacing) + e;

    World w;
    const btScalar mu = std::sqrt(s.friction);  // the engine multiplies the two bodies' values
    btRigidBody* container = AddContainer(w, s, height, mu);
    btCollisionShape* shape = MakeShape(s);
    w.shapes.emplace_back(shape);

    std::mt19937 rng(s.seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    const float gapX = (ext[0] - nx * spacing) / 2, gapY = (ext[1] - ny * spacing) / 2;
    std::vector<btRigidBody*> objects;
    for (int i = 0; i < count; ++i) {
        const int layer = i / (nx * ny), cell = i % (nx * ny);
        const float jitter = 0.05f * spacing;
        const btVector3 centre(s.boxLo[0] + gapX + (cell % nx + 0.5f) * spacing + jitter * (2 * unit(rng) - 1),
                               s.boxLo[1] + gapY + (cell / nx + 0.5f) * spacing + jitter * (2 * unit(rng) - 1),
                               s.boxLo[2] + (layer + 0.5f) * spacing + 0.05f * e);
        btQuaternion q(normal(rng), normal(rng), normal(rng), normal(rng));  // uniform over rotations
        q.normalize();
        btRigidBody* b = w.Add(shape, static_cast<btScalar>(ObjectVolume(s)), btTransform(q, centre), mu);
        b->setLinearVelocity(btVector3(normal(rng), normal(rng), normal(rng)) * (0.1f * e));
        objects.push_back(b);
    }
    result.poured = static_cast<int>(objects.size());

    result.settleSteps += Settle(w, objects, e, s.settleStepLimit);
    for (int k = 0; k < s.shakes; ++k) {
        result.settleSteps += Shake(w, container, s, k % 2);
        result.settleSteps += Settle(w, objects, e, kMinSettleSteps);
    }
    if (s.shakes > 0) result.settleSteps += Settle(w, objects, e, s.settleStepLimit);

    // Keep what lies wholly inside the box; count what left the walls' footprint.
    const float tol = 1e-3f * e;
    std::vector<const btCollisionObject*> keptBodies;
    for (btRigidBody* b : objects) {
        const btVector3 c = b->getWorldTransform().getOrigin();
        if (c.x() < s.boxLo[0] || c.x() > s.boxHi[0] || c.y() < s.boxLo[1] || c.y() > s.boxHi[1] ||
            c.z() < s.boxLo[2]) {
            ++result.escaped;
            continue;
        }
        if (UpperZ(b) > s.boxHi[2] + tol) continue;
        RestingObject o;
        const btMatrix3x3& r = b->getWorldTransform().getBasis();
        for (int k = 0; k < 3; ++k) {
            o.centre[k] = c[k];
            for (int j = 0; j < 3; ++j) o.rotation[3 * k + j] = r[k][j];
        }
        result.kept.push_back(o);
        keptBodies.push_back(b);
    }

    // Deepest contact at rest among the kept objects and the walls, from fresh contact points:
    // cached ones are only re-projected and read curved surfaces that rolled as overlapping.
    for (int m = 0; m < w.dispatcher.getNumManifolds(); ++m)
        w.dispatcher.getManifoldByIndexInternal(m)->clearManifold();
    w.world.performDiscreteCollisionDetection();
    auto counts = [&](const btCollisionObject* o) {
        return o == container || std::find(keptBodies.begin(), keptBodies.end(), o) != keptBodies.end();
    };
    for (int m = 0; m < w.dispatcher.getNumManifolds(); ++m) {
        const btPersistentManifold* man = w.dispatcher.getManifoldByIndexInternal(m);
        if (!counts(man->getBody0()) || !counts(man->getBody1())) continue;
        for (int p = 0; p < man->getNumContacts(); ++p)
            result.maxPenetration = std::max(result.maxPenetration, -man->getContactPoint(p).getDistance());
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

bool Contains(const PourSettings& s, const RestingObject& o, const float p[3]) {
    const float d[3] = {p[0] - o.centre[0], p[1] - o.centre[1], p[2] - o.centre[2]};
    float local[3];
    for (int j = 0; j < 3; ++j) local[j] = o.rotation[j] * d[0] + o.rotation[3 + j] * d[1] + o.rotation[6 + j] * d[2];
    if (s.shape == Shape::Cube) {
        for (int j = 0; j < 3; ++j)
            if (std::fabs(local[j]) > s.size[j] / 2) return false;
        return true;
    }
    float q = 0;
    for (int j = 0; j < 3; ++j) q += (2 * local[j] / s.size[j]) * (2 * local[j] / s.size[j]);
    return q <= 1.0f;
}

Fractions Measure(const PourSettings& s, const std::vector<RestingObject>& kept, float margin, long samples,
                  uint32_t seed) {
    Fractions f;
    const double boxVolume = double(s.boxHi[0] - s.boxLo[0]) * (s.boxHi[1] - s.boxLo[1]) * (s.boxHi[2] - s.boxLo[2]);
    f.global = kept.size() * ObjectVolume(s) / boxVolume;
    float lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
        lo[k] = s.boxLo[k] + margin;
        hi[k] = s.boxHi[k] - margin;
        if (hi[k] <= lo[k]) return f;  // no bulk region
    }
    // Objects bucketed by centre in cells of the largest extent: a point meets only its 27 cells.
    const float cellSize = LargestExtent(s);
    int n[3];
    for (int k = 0; k < 3; ++k) n[k] = std::max(1, static_cast<int>(std::ceil((s.boxHi[k] - s.boxLo[k]) / cellSize)));
    auto cellOf = [&](int k, float v) {
        return std::clamp(static_cast<int>((v - s.boxLo[k]) / cellSize), 0, n[k] - 1);
    };
    std::vector<std::vector<int>> cells(static_cast<size_t>(n[0] * n[1] * n[2]));
    for (size_t i = 0; i < kept.size(); ++i) {
        const int c[3] = {cellOf(0, kept[i].centre[0]), cellOf(1, kept[i].centre[1]), cellOf(2, kept[i].centre[2])};
        cells[static_cast<size_t>((c[2] * n[1] + c[1]) * n[0] + c[0])].push_back(static_cast<int>(i));
    }
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    long inside = 0;
    for (long i = 0; i < samples; ++i) {
        const float p[3] = {lo[0] + (hi[0] - lo[0]) * unit(rng), lo[1] + (hi[1] - lo[1]) * unit(rng),
                            lo[2] + (hi[2] - lo[2]) * unit(rng)};
        const int c[3] = {cellOf(0, p[0]), cellOf(1, p[1]), cellOf(2, p[2])};
        bool hit = false;
        for (int z = std::max(0, c[2] - 1); z <= std::min(n[2] - 1, c[2] + 1) && !hit; ++z)
            for (int y = std::max(0, c[1] - 1); y <= std::min(n[1] - 1, c[1] + 1) && !hit; ++y)
                for (int x = std::max(0, c[0] - 1); x <= std::min(n[0] - 1, c[0] + 1) && !hit; ++x)
                    for (int o : cells[static_cast<size_t>((z * n[1] + y) * n[0] + x)])
                        if (Contains(s, kept[static_cast<size_t>(o)], p)) {
                            hit = true;
                            break;
                        }
        inside += hit;
    }
    f.samples = samples;
    f.bulk = samples > 0 ? double(inside) / samples : 0.0;
    f.bulkError = samples > 0 ? std::sqrt(f.bulk * (1 - f.bulk) / samples) : 0.0;
    return f;
}

float SlidingDistance(float friction, float v0) {
    World w;
    const btScalar mu = std::sqrt(friction);
    auto* floor = new btBoxShape(btVector3(50, 50, 1));
    w.shapes.emplace_back(floor);
    btTransform pose;
    pose.setIdentity();
    pose.setOrigin(btVector3(0, 0, -1));
    w.Add(floor, 0, pose, mu);
    auto* cube = new btBoxShape(btVector3(0.5f, 0.5f, 0.5f));
    w.shapes.emplace_back(cube);
    pose.setOrigin(btVector3(0, 0, 0.5f));
    btRigidBody* b = w.Add(cube, 1, pose, mu);
    for (int i = 0; i < 240; ++i) w.Step();  // come to rest on the floor first
    const btScalar x0 = b->getWorldTransform().getOrigin().x();
    b->setLinearVelocity(btVector3(v0, 0, 0));
    for (int i = 0; i < 240 * 10 && b->getLinearVelocity().length() > 1e-4f; ++i) w.Step();
    return b->getWorldTransform().getOrigin().x() - x0;
}

float RestingHeight(const PourSettings& s, float angle) {
    World w;
    auto* floor = new btBoxShape(btVector3(10, 10, 1));
    w.shapes.emplace_back(floor);
    btTransform pose;
    pose.setIdentity();
    pose.setOrigin(btVector3(0, 0, -1));
    w.Add(floor, 0, pose, 1);
    btCollisionShape* shape = MakeShape(s);
    w.shapes.emplace_back(shape);
    const btQuaternion turn(btVector3(1, 0, 0), angle);
    btRigidBody* b = w.Add(shape, 1, btTransform(turn, btVector3(0, 0, LargestExtent(s))), 1);
    b->setAngularFactor(0);  // it would roll onto its flat side
    for (int i = 0; i < 480; ++i) w.Step();
    return b->getWorldTransform().getOrigin().z();
}

float ExactRestingHeight(const PourSettings& s, float angle) {
    // The floor normal in the object's frame, turned back by the angle about x.
    const float n[3] = {0, std::sin(angle), std::cos(angle)};
    float h = 0;
    for (int k = 0; k < 3; ++k) {
        const float a = s.size[k] / 2;
        h += s.shape == Shape::Cube ? a * std::fabs(n[k]) : a * a * n[k] * n[k];
    }
    return s.shape == Shape::Cube ? h : std::sqrt(h);
}

}  // namespace peer
