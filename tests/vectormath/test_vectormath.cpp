// Vectormath::Aos checked against glm on seeded random inputs: the vector, point and matrix
// operations the packing, the statistics and the tools use.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <glm/glm.hpp>
#include <glm/gtc/matrix_access.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <random>

#include "vectormath/vectormath_aos.h"

using namespace Vectormath::Aos;

namespace {

constexpr int kCases = 200;
// Inputs are O(1) and every routine is a few dozen float operations: a few ulp of 1.
constexpr float kTol = 2e-5f;
// Inverses of matrices with condition number below ~10 amplify rounding by that much, and
// translations up to 5 scaled by up to 2 lose as much.
constexpr float kInvTol = 1e-4f;

struct Rand {
    std::mt19937 gen{20240611u};
    float uni(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(gen); }
    Vector3 vec3(float r = 1.0f) { return {uni(-r, r), uni(-r, r), uni(-r, r)}; }
    Vector3 unit() {
        for (;;)
            if (const Vector3 v = vec3(); lengthSqr(v) > 0.01f) return normalize(v);
    }
    glm::mat4 mat4() {
        glm::mat4 m;
        for (int k = 0; k < 16; ++k) m[k / 4][k % 4] = uni(-1, 1);
        return m;
    }
};

glm::vec3 G(const Vector3& v) { return {v.getX(), v.getY(), v.getZ()}; }
glm::vec4 G(const Vector4& v) { return {v.getX(), v.getY(), v.getZ(), v.getW()}; }
Vector4 V(const glm::vec4& v) { return {v.x, v.y, v.z, v.w}; }
Matrix4 M4(const glm::mat4& g) { return {V(g[0]), V(g[1]), V(g[2]), V(g[3])}; }
Matrix3 M3(const glm::mat3& g) {
    return {{g[0].x, g[0].y, g[0].z}, {g[1].x, g[1].y, g[1].z}, {g[2].x, g[2].y, g[2].z}};
}

template <int N, class Ours, class Theirs>
float MaxDiff(const Ours& a, const Theirs& b) {
    float d = 0.0f;
    for (int k = 0; k < N * N; ++k) d = std::max(d, std::fabs(a.getElem(k / N, k % N) - b[k / N][k % N]));
    return d;
}
float Diff(const Matrix4& a, const glm::mat4& b) { return MaxDiff<4>(a, b); }
float Diff(const Matrix3& a, const glm::mat3& b) { return MaxDiff<3>(a, b); }
float Diff(const Vector3& a, const glm::vec3& b) { return glm::length(G(a) - b); }
float Diff(const Vector4& a, const glm::vec4& b) { return glm::length(G(a) - b); }

}  // namespace

TEST(Vectormath, VectorAndPointOpsMatchGlm) {
    Rand rnd;
    for (int i = 0; i < kCases; ++i) {
        const Vector3 a = rnd.vec3(2.0f), b = rnd.vec3(2.0f);
        const float t = rnd.uni(0.0f, 1.0f);
        EXPECT_NEAR(dot(a, b), glm::dot(G(a), G(b)), kTol);
        EXPECT_LT(Diff(cross(a, b), glm::cross(G(a), G(b))), kTol) << i;
        EXPECT_LT(Diff(normalize(a), glm::normalize(G(a))), kTol) << i;
        EXPECT_NEAR(length(a), glm::length(G(a)), kTol);
        EXPECT_NEAR(lengthSqr(a), glm::dot(G(a), G(a)), kTol);
        EXPECT_LT(Diff(lerp(t, a, b), glm::mix(G(a), G(b), t)), kTol) << i;
        const Point3 p(a), q(b);
        EXPECT_NEAR(dist(p, q), glm::distance(G(a), G(b)), kTol);
        EXPECT_LT(Diff(Vector3((p + (q - p)) - q), glm::vec3(0.0f)), kTol) << i;
        const Vector4 a4(a, t), b4(b, -t);
        EXPECT_NEAR(dot(a4, b4), glm::dot(G(a4), G(b4)), kTol);
        EXPECT_LT(Diff(normalize(a4), glm::normalize(G(a4))), kTol) << i;
        EXPECT_EQ(Diff(a4.getXYZ(), G(a)), 0.0f);
    }
    // Zero defaults are part of the contract: members of densepack types rely on them.
    EXPECT_EQ(lengthSqr(Vector3()), 0.0f);
    EXPECT_EQ(Diff(Matrix4(), glm::mat4(0.0f)), 0.0f);
}

