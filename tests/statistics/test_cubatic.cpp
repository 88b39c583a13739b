// Cubatic order against values known by hand and against the formula evaluated on a dense grid
// of directions; which bundled models have axes a cubatic order can follow.

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
            const Vector3 n(float(std::sin(theta) * std::cos(phi)), float(std::sin(theta) * std::sin(phi)),
                            float(std::cos(theta)));
            double sum = 0;
            for (const Matrix3& f : frames)
                for (int k = 0; k < 3; ++k) {
                    const double c = dot(normalize(f.getCol(k)), n);
                    sum += 35 * c * c * c * c - 30 * c * c + 3;
                }
            best = std::max(best, sum / (14.0 * double(frames.size())));
        }
    return best;
}

TEST(Cubatic, AlignedRandomAndMixedFramesAgainstHandAndBruteForce) {
    std::mt19937 rng(11);
    std::normal_distribution<float> g(0.0f, 1.0f);
    auto random = [&] { return Matrix3(normalize(Quat(g(rng), g(rng), g(rng), g(rng)))); };
    const Matrix3 common = random();
    const Vector3 axes[3] = {Vector3::xAxis(), Vector3::yAxis(), Vector3::zAxis()};
    std::vector<Matrix3> aligned, quarters, randoms;
    for (int i = 0; i < 2000; ++i) {
        aligned.push_back(common * Matrix3::scale(Vector3(0.8f)));  // only the axes' directions count
        quarters.push_back(common * Matrix3::rotation(float((i % 3 + 1) * kPi / 2), axes[rng() % 3]));
        randoms.push_back(random());
    }
    // Half-half mixes: one frame and the same turned 45 degrees about body axis z or a face diagonal.
    const std::vector<Matrix3> shared = {common, common * Matrix3::rotationZ(float(kPi / 4))},
                               tilted = {common,
                                         common * Matrix3::rotation(float(kPi / 4), normalize(Vector3(1, 1, 0)))};
    EXPECT_NEAR(check::CubaticOrder(aligned), 1.0, kAligned);
    EXPECT_NEAR(check::CubaticOrder(quarters), 1.0, kAligned);
    // n along the shared axis makes every term 35 - 30 + 3 + 2 x 3 = 14, though two axes of every
    // other frame are 45 degrees off: one director sees one axis family.
    EXPECT_NEAR(check::CubaticOrder(shared), 1.0, kAligned);
    // Without a shared axis, 0.659: the grid's cells (0.3 by 0.6 degrees) stay 1.3e-5 below it.
    const double mix = check::CubaticOrder(tilted), mixGrid = GridMaximum(tilted, 300);
    EXPECT_GE(mix, mixGrid - 1e-9);
    EXPECT_LT(mix - mixGrid, 1e-4);
    // At a fixed director a random frame adds (5 sum c^4 - 3) / 2: mean 0, variance 4/21. The mean
    // of N is a Gaussian field in the 9 degree-4 harmonics, whose maximum is at most
    // sqrt(chi^2_9 x 4/21 / N) by Cauchy-Schwarz; chi^2_9 < 33.7 with probability 1 - 1e-4, so
    // P4 < 0.057 for N = 2000 (about 1/sqrt(N) expected).
    const double p = check::CubaticOrder(randoms), grid = GridMaximum(randoms, 60);
    EXPECT_LT(p, 0.057);
    EXPECT_GE(p, grid - 1e-9);
    EXPECT_LT(p - grid, 5e-4);  // 1.5 by 3 degree cells on a field of curvature about 20 x 0.02
    EXPECT_EQ(check::CubaticOrder({}), 0.0);
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
