// densepack-spheres: builds the ".spheres" tree of an object or container mesh.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ContainerCover.h"
#include "ObjectFill.h"
#include "SphereTree.h"

using namespace spheres;

namespace {

constexpr double kPi = 3.14159265358979323846;

void PrintUsage() {
    std::printf(
        "usage: densepack-spheres [options] INPUT.obj OUTPUT.spheres\n"
        "\n"
        "Builds a sphere tree for a closed, consistently oriented triangle mesh.\n"
        "Object mode (default): non-overlapping spheres fill the inside, largest first.\n"
        "Container mode: overlapping spheres cover the outside of the mesh out to its\n"
        "bounding box enlarged by the margin, reaching at most the intrusion into the inside.\n"
        "\n"
        "options:\n"
        "  --container        container mode\n"
        "  --max-spheres N    object mode: at most N leaf spheres (default 2000)\n"
        "  --min-radius R     object mode: stop when no empty sphere larger than R is left (default 0)\n"
        "  --object-size S    typical object size, sets the default margin (default 1)\n"
        "  --margin M         container band beyond the bounding box (default 1.5 * S)\n"
        "  --intrusion E      container mode: deepest reach into the inside (default 0.01)\n"
        "  --grid N           object mode: candidate grid cells along the longest extent (default 100)\n"
        "  --threads N        worker threads (default: hardware concurrency); output does not depend on it\n"
        "  --help             this text\n");
}

bool ParseNumber(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(out);
}

int Fail(const std::string& msg) {
    std::fprintf(stderr, "densepack-spheres: %s\n", msg.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool container = false;
    double maxSpheres = 2000, minRadius = 0.0, objectSize = 1.0, margin = -1.0, intrusion = 0.01, grid = 100;
    double threads = std::max(1u, std::thread::hardware_concurrency());
    std::string input, output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](double& out) {
            if (i + 1 >= argc) return false;
            return ParseNumber(argv[++i], out);
        };
        if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        }
        if (arg == "--container") {
            container = true;
            continue;
        }
        double* target = nullptr;
        if (arg == "--max-spheres")
            target = &maxSpheres;
        else if (arg == "--min-radius")
            target = &minRadius;
        else if (arg == "--object-size")
            target = &objectSize;
        else if (arg == "--margin")
            target = &margin;
        else if (arg == "--intrusion")
            target = &intrusion;
        else if (arg == "--grid")
            target = &grid;
        else if (arg == "--threads")
            target = &threads;
        if (target) {
            if (!value(*target)) return Fail("option " + arg + " needs a number");
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') return Fail("unknown option " + arg + " (see --help)");
        if (input.empty())
            input = arg;
        else if (output.empty())
            output = arg;
        else
            return Fail("too many arguments (see --help)");
    }
    if (output.empty()) return Fail("need INPUT.obj and OUTPUT.spheres (see --help)");
    if (margin < 0.0) margin = 1.5 * objectSize;
    if (maxSpheres < 1 || minRadius < 0 || margin <= 0 || intrusion <= 0 || grid < 4 || threads < 1)
        return Fail("option values out of range (see --help)");

    const auto start = std::chrono::steady_clock::now();
    TriMesh tm;
    MeshResult loaded = LoadClosedMesh(input, tm);
    if (!loaded.ok) return Fail(loaded.message);
    const MeshDistance mesh(tm);
    const int nThreads = static_cast<int>(threads);

    std::vector<Sphere> leaves;
    double share = 0.0;
    std::string extra;
    if (!container) {
        ObjectFillSettings s;
        s.maxSpheres = static_cast<int>(maxSpheres);
        s.minRadius = minRadius;
        s.gridCells = static_cast<int>(grid);
        s.threads = nThreads;
        leaves = FillObject(mesh, s);
        if (leaves.empty()) return Fail(input + ": no sphere fits inside the mesh");
        double vol = 0.0;
        for (const Sphere& sp : leaves) vol += 4.0 / 3.0 * kPi * sp.radius * sp.radius * sp.radius;
        share = vol / SignedVolume(tm);
    } else {
        ContainerCoverSettings s;
        s.margin = margin;
        s.intrusion = intrusion;
        s.threads = nThreads;
        const ContainerCover cover = CoverContainer(mesh, s);
        leaves = cover.spheres;
        share = BandCoverage(mesh, leaves, margin, 200000, nThreads);
        extra = ", " + std::to_string(cover.wallSpheres) + " on the wall";
        if (cover.wallGaps > 0) extra += ", " + std::to_string(cover.wallGaps) + " wall pieces left uncovered";
    }
    const std::vector<Cone> cones = LeafCones(mesh, leaves, container, nThreads);
    const std::vector<TreeNode> nodes = BuildTree(leaves, cones);
    const std::string err = WriteSpheresFile(output, nodes, container);
    if (!err.empty()) return Fail(err);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %zu leaf spheres%s, %zu nodes, depth %d, covered %.2f%% of the %s, %.2f s\n", output.c_str(),
                leaves.size(), extra.c_str(), nodes.size(), TreeDepth(nodes), 100.0 * share,
                container ? "band (sampled)" : "mesh volume", seconds);
    return 0;
}
