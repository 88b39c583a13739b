#pragma once
/// @file Sampling.h
/// Candidate points inside the container: grid points where a sphere of a reference volume
/// touches nothing of the container, found with the collision library in parallel x slices.

#include <string>
#include <vector>

#include "collision/Callback.h"
#include "geometry/MovingObject.h"
#include "vectormath/vectormath_aos.h"

class PackingGeometry;

namespace col {
class CollisionPipeline;
}

/// Work record of one worker: its own pipeline and probe objects, and the slice it scans.
struct SubSamplingData {
    col::CollisionPipeline* pipeline = nullptr;                            ///< the worker's own two-object pipeline
    MovingObject container;                                                ///< identity-posed container probe
    MovingObject probe;                                                    ///< the test sphere
    bool collided = false;                                                 ///< set by the worker's callback on contact
    float x = 0.0f;                                                        ///< x of the slice being scanned
    float step = 0.0f;                                                     ///< grid spacing
    float min[3] = {0, 0, 0};                                              ///< container box, lower corner
    float max[3] = {0, 0, 0};                                              ///< container box, upper corner
    std::vector<std::vector<Vectormath::Aos::Vector3>>* result = nullptr;  ///< the slice's rows (y), appended to
};

/// Marks a contact between the container and the probe of one worker.
class CPCallback : public col::Callback {
 public:
    CPCallback(MovingObject* container, MovingObject* probe, col::LevelOfDetectionE level, bool& collided);
    void operator()(const col::Data* data) override;
    ~CPCallback() override;

    MovingObject* m_container;
    MovingObject* m_probe;
    bool* m_collided;
};

/// Appends to `points` every grid point (x-major, then y, then z ascending, spacing
/// stepFactor * 2r from the container box's lower corner) at which a sphere of volume `volume`
/// (radius r) reports no contact with the container. `sampleGeometry` gets that one sphere as
/// its sphere tree. Runs max(threadCount, 1) workers, each with its own pipeline; the result
/// does not depend on the worker count.
void Sampling(int threadCount, PackingGeometry* container, PackingGeometry* sampleGeometry, float volume,
              float stepFactor, std::vector<Vectormath::Aos::Vector3>& points);

/// Radius of the probe sphere of volume `volume`: cbrt(3 V / 4 pi); not above 0 when V is not.
float SamplingProbeRadius(float volume);

/// Number of grid points Sampling tests in the box [min, max] with spacing `step`: per axis
/// ceil(extent / step), at least 1, and 0 for a flat axis. A double, since a tiny step asks for
/// more points than any integer holds; infinite when `step` is not above 0.
double SamplingGridPoints(const float min[3], const float max[3], float step);

/// Start-up refuses to sample a grid of more points than this. At a few microseconds per test
/// on two cores, 10^7 points take up to a minute and hold at most 160 MB of accepted points;
/// a finer grid than that is almost always a step factor typed wrong. A point file of any size
/// is still loaded.
inline constexpr double kMaxSamplingGridPoints = 1e7;

/// Scans the slice at data.x: one row per y, one probe test per z.
void SubSampling(SubSamplingData& data);

struct PackingObjectInfo;

/// The probe's reference volume for `mode`: "smallest" is the last (smallest) type's volume;
/// "average" stores every type's extentRatio, prints one line per type (name, box volume,
/// cube of the smallest extent, ratio), then the share-weighted volume and `stepSize`; any other
/// text is read as a number. Returns false, with one line on stderr, when `mode` is none of
/// these or there is no type to take the volume from.
bool SamplingReferenceVolume(const std::string& mode, std::vector<PackingObjectInfo>& types, float stepSize,
                             float& outVolume);
