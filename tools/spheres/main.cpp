// densepack-spheres: builds the ".spheres" tree of an object or container mesh.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ContainerCover.h"
#include "ObjectCover.h"
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
        "Object mode (default): overlapping inscribed spheres cover every point of the inside that\n"
        "lies deeper than the tolerance below the surface, with as few spheres as a greedy cover finds.\n"
        "Fill mode (--fill): non-overlapping spheres fill the inside, largest first, up to the cap.\n"
        "Container mode: overlapping spheres cover the outside of the mesh out to its\n"
        "bounding box enlarged by the margin, reaching at most the intrusion into the inside.\n"
        "\n"
        "options:\n"
        "  --tolerance T      object mode: uncovered depth allowed, relative to the thickness\n"
        "                     (smallest bounding-box extent) (default 0.01)\n"
        "  --edge-tolerance E  object mode: uncovered depth allowed near sharp edges (a cube's,\n"
        "                     a cylinder's rims), relative to the thickness; only where below the\n"
        "                     tolerance (default: the tolerance)\n"
        "  --corner-tolerance C  the same near sharp corners (a cube's or a tetrahedron's vertices),\n"
        "                     only where below both\n"
        "  --feature-radius R how far from a sharp edge or corner its tolerance holds, relative to\n"
        "                     the thickness (default 0.06)\n"
        "  --fill             non-overlapping fill instead of the cover\n"
        "  --container        container mode\n"
        "  --max-spheres N    object and fill mode: at most N leaf spheres (default 2000)\n"
        "  --min-radius R     fill mode: stop when no empty sphere larger than R is left (default 0)\n"
        "  --object-size S    typical object size, sets the default margin (default 1)\n"
        "  --margin M         container band beyond the bounding box (default 1.5 * S)\n"
        "  --intrusion E      container mode: deepest reach into the inside (default 0.01)\n"
        "  --grid N           fill mode: candidate grid cells along the longest extent (default 100)\n"
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
    bool container = false, fill = false;
    double tolerance = 0.01, edgeTolerance = 0.0, cornerTolerance = 0.0, featureRadius = 0.06, maxSpheres = 2000,
           minRadius = 0.0, objectSize = 1.0, margin = -1.0, intrusion = 0.01, grid = 100;
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
        if (arg == "--container" || arg == "--fill") {
            (arg == "--fill" ? fill : container) = true;
            continue;
        }
        double* target = nullptr;
        if (arg == "--tolerance")
            target = &tolerance;
        else if (arg == "--edge-tolerance")
            target = &edgeTolerance;
        else if (arg == "--corner-tolerance")
            target = &cornerTolerance;
        else if (arg == "--feature-radius")
            target = &featureRadius;
        else if (arg == "--max-spheres")
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
    if (container && fill) return Fail("--fill and --container exclude each other");
    if (maxSpheres < 1 || !(tolerance > 0 && tolerance < 0.5) || minRadius < 0 || margin <= 0 || intrusion <= 0 ||
        grid < 4 || threads < 1 || edgeTolerance < 0 || cornerTolerance < 0 || !(featureRadius > 0))
        return Fail("option values out of range (see --help)");

    const auto start = std::chrono::steady_clock::now();
    TriMesh tm;
    MeshResult loaded = LoadClosedMesh(input, tm);
    if (!loaded.ok) return Fail(loaded.message);
    const MeshDistance mesh(tm);
    const int nThreads = static_cast<int>(threads);

    std::vector<Sphere> leaves;
    double share = 0.0;
    std::string extra, figures;
    if (!container && !fill) {
        ObjectCoverSettings s;
        s.tolerance = tolerance;
        s.edgeTolerance = edgeTolerance;
        s.cornerTolerance = cornerTolerance;
        s.featureRadius = featureRadius;
        s.maxSpheres = static_cast<int>(maxSpheres);
        s.threads = nThreads;
        const ObjectCover cover = CoverObject(mesh, s);
        leaves = cover.spheres;
        if (leaves.empty()) return Fail(input + ": no sphere fits inside the mesh");
        const CoverSample sample = SampleCoverage(mesh, leaves, 200000, nThreads);
        share = sample.share;
        const CoverCheck& c = cover.check;
        const double deepest = std::max(c.deepestSample, sample.deepestUncovered);
        const double bound = c.met ? c.depthLimit : c.failingDepth;
        char text[256];
        std::snprintf(text, sizeof text,
                      ", uncovered depth <= %.3g (%.2f%% of thickness %.3g), deepest uncovered sample %.3g "
                      "(%.2f%%), protrusion %.2g",
                      bound, 100.0 * bound / c.thickness, c.thickness, deepest, 100.0 * deepest / c.thickness,
                      std::max(0.0, WorstProtrusion(mesh, leaves, nThreads)));
        figures = text;
        auto feature = [&](size_t count, const char* what, const CoverCheck& k) {
            if (count == 0) return;
            const double near = k.met ? k.depthLimit : k.failingDepth;
            std::snprintf(text, sizeof text, ", %zu sharp %s: uncovered depth <= %.3g (%.2f%%) within %.3g of them",
                          count, what, near, 100.0 * near / k.thickness, featureRadius * k.thickness);
            figures += text;
            if (!k.met)
                std::fprintf(stderr, "densepack-spheres: %s: %s tolerance not met with %zu leaf spheres (cap %d)\n",
                             input.c_str(), what, leaves.size(), s.maxSpheres);
        };
        feature(cover.features.edges.size(), "edges", cover.edgeCheck);
        feature(cover.features.corners.size(), "corners", cover.cornerCheck);
        if (!c.met)
            std::fprintf(stderr,
                         "densepack-spheres: %s: tolerance not met with %zu leaf spheres (cap %d): %ld cells up to "
                         "%.3g deep left uncovered\n",
                         input.c_str(), leaves.size(), s.maxSpheres, c.failingCells, c.failingDepth);
    } else if (!container) {
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
    std::printf("%s: %zu leaf spheres%s, %zu nodes, depth %d, covered %.2f%% of the %s%s, %.2f s\n", output.c_str(),
                leaves.size(), extra.c_str(), nodes.size(), TreeDepth(nodes), 100.0 * share,
                container ? "band (sampled)" : (fill ? "mesh volume" : "mesh volume (sampled)"), figures.c_str(),
                seconds);
    return 0;
}
