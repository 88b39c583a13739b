// Pair query at the poses a packing produces: every pair of neighbours (enclosing spheres
// overlapping) in a packing of a bundled model that the program wrote (bench/data). Ours reports
// every overlapping leaf pair; FCL (BVHModel<OBBRSS> on the mesh the program loads) answers yes/no
// and all contacts. The exact mesh test answers yes/no on the same meshes: by GJK for the convex
// models, and on the triangle trees when told to (the path non-convex meshes take).
#include <benchmark/benchmark.h>
#include <fcl/fcl.h>

#include "benchscenes.h"
#include "collision/MeshOverlap.h"
#include "peer.h"

using namespace colscene;

namespace colbench {
namespace {

const char* const kModels[] = {"sphere", "mm", "cube"};

struct NeighbourFixture {
    std::unique_ptr<col::ExtraData_SphereTree> tree;
    std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> mesh;
    col::ExactMesh exact;
    std::vector<NeighbourPose> poses;
    std::vector<col::ScaledPose> exactPoses;  // pose1, pose2 of each neighbour pair
    double hitShare = 0, meshHitShare = 0;
    int triangles = 0, disagreements = 0;

    explicit NeighbourFixture(const std::string& name) {
        // The program prefers the "_l" mesh; its tree was fitted inside that one.
        col::ColGeometry g;
        std::vector<std::vector<unsigned>> tris;
        if (!loadModelMesh(name, g, tris)) return;
        tree = std::make_unique<col::ExtraData_SphereTree>(
            (std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name + ".spheres").c_str());
        if (!tree->isValid()) return;
        triangles = static_cast<int>(tris.size());
        mesh = fclMesh(g.getPoints(), tris);
        if (!exact.build(g.getPoints(), g.getPrimitives())) return;
        // Every pair of neighbours in a packing the program wrote: enclosing spheres overlapping.
        float reach = 0;
        for (const Point3& v : g.getPoints()) reach = std::max(reach, length(Vector3(v)));
        poses = packingNeighbours(
            loadPacking(std::string(DENSEPACK_SOURCE_DIR) + "/bench/data/" + name + "_box_packing.txt"), reach);
        if (poses.empty()) return;
        fcl::CollisionObjectd o1(mesh), o2(mesh);
        for (const auto& p : poses) {
            col::OverlapResult r;
            col::queryOverlap(tree->tree(), p.pose1, 1, tree->tree(), p.pose2, 1, r);
            hitShare += !r.intersections.empty();
            o1.setTransform(fclPose(p.pose1));
            o2.setTransform(fclPose(p.pose2));
            fcl::CollisionRequestd req(1, false);
            fcl::CollisionResultd res;
            fcl::collide(&o1, &o2, req, res);
            meshHitShare += res.isCollision();
            // Neighbours of a packing never hold one another: FCL's surface test is the answer.
            exactPoses.push_back(col::ScaledPose::fromMatrix(p.pose1));
            exactPoses.push_back(col::ScaledPose::fromMatrix(p.pose2));
            for (bool triangles : {false, true})
                disagreements += exactQuery(exactPoses.size() / 2 - 1, triangles).overlap != res.isCollision();
        }
        hitShare /= double(poses.size());
        meshHitShare /= double(poses.size());
    }

