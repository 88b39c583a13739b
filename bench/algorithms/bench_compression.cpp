// The compression's trial moves near the jam: jammed packings of the bundled spheres, M&Ms and
// cubes (the compression's own, from the box six wide, tiled to about 10,000 bodies), swept on one
// thread and on two; prints trial moves per second per core per shape and the speed-up of two
// threads over one, measured side by side in this run. Then one sweep on lattices of 1,000, 10,000
// and 100,000 bodies: the time per body must not grow with the count (cell lists, only neighbours
// tested). And the flight of balls that spheres grow as first: the time per collision.
//
//   bench_compression [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
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
std::map<std::pair<int, int>, double> g_movesPerSecond;  // (shape, threads)
std::map<int, int> g_jammedCount;

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

// The jammed packing of the box six wide, tiled a x b x c times (the tiles' walls face each other,
// so the bodies stay clear), with the tiling whose count is nearest 10,000.
std::unique_ptr<Scene> MakeJammed(const char* shape, int threads) {
    auto s = std::make_unique<Scene>();
    const std::string name =
        std::string(shape) == "sphere_l" ? "sphere" : (std::string(shape) == "mm_l" ? "mm" : shape);
    const std::string path = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + shape + ".obj";
    if (col::loadGeometryFromFile(&s->type, path.c_str()) != 0) return nullptr;
    std::ifstream in(std::string(DENSEPACK_SOURCE_DIR) + "/bench/data/jammed_" + name + "_box.txt");
    std::vector<Body> tile;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream f(line);
        Body b;
        float x, y, z, w, qx, qy, qz;
        if (!(f >> b.type >> x >> y >> z >> w >> qx >> qy >> qz)) continue;
        b.type = 0;
        b.position = Vector3(x, y, z);
        b.orientation = Vectormath::Aos::normalize(Quat(qx, qy, qz, w));
        b.rotation = Matrix3(b.orientation);
        tile.push_back(b);
    }
    if (tile.empty()) return nullptr;
    int best[3] = {1, 1, 1};
    double bestMiss = 1e9;
    for (int a = 1; a <= 5; ++a)
        for (int b = a; b <= 5; ++b)
            for (int c = b; c <= 5; ++c) {
                const double miss = std::fabs(std::log(a * b * c * static_cast<double>(tile.size()) / 1e4));
                if (miss < bestMiss) bestMiss = miss, best[0] = a, best[1] = b, best[2] = c;
            }
    const float side = 6.0f;
    const Vector3 half(0.5f * side * best[0], 0.5f * side * best[1], 0.5f * side * best[2]);
    std::vector<Point3> corners;
    for (int i = 0; i < 8; ++i)
        corners.emplace_back(i & 1 ? half.getX() : -half.getX(), i & 2 ? half.getY() : -half.getY(),
                             i & 4 ? half.getZ() : -half.getZ());
    s->box =
        col::ColGeometry(corners, {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}},
                         col::PRIM_POLYGONS);
    std::string error;
    if (!s->shapes.Build({&s->type}, s->box, error)) return nullptr;
    Packing::compression::CompressionSettings settings;
    settings.threads = threads;
    s->compressor = std::make_unique<Compressor>(s->shapes, std::vector<Packing::compression::TypeSpec>{{1.0, 1.0}},
                                                 8.0 * half.getX() * half.getY() * half.getZ(), settings, 7u);
    for (int i = 0; i < best[0]; ++i)
        for (int j = 0; j < best[1]; ++j)
            for (int k = 0; k < best[2]; ++k) {
                const Vector3 shift = Vector3((i + 0.5f) * side, (j + 0.5f) * side, (k + 0.5f) * side) - half;
                for (Body b : tile) {
                    b.position += shift;
                    s->compressor->AddBody(b);
                }
            }
    return s;
}

// Trial moves at full size in the jammed packing, on `threads` threads.
void BM_Jammed(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0)), threads = static_cast<int>(state.range(1));
    std::unique_ptr<Scene> scene = MakeJammed(kShapes[shape], threads);
    if (!scene) {
        state.SkipWithError("model or packing missing");
        return;
    }
    Compressor& c = *scene->compressor;
    c.Sweeps(16);  // move sizes tuned to the packing first
    if (c.Overlaps() != 0) {
        state.SkipWithError("the tiled packing overlaps");
        return;
    }
    const int64_t before = c.Stats().trials;
    for (auto _ : state) c.Sweeps(1);
    const double trials = static_cast<double>(c.Stats().trials - before);
    state.counters["moves_per_s"] = benchmark::Counter(trials, benchmark::Counter::kIsRate);
    state.counters["acceptance"] = static_cast<double>(c.Stats().accepted) / static_cast<double>(c.Stats().trials);
    g_jammedCount[shape] = static_cast<int>(c.Bodies().size());
    state.SetLabel(std::string("jammed ") + kShapes[shape] + " threads " + std::to_string(threads));
}
BENCHMARK(BM_Jammed)->ArgsProduct({{0, 1, 2}, {1, 2}})->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

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
            const auto moves = r.counters.find("moves_per_s");
            if (moves != r.counters.end() && !r.error_occurred)
                for (int sh = 0; sh < 3; ++sh)
                    for (int t : {1, 2})
                        if (r.report_label == std::string("jammed ") + kShapes[sh] + " threads " + std::to_string(t))
                            g_movesPerSecond[{sh, t}] = moves->second.value;
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
    // "--jammed SHAPE SWEEPS THREADS": only that many sweeps of the jammed packing, for counting
    // instructions under callgrind (the same on a loaded machine).
    if (argc >= 5 && std::string(argv[1]) == "--jammed") {
        const int shape = std::atoi(argv[2]);
        std::unique_ptr<Scene> scene = MakeJammed(kShapes[shape], std::atoi(argv[4]));
        if (!scene) return 1;
        if (argc == 6) scene->compressor->SetScale(static_cast<float>(std::atof(argv[5])));
        scene->compressor->Sweeps(std::atoi(argv[3]));
        std::printf("%s: %zu bodies, %lld trials, %lld accepted, overlaps %lld\n", kShapes[shape],
                    scene->compressor->Bodies().size(), static_cast<long long>(scene->compressor->Stats().trials),
                    static_cast<long long>(scene->compressor->Stats().accepted),
                    static_cast<long long>(scene->compressor->Overlaps()));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nTrial moves near the jam, per second per core, and two threads against one (this run):\n");
    for (int sh = 0; sh < 3; ++sh) {
        const auto one = g_movesPerSecond.find({sh, 1}), two = g_movesPerSecond.find({sh, 2});
        if (one == g_movesPerSecond.end()) continue;
        std::printf("  %-9s %6d bodies: %6.2f million per second on 1 thread", kShapes[sh], g_jammedCount[sh],
                    one->second * 1e-6);
        if (two != g_movesPerSecond.end())
            std::printf(", %6.2f million per core on 2 (%.2fx)", two->second * 0.5e-6, two->second / one->second);
        std::printf("\n");
    }
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
