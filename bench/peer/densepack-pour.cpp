// densepack-pour: pours identical objects into the box of a densepack configuration with a
// rigid-body engine, optionally shakes it, and prints global and bulk fraction as JSON.
//
//   densepack-pour CONFIG [--shape sphere|mm|cube] [--shakes N] [--friction MU] [--margin M]
//                  [--seed S] [--count N] [--samples N] [--placement FILE]
//   densepack-pour --self-test
//
// The box comes from the container's OBJ (its bounding box), the object's extents from the first
// object type's OBJ. Exit status 0, 1 when the self test fails, 2 for a usage or input error.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "PourSim.h"
#include "statistics/Json.h"
#include "tools/check/LoadScene.h"

namespace {

void Usage(const char* name) {
    std::cerr << "Usage: " << name
              << " CONFIG [--shape sphere|mm|cube] [--shakes N] [--friction MU] [--margin M] [--seed S]\n"
                 "       [--count N] [--samples N] [--placement FILE]\n"
              << "       " << name << " --self-test" << std::endl;
}

bool Number(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return *text != '\0' && *end == '\0' && out >= 0.0;
}

void Extents(const std::vector<Vectormath::Aos::Point3>& pts, float lo[3], float hi[3]) {
    for (int k = 0; k < 3; ++k) {
        lo[k] = 1e30f;
        hi[k] = -1e30f;
    }
    for (const auto& p : pts)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
}

/// Placement-file lines: type 0, translation, rotation, identity scale, column by column.
bool WritePlacement(const std::string& path, const std::vector<peer::RestingObject>& kept) {
    std::ofstream out(path);
    for (const peer::RestingObject& o : kept) {
        const float* r = o.rotation;
        const float t[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, o.centre[0], o.centre[1], o.centre[2], 1};
        const float rot[16] = {r[0], r[3], r[6], 0, r[1], r[4], r[7], 0, r[2], r[5], r[8], 0, 0, 0, 0, 1};
        const float s[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        out << 0 << ' ';
        for (const float* m : {t, rot, s})
            for (int i = 0; i < 16; ++i) out << m[i] << ' ';
        out << '\n';
    }
    return static_cast<bool>(out);
}

std::string Six(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

/// Fairness checks of the peer, each on a small box with a fixed step budget.
int SelfTest() {
    int failures = 0;
    auto check = [&](bool ok, const std::string& what) {
        std::cout << (ok ? "ok   " : "FAIL ") << what << std::endl;
        failures += !ok;
    };
    // A cube sliding on the floor from v0 stops after v0^2 / (2 mu g).
    for (const float mu : {0.3f, 0.5f}) {
        const float v0 = 2.0f, expected = v0 * v0 / (2 * mu * 9.81f);
        const float d = peer::SlidingDistance(mu, v0);
        check(std::fabs(d - expected) < 0.03f * expected,
              "sliding distance at mu " + Six(mu) + ": " + Six(d) + " (expected " + Six(expected) + ")");
    }
    // Exact shapes: a turned ellipsoid or cube rests at its true extent along the floor normal
    // (a scaled multi-sphere ellipsoid would rest up to 6 % low).
    for (const char* shape : {"mm", "cube"})
        for (const float degrees : {0.0f, 30.0f, 55.0f}) {
            peer::PourSettings s;
            peer::ParseShape(shape, s.shape);
            if (s.shape == peer::Shape::Ellipsoid) s.size[2] = 0.5f;
            const float angle = degrees * 3.14159265f / 180;
            const float h = peer::RestingHeight(s, angle), expected = peer::ExactRestingHeight(s, angle);
            check(std::fabs(h - expected) < 0.005f * expected, std::string(shape) + " turned by " + Six(degrees) +
                                                                   " degrees rests at " + Six(h) + " (expected " +
                                                                   Six(expected) + ")");
        }
    for (const char* shape : {"sphere", "mm", "cube"}) {
        peer::PourSettings s;
        peer::ParseShape(shape, s.shape);
        if (s.shape == peer::Shape::Ellipsoid) s.size[2] = 0.5f;
        for (int k = 0; k < 3; ++k) {
            s.boxLo[k] = -2;
            s.boxHi[k] = 2;
        }
        s.shakes = 2;
        const int expected = static_cast<int>(std::ceil(s.overfill * 0.64 * 64 / peer::ObjectVolume(s)));
        const peer::PourResult r = peer::Pour(s);
        const float d = std::max({s.size[0], s.size[1], s.size[2]});
        const std::string tag = std::string(shape) + ": ";
        check(r.poured == expected, tag + "poured " + std::to_string(r.poured) + " of " + std::to_string(expected));
        check(r.escaped == 0, tag + std::to_string(r.escaped) + " escaped the box");
        check(r.kept.size() > 20 && static_cast<int>(r.kept.size()) < expected,
              tag + std::to_string(r.kept.size()) + " kept inside the box");
        check(r.maxPenetration < 0.005f * d,
              tag + "deepest contact at rest " + Six(r.maxPenetration / d * 100) + " % of the diameter");
        // The kept objects fill the box at a plausible random-packing fraction.
        const peer::Fractions f = peer::Measure(s, r.kept, 0.0f, 20000, 1);
        check(f.global > 0.3 && f.global < 0.75 && std::fabs(f.bulk - f.global) < 5 * f.bulkError + 0.02,
              tag + "global " + Six(f.global) + ", by sampling the whole box " + Six(f.bulk));
    }
    std::cout << (failures == 0 ? "self test passed" : "self test FAILED") << std::endl;
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--self-test") return SelfTest();
    std::string config, shapeName, placement;
    peer::PourSettings s;
    double margin = -1, samples = 200000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            Usage(argv[0]);
            return 0;
        }
        const bool valued = arg == "--shape" || arg == "--shakes" || arg == "--friction" || arg == "--margin" ||
                            arg == "--seed" || arg == "--count" || arg == "--samples" || arg == "--placement";
        if (valued && i + 1 == argc) {
            std::cerr << arg << " needs an argument." << std::endl;
            return 2;
        }
        double v = 0;
        if (arg == "--shape")
            shapeName = argv[++i];
        else if (arg == "--placement")
            placement = argv[++i];
        else if (valued) {
            if (!Number(argv[++i], v)) {
                std::cerr << arg << " needs a number >= 0, got '" << argv[i] << "'." << std::endl;
                return 2;
            }
            if (arg == "--shakes")
                s.shakes = static_cast<int>(v);
            else if (arg == "--friction")
                s.friction = static_cast<float>(v);
            else if (arg == "--margin")
                margin = v;
            else if (arg == "--seed")
                s.seed = static_cast<uint32_t>(v);
            else if (arg == "--count")
                s.count = static_cast<int>(v);
            else
                samples = v;
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << "Unknown option " << arg << "." << std::endl;
            Usage(argv[0]);
            return 2;
        } else
            config = arg;
    }
    if (config.empty()) {
        Usage(argv[0]);
        return 2;
    }
    check::CheckScene scene;
    std::string err;
    if (!check::LoadScene(config, scene, err)) {
        std::cerr << "densepack-pour: " << err << std::endl;
        return 2;
    }
    if (shapeName.empty()) shapeName = scene.typeNames[0];
    if (!peer::ParseShape(shapeName, s.shape)) {
        std::cerr << "densepack-pour: shape '" << shapeName << "' is none of sphere, mm, cube (use --shape)."
                  << std::endl;
        return 2;
    }
    float lo[3], hi[3];
    Extents(scene.types[0].Points(), lo, hi);
    for (int k = 0; k < 3; ++k) s.size[k] = hi[k] - lo[k];
    Extents(scene.container.Points(), s.boxLo, s.boxHi);

    const peer::PourResult r = peer::Pour(s);
    const float largest = std::max({s.size[0], s.size[1], s.size[2]});
    if (margin < 0) margin = 1.5 * largest;
    const peer::Fractions f = peer::Measure(s, r.kept, static_cast<float>(margin), static_cast<long>(samples), s.seed);
    if (!placement.empty() && !WritePlacement(placement, r.kept)) {
        std::cerr << "densepack-pour: cannot write " << placement << std::endl;
        return 2;
    }
    // Six digits, as the text of the self-test prints them.
    auto six = [](double v) { return JsonNumber(std::strtod(Six(v).c_str(), nullptr)); };
    const JsonValue doc = {{"peer", "densepack-pour"},
                           {"configuration", config},
                           {"shape", peer::ShapeName(s.shape)},
                           {"friction", six(s.friction)},
                           {"shakes", s.shakes},
                           {"seed", s.seed},
                           {"poured", r.poured},
                           {"numObjects", r.kept.size()},
                           {"escaped", r.escaped},
                           {"globalFraction", six(f.global)},
                           {"bulkFraction", six(f.bulk)},
                           {"bulkFractionError", six(f.bulkError)},
                           {"margin", six(margin)},
                           {"maxPenetrationRelative", six(r.maxPenetration / largest)},
                           {"steps", r.settleSteps},
                           {"wallSeconds", six(r.seconds)}};
    std::cout << JsonDump(doc) << std::endl;
    return 0;
}
