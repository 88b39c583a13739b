// densepack-analyze: density and structure of a placement file on the exact meshes.
//
//   densepack-analyze CONFIG PLACEMENT [--json] [--margin M] [--seed S] [--samples N]
//                     [--contact-tolerance T]
//
// Exit status: 0 with the figures printed, 2 for a usage or input error.

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "statistics/Structure.h"
#include "tools/check/LoadScene.h"

namespace {

void Usage(const char* name) {
    std::cerr << "Usage: " << name
              << " CONFIG PLACEMENT [--json] [--margin M] [--seed S] [--samples N] [--contact-tolerance T]\n"
              << "  M: bulk region = points at least M from the container wall (default 1.5 largest diameters)\n"
              << "  S: seed of the Monte Carlo points (default 1); N: points in the bulk (default 100000)\n"
              << "  T: contact when the exact gap is below T x the thinner object's thickness (default 0.01)"
              << std::endl;
}

bool ParseNumber(const std::string& text, double& out) {
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && out >= 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    bool json = false;
    check::StructureOptions opt;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            Usage(argv[0]);
            return 0;
        }
        if (arg == "--json") {
            json = true;
            continue;
        }
        if (arg == "--margin" || arg == "--seed" || arg == "--samples" || arg == "--contact-tolerance") {
            double v = 0;
            if (i + 1 == argc || !ParseNumber(argv[i + 1], v)) {
                std::cerr << arg << " needs a number >= 0." << std::endl;
                return 2;
            }
            ++i;
            if (arg == "--margin")
                opt.margin = v;
            else if (arg == "--seed")
                opt.seed = static_cast<uint64_t>(v);
            else if (arg == "--samples")
                opt.samples = static_cast<long>(v);
            else
                opt.contactTolerance = v;
            continue;
        }
        if (!arg.empty() && arg[0] == '-') {
            std::cerr << "Unknown option " << arg << "." << std::endl;
            Usage(argv[0]);
            return 2;
        }
        files.push_back(arg);
    }
    if (files.size() != 2) {
        Usage(argv[0]);
        return 2;
    }

    check::CheckScene scene;
    std::vector<check::PlacedObject> objects;
    std::string err;
    if (!check::LoadScene(files[0], scene, err) || !check::LoadPlacement(files[1], scene.types.size(), objects, err)) {
        std::cerr << "densepack-analyze: " << err << std::endl;
        return 2;
    }
    const check::StructureReport r = check::AnalyzeStructure(scene, objects, opt);
    if (json) {
        std::cout << JsonDump(check::StructureToJson(r, scene.typeNames)) << std::endl;
        return 0;
    }
    std::cout << "Objects: " << r.objects << "\n"
              << "Global fraction: " << r.globalFraction << "\n"
              << "Bulk fraction: " << r.bulkFraction << " +- " << r.bulkFractionError << " (margin " << r.margin
              << ", bulk volume " << r.bulkVolume << ", " << r.bulkSamples << " points)\n"
              << "Mean contacts: " << r.meanContacts << " (bulk objects: " << r.bulkObjects << ", their mean "
              << r.bulkMeanContacts << ")\n";
    const check::SizeSummary& z = r.sizes;
    std::cout << "Size factors: mean " << z.mean << ", SD " << z.sd << "; min " << z.min << ", 10 % " << z.q10
              << ", median " << z.median << ", 90 % " << z.q90 << ", max " << z.max << "\n";
    for (const check::TypeOrder& t : r.order)
        std::cout << (t.kind == check::OrderKind::Cubatic ? "Cubatic order " : "Nematic order ")
                  << scene.typeNames[static_cast<size_t>(t.type)] << ": " << t.order << " (" << t.count
                  << " objects), bulk " << t.bulkOrder << " (" << t.bulkCount << ")\n";
    std::cout << "Worst penetration: " << r.worstPenetration << " = " << r.worstPenetrationRelative * 100
              << " % of object thickness; worst protrusion " << r.worstProtrusionRelative * 100 << " %\n";
    if (!r.rdfG.empty()) {
        std::cout << "g(r), r in mean diameters (" << r.meanDiameter << "):\n";
        for (size_t k = 0; k < r.rdfG.size(); ++k) std::cout << "  " << r.rdfR[k] << " " << r.rdfG[k] << "\n";
    }
    std::cout.flush();
    return 0;
}
