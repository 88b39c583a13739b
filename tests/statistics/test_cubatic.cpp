// Cubatic order against values known by hand (aligned frames, frames equal up to the cube's own
// quarter turns, two frames sharing one axis) and against the formula evaluated on a dense grid of
// directions; and which bundled models have axes a cubatic order can follow.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "statistics/CheckMesh.h"
#include "statistics/Cubatic.h"

namespace {

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Quat;
using Vectormath::Aos::Vector3;

constexpr double kPi = 3.14159265358979323846;
constexpr double kAligned = 1e-4;  // frames built in single precision are orthonormal to about 1e-7

/// Brute force: the formula at every direction of a theta-phi grid over the upper hemisphere.
double GridMaximum(const std::vector<Matrix3>& frames, int steps) {
    double best = -1;
    for (int i = 0; i <= steps; ++i)
        for (int j = 0; j < 2 * steps; ++j) {
            const double theta = 0.5 * kPi * i / steps, phi = kPi * j / steps;
            const double n[3] = {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
            double sum = 0;
            for (const Matrix3& f : frames)
                for (int k = 0; k < 3; ++k) {
                    const Vector3 u = normalize(f.getCol(k));
                    const double c = u.getX() * n[0] + u.getY() * n[1] + u.getZ() * n[2];
                    sum += 35 * c * c * c * c - 30 * c * c + 3;
                }
            best = std::max(best, sum / (14.0 * double(frames.size())));
        }
    return best;
}

Matrix3 RandomRotation(std::mt19937& rng) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    return Matrix3(normalize(Quat(g(rng), g(rng), g(rng), g(rng))));
}

TEST(Cubatic, AlignedFramesMixesAndTheirBruteForceMaximum) {
    std::mt19937 rng(11);
    const Matrix3 common = RandomRotation(rng);
    const Vector3 axes[3] = {Vector3::xAxis(), Vector3::yAxis(), Vector3::zAxis()};
    std::uniform_int_distribution<int> pick(0, 2), quarter(1, 3);
    std::vector<Matrix3> aligned, quarters, shared, tilted;
    for (int i = 0; i < 400; ++i) {
        aligned.push_back(common * Matrix3::scale(Vector3(0.8f)));  // only the axes' directions count
        quarters.push_back(common * Matrix3::rotation(float(quarter(rng) * kPi / 2), axes[pick(rng)]));
        // Half turned 45 degrees about body axis z, half about a face diagonal.
        const bool half = i % 2 == 1;
        shared.push_back(half ? common * Matrix3::rotationZ(float(kPi / 4)) : common);
        tilted.push_back(half ? common * Matrix3::rotation(float(kPi / 4), normalize(Vector3(1, 1, 0))) : common);
    }
    EXPECT_NEAR(check::CubaticOrder(aligned), 1.0, kAligned);
    EXPECT_NEAR(check::CubaticOrder(quarters), 1.0, kAligned);
    // n along the shared axis makes every term its largest, 35 - 30 + 3 + 2 x 3 = 14: P4 = 1 though
    // two axes of every other frame are 45 degrees off. The single director sees one axis family.
    EXPECT_NEAR(check::CubaticOrder(shared), 1.0, kAligned);
    // Without a shared axis: the maximum of the formula, between 0 and 1. The grid's cells (0.3 by
    // 0.6 degrees) keep it 1.3e-5 below the refined maximum here.
    const double mix = check::CubaticOrder(tilted), grid = GridMaximum(tilted, 300);
    EXPECT_GE(mix, grid - 1e-9);
    EXPECT_LT(mix - grid, 1e-4);
    EXPECT_GT(mix, 0.5);
    EXPECT_LT(mix, 0.9);
    EXPECT_EQ(check::CubaticOrder({}), 0.0);
}

TEST(Cubatic, RandomOrientationsStayBelowTheirFluctuationBound) {
    // At a fixed director each frame adds (5 sum c^4 - 3) / 2: mean 0, variance 4/21 (moments of a
    // random unit vector). The mean of N is a Gaussian field in the 9 degree-4 harmonics, whose
    // maximum is at most sqrt(chi^2_9) sqrt(4/21 / N) by Cauchy-Schwarz; chi^2_9 < 33.7 with
    // probability 1 - 1e-4, so P4 < 5.81 x 0.436 / sqrt(2000) = 0.057 (expected about 1/sqrt(N)).
    std::mt19937 rng(5);
    std::vector<Matrix3> frames;
    for (int i = 0; i < 2000; ++i) frames.push_back(RandomRotation(rng));
    const double p = check::CubaticOrder(frames), grid = GridMaximum(frames, 60);
    EXPECT_LT(p, 0.057);
    EXPECT_GE(p, grid - 1e-9);
    EXPECT_LT(p - grid, 5e-4);  // 1.5 by 3 degree cells on a field of curvature about 20 x 0.02
}

TEST(Cubatic, CubicAxesOfTheBundledModels) {
    for (const auto& [model, cubic] :
         {std::pair{"cube", true}, std::pair{"tetrahedron", true}, std::pair{"sphere", false},
          std::pair{"sphere_l", false}, std::pair{"cylinder", false}}) {
        check::CheckMesh mesh;
        std::string err;
        ASSERT_TRUE(mesh.Load(std::string(DENSEPACK_MODELS_DIR) + "/" + model + ".obj", err)) << err;
        EXPECT_EQ(check::HasCubicAxes(mesh.Points()), cubic) << model;
    }
}

}  // namespace
