// Interior point sampling: probe tests per second with 1 and 2 workers on the bundled box,
// cylinder and sphere containers, and the speed-up of 2 workers over 1.
//
//   bench_sampling [--benchmark_min_time=...]     (run from anywhere; models are found in the source tree)

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "collision/ColGeometry.h"
#include "collision/ExtraData.h"
#include "geometry/PackingGeometry.h"
#include "preprocessing/Sampling.h"

namespace {

struct Container {
    PackingGeometry* geometry = nullptr;
    float volume = 0;  // probe volume: radius 3% of the box's x extent
    double tests = 0;  // probe tests of one sampling pass
};

std::map<std::string, Container> g_containers;
std::map<std::pair<std::string, int>, double> g_rate;  // tests per second, best repetition

const char* const kNames[] = {"box", "cylinder_container", "sphere_container"};
constexpr float kStepFactor = 0.5f;

bool Load(const std::string& name) {
    const std::string base = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name;
    if (!std::ifstream(base + ".obj") || !std::ifstream(base + ".spheres")) {
        std::printf("%s: %s.obj/.spheres missing, skipped\n", name.c_str(), base.c_str());
        return false;
    }
    Container c;
    c.geometry = new PackingGeometry();
    if (col::loadGeometryFromFile(c.geometry, (base + ".obj").c_str()) != 0) return false;
    c.geometry->m_extraData = new col::ExtraData_SphereTree((base + ".spheres").c_str());
    float lo[3], hi[3];
    c.geometry->updateBBox();
    c.geometry->getBBox(lo, hi);
    const float r = 0.03f * (hi[0] - lo[0]);
    c.volume = 4.18879f * r * r * r;
    const float step = kStepFactor * 2 * r;
    double n[3] = {0, 0, 0};
    for (int a = 0; a < 3; ++a)
        for (float v = lo[a]; v < hi[a]; v += step) ++n[a];
    c.tests = n[0] * n[1] * n[2];
    g_containers[name] = c;
    return true;
}

void BM_Sampling(benchmark::State& state, std::string name) {
    const Container& c = g_containers.at(name);
    const int workers = static_cast<int>(state.range(0));
    size_t found = 0;
    // Sampling prints its settings and timings; keep them out of the benchmark table.
    std::fflush(stdout);
    const int savedOut = dup(1);
    FILE* sink = std::fopen("/dev/null", "w");
    dup2(fileno(sink), 1);
    for (auto _ : state) {
        PackingGeometry probe;
        std::vector<Vectormath::Aos::Vector3> points;
        Sampling(workers, c.geometry, &probe, c.volume, kStepFactor, points);
        found = points.size();
        delete probe.m_extraData;
        probe.m_extraData = nullptr;
    }
    std::cout.flush();
    std::fflush(stdout);
    dup2(savedOut, 1);
    close(savedOut);
    std::fclose(sink);
    state.counters["tests/s"] =
        benchmark::Counter(c.tests * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["points"] = static_cast<double>(found);
}

// Collects the tests/s figures so the speed-up can be printed after the table.
class RateReporter : public benchmark::ConsoleReporter {
 public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string n = run.benchmark_name();
            const auto slash = n.find('/');
            if (slash == std::string::npos || run.run_type != Run::RT_Iteration) continue;
            const auto it = run.counters.find("tests/s");
            if (it == run.counters.end()) continue;
            const std::string container = n.substr(n.find('_') + 1, slash - n.find('_') - 1);
            const int workers = std::stoi(n.substr(slash + 1));
            double& best = g_rate[{container, workers}];
            best = std::max(best, static_cast<double>(it->second));
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    for (const char* name : kNames) {
        if (!Load(name)) continue;
        benchmark::RegisterBenchmark((std::string("Sampling_") + name).c_str(), BM_Sampling, std::string(name))
            ->Arg(1)
            ->Arg(2)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    }
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [name, c] : g_containers) {
        const double one = g_rate[{name, 1}], two = g_rate[{name, 2}];
        if (one > 0 && two > 0)
            std::printf("speed-up %s: %.2fx with 2 workers (%.0f vs %.0f tests/s, %.0f tests per pass)\n", name.c_str(),
                        two / one, two, one, c.tests);
    }
    benchmark::Shutdown();
    return 0;
}
