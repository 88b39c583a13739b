// One sweep of the compression (a trial move per body) on dense packings of 1,000, 10,000 and
// 100,000 bundled spheres, M&Ms or cubes in boxes sized for them: the time per body must not grow
// with the count (cell lists, only neighbours tested). Prints the time per body of each count and
// its ratio to the smallest count's, measured in this run. Likewise the flight of balls that
// spheres grow as first: the time per collision at the same counts.
//
//   bench_compression [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "algorithms/compression/BallGrowth.h"
#include "algorithms/compression/Compressor.h"
#include "algorithms/compression/Shapes.h"
#include "collision/ColGeometry.h"

namespace {

using Packing::compression::Body;
using Packing::compression::Compressor;
using Packing::compression::Shapes;
using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Quat;
using Vectormath::Aos::Vector3;

const char* const kShapes[] = {"sphere_l", "mm_l", "cube"};
const int kCounts[] = {1000, 10000, 100000};
std::map<std::pair<int, int>, double> g_nsPerBody;
std::map<int, double> g_nsPerEvent;

// Bodies on a cubic lattice whose spacing leaves 3 % of the largest extent between neighbours,
// turned at random (a turn that would overlap keeps the body upright): a packing near 0.5 as
// dense as the shape's own box allows, in a box that fits it.
struct Scene {
    col::ColGeometry type, box;
    Shapes shapes;
    std::unique_ptr<Compressor> compressor;
};

std::unique_ptr<Scene> MakeScene(const char* shape, int count) {
    auto s = std::make_unique<Scene>();
    const std::string path = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + shape + ".obj";
    if (col::loadGeometryFromFile(&s->type, path.c_str()) != 0) return nullptr;
    float lo[3], hi[3];
    s->type.getBBox(lo, hi);
    const float extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    const float spacing = 1.03f * extent;
    const int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(count))));
    const float half = 0.5f * side * spacing;
    std::vector<Point3> corners;
    for (int i = 0; i < 8; ++i) corners.emplace_back(i & 1 ? half : -half, i & 2 ? half : -half, i & 4 ? half : -half);
    s->box =
        col::ColGeometry(corners, {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}},
                         col::PRIM_POLYGONS);
    std::string error;
    if (!s->shapes.Build({&s->type}, s->box, error)) return nullptr;
    s->compressor =
        std::make_unique<Compressor>(s->shapes, std::vector<Packing::compression::TypeSpec>{{1.0, 1.0}},
                                     8.0 * half * half * half, Packing::compression::CompressionSettings{}, 7u);
    uint64_t seed = 12345u;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<float>(seed >> 40) / 16777216.0f;
    };
    for (int n = 0; n < count; ++n) {
        Body b;
        b.position = Vector3((n % side + 0.5f) * spacing - half, (n / side % side + 0.5f) * spacing - half,
                             (n / side / side + 0.5f) * spacing - half);
        b.orientation = Vectormath::Aos::normalize(Quat(next() - 0.5f, next() - 0.5f, next() - 0.5f, next() - 0.5f));
        b.rotation = Matrix3(b.orientation);
        s->compressor->AddBody(b);
    }
    return s;
}

void BM_Sweep(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0)), count = static_cast<int>(state.range(1));
    std::unique_ptr<Scene> scene = MakeScene(kShapes[shape], count);
    if (!scene) {
        state.SkipWithError("model missing");
        return;
    }
    scene->compressor->Sweeps(8);  // move sizes tuned to the packing first
    for (auto _ : state) scene->compressor->Sweeps(1);
    state.counters["ns_per_body"] = benchmark::Counter(static_cast<double>(count) * state.iterations(),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(std::string(kShapes[shape]) + " " + std::to_string(count));
}
BENCHMARK(BM_Sweep)->ArgsProduct({{0, 1, 2}, {1000, 10000, 100000}})->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Balls on a jittered lattice, from 0.96 of the spacing to a full size of 1.2 of it (beyond any
// jam), in flight for 20 collisions per ball: one jam check's worth, thermostat and queue rebuild
// included.
void BM_Flight(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(count))));
    const double spacing = 1.03, lo[3] = {0, 0, 0}, hi[3] = {side * spacing, side * spacing, side * spacing};
    std::vector<double> start, radii(static_cast<size_t>(count), 0.6 * 1.03);
    uint64_t seed = 99u;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(seed >> 11) / 9007199254740992.0;
    };
    for (int n = 0; n < count; ++n) {
        const int cell[3] = {n % side, n / side % side, n / side / side};
        for (int k = 0; k < 3; ++k) start.push_back((cell[k] + 0.5) * spacing + 0.01 * (next() - 0.5));
    }
    int64_t events = 0;
    for (auto _ : state) {
        std::vector<double> centres = start;
        int blocks = 0;
        const auto result = Packing::compression::GrowBalls(centres, radii, lo, hi, 0.8, 1.0, 3u,
                                                            Packing::compression::BallGrowthSettings{},
                                                            [&blocks](double) { return ++blocks >= 20; });
        events += result.events;
    }
    state.counters["ns_per_event"] =
        benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel("flight " + std::to_string(count));
}
BENCHMARK(BM_Flight)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Collects the per-body figure of every run and prints the ratios at the end.
class Reporter : public benchmark::ConsoleReporter {
 public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const auto flight = r.counters.find("ns_per_event");
            if (flight != r.counters.end() && !r.error_occurred)
                for (int c : kCounts)
                    if (r.report_label == "flight " + std::to_string(c)) g_nsPerEvent[c] = flight->second.value * 1e9;
            const auto it = r.counters.find("ns_per_body");
            if (it == r.counters.end() || r.error_occurred) continue;
            const std::string& label = r.report_label;
            for (int s = 0; s < 3; ++s)
                for (int c : kCounts)
                    if (label == std::string(kShapes[s]) + " " + std::to_string(c))
                        g_nsPerBody[{s, c}] = it->second.value * 1e9;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nTime per body of one sweep, and against 1,000 bodies (measured in this run):\n");
    for (int s = 0; s < 3; ++s) {
        const auto base = g_nsPerBody.find({s, kCounts[0]});
        for (int c : kCounts) {
            const auto it = g_nsPerBody.find({s, c});
            if (it == g_nsPerBody.end()) continue;
            std::printf("  %-9s %7d bodies: %8.0f ns per body", kShapes[s], c, it->second);
            if (base != g_nsPerBody.end()) std::printf("  (%.2fx)", it->second / base->second);
            std::printf("\n");
        }
    }
    std::printf("\nBalls in flight: time per collision, and against 1,000 balls (measured in this run):\n");
    for (int c : kCounts) {
        const auto it = g_nsPerEvent.find(c);
        if (it == g_nsPerEvent.end()) continue;
        std::printf("  %7d balls: %8.0f ns per collision", c, it->second);
        const auto base = g_nsPerEvent.find(kCounts[0]);
        if (base != g_nsPerEvent.end()) std::printf("  (%.2fx)", it->second / base->second);
        std::printf("\n");
    }
    benchmark::Shutdown();
    return 0;
}