TEST(Vectormath, MatrixProductsTransposesInversesAndLayoutMatchGlm) {
    Rand rnd;
    for (int i = 0; i < kCases; ++i) {
        const glm::mat4 ga = rnd.mat4(), gb = rnd.mat4(), gi = ga + glm::mat4(4.0f);  // gi diagonally dominant
        const Matrix4 a = M4(ga), b = M4(gb);
        const glm::vec4 gv(rnd.uni(-1, 1), rnd.uni(-1, 1), rnd.uni(-1, 1), rnd.uni(-1, 1));
        const glm::vec3 g3(gv);
        const Vector3 v3(g3.x, g3.y, g3.z);
        // Column-major: element (col, row) and data()[col * 4 + row] are glm's m[col][row].
        for (int k = 0; k < 16; ++k) ASSERT_EQ(a.data()[k], glm::value_ptr(ga)[k]);
        EXPECT_EQ(Diff(a.getCol3(), ga[3]), 0.0f);
        EXPECT_LT(Diff(a * b, ga * gb), kTol) << i;
        EXPECT_LT(Diff(a * V(gv), ga * gv), kTol) << i;
        EXPECT_LT(Diff(a * v3, ga * glm::vec4(g3, 0.0f)), kTol) << i;
        EXPECT_LT(Diff(a * Point3(v3), ga * glm::vec4(g3, 1.0f)), kTol) << i;
        EXPECT_LT(Diff(transpose(a), glm::transpose(ga)), kTol) << i;
        EXPECT_LT(Diff(inverse(M4(gi)), glm::inverse(gi)), kInvTol) << i;

        const glm::mat3 ga3(ga), gb3(gb), gi3(gi);
        const Matrix3 a3 = M3(ga3);
        EXPECT_EQ(Diff(a.getUpper3x3(), ga3), 0.0f);
        EXPECT_LT(Diff(a3 * M3(gb3), ga3 * gb3), kTol) << i;
        EXPECT_LT(Diff(a3 * v3, ga3 * g3), kTol) << i;
        EXPECT_LT(Diff(transpose(a3), glm::transpose(ga3)), kTol) << i;
        EXPECT_LT(Diff(inverse(M3(gi3)), glm::inverse(gi3)), kInvTol) << i;
        Matrix4 set = Matrix4::identity();
        set.setUpper3x3(a3);
        set.setTranslation(v3);
        EXPECT_EQ(
            Diff(set, glm::mat4(glm::vec4(ga3[0], 0), glm::vec4(ga3[1], 0), glm::vec4(ga3[2], 0), glm::vec4(g3, 1))),
            0.0f);
    }
}

TEST(Vectormath, RotationsAndTheWorldTransformTranslateRotateScaleMatchGlm) {
    Rand rnd;
    const glm::mat4 I(1.0f);
    for (int i = 0; i < kCases; ++i) {
        const float angle = rnd.uni(-6.0f, 6.0f);
        const Vector3 axis = rnd.unit(), t = rnd.vec3(5.0f),
                      s(rnd.uni(0.5f, 2.0f), rnd.uni(0.5f, 2.0f), rnd.uni(0.5f, 2.0f));
        const glm::mat4 gR = glm::rotate(I, angle, G(axis));
        const Matrix4 r = Matrix4::rotation(angle, axis);
        EXPECT_LT(Diff(r, gR), kTol) << i;
        EXPECT_LT(Diff(Matrix3::rotation(angle, axis), glm::mat3(gR)), kTol) << i;
        // Back to the quaternion: glm's, up to its sign.
        const Quat q = QuatFromRotation(Matrix3::rotation(angle, axis));
        const glm::quat gq = glm::quat_cast(glm::mat3(gR));
        EXPECT_NEAR(std::fabs(q.getX() * gq.x + q.getY() * gq.y + q.getZ() * gq.z + q.getW() * gq.w), 1.0f, kTol);

        const Matrix4 world = Matrix4::translation(t) * r * Matrix4::scale(s);
        const glm::mat4 gWorld = glm::scale(glm::translate(I, G(t)) * gR, G(s));
        EXPECT_LT(Diff(world, gWorld), kInvTol) << i;
        EXPECT_LT(Diff(inverse(world), glm::inverse(gWorld)), kInvTol) << i;
        EXPECT_EQ(Diff(world.getTranslation(), G(t)), 0.0f);
    }
}
