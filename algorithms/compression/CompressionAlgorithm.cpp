#include "algorithms/compression/CompressionAlgorithm.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <locale>
#include <sstream>

#include "algorithms/Limits.h"
#include "collision/FibRand.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/Progress.h"

namespace Packing::compression {
namespace {

using Vectormath::Aos::Matrix4;

// The window gets new poses at most this often.
constexpr double kPublishSeconds = 0.2;
// Trial moves a limit second holds per step of K under --limits steps: about what one core of the
// 2-core development machine does (2e5 to 4e5 moves a second at the default K of 100).
constexpr double kMovesPerStep = 3000.0;

}  // namespace

namespace {

struct Key {
    const char* name;
    double* real;
    int* whole;
    double lo, hi;
};

// Every [Compression] key, bound to the fields of `s`.
std::vector<Key> Keys(CompressionSettings& s) {
    return {
        {"packingGuess", &s.packingGuess, nullptr, 0.01, 1.0},
        {"startFraction", &s.startFraction, nullptr, 1e-4, 0.6},
        {"growth", &s.growth, nullptr, 1e-7, 0.5},
        {"maxGrowth", &s.maxGrowth, nullptr, 1e-7, 0.5},
        {"minGrowth", &s.minGrowth, nullptr, 1e-9, 0.5},
        {"overlapShare", &s.overlapShare, nullptr, 0.0, 10.0},
        {"restOverlapShare", &s.restOverlapShare, nullptr, 0.0, 1.0},
        {"acceptance", &s.acceptance, nullptr, 0.01, 0.99},
        {"clearSweeps", nullptr, &s.clearSweeps, 1, 1e7},
        {"relaxSweeps", nullptr, &s.relaxSweeps, 0, 1e7},
        {"estimateSpeed", &s.estimateSpeed, nullptr, 0.0, 1e6},
        {"estimateBonus", &s.estimateBonus, nullptr, -0.5, 1.0},
        {"ballEstimateBonus", &s.ballEstimateBonus, nullptr, -0.5, 1.0},
        {"maxRounds", nullptr, &s.maxRounds, 1, 1e6},
        {"ballRate", &s.ballRate, nullptr, 0.0, 10.0},
        {"quickBallRate", &s.quickBallRate, nullptr, 0.0, 10.0},
        {"insertTriesPerBody", &s.insertTriesPerBody, nullptr, 0.0, 1e4},
        {"pilotBodies", nullptr, &s.pilotBodies, 0, 1e7},
        {"pilotBonus", &s.pilotBonus, nullptr, -0.5, 1.0},
        {"limitSeconds", &s.limitSeconds, nullptr, 1e-3, 1e9},
        {"threads", nullptr, &s.threads, 0, 64},
        {"count", nullptr, &s.count, 0, 1e7},
        {"targetFraction", &s.targetFraction, nullptr, 0.0, 0.9},
        {"maxCubaticOrder", &s.maxCubaticOrder, nullptr, 0.0, 1.0},
    };
}

}  // namespace

std::vector<SettingDefault> SettingDefaults() {
    CompressionSettings s;
    std::vector<SettingDefault> out;
    for (const Key& k : Keys(s))
        out.push_back({k.name, k.real ? *k.real : static_cast<double>(*k.whole), k.whole != nullptr});
    return out;
}

bool ParseSettings(const std::string& line, CompressionSettings& settings, std::string& outError) {
    CompressionSettings s = settings;
    const std::vector<Key> keys = Keys(s);
    std::istringstream in(line);
    in.imbue(std::locale::classic());
    std::string word;
    while (in >> word) {
        const size_t eq = word.find('=');
        const Key* key = nullptr;
        for (const Key& k : keys)
            if (eq != std::string::npos && word.compare(0, eq, k.name) == 0 && std::string(k.name).size() == eq)
                key = &k;
        if (key == nullptr) {
            outError = "unknown compression setting \"" + word + "\"";
            return false;
        }
        const std::string text = word.substr(eq + 1);
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(v) || v < key->lo || v > key->hi ||
            (key->whole != nullptr && v != std::floor(v))) {
            std::ostringstream m;
            m << "compression setting \"" << word << "\" needs " << (key->whole ? "a whole number" : "a number")
              << " from " << key->lo << " to " << key->hi;
            outError = m.str();
            return false;
        }
        if (key->real) *key->real = v;
        if (key->whole) *key->whole = static_cast<int>(v);
    }
    if (s.count > 0 && s.targetFraction > 0.0) {
        outError = "compression settings count and targetFraction exclude each other";
        return false;
    }
    if (s.minGrowth > s.maxGrowth) {
        outError = "compression setting minGrowth is above maxGrowth";
        return false;
    }
    settings = s;
    return true;
}

