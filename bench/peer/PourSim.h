#pragma once
/// @file PourSim.h
/// A rigid-body peer for densepack: identical objects poured into a box under gravity by a
/// physics engine, optionally shaken, then measured. Benchmark code only; never part of densepack.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace peer {

enum class Shape { Sphere, Ellipsoid, Cube };

/// Parses "sphere", "mm" or "ellipsoid", "cube"; false for anything else.
bool ParseShape(const std::string& text, Shape& out);
const char* ShapeName(Shape s);

struct PourSettings {
    Shape shape = Shape::Sphere;
    float size[3] = {1, 1, 1};      ///< object extents along its own axes (diameters / edges)
    float boxLo[3] = {-3, -3, -3};  ///< container interior, world frame
    float boxHi[3] = {3, 3, 3};
    float friction = 0.5f;        ///< pair coefficient; every body gets its square root
    int shakes = 0;               ///< shaking cycles after the pour
    float shakeAmplitude = 0.1f;  ///< of the largest object extent, vertical and horizontal
    float shakeFrequency = 2.5f;  ///< cycles per second (gravity 9.81, lengths in mesh units)
    float overfill = 1.25f;       ///< objects poured = overfill x what fills the box at 0.64
    int count = 0;                ///< objects poured; 0 = from overfill
    uint32_t seed = 1;
    int settleStepLimit = 6000;  ///< per settling phase, steps of 1/240 s
};

/// One object at rest: centre and orientation (rotation matrix, row major) in the world frame.
struct RestingObject {
    float centre[3];
    float rotation[9];
};

struct PourResult {
    int poured = 0;
    int settleSteps = 0;  ///< steps run in all phases
    /// Objects wholly inside the box (below its top) after the last phase.
    std::vector<RestingObject> kept;
    int escaped = 0;              ///< objects outside the walls' footprint or below the floor
    float maxPenetration = 0.0f;  ///< deepest contact among the kept objects and walls at rest
    double seconds = 0.0;         ///< wall time of the simulation
};

/// Runs pour, settle, shakes and settle. Deterministic for equal settings.
PourResult Pour(const PourSettings& settings);

/// Whether the world point p lies inside the object.
bool Contains(const PourSettings& s, const RestingObject& o, const float p[3]);
/// Volume of one object.
double ObjectVolume(const PourSettings& s);

struct Fractions {
    double global = 0.0;     ///< kept objects' volume / box volume
    double bulk = 0.0;       ///< filled share of the box shrunk by the margin on every side
    double bulkError = 0.0;  ///< standard error of `bulk`
    long samples = 0;
};

/// Monte Carlo over the box shrunk by `margin`; `samples` seeded points.
Fractions Measure(const PourSettings& s, const std::vector<RestingObject>& kept, float margin, long samples,
                  uint32_t seed);

/// Distance a cube resting on the floor slides from an initial speed v0 before friction stops
/// it, as the engine gives it (steps of 1/240 s).
float SlidingDistance(float friction, float v0);

/// Height of the centre of one object of `s` resting on the floor, turned by `angle` about the
/// x axis and kept from turning further, as the engine gives it.
float RestingHeight(const PourSettings& s, float angle);
/// The same from the shape's geometry: its extent along the floor normal.
float ExactRestingHeight(const PourSettings& s, float angle);

}  // namespace peer
