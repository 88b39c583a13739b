// Pair overlap query against FCL mesh-mesh collide (BVHModel<OBBRSS>) on the same ellipsoids and
// poses. FCL is asked (a) yes/no and (b) for all contacts; ours always reports every
// overlapping leaf pair. This file also holds main(), which prints peer/ours ratios at the end.
#include <benchmark/benchmark.h>
#include <fcl/fcl.h>

#include <cstdio>
#include <map>
#include <random>
#include <vector>

#include "benchscenes.h"
#include "peer.h"

using namespace colscene;

namespace colbench {

std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> fclMesh(const std::vector<Point3>& pts,
                                                     const std::vector<std::vector<unsigned>>& tris) {
    std::vector<fcl::Vector3d> v;
    std::vector<fcl::Triangle> t;
    for (const auto& p : pts) v.emplace_back(p.getX(), p.getY(), p.getZ());
    for (const auto& f : tris) t.emplace_back(f[0], f[1], f[2]);
    auto m = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
    m->beginModel();
    m->addSubModel(v, t);
    m->endModel();
    return m;
}

fcl::Transform3d fclPose(const Matrix4& m) {
    fcl::Transform3d tf = fcl::Transform3d::Identity();
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) tf.linear()(r, c) = m.getElem(c, r);
        tf.translation()(r) = m.getElem(3, r);
    }
    return tf;
}

namespace {

constexpr int kBranching = 16;  // shallow trees: fewer stack pops per query

struct PairFixture {
    std::unique_ptr<col::ExtraData_SphereTree> tree;
    std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> mesh;
    std::vector<Matrix4> poses1, poses2;
    int leaves = 0, triangles = 0;
    double overlapShare = 0;

    PairFixture() {
        const float a = 1.0f, b = 0.8f, c = 0.6f;
        std::vector<Point3> pts;
        std::vector<std::vector<unsigned>> tris;
        ellipsoidMesh(a, b, c, 3, pts, tris);
        mesh = fclMesh(pts, tris);
        triangles = static_cast<int>(tris.size());
        // Leaves on a grid inside the ellipsoid: their union hugs the mesh surface from inside.
        tree = std::make_unique<col::ExtraData_SphereTree>(buildTree(ellipsoidFill(a, b, c, 10), kBranching));
        leaves = tree->tree()->leafCount();
        std::mt19937 rng(42);
        std::uniform_real_distribution<float> u(-1, 1), dist(1.25f, 1.85f);
        int hits = 0;
        for (int i = 0; i < 512; ++i) {
            poses1.push_back(randomPose(rng, 0));
            Vector3 dir(u(rng), u(rng), u(rng));
            dir = normalize(dir + Vector3(1e-3f, 0, 0));
            Matrix4 p2 = randomPose(rng, 0);
            p2.setTranslation(dir * dist(rng));
            poses2.push_back(p2);
            col::OverlapResult r;
            col::queryOverlap(tree->tree(), poses1.back(), 1, tree->tree(), p2, 1, r);
            hits += !r.intersections.empty();
        }
        overlapShare = hits / 512.0;
    }
};

PairFixture& fixture() {
    static PairFixture f;
    return f;
}

void Overlap_Ours(benchmark::State& state) {
    PairFixture& f = fixture();
    col::OverlapScratch scratch;
    col::OverlapResult out;
    col::PosedTree p1, p2;
    size_t i = 0, pairs = 0, visited = 0;
    for (auto _ : state) {
        p1.set(f.tree->tree(), f.poses1[i], 1);
        p2.set(f.tree->tree(), f.poses2[i], 1);
        col::queryOverlap(p1, p2, scratch, out);
        pairs += out.intersections.size();
        visited += static_cast<size_t>(out.visited);
        benchmark::DoNotOptimize(out.overlap);
        i = (i + 1) % f.poses1.size();
    }
    state.counters["leaves"] = f.leaves;
    state.counters["pairs/q"] = double(pairs) / double(state.iterations());
    state.counters["hit%"] = 100 * f.overlapShare;
    state.counters["visits/q"] = double(visited) / double(state.iterations());
}

void fclCollide(benchmark::State& state, size_t maxContacts) {
    PairFixture& f = fixture();
    fcl::CollisionObjectd o1(f.mesh), o2(f.mesh);
    fcl::CollisionRequestd req(maxContacts, false);
    size_t i = 0, contacts = 0;
    for (auto _ : state) {
        o1.setTransform(fclPose(f.poses1[i]));
        o2.setTransform(fclPose(f.poses2[i]));
        fcl::CollisionResultd res;
        fcl::collide(&o1, &o2, req, res);
        contacts += res.numContacts();
        i = (i + 1) % f.poses1.size();
    }
    state.counters["tris"] = f.triangles;
    state.counters["contacts/q"] = double(contacts) / double(state.iterations());
}

void Overlap_FclYesNo(benchmark::State& state) { fclCollide(state, 1); }
void Overlap_FclAllContacts(benchmark::State& state) { fclCollide(state, 1000000); }

BENCHMARK(Overlap_Ours);
BENCHMARK(Overlap_FclYesNo);
BENCHMARK(Overlap_FclAllContacts);

const bool registered = [] {
    compare("Overlap_Ours", "Overlap_FclYesNo");
    compare("Overlap_Ours", "Overlap_FclAllContacts");
    return true;
}();

}  // namespace

// ---- ratio report and main()
namespace {
std::vector<std::pair<std::string, std::string>>& pairs() {
    static std::vector<std::pair<std::string, std::string>> p;
    return p;
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                m_ns[r.benchmark_name()] = r.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(r.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-52s %14s %14s %8s\n", "ours vs peer (CPU time; ratio = peer / ours)", "ours ns", "peer ns",
                    "ratio");
        for (const auto& [o, p] : pairs()) {
            const auto a = m_ns.find(o), b = m_ns.find(p);
            if (a == m_ns.end() || b == m_ns.end()) continue;
            std::printf("%-52s %14.0f %14.0f %8.2f\n", (o + " vs " + p).c_str(), a->second, b->second,
                        b->second / a->second);
        }
        std::fflush(stdout);
    }

 private:
    std::map<std::string, double> m_ns;
};
}  // namespace

void compare(const std::string& ours, const std::string& peer) { pairs().push_back({ours, peer}); }

}  // namespace colbench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    colbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