namespace {

// A number as the console writes it (six significant digits).
std::string Text(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

}  // namespace

void CompressionPhase::Publish(IPackingAlgorithm& algo, std::vector<PackingObjectInfo>& types, const Compressor& c) {
    std::vector<size_t> used(types.size(), 0);
    std::lock_guard<std::mutex> lock(g_packingMutex);
    std::list<MovingObject*>& placed = *algo.placedObjects();
    placed.clear();
    for (const Body& b : c.Bodies()) {
        const size_t t = static_cast<size_t>(b.type);
        if (used[t] == m_pool[t].size()) m_pool[t].push_back(algo.GenerateObject(b.type, b.size));
        MovingObject* o = m_pool[t][used[t]++];
        // A pooled object may stand for another body of its type than last time.
        o->m_sizeFactor = b.size;
        o->m_volume = types[t].volume * b.size * b.size * b.size;
        const Matrix4 scale = Matrix4::scale(Vector3(c.Scale() * b.size));
        o->m_position = b.position;
        o->m_translationMatrix = Matrix4::translation(b.position);
        o->m_rotationMatrix = Matrix4(b.rotation, Vector3(0.0f));
        o->m_scaleMatrix = scale;
        o->m_modelMatrix = o->m_translationMatrix * o->m_rotationMatrix * scale;
        placed.push_back(o);
    }
}

void CompressionPhase::Run(IPackingAlgorithm& algo, std::vector<PackingObjectInfo>& types, MovingObject& container,
                           bool fromPacking) {
    std::vector<const col::ColGeometry*> meshes;
    std::vector<float> largest;
    for (const PackingObjectInfo& t : types) {
        meshes.push_back(t.geometry);
        largest.push_back(static_cast<float>(t.size.Largest()));
    }
    // Bodies of a packing it starts from keep their own sizes, which the cells must cover too.
    if (fromPacking)
        for (const MovingObject* o : *algo.placedObjects())
            if (o->m_typeIndex >= 0 && static_cast<size_t>(o->m_typeIndex) < types.size())
                largest[static_cast<size_t>(o->m_typeIndex)] =
                    std::max(largest[static_cast<size_t>(o->m_typeIndex)], o->m_sizeFactor);
    Shapes shapes;
    std::string error;
    if (types.empty() || !shapes.Build(meshes, *container.m_geometry, error, largest)) {
        std::cerr << "densepack: CompressionAlgorithm cannot run: " << (types.empty() ? "no object types" : error)
                  << std::endl;
        return;
    }
    std::vector<TypeSpec> specs;
    for (const PackingObjectInfo& t : types)
        specs.push_back({std::max(0.0, double(t.percentage)), double(t.volume), t.size});
    // Two draws of the algorithm's own generator, so --seed fixes the whole run.
    const uint64_t seed = (uint64_t(algo.random()->rand()) << 30) ^ uint64_t(algo.random()->rand());
    Compressor compressor(shapes, specs, container.m_volume, m_settings, seed);

    m_pool.assign(types.size(), {});
    const std::list<MovingObject*> start = *algo.placedObjects();
    std::vector<std::array<Matrix4, 4>> startPoses;  // the objects are reused, so their poses are kept aside
    for (const MovingObject* o : start)
        startPoses.push_back({o->m_translationMatrix, o->m_rotationMatrix, o->m_scaleMatrix, o->m_modelMatrix});
    double startVolume = 0.0;
    if (fromPacking) {
        for (MovingObject* o : start) {
            if (o->m_typeIndex < 0 || static_cast<size_t>(o->m_typeIndex) >= types.size()) continue;
            Body b;
            b.type = o->m_typeIndex;
            b.position = o->m_modelMatrix.getTranslation();
            const Matrix3 upper = o->m_modelMatrix.getUpper3x3();
            const float k = Vectormath::Aos::length(upper.getCol0());
            b.orientation = QuatFromRotation(k > 0.0f ? upper * (1.0f / k) : Matrix3::identity());
            b.rotation = Matrix3(b.orientation);
            b.size = o->m_sizeFactor;
            compressor.AddBody(b);
            startVolume += double(types[static_cast<size_t>(b.type)].volume) * k * k * k;
            m_pool[static_cast<size_t>(b.type)].push_back(o);  // reused, so they are drawn in place
        }
    }

    // Under --limits steps a limit second is worth about kMovesPerStep trial moves per K (what one
    // core does), counted in sweeps of the first round's bodies: a sweep of 600 M&Ms costs what 600
    // relaxation steps of nothing would not.
    Limit limit(m_settings.limitSeconds, kMovesPerStep / std::max(1.0, compressor.GuessedCount()));
    Progress progress;
    progress.begin("Compression", 0, "sweeps");
    static const char* const kPhaseNames[] = {"dropping", "compressing", "finishing", "filling", "done"};
    auto last = std::chrono::steady_clock::now();
    compressor.Run(limit, [&](const Compressor& c) {
        const auto now = std::chrono::steady_clock::now();
        if (std::chrono::duration<double>(now - last).count() < kPublishSeconds &&
            c.CurrentPhase() != Compressor::Phase::Done)
            return;
        last = now;
        Publish(algo, types, c);
        std::ostringstream extra;
        if (c.IsPilot()) {
            // The pilot's own sweeps, in a smaller copy of the container at its centre.
            extra << "counting with a pilot of " << c.Bodies().size() << " objects at scale " << c.Scale()
                  << ", fraction " << c.Fraction();
            progress.update(0, extra.str());
            return;
        }
        const CompressionStats& st = c.Stats();
        extra << kPhaseNames[static_cast<int>(c.CurrentPhase())];
        if (st.finishFrom > 0 && st.limitReached) extra << " after the limit";
        extra << ", round " << st.rounds << ", " << c.Bodies().size() << " objects at scale " << c.Scale()
              << ", fraction " << c.Fraction() << ", overlaps " << c.Overlaps();
        if (st.finishFrom > 0)
            extra << ", kept " << c.Bodies().size() << " of " << st.finishFrom << " from scale " << st.finishScale;
        progress.update(static_cast<uint64_t>(st.sweeps), extra.str());
    });
    progress.end();

    const CompressionStats& st = compressor.Stats();
    const double endVolume = compressor.Fraction() * container.m_volume;
    // An improvement never leaves less than it was given: a compression stopped early by its limit
    // can end thinner than the packing it started from, which then stays as it was.
    const bool kept = fromPacking && endVolume < startVolume;
    if (kept) {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        *algo.placedObjects() = start;
        size_t k = 0;
        for (MovingObject* o : start) {
            const std::array<Matrix4, 4>& m = startPoses[k++];
            o->m_translationMatrix = m[0];
            o->m_rotationMatrix = m[1];
            o->m_scaleMatrix = m[2];
            o->m_modelMatrix = m[3];
            o->m_position = m[0].getTranslation();
        }
    } else {
        Publish(algo, types, compressor);
    }
    std::cout << "Compression: " << compressor.Bodies().size() << " objects, fraction " << compressor.Fraction()
              << ", first jam " << st.firstJamFraction << ", rounds " << st.rounds << ", sweeps " << st.sweeps
              << ", removed " << st.removed << ", inserted " << st.inserted
              << (st.pilotBodies > 0 ? ", pilot " + std::to_string(st.pilotBodies) + " at " + Text(st.pilotFraction) +
                                           " (bulk " + Text(st.pilotBulk) + ") foretold " + Text(st.estimate)
                                     : "")
              << (st.asked > 0 ? ", asked for " + std::to_string(st.asked) : "")
              << (compressor.Scale() < 1.0f ? ", held at scale " + Text(compressor.Scale()) : "")
              << (st.limitReached ? ", limit reached" : "")
              << (st.finishFrom > 0 ? ", finished to full size from scale " + Text(st.finishScale) + " keeping " +
                                          std::to_string(compressor.Bodies().size() - st.inserted) + " of " +
                                          std::to_string(st.finishFrom)
                                    : "")
              << (kept ? "; less than the start, which is kept (" + std::to_string(start.size()) + " objects)" : "")
              << std::endl;
}

}  // namespace Packing::compression

namespace Packing::compression {

bool Configure(IPackingAlgorithm* algo, const CompressionSettings& settings) {
    if (auto* c = dynamic_cast<CompressionAlgorithm*>(algo)) {
        c->Phase().SetSettings(settings);
        return true;
    }
    if (auto* c = dynamic_cast<CompressionImprovement*>(algo)) {
        c->Phase().SetSettings(settings);
        return true;
    }
    return false;
}

}  // namespace Packing::compression

void CompressionAlgorithm::ConstructionHeuristic() { m_phase.Run(*this, *m_objectTypes, *m_container, false); }

void CompressionImprovement::ImprovementHeuristic() { m_phase.Run(*this, *m_objectTypes, *m_container, true); }
