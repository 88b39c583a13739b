// densepack-check: verifies a placement file against the exact meshes of its configuration.
//
//   densepack-check -c CONFIG PLACEMENT [--tolerance T]
//   densepack-check -c CONFIG --types
//
// Exit status: 0 when every penetration and every protrusion is within the tolerance, 1 when one
// exceeds it, 2 for a usage or input error. --types prints the configuration's type table as
// JSON instead (the run's type indices, mesh files and volumes) and checks nothing.

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "statistics/Json.h"
#include "tools/check/LoadScene.h"

namespace {

constexpr double kDefaultTolerance = 0.05;  // of the thinner object's smallest box extent
constexpr size_t kListedFindings = 20;

void Usage(const char* name) {
    std::cerr << "Usage: " << name << " -c CONFIG PLACEMENT [--tolerance T]\n"
              << "       " << name << " -c CONFIG --types\n"
              << "  Checks every object pair and the container wall with the exact meshes.\n"
              << "  T: allowed penetration or protrusion relative to the object's thickness (default "
              << kDefaultTolerance << ")." << std::endl;
}

bool ParseTolerance(const std::string& text, double& out) {
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && out >= 0.0;
}

// The table the exporter reads, so that it indexes types exactly as the run does.
int PrintTypeTable(const std::string& config) {
    std::vector<TypeTableEntry> table;
    std::string container, err;
    if (!check::LoadTypeTable(config, table, container, err)) {
        std::cerr << "densepack-check: " << err << std::endl;
        return 2;
    }
    JsonValue types = JsonValue::array();
    for (size_t i = 0; i < table.size(); ++i)
        types.push_back({{"index", i},
                         {"name", table[i].name},
                         {"mesh", table[i].meshPath},
                         {"volume", JsonNumber(table[i].volume)},
                         {"configIndex", table[i].configIndex}});
    std::cout << JsonDump({{"types", types}, {"container", container}}) << std::endl;
    return 0;
}

std::string Percent(double relative) {
    std::ostringstream s;
    s << relative * 100.0 << " %";
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::string config, placement;
    double tolerance = kDefaultTolerance;
    bool types = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            Usage(argv[0]);
            return 0;
        }
        if ((arg == "-c" || arg == "--config" || arg == "--tolerance") && i + 1 == argc) {
            std::cerr << arg << " needs an argument." << std::endl;
            Usage(argv[0]);
            return 2;
        }
        if (arg == "-c" || arg == "--config") {
            config = argv[++i];
        } else if (arg == "--tolerance") {
            if (!ParseTolerance(argv[++i], tolerance)) {
                std::cerr << "--tolerance needs a number >= 0, got '" << argv[i] << "'." << std::endl;
                return 2;
            }
        } else if (arg == "--types") {
            types = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << "Unknown option " << arg << "." << std::endl;
            Usage(argv[0]);
            return 2;
        } else if (placement.empty()) {
            placement = arg;
        } else {
            std::cerr << "Only one placement file, got '" << placement << "' and '" << arg << "'." << std::endl;
            return 2;
        }
    }
    if (types && !config.empty() && placement.empty()) return PrintTypeTable(config);
    if (config.empty() || placement.empty() || types) {
        Usage(argv[0]);
        return 2;
    }

    check::CheckScene scene;
    std::vector<check::PlacedObject> objects;
    std::string err;
    if (!check::LoadScene(config, scene, err) || !check::LoadPlacement(placement, scene.types.size(), objects, err)) {
        std::cerr << "densepack-check: " << err << std::endl;
        return 2;
    }
    const check::CheckResult r = check::CheckPacking(scene, objects);

    auto name = [&](size_t obj) { return scene.typeNames[static_cast<size_t>(objects[obj].type)]; };
    size_t pairsBeyond = 0, pairsPenetrating = 0, outsideBeyond = 0, outsideProtruding = 0;
    const check::PairFinding* worstPair = nullptr;
    const check::OutsideFinding* worstOut = nullptr;
    for (const auto& p : r.pairs) {
        if (p.depth > 0.0f) ++pairsPenetrating;
        if (p.relative > tolerance) ++pairsBeyond;
        if (worstPair == nullptr || p.relative > worstPair->relative) worstPair = &p;
    }
    for (const auto& o : r.outside) {
        if (o.depth > 0.0f) ++outsideProtruding;
        if (o.relative > tolerance) ++outsideBeyond;
        if (worstOut == nullptr || o.relative > worstOut->relative) worstOut = &o;
    }

    std::cout << "Objects: " << r.objects << "\n"
              << "Candidate pairs (enclosing spheres overlap): " << r.candidatePairs << "\n"
              << "Pairs intersecting: " << pairsPenetrating << " (touching: " << r.pairs.size() - pairsPenetrating
              << ", beyond tolerance: " << pairsBeyond << ")\n";
    if (worstPair != nullptr && worstPair->depth > 0.0f)
        std::cout << "Worst penetration: " << worstPair->depth << " = " << Percent(worstPair->relative)
                  << " of object thickness (objects " << worstPair->a << " " << name(worstPair->a) << " and "
                  << worstPair->b << " " << name(worstPair->b) << ")\n";
    std::cout << "Objects outside: " << outsideProtruding
              << " (touching the wall: " << r.outside.size() - outsideProtruding
              << ", beyond tolerance: " << outsideBeyond << ")\n";
    if (worstOut != nullptr && worstOut->depth > 0.0f)
        std::cout << "Worst protrusion: " << worstOut->depth << " = " << Percent(worstOut->relative)
                  << " of object thickness (object " << worstOut->object << " " << name(worstOut->object) << ")\n";
    std::cout << "Tolerance: " << Percent(tolerance) << " of object thickness\n";

    size_t listed = 0;
    for (const auto& p : r.pairs) {
        if (p.relative <= tolerance) continue;
        if (listed++ == kListedFindings) break;
        std::cout << "  overlap " << p.a << " " << name(p.a) << " / " << p.b << " " << name(p.b) << ": depth "
                  << p.depth << " (" << Percent(p.relative) << ")\n";
    }
    for (const auto& o : r.outside) {
        if (o.relative <= tolerance) continue;
        if (listed++ == kListedFindings) break;
        std::cout << "  outside " << o.object << " " << name(o.object) << ": depth " << o.depth << " ("
                  << Percent(o.relative) << ")\n";
    }
    if (listed > kListedFindings) std::cout << "  ... (" << pairsBeyond + outsideBeyond - kListedFindings << " more)\n";

    const bool ok = pairsBeyond == 0 && outsideBeyond == 0;
    std::cout << (ok ? "OK" : "FAILED") << std::endl;
    return ok ? 0 : 1;
}
