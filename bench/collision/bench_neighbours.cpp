// Pair query at the poses a packing produces: every pair of neighbours (enclosing spheres
// overlapping) in a packing of a bundled model that the program wrote (bench/data). Ours reports
// every overlapping leaf pair; FCL (BVHModel<OBBRSS> on the mesh the program loads) answers yes/no
// and all contacts.
#include <benchmark/benchmark.h>
#include <fcl/fcl.h>

#include <fstream>

#include "benchscenes.h"
#include "peer.h"

using namespace colscene;

namespace colbench {
namespace {

const char* const kModels[] = {"sphere", "mm", "cube"};

struct NeighbourFixture {
    std::unique_ptr<col::ExtraData_SphereTree> tree;
    std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> mesh;
    std::vector<NeighbourPose> poses;
    double hitShare = 0, meshHitShare = 0;
    int triangles = 0;

    explicit NeighbourFixture(const std::string& name) {
        const std::string base = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name;
        // The program prefers the "_l" mesh; its tree was fitted inside that one.
        const std::string obj = std::ifstream(base + "_l.obj") ? base + "_l.obj" : base + ".obj";
        col::ColGeometry g;
        if (col::loadGeometryFromFile(&g, obj.c_str()) != 0) return;
        tree = std::make_unique<col::ExtraData_SphereTree>((base + ".spheres").c_str());
        if (!tree->isValid()) return;
        std::vector<std::vector<unsigned>> tris;
        for (const auto& poly : g.getPrimitives())
            for (size_t k = 1; k + 1 < poly.size(); ++k) tris.push_back({poly[0], poly[k], poly[k + 1]});
        triangles = static_cast<int>(tris.size());
        mesh = fclMesh(g.getPoints(), tris);
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
        }
        hitShare /= double(poses.size());
        meshHitShare /= double(poses.size());
    }
};

NeighbourFixture& fixture(const std::string& name) {
    static std::map<std::string, std::unique_ptr<NeighbourFixture>> cache;
    auto& f = cache[name];
    if (!f) f = std::make_unique<NeighbourFixture>(name);
    return *f;
}

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
    }
    return true;
}();

}  // namespace
}  // namespace colbench