    col::ExactOverlapResult exactQuery(size_t i, bool triangles, bool depth = false) const {
        col::ExactOverlapQuery q;
        q.a = q.b = &exact;
        q.X_WA = exactPoses[2 * i];
        q.X_WB = exactPoses[2 * i + 1];
        q.useTriangles = triangles;
        q.wantDepth = depth;
        return col::exactOverlap(q);
    }
};

NeighbourFixture& fixture(const std::string& name) { return cachedFixture<NeighbourFixture>(name); }

void Neighbours_Ours(benchmark::State& state, const std::string& name) {
    NeighbourFixture& f = fixture(name);
    if (f.poses.empty()) return state.SkipWithError("model or packing missing");
    col::OverlapScratch scratch;
    col::OverlapResult out;
    col::PosedTree p1, p2;
    size_t i = 0, pairs = 0, visited = 0;
    for (auto _ : state) {
        p1.set(f.tree->tree(), f.poses[i].pose1, 1);
        p2.set(f.tree->tree(), f.poses[i].pose2, 1);
        col::queryOverlap(p1, p2, scratch, out);
        pairs += out.intersections.size();
        visited += static_cast<size_t>(out.visited);
        benchmark::DoNotOptimize(out.overlap);
        i = (i + 1) % f.poses.size();
    }
    state.counters["hit%"] = 100 * f.hitShare;
    state.counters["pairs/q"] = double(pairs) / double(state.iterations());
    state.counters["visits/q"] = double(visited) / double(state.iterations());
}

void Neighbours_Fcl(benchmark::State& state, const std::string& name, size_t maxContacts) {
    NeighbourFixture& f = fixture(name);
    if (f.poses.empty()) return state.SkipWithError("model or packing missing");
    fcl::CollisionObjectd o1(f.mesh), o2(f.mesh);
    fcl::CollisionRequestd req(maxContacts, false);
    size_t i = 0, contacts = 0;
    for (auto _ : state) {
        o1.setTransform(fclPose(f.poses[i].pose1));
        o2.setTransform(fclPose(f.poses[i].pose2));
        fcl::CollisionResultd res;
        fcl::collide(&o1, &o2, req, res);
        contacts += res.numContacts();
        i = (i + 1) % f.poses.size();
    }
    state.counters["tris"] = f.triangles;
    state.counters["hit%"] = 100 * f.meshHitShare;
    state.counters["contacts/q"] = double(contacts) / double(state.iterations());
}

// Ours, exact: yes/no (or with the penetration estimate) on the meshes FCL gets.
void Neighbours_Exact(benchmark::State& state, const std::string& name, bool triangles, bool depth) {
    NeighbourFixture& f = fixture(name);
    if (f.poses.empty() || f.exact.empty()) return state.SkipWithError("model or packing missing");
    size_t i = 0, hits = 0;
    double deepest = 0;
    for (auto _ : state) {
        const col::ExactOverlapResult r = f.exactQuery(i, triangles, depth);
        hits += r.overlap;
        deepest = std::max(deepest, double(r.depth));
        i = (i + 1) % f.poses.size();
    }
    state.counters["hit%"] = 100 * double(hits) / double(state.iterations());
    state.counters["disagree"] = f.disagreements;  // with FCL's yes/no over all poses, both paths
    if (depth) state.counters["maxDepth"] = deepest;
}

const bool registered = [] {
    for (const char* m : kModels) {
        const std::string name(m);
        const std::string ours = "Neighbours_Ours/" + name, yesNo = "Neighbours_FclYesNo/" + name,
                          all = "Neighbours_FclAllContacts/" + name;
        benchmark::RegisterBenchmark(ours.c_str(), Neighbours_Ours, name);
        benchmark::RegisterBenchmark(yesNo.c_str(), Neighbours_Fcl, name, size_t(1));
        benchmark::RegisterBenchmark(all.c_str(), Neighbours_Fcl, name, size_t(1000000));
        compare(ours, yesNo);
        compare(ours, all);
        const std::string exact = "Neighbours_Exact/" + name, tris = "Neighbours_ExactTriangles/" + name,
                          depth = "Neighbours_ExactDepth/" + name;
        benchmark::RegisterBenchmark(exact.c_str(), Neighbours_Exact, name, false, false);
        benchmark::RegisterBenchmark(tris.c_str(), Neighbours_Exact, name, true, false);
        benchmark::RegisterBenchmark(depth.c_str(), Neighbours_Exact, name, false, true);
        compare(exact, yesNo);
        compare(tris, yesNo);
        compare(depth, yesNo);
    }
    return true;
}();

}  // namespace
}  // namespace colbench
