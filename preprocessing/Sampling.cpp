#include "preprocessing/Sampling.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "collision/CollisionPipeline.h"
#include "collision/ExtraData.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingObjectInfo.h"
#include "geometry/Progress.h"
#include "geometry/Timer.h"

using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

CPCallback::CPCallback(MovingObject* container, MovingObject* probe, col::LevelOfDetectionE level, bool& collided)
    : col::Callback(container->m_id, probe->m_id, false, true, level),
      m_container(container),
      m_probe(probe),
      m_collided(&collided) {}

CPCallback::~CPCallback() = default;

void CPCallback::operator()(const col::Data* /*data*/) {
    if (m_container->m_id == obj1 && m_probe->m_id == obj2) {
        *m_collided = true;
        return;
    }
    std::cerr << "MovemCallback: mobj.node != obj !\n";
}

namespace {

// A step too small to advance a coordinate would never end the scan; such a grid stops there.
std::vector<float> GridCoordinates(float from, float to, float step) {
    std::vector<float> out;
    if (step > 0.0f)
        for (float v = from; v < to && v + step > v; v += step) out.push_back(v);
    return out;
}

void ScanRow(SubSamplingData& data, float y, std::vector<Vector3>& row) {
    for (float z = data.min[2]; z < data.max[2] && z + data.step > z; z += data.step) {
        data.probe.m_translationMatrix.setTranslation(Vector3(data.x, y, z));
        data.pipeline->moveObject(data.probe.m_id, &data.probe.m_translationMatrix, nullptr);
        data.pipeline->moveObject(data.container.m_id, &data.container.m_translationMatrix, nullptr);
        data.collided = false;
        data.pipeline->check(nullptr);
        if (!data.collided) row.emplace_back(data.x, y, z);
    }
}

}  // namespace

void SubSampling(SubSamplingData& data) {
    for (float y : GridCoordinates(data.min[1], data.max[1], data.step)) {
        std::vector<Vector3> row;
        ScanRow(data, y, row);
        data.result->push_back(std::move(row));
    }
}

