// Scene check at packing density: N objects (ellipsoids, ~55% volume fraction, small overlaps)
// in a box container, every pair with a callback. Ours: grid pipeline; FCL: dynamic AABB tree
// manager with mesh-mesh collide (yes/no per pair, its cheapest mode) as the narrow phase.
#include <benchmark/benchmark.h>
#include <fcl/fcl.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>

#include "benchscenes.h"
#include "peer.h"

using namespace colscene;

namespace colbench {
namespace {

class CountCb : public col::Callback {
 public:
    CountCb(int a, int b, unsigned* hits) : Callback(a, b, false, true, col::LEVEL_CONTACT), m_hits(hits) {}
    void operator()(const col::Data* d) override {
        *m_hits += d->sphereIntersections && !d->sphereIntersections->empty();
    }

 private:
    unsigned* m_hits;
};

struct SceneFixture {
    PackedScene scene;
    std::unique_ptr<col::CollisionPipeline> pipe;
    std::vector<CountCb> callbacks;
    unsigned hits = 0;

    explicit SceneFixture(int n) {
        std::mt19937 rng(static_cast<unsigned>(n));
        scene = packedScene(rng, n);
        pipe = std::make_unique<col::CollisionPipeline>("bench", static_cast<unsigned>(n));
        const int side = static_cast<int>(std::ceil(std::cbrt(double(n))));
        const unsigned cells[3] = {unsigned(side + 2), unsigned(side + 2), unsigned(side + 2)};
        const float h = scene.halfBox + 2.0f, lo[3] = {-h, -h, -h}, hi[3] = {h, h, h};
        pipe->useGrid(cells, lo, hi);
        for (auto& g : scene.geoms) pipe->makeCollidable(&g, nullptr);
        const auto t0 = std::chrono::steady_clock::now();
        const size_t total = scene.geoms.size();
        callbacks.reserve(total * (total - 1) / 2);
        for (size_t i = 0; i < total; ++i)
            for (size_t j = i + 1; j < total; ++j) callbacks.emplace_back(int(i), int(j), &hits);
        for (auto& c : callbacks) pipe->addCallback(&c);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        std::fprintf(stderr, "scene %d: %zu callbacks registered in %.0f ms\n", n, callbacks.size(), ms);
    }
};

SceneFixture& sceneFor(int n) {
    static std::map<int, std::unique_ptr<SceneFixture>> cache;
    auto& f = cache[n];
    if (!f) f = std::make_unique<SceneFixture>(n);
    return *f;
}

void Scene_Ours(benchmark::State& state) {
    SceneFixture& f = sceneFor(static_cast<int>(state.range(0)));
    // The same poses at every check: a full check each time, as FCL does.
    f.pipe->setIncremental(false);
    unsigned called = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < f.scene.poses.size(); ++i) f.pipe->moveObject(int(i), &f.scene.poses[i]);
        f.hits = 0;
        f.pipe->check(&called);
    }
    state.counters["callbacks"] = called;
    state.counters["narrow"] = double(f.pipe->lastNarrowPhaseCount());
    state.counters["ns/object"] = benchmark::Counter(
        double(state.range(0)), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A relaxation step: every matrix is handed over, one object in twenty was pushed by the last
// check and moves; incremental against full checks of the same steps.
void sceneSteps(benchmark::State& state, bool incremental) {
    SceneFixture& f = sceneFor(static_cast<int>(state.range(0)));
    f.pipe->setIncremental(incremental);
    std::vector<Matrix4> poses = f.scene.poses;
    unsigned called = 0;
    size_t narrow = 0, step = 0;
    for (auto _ : state) {
        for (size_t i = 1 + step % 20; i < poses.size(); i += 20) {
            const float dx = (step / 20) % 2 ? 0.01f : -0.01f;
            poses[i].setTranslation(poses[i].getTranslation() + Vector3(dx, 0, 0));
        }
        for (size_t i = 0; i < poses.size(); ++i) f.pipe->moveObject(int(i), &poses[i]);
        f.pipe->check(&called);
        narrow += f.pipe->lastNarrowPhaseCount();
        ++step;
    }
    f.pipe->setIncremental(true);
    state.counters["callbacks"] = called;
    state.counters["narrow/step"] = double(narrow) / double(state.iterations());
}
void Scene_OursStepIncremental(benchmark::State& state) { sceneSteps(state, true); }
void Scene_OursStepFull(benchmark::State& state) { sceneSteps(state, false); }

struct FclScene {
    std::vector<std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>>> meshes;  // [0] container walls
    std::vector<std::unique_ptr<fcl::CollisionObjectd>> objects;
    std::vector<Matrix4> poses;
    fcl::DynamicAABBTreeCollisionManagerd manager;

    explicit FclScene(int n) {
        std::mt19937 rng(static_cast<unsigned>(n));
        const PackedScene s = packedScene(rng, n);
        poses = s.poses;
        const float h = s.halfBox;
        std::vector<Point3> box = {{-h, -h, -h}, {h, -h, -h}, {h, h, -h}, {-h, h, -h},
                                   {-h, -h, h},  {h, -h, h},  {h, h, h},  {-h, h, h}};
        std::vector<std::vector<unsigned>> faces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                                                    {2, 3, 7}, {2, 7, 6}, {1, 2, 6}, {1, 6, 5}, {0, 4, 7}, {0, 7, 3}};
        meshes.push_back(fclMesh(box, faces));
        const float radius = 1.0164f;
        const float axes[3][3] = {{1, 1, 1}, {1.1f, 0.95f, 0.9f}, {1.15f, 1.0f, 0.85f}};
        for (const auto& ax : axes) {
            std::vector<Point3> pts;
            std::vector<std::vector<unsigned>> tris;
            ellipsoidMesh(ax[0] * radius, ax[1] * radius, ax[2] * radius, 2, pts, tris);
            meshes.push_back(fclMesh(pts, tris));
        }
        for (size_t i = 0; i < poses.size(); ++i) {
            objects.push_back(std::make_unique<fcl::CollisionObjectd>(i == 0 ? meshes[0] : meshes[1 + (i - 1) % 3]));
            objects.back()->setTransform(fclPose(poses[i]));
            objects.back()->computeAABB();
            manager.registerObject(objects.back().get());
        }
        manager.setup();
    }
};

struct FclCount {
    unsigned hits = 0;
};

bool fclPair(fcl::CollisionObjectd* a, fcl::CollisionObjectd* b, void* data) {
    fcl::CollisionRequestd req(1, false);
    fcl::CollisionResultd res;
    fcl::collide(a, b, req, res);
    static_cast<FclCount*>(data)->hits += res.isCollision();
    return false;
}

void Scene_Fcl(benchmark::State& state) {
    static std::map<int, std::unique_ptr<FclScene>> cache;
    auto& f = cache[static_cast<int>(state.range(0))];
    if (!f) f = std::make_unique<FclScene>(static_cast<int>(state.range(0)));
    FclCount count;
    for (auto _ : state) {
        for (size_t i = 0; i < f->objects.size(); ++i) {
            f->objects[i]->setTransform(fclPose(f->poses[i]));
            f->objects[i]->computeAABB();
        }
        f->manager.update();
        count.hits = 0;
        f->manager.collide(&count, fclPair);
    }
    state.counters["callbacks"] = count.hits;
    state.counters["ns/object"] = benchmark::Counter(
        double(state.range(0)), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(Scene_Ours)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Scene_Fcl)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Scene_OursStepIncremental)->Arg(220)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Scene_OursStepFull)->Arg(220)->Arg(1000)->Unit(benchmark::kMicrosecond);

const bool registered = [] {
    for (const char* n : {"100", "1000", "5000"})
        compare(std::string("Scene_Ours/") + n, std::string("Scene_Fcl/") + n);
    for (const char* n : {"220", "1000"})
        compare(std::string("Scene_OursStepIncremental/") + n, std::string("Scene_OursStepFull/") + n);
    return true;
}();

}  // namespace
}  // namespace colbench
