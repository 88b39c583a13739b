// Relaxation replay on real packings: a finished packing of the program (shipped under
// bench/data), and that packing tiled side by side for about 2,000 objects. One object at a time
// is dropped at a random place, and the overlapping pairs push each other apart step by step
// until the packing is free again, as the relaxation loops do. The steps are recorded once, then
// replayed: every matrix is handed over at every step, with the incremental check against the
// full one. Outside the timed loop both replays are compared callback by callback, bit for bit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <tuple>

#include "benchscenes.h"
#include "peer.h"

using namespace colscene;

namespace colbench {
namespace {

constexpr int kDrops = 6;              // relaxations recorded per scene
constexpr int kMaxStepsPerDrop = 120;  // a relaxation that does not settle ends here
constexpr float kPush = 0.01f;         // per pair and step, in object diameters

// The pipeline's side of a callback: what it was handed, compared bit for bit between replays.
struct Call {
    int a, b;
    float overlap;
    std::vector<col::SphereIntersectionData> isec;
    // Bit for bit on the values (a point's padding word is not part of it).
    static bool same(float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; }
    static bool same(const Point3& p, const Point3& q) {
        return same(p.getX(), q.getX()) && same(p.getY(), q.getY()) && same(p.getZ(), q.getZ());
    }
    bool operator==(const Call& o) const {
        if (a != o.a || b != o.b || !same(overlap, o.overlap) || isec.size() != o.isec.size()) return false;
        for (size_t i = 0; i < isec.size(); ++i)
            if (!same(isec[i].center1, o.isec[i].center1) || !same(isec[i].radius1, o.isec[i].radius1) ||
                !same(isec[i].center2, o.isec[i].center2) || !same(isec[i].radius2, o.isec[i].radius2))
                return false;
        return true;
    }
};

struct Scene;

Vector3 minOf(const Vector3& a, const Vector3& b) {
    return Vector3(std::min(a.getX(), b.getX()), std::min(a.getY(), b.getY()), std::min(a.getZ(), b.getZ()));
}
Vector3 maxOf(const Vector3& a, const Vector3& b) {
    return Vector3(std::max(a.getX(), b.getX()), std::max(a.getY(), b.getY()), std::max(a.getZ(), b.getZ()));
}

class PushCb : public col::Callback {
 public:
    PushCb(int a, int b, Scene* s, bool readsOverlap) : Callback(a, b, false, true, col::LEVEL_CONTACT), m_scene(s) {
        setReadsOverlap(readsOverlap);
    }
    void operator()(const col::Data* d) override;

 private:
    Scene* m_scene;
};

struct Scene {
    std::unique_ptr<col::ExtraData_SphereTree> container, shape;
    std::vector<col::ColGeometry> geoms;  // [0] the container when there is one
    std::vector<Matrix4> poses;
    std::vector<std::vector<Matrix4>> steps;  // recorded poses per step
    std::unique_ptr<col::CollisionPipeline> pipe;
    std::vector<PushCb> callbacks;
    std::vector<Vector3> push;
    const std::vector<Matrix4>* current = &poses;  // the poses the callbacks push from
    std::vector<Call>* log = nullptr;
    float diameter = 1;
    bool withContainer = false;
    bool contactsOnly = false;  // callbacks that do not read the overlap value
    size_t movedPerStep = 0;

    // Box of the centres from object `first` on.
    void centres(size_t first, Vector3& lo, Vector3& hi) const {
        lo = Vector3(1e9f), hi = Vector3(-1e9f);
        for (size_t i = first; i < poses.size(); ++i) {
            lo = minOf(lo, poses[i].getTranslation());
            hi = maxOf(hi, poses[i].getTranslation());
        }
    }

    void build() {
        pipe = std::make_unique<col::CollisionPipeline>("relax", unsigned(geoms.size()));
        Vector3 lo, hi;
        centres(0, lo, hi);
        const unsigned cells[3] = {unsigned((hi.getX() - lo.getX()) / diameter) + 3,
                                   unsigned((hi.getY() - lo.getY()) / diameter) + 3,
                                   unsigned((hi.getZ() - lo.getZ()) / diameter) + 3};
        const float mn[3] = {lo.getX() - 2 * diameter, lo.getY() - 2 * diameter, lo.getZ() - 2 * diameter};
        const float mx[3] = {hi.getX() + 2 * diameter, hi.getY() + 2 * diameter, hi.getZ() + 2 * diameter};
        pipe->useGrid(cells, mn, mx);
        for (auto& g : geoms) pipe->makeCollidable(&g, nullptr);
        const size_t n = geoms.size();
        callbacks.reserve(n * (n - 1) / 2);
        for (size_t i = 0; i < n; ++i)
            for (size_t j = i + 1; j < n; ++j) callbacks.emplace_back(int(i), int(j), this, !contactsOnly);
        for (auto& c : callbacks) pipe->addCallback(&c);
        push.assign(n, Vector3(0.0f));
    }

