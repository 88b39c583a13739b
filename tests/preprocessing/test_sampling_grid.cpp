// The grid size start-up checks against its limit before sampling must be the number of points
// the sampling then tests: counted here on a container that accepts every point.

#include <gtest/gtest.h>

#include <cmath>

#include "collision/ExtraData.h"
#include "preprocessing/Sampling.h"
#include "support/TestScene.h"

using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

TEST(SamplingGrid, PredictedPointCountIsWhatSamplingTests) {
    // A box container whose tree is one tiny sphere far away: no probe ever touches it.
    PackingGeometry* container = testscene::MakeBox(2.0f, 1.0f, 0.5f);
    container->m_extraData = new col::ExtraData_SphereTree(Point3(100.0f, 100.0f, 100.0f), 0.01f);
    // Probe radius 0.5, so the step is the factor itself.
    const float volume = 4.0f / 3.0f * 3.14159265f * 0.125f;
    ASSERT_NEAR(SamplingProbeRadius(volume), 0.5f, 1e-6f);
    float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
    container->updateBBox();
    container->getBBox(min, max);
    // Steps that divide the extents, that do not, and one larger than the box.
    for (float step : {0.25f, 0.3f, 0.5f, 0.7f, 1.3f, 5.0f}) {
        PackingGeometry probe;
        std::vector<Vector3> points;
        testing::internal::CaptureStdout();
        Sampling(2, container, &probe, volume, step, points);
        testing::internal::GetCapturedStdout();
        delete probe.m_extraData;
        const float sampledStep = step * 2.0f * SamplingProbeRadius(volume);
        EXPECT_EQ(SamplingGridPoints(min, max, sampledStep), static_cast<double>(points.size())) << "step " << step;
    }
    const float flat[3] = {max[0], max[1], min[2]};
    EXPECT_EQ(SamplingGridPoints(min, flat, 0.5f), 0.0) << "a flat box gives no slices";
    EXPECT_TRUE(std::isinf(SamplingGridPoints(min, max, 0.0f)));
    EXPECT_GT(SamplingGridPoints(min, max, 1e-6f), kMaxSamplingGridPoints);
    delete container->m_extraData;
    delete container;
}