void Sampling(int threadCount, PackingGeometry* container, PackingGeometry* sampleGeometry, float volume,
              float stepFactor, std::vector<Vector3>& points) {
    const int workers = threadCount < 1 ? 1 : threadCount;

    Packing::Timer initTimer;
    initTimer.Start();
    col::CollisionPipeline::M_PipelineAlgorithm = 3;

    const float r = SamplingProbeRadius(volume);
    sampleGeometry->m_extraData = new col::ExtraData_SphereTree(Point3(0.0f, 0.0f, 0.0f), r);
    const float step = stepFactor * 2.0f * r;
    std::cout << "Volume for preprocessing: " << volume << std::endl;
    std::cout << "StepSize for preprocessing: " << step << std::endl;

    float min[3] = {-1, -1, -1}, max[3] = {1, 1, 1};
    container->updateBBox();
    container->getBBox(min, max);

    std::vector<SubSamplingData*> slots;
    std::vector<CPCallback*> callbacks;
    for (int i = 1; i <= workers; ++i) {
        auto* slot = new SubSamplingData();
        slot->step = step;
        for (int a = 0; a < 3; ++a) {
            slot->min[a] = min[a];
            slot->max[a] = max[a];
        }
        slot->container.m_geometry = container;
        slot->probe.m_geometry = sampleGeometry;
        slot->pipeline = new col::CollisionPipeline("CalculatePointsInContainerThread", static_cast<unsigned>(i));
        slot->pipeline->setUseHulls(false);
        slot->container.m_id = slot->pipeline->makeCollidable(container, PackingGeometryConverter);
        slot->probe.m_id = slot->pipeline->makeCollidable(sampleGeometry, PackingGeometryConverter);
        auto* callback = new CPCallback(&slot->container, &slot->probe, col::LEVEL_CONTACT, slot->collided);
        slot->pipeline->addCallback(callback);
        callbacks.push_back(callback);
        slots.push_back(slot);
    }
    std::cout << "Time init: " << initTimer.Elapsed() << std::endl;

    Packing::Timer checkTimer;
    checkTimer.Start();
    // The grid coordinates accumulate exactly as a serial scan would, so every worker count
    // tests the same grid; a step that does not advance x (zero, NaN) gives no slices.
    const std::vector<float> sliceX = GridCoordinates(min[0], max[0], step);
    const std::vector<float> rowY = GridCoordinates(min[1], max[1], step);
    const size_t units = sliceX.size() * rowY.size();
    std::vector<std::vector<Vector3>> rows(units);

    // Each worker pulls the next unscanned row (slice-major), so the last one to finish waits
    // at most one row for the others, not one slice; every row has its own list, so the
    // concatenation below fixes the slice order.
    std::atomic<size_t> next{0};
    // Every row tests the same number of points, so the estimate of the time left is fair.
    const uint64_t rowPoints = GridCoordinates(min[2], max[2], step).size();
    std::atomic<uint64_t> rowsDone{0};
    Packing::Progress progress;
    progress.begin("Sampling", units * rowPoints, "points", true);
    auto work = [&](SubSamplingData* slot) {
        for (size_t u = next++; u < units; u = next++) {
            slot->x = sliceX[u / rowY.size()];
            ScanRow(*slot, rowY[u % rowY.size()], rows[u]);
            progress.update((++rowsDone) * rowPoints);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < workers && static_cast<size_t>(i) < units; ++i) threads.emplace_back(work, slots[i]);
    work(slots[0]);
    for (std::thread& t : threads) t.join();
    progress.end();

    for (const auto& row : rows) points.insert(points.end(), row.begin(), row.end());

    for (SubSamplingData* slot : slots) {
        delete slot->pipeline;
        delete slot;
    }
    for (CPCallback* callback : callbacks) delete callback;
    std::cout << "Time check: " << checkTimer.Elapsed() << std::endl;
}

float SamplingProbeRadius(float volume) { return std::cbrt(3.0f * volume / 12.566371f); }

double SamplingGridPoints(const float min[3], const float max[3], float step) {
    if (!(step > 0.0f)) return HUGE_VAL;
    double points = 1.0;
    for (int a = 0; a < 3; ++a) {
        const double extent = static_cast<double>(max[a]) - static_cast<double>(min[a]);
        if (!(extent > 0.0)) return 0.0;
        points *= std::max(1.0, std::ceil(extent / static_cast<double>(step)));
    }
    return points;
}

bool SamplingReferenceVolume(const std::string& mode, std::vector<PackingObjectInfo>& types, float stepSize,
                             float& outVolume) {
    if (mode == "smallest") {
        if (types.empty()) {
            std::cerr << "densepack: [Preprocessing] sampling volume \"smallest\" needs at least one object type."
                      << std::endl;
            return false;
        }
        outVolume = types.back().volume;
        return true;
    }
    if (mode == "average") {
        float v = 0.0f;
        for (PackingObjectInfo& type : types) {
            float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
            type.geometry->getBBox(lo, hi);
            float e[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};
            const float box = e[0] * e[1] * e[2];
            std::sort(e, e + 3);
            const float cube = e[0] * e[0] * e[0];
            const float ratio = cube / box;
            type.extentRatio = ratio;
            v = static_cast<float>(static_cast<double>(v) + static_cast<double>(type.percentage) / 100.0 *
                                                                (static_cast<double>(type.volume) * ratio));
            std::cout << type.name << " " << box << " " << cube << " " << ratio << std::endl;
        }
        std::cout << "Weighted Average Volume: " << v << std::endl;
        std::cout << "Config Step Size: " << stepSize << std::endl;
        outVolume = v;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(mode.c_str(), &end);
    if (mode.empty() || end == mode.c_str() || *end != '\0' || errno == ERANGE) {
        std::cerr << "densepack: [Preprocessing] sampling volume '" << mode
                  << "' is neither \"smallest\", \"average\" nor a number." << std::endl;
        return false;
    }
    outVolume = v;
    return true;
}
