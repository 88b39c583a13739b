// The container test at the poses a packing produces: every object of a packing the program wrote
// (bench/data) against the bundled box it was packed in. Ours tells whether the object lies
// inside (no surface contact, a vertex inside), FCL (BVHModel<OBBRSS>) whether the object's surface
// meets the box's: the same verdict for objects in or around the box, which is where they are.
#include <benchmark/benchmark.h>
#include <fcl/fcl.h>

#include "benchscenes.h"
#include "collision/MeshOverlap.h"
#include "peer.h"

using namespace colscene;

namespace colbench {
namespace {

const char* const kModels[] = {"sphere", "mm", "cube"};

struct WallFixture {
    col::ExactMesh object, box;
    std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> objectMesh, boxMesh;
    std::vector<Matrix4> poses;
    std::vector<col::ScaledPose> exactPoses;
    double fclHitShare = 0;
    int disagreements = 0;

    explicit WallFixture(const std::string& name) {
        col::ColGeometry g, c;
        std::vector<std::vector<unsigned>> tris, boxTris;
        if (!loadModelMesh(name, g, tris) || !loadModelMesh("box", c, boxTris)) return;
        if (!object.build(g.getPoints(), tris) || !box.build(c.getPoints(), boxTris)) return;
        objectMesh = fclMesh(g.getPoints(), tris);
        boxMesh = fclMesh(c.getPoints(), boxTris);
        poses = loadPacking(std::string(DENSEPACK_SOURCE_DIR) + "/bench/data/" + name + "_box_packing.txt").poses;
        fcl::CollisionObjectd o(objectMesh), w(boxMesh);
        for (const Matrix4& p : poses) {
            exactPoses.push_back(col::ScaledPose::fromMatrix(p));
            o.setTransform(fclPose(p));
            fcl::CollisionResultd res;
            fcl::collide(&o, &w, fcl::CollisionRequestd(1, false), res);
            fclHitShare += res.isCollision();
            disagreements += query(exactPoses.size() - 1, false).inside == res.isCollision();
        }
        if (!poses.empty()) fclHitShare /= double(poses.size());
    }

    col::ContainmentResult query(size_t i, bool depth) const {
        col::ContainmentQuery q;
        q.object = &object;
        q.X_WO = exactPoses[i];
        q.container = &box;
        q.wantDepth = depth;
        return col::exactContainment(q);
    }
};

WallFixture& fixture(const std::string& name) { return cachedFixture<WallFixture>(name); }

void Walls_Exact(benchmark::State& state, const std::string& name, bool depth) {
    WallFixture& f = fixture(name);
    if (f.poses.empty()) return state.SkipWithError("model or packing missing");
    size_t i = 0, outside = 0;
    for (auto _ : state) {
        const col::ContainmentResult r = f.query(i, depth);
        outside += !r.inside;
        benchmark::DoNotOptimize(r.depth);
        i = (i + 1) % f.poses.size();
    }
    state.counters["out%"] = 100 * double(outside) / double(state.iterations());
    state.counters["disagree"] = f.disagreements;  // with FCL over all objects
}

void Walls_FclYesNo(benchmark::State& state, const std::string& name) {
    WallFixture& f = fixture(name);
    if (f.poses.empty()) return state.SkipWithError("model or packing missing");
    fcl::CollisionObjectd o(f.objectMesh), w(f.boxMesh);
    fcl::CollisionRequestd req(1, false);
    size_t i = 0;
    for (auto _ : state) {
        o.setTransform(fclPose(f.poses[i]));
        fcl::CollisionResultd res;
        fcl::collide(&o, &w, req, res);
        benchmark::DoNotOptimize(res.isCollision());
        i = (i + 1) % f.poses.size();
    }
    state.counters["hit%"] = 100 * f.fclHitShare;
}

const bool registered = [] {
    for (const char* m : kModels) {
        const std::string name(m);
        const std::string exact = "Walls_Exact/" + name, depth = "Walls_ExactDepth/" + name,
                          peer = "Walls_FclYesNo/" + name;
        benchmark::RegisterBenchmark(exact.c_str(), Walls_Exact, name, false);
        benchmark::RegisterBenchmark(depth.c_str(), Walls_Exact, name, true);
        benchmark::RegisterBenchmark(peer.c_str(), Walls_FclYesNo, name);
        compare(exact, peer);
        compare(depth, peer);
    }
    return true;
}();

}  // namespace
}  // namespace colbench