    bool fixed(int id) const { return withContainer && id == 0; }

    // One relaxation step: check, then move every object a pair pushed. False once nothing overlaps.
    bool relaxStep() {
        current = &poses;
        for (size_t i = 0; i < poses.size(); ++i) pipe->moveObject(int(i), &poses[i]);
        std::fill(push.begin(), push.end(), Vector3(0.0f));
        bool any = false;
        pipe->check();
        for (size_t i = 0; i < poses.size(); ++i)
            if (lengthSqr(push[i]) > 0.0f) {
                poses[i].setTranslation(poses[i].getTranslation() + push[i]);
                any = true;
            }
        return any;
    }

    void record(unsigned seed) {
        std::mt19937 rng(seed);
        Vector3 lo, hi;
        centres(withContainer ? 1 : 0, lo, hi);
        std::uniform_int_distribution<size_t> pick(withContainer ? 1 : 0, poses.size() - 1);
        size_t moved = 0;
        for (int drop = 0; drop < kDrops; ++drop) {
            Matrix4& m = poses[pick(rng)];
            std::uniform_real_distribution<float> x(lo.getX(), hi.getX()), y(lo.getY(), hi.getY()),
                z(lo.getZ(), hi.getZ());
            m.setTranslation(Vector3(x(rng), y(rng), z(rng)));
            for (int s = 0; s < kMaxStepsPerDrop; ++s) {
                std::vector<Matrix4> before = poses;
                const bool more = relaxStep();
                steps.push_back(before);
                for (size_t i = 0; i < poses.size(); ++i)
                    moved += std::memcmp(&before[i], &poses[i], sizeof(Matrix4)) != 0;
                if (!more) break;
            }
        }
        movedPerStep = moved / std::max<size_t>(steps.size(), 1);
    }

    // Replays step k of the recording; the callbacks work out their pushes as in the recording,
    // but nothing moves.
    void replay(size_t k) {
        current = &steps[k];
        for (size_t i = 0; i < current->size(); ++i) pipe->moveObject(int(i), &(*current)[i]);
        std::fill(push.begin(), push.end(), Vector3(0.0f));
        pipe->check();
    }
};

void PushCb::operator()(const col::Data* d) {
    Scene& s = *m_scene;
    if (s.log) {
        s.log->push_back({obj1, obj2, d->overlap, {}});
        if (d->sphereIntersections) s.log->back().isec = *d->sphereIntersections;
    }
    if (d->sphereIntersections == nullptr || d->sphereIntersections->empty()) return;
    Vector3 n(0.0f);
    for (const col::SphereIntersectionData& e : *d->sphereIntersections)
        n += ((*s.current)[size_t(obj1)] * e.center1).getXYZ() - ((*s.current)[size_t(obj2)] * e.center2).getXYZ();
    if (lengthSqr(n) == 0.0f) return;
    n = normalize(n) * (kPush * s.diameter);
    if (!s.fixed(obj1)) s.push[size_t(obj1)] += n;
    if (!s.fixed(obj2)) s.push[size_t(obj2)] -= n;
}

std::unique_ptr<Scene> makeScene(const char* shape, int tilesX, int tilesY, bool contactsOnly) {
    auto s = std::make_unique<Scene>();
    s->contactsOnly = contactsOnly;
    const std::string root = std::string(DENSEPACK_SOURCE_DIR);
    const Packing p = loadPacking(root + "/bench/data/" + shape + "_box_packing.txt");
    s->shape = std::make_unique<col::ExtraData_SphereTree>((root + "/models/" + shape + ".spheres").c_str());
    if (p.poses.empty() || !s->shape->isValid()) return nullptr;
    s->withContainer = tilesX * tilesY == 1;
    if (s->withContainer) {
        s->container = std::make_unique<col::ExtraData_SphereTree>((root + "/models/box.spheres").c_str());
        if (!s->container->isValid()) return nullptr;
        s->poses.push_back(Matrix4::identity());
    }
    // The box is 6 wide; tiles sit side by side along x and y.
    for (int tx = 0; tx < tilesX; ++tx)
        for (int ty = 0; ty < tilesY; ++ty)
            for (const Matrix4& m : p.poses) {
                Matrix4 t = m;
                t.setTranslation(m.getTranslation() + Vector3(6.0f * float(tx), 6.0f * float(ty), 0.0f));
                s->poses.push_back(t);
            }
    s->geoms.resize(s->poses.size());
    for (size_t i = 0; i < s->geoms.size(); ++i)
        s->geoms[i].m_extraData = (s->withContainer && i == 0) ? s->container.get() : s->shape.get();
    s->diameter = 2.0f * s->shape->tree()->enclosingRadius();
    s->build();
    s->record(7u + unsigned(tilesX * tilesY));
    return s;
}

Scene* sceneFor(const char* shape, int tilesX, int tilesY, bool contactsOnly = false) {
    const int tiles = tilesX * tilesY;
    static std::map<std::tuple<std::string, int, int, bool>, std::unique_ptr<Scene>> cache;
    auto& s = cache[{shape, tilesX, tilesY, contactsOnly}];
    if (!s) {
        s = makeScene(shape, tilesX, tilesY, contactsOnly);
        if (!s) return nullptr;
        // Cross-check: a whole incremental replay hands every callback what a whole full one does.
        std::vector<std::vector<Call>> logs[2];
        for (int full = 0; full < 2; ++full) {
            s->pipe->setIncremental(full == 0);
            for (size_t k = 0; k < s->steps.size(); ++k) {
                logs[full].emplace_back();
                s->log = &logs[full].back();
                s->replay(k);
            }
            s->log = nullptr;
        }
        const bool same = logs[0] == logs[1];
        std::fprintf(stderr, "%s, %d tile(s): %zu objects, %zu steps recorded, %zu objects moved per step: %s\n", shape,
                     tiles, s->poses.size(), s->steps.size(), s->movedPerStep,
                     same ? "incremental and full replays agree" : "REPLAYS DIFFER");
        if (!same) s.reset();
    }
    return s.get();
}

void relax(benchmark::State& state, const char* shape, int tilesX, int tilesY, bool incremental,
           bool contactsOnly = false) {
    Scene* s = sceneFor(shape, tilesX, tilesY, contactsOnly);
    if (s == nullptr) {
        state.SkipWithError("scene missing or the incremental replay differs from the full one");
        return;
    }
    s->pipe->setIncremental(incremental);
    // Whole passes over the recording: steps differ a lot in cost (a fresh drop against a settled
    // packing), so two cases compared on different runs of steps measured different work.
    size_t narrow = 0;
    const auto steps = static_cast<benchmark::IterationCount>(s->steps.size());
    while (state.KeepRunningBatch(steps))
        for (size_t k = 0; k < s->steps.size(); ++k) {
            s->replay(k);
            narrow += s->pipe->lastNarrowPhaseCount();
        }
    state.counters["objects"] = double(s->poses.size());
    state.counters["narrow/step"] = double(narrow) / double(state.iterations());
}

// Scenes of about 220 to 350 objects in their box, and of about 2,000 tiled without walls.
#define RELAX_CASE(shape, tx, ty)                                                                           \
    void Relax_Incremental_##shape##_##tx##x##ty(benchmark::State& st) { relax(st, #shape, tx, ty, true); } \
    void Relax_Full_##shape##_##tx##x##ty(benchmark::State& st) { relax(st, #shape, tx, ty, false); }       \
    BENCHMARK(Relax_Incremental_##shape##_##tx##x##ty)->Unit(benchmark::kMicrosecond);                      \
    BENCHMARK(Relax_Full_##shape##_##tx##x##ty)->Unit(benchmark::kMicrosecond);                             \
    const bool registered_##shape##_##tx##x##ty =                                                           \
        (compare("Relax_Incremental_" #shape "_" #tx "x" #ty, "Relax_Full_" #shape "_" #tx "x" #ty), true);

RELAX_CASE(sphere, 1, 1)
RELAX_CASE(sphere, 3, 3)
RELAX_CASE(mm, 1, 1)
RELAX_CASE(mm, 3, 2)
RELAX_CASE(cube, 1, 1)

// The same replays with callbacks that read only the contact lists (as the compaction's do), so
// the queries look for the contacts alone; both record the same steps.
#define RELAX_CONTACTS_CASE(shape)                                                                   \
    void Relax_Contacts_##shape##_1x1(benchmark::State& st) { relax(st, #shape, 1, 1, true, true); } \
    BENCHMARK(Relax_Contacts_##shape##_1x1)->Unit(benchmark::kMicrosecond);                          \
    const bool registered_contacts_##shape =                                                         \
        (compare("Relax_Contacts_" #shape "_1x1", "Relax_Incremental_" #shape "_1x1"), true);

RELAX_CONTACTS_CASE(sphere)
RELAX_CONTACTS_CASE(mm)
RELAX_CONTACTS_CASE(cube)

}  // namespace
}  // namespace colbench
