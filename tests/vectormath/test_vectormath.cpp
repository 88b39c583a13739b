// Vectormath::Aos checked against glm on seeded random inputs.

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

constexpr unsigned kSeed = 20240611u;
constexpr int kCases = 200;
// Inputs are O(1) and every routine is a few dozen float operations: a few ulp of 1.
constexpr float kTol = 2e-5f;
// Inverses of matrices with condition number below ~10 amplify rounding by that much.
constexpr float kInvTol = 1e-4f;
// Shortest arc: |v0 + v1| -> 0 amplifies the inputs' unit-length rounding by 1 / |v0 + v1|.
constexpr float kArcTol = 1e-4f;
constexpr float kNearOppositeTol = 1e-3f;  // for |v0 + v1| ~ 1e-3
// Projection entries reach 2n f/(n-f) ~ 1e2 for the ranges used, so absolute error grows with them.
constexpr float kProjTol = 1e-4f;

class Rand {
 public:
    float uni(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(m_gen); }
    Vector3 vec3(float r = 1.0f) { return {uni(-r, r), uni(-r, r), uni(-r, r)}; }
    Vector3 unit() {
        for (;;) {
            Vector3 v = vec3();
            if (lengthSqr(v) > 0.01f) return normalize(v);
        }
    }
    Quat quat() { return Quat::rotation(uni(-3.1f, 3.1f), unit()); }
    glm::mat4 mat4() {
        glm::mat4 m;
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r) m[c][r] = uni(-1, 1);
        return m;
    }
    /// Diagonally dominant, so well conditioned.
    glm::mat4 invertible4() { return mat4() + glm::mat4(4.0f); }

 private:
    std::mt19937 m_gen{kSeed};
};

glm::vec3 G(const Vector3& v) { return {v.getX(), v.getY(), v.getZ()}; }
glm::vec4 G(const Vector4& v) { return {v.getX(), v.getY(), v.getZ(), v.getW()}; }
glm::quat G(const Quat& q) { return glm::quat(q.getW(), q.getX(), q.getY(), q.getZ()); }
Vector4 V(const glm::vec4& v) { return {v.x, v.y, v.z, v.w}; }
Matrix4 M4(const glm::mat4& g) { return {V(g[0]), V(g[1]), V(g[2]), V(g[3])}; }
Matrix3 M3(const glm::mat3& g) {
    return {{g[0].x, g[0].y, g[0].z}, {g[1].x, g[1].y, g[1].z}, {g[2].x, g[2].y, g[2].z}};
}

template <int N, class Ours, class Theirs>
float maxDiff(const Ours& a, const Theirs& b) {
    float d = 0.0f;
    for (int c = 0; c < N; ++c)
        for (int r = 0; r < N; ++r) d = std::max(d, std::fabs(a.getElem(c, r) - b[c][r]));
    return d;
}
float maxDiff(const Matrix4& a, const glm::mat4& b) { return maxDiff<4>(a, b); }
float maxDiff(const Matrix3& a, const glm::mat3& b) { return maxDiff<3>(a, b); }
float maxDiff(const Vector3& a, const glm::vec3& b) { return glm::length(G(a) - b); }
float maxDiff(const Vector4& a, const glm::vec4& b) { return glm::length(G(a) - b); }
float maxDiff(const Quat& a, const glm::quat& b) {
    return glm::length(glm::vec4(G(a).x - b.x, G(a).y - b.y, G(a).z - b.z, G(a).w - b.w));
}

}  // namespace

TEST(Vectormath, VectorOpsMatchGlm) {
    Rand rnd;
    for (int i = 0; i < kCases; ++i) {
        const Vector3 a = rnd.vec3(2.0f), b = rnd.vec3(2.0f);
        const float t = rnd.uni(0.0f, 1.0f);
        EXPECT_NEAR(dot(a, b), glm::dot(G(a), G(b)), kTol);
        EXPECT_LT(maxDiff(cross(a, b), glm::cross(G(a), G(b))), kTol) << i;
        EXPECT_LT(maxDiff(normalize(a), glm::normalize(G(a))), kTol) << i;
        EXPECT_NEAR(length(a), glm::length(G(a)), kTol);
        EXPECT_LT(maxDiff(lerp(t, a, b), glm::mix(G(a), G(b), t)), kTol) << i;
        EXPECT_LT(maxDiff(minPerElem(a, b), glm::min(G(a), G(b))), kTol) << i;
        EXPECT_LT(maxDiff(maxPerElem(a, b), glm::max(G(a), G(b))), kTol) << i;
        EXPECT_EQ(maxElem(a), std::max({a[0], a[1], a[2]}));
        EXPECT_LT(maxDiff(outer(a, b), glm::outerProduct(G(a), G(b))), kTol) << i;
        const Point3 p(a), q(b);
        EXPECT_NEAR(dist(p, q), glm::distance(G(a), G(b)), kTol);
        EXPECT_LT(maxDiff(Vector3((p + (q - p)) - q), glm::vec3(0.0f)), kTol) << i;
        const Vector4 a4(a, t), b4(b, -t);
        EXPECT_NEAR(dot(a4, b4), glm::dot(G(a4), G(b4)), kTol);
        EXPECT_LT(maxDiff(normalize(a4), glm::normalize(G(a4))), kTol) << i;
    }
    // Zero defaults are part of the contract: members of densepack types rely on them.
    EXPECT_EQ(lengthSqr(Vector3()), 0.0f);
    EXPECT_EQ(norm(Quat()), 0.0f);
    EXPECT_EQ(maxDiff(Matrix4(), glm::mat4(0.0f)), 0.0f);
}

TEST(Vectormath, MatrixProductsTransposeAndLayoutMatchGlm) {
    Rand rnd;
    for (int i = 0; i < kCases; ++i) {
        const glm::mat4 ga = rnd.mat4(), gb = rnd.mat4();
        const Matrix4 a = M4(ga), b = M4(gb);
        const glm::vec4 gv(rnd.uni(-1, 1), rnd.uni(-1, 1), rnd.uni(-1, 1), rnd.uni(-1, 1));
        const glm::vec3 g3(gv);
        // Column-major: element (col, row) and data()[col * 4 + row] are glm's m[col][row].
        for (int k = 0; k < 16; ++k) ASSERT_EQ(a.data()[k], glm::value_ptr(ga)[k]);
        for (int r = 0; r < 4; ++r) EXPECT_EQ(maxDiff(a.getRow(r), glm::row(ga, r)), 0.0f);
        EXPECT_LT(maxDiff(a * b, ga * gb), kTol) << i;
        EXPECT_LT(maxDiff(a * V(gv), ga * gv), kTol) << i;
        EXPECT_LT(maxDiff(a * Vector3(g3.x, g3.y, g3.z), ga * glm::vec4(g3, 0.0f)), kTol) << i;
        EXPECT_LT(maxDiff(a * Point3(g3.x, g3.y, g3.z), ga * glm::vec4(g3, 1.0f)), kTol) << i;
        EXPECT_LT(maxDiff(transpose(a), glm::transpose(ga)), kTol) << i;
        EXPECT_NEAR(determinant(a), glm::determinant(ga), kTol);

        const glm::mat3 ga3(ga), gb3(gb);
        const Matrix3 a3 = M3(ga3), b3 = M3(gb3);
        EXPECT_EQ(maxDiff(a.getUpper3x3(), ga3), 0.0f);
        EXPECT_LT(maxDiff(a3 * b3, ga3 * gb3), kTol) << i;
        EXPECT_LT(maxDiff(a3 * Vector3(g3.x, g3.y, g3.z), ga3 * g3), kTol) << i;
        EXPECT_LT(maxDiff(transpose(a3), glm::transpose(ga3)), kTol) << i;
        EXPECT_NEAR(determinant(a3), glm::determinant(ga3), kTol);
        float packed[9];
        toFloat9(a3, packed);
        for (int k = 0; k < 9; ++k) ASSERT_EQ(packed[k], glm::value_ptr(ga3)[k]);
    }
}

TEST(Vectormath, InversesMatchGlmAndUndoTheMatrix) {
    Rand rnd;
    for (int i = 0; i < kCases; ++i) {
        const glm::mat4 g = rnd.invertible4();
        const Matrix4 m = M4(g);
        EXPECT_LT(maxDiff(inverse(m), glm::inverse(g)), kInvTol) << i;
        EXPECT_LT(maxDiff(m * inverse(m), glm::mat4(1.0f)), kInvTol) << i;
        const glm::mat3 g3(g);
        EXPECT_LT(maxDiff(inverse(M3(g3)), glm::inverse(g3)), kInvTol) << i;
        EXPECT_LT(maxDiff(M3(g3) * inverse(M3(g3)), glm::mat3(1.0f)), kInvTol) << i;

        // Rigid and scaled rigid transforms: the shortcuts must agree with the general inverse.
        const Quat q = rnd.quat();
        const Vector3 t = rnd.vec3(5.0f), s(rnd.uni(0.5f, 2.0f), rnd.uni(0.5f, 2.0f), rnd.uni(0.5f, 2.0f));
        const Matrix4 rigid(q, t);
        const Matrix4 trs = rigid * Matrix4::scale(s);
        const glm::mat4 gRigid = glm::inverse(glm::translate(glm::mat4(1.0f), G(t)) * glm::mat4_cast(G(q)));
        EXPECT_LT(maxDiff(orthoInverse(rigid), gRigid), kInvTol) << i;
        const glm::mat4 gInvTrs =
            glm::inverse(glm::scale(glm::translate(glm::mat4(1.0f), G(t)) * glm::mat4_cast(G(q)), G(s)));
        EXPECT_LT(maxDiff(affineInverse(trs), gInvTrs), kInvTol) << i;
        EXPECT_LT(maxDiff(inverse(trs), gInvTrs), kInvTol) << i;
    }
}

TEST(Vectormath, RotationsAndQuaternionsMatchGlm) {
    Rand rnd;
    const glm::mat4 I(1.0f);
    for (int i = 0; i < kCases; ++i) {
        const float angle = rnd.uni(-6.0f, 6.0f);
        const Vector3 axis = rnd.unit(), v = rnd.vec3(3.0f);
        const glm::mat4 gR = glm::rotate(I, angle, G(axis));
        EXPECT_LT(maxDiff(Matrix4::rotation(angle, axis), gR), kTol) << i;
        EXPECT_LT(maxDiff(Matrix3::rotation(angle, axis), glm::mat3(gR)), kTol) << i;
        EXPECT_LT(maxDiff(Matrix4::rotationX(angle), glm::rotate(I, angle, glm::vec3(1, 0, 0))), kTol) << i;
        EXPECT_LT(maxDiff(Matrix4::rotationY(angle), glm::rotate(I, angle, glm::vec3(0, 1, 0))), kTol) << i;
        EXPECT_LT(maxDiff(Matrix4::rotationZ(angle), glm::rotate(I, angle, glm::vec3(0, 0, 1))), kTol) << i;

        const Quat q = Quat::rotation(angle, axis), p = rnd.quat();
        const glm::quat gq = glm::angleAxis(angle, G(axis)), gp = G(p);
        EXPECT_LT(maxDiff(q, gq), kTol) << i;
        EXPECT_LT(maxDiff(Matrix3(q), glm::mat3_cast(gq)), kTol) << i;
        EXPECT_LT(maxDiff(Matrix4(q, v), glm::translate(I, G(v)) * glm::mat4_cast(gq)), kTol) << i;
        EXPECT_LT(maxDiff(rotate(q, v), gq * G(v)), kTol * 3.0f) << i;  // |v| up to ~5
        EXPECT_LT(maxDiff(q * p, gq * gp), kTol) << i;
        EXPECT_LT(maxDiff(conj(q), glm::conjugate(gq)), kTol) << i;
        EXPECT_LT(maxDiff(normalize(q * 3.0f), gq), kTol) << i;
        EXPECT_NEAR(Quat::rotationY(angle).getY(), glm::angleAxis(angle, glm::vec3(0, 1, 0)).y, kTol);

        const float t = rnd.uni(0.0f, 1.0f);
        EXPECT_LT(maxDiff(slerp(t, q, p), glm::slerp(gq, gp, t)), kTol) << i;
        // Nearly equal and opposite-sign inputs take the linear and shortest-path branches.
        for (float apart : {1e-3f, 0.1f}) {
            const Quat near = q * Quat::rotation(apart, rnd.unit());
            EXPECT_LT(maxDiff(slerp(t, q, -near), glm::slerp(gq, -G(near), t)), kTol) << i << " " << apart;
        }

        // Shortest arc maps one direction onto the other; opposite directions give a half turn.
        const Vector3 from = rnd.unit(), to = rnd.unit();
        EXPECT_LT(maxDiff(rotate(Quat::rotation(from, to), from), G(to)), kArcTol) << i;
        const Vector3 almostOpposite = normalize(-from + normalize(cross(from, rnd.unit())) * 1e-3f);
        EXPECT_LT(maxDiff(rotate(Quat::rotation(from, almostOpposite), from), G(almostOpposite)), kNearOppositeTol)
            << i;
        const Quat flip = Quat::rotation(from, -from);
        EXPECT_NEAR(length(flip), 1.0f, kTol);
        EXPECT_LT(maxDiff(rotate(flip, from), -G(from)), kTol) << i;
    }
    EXPECT_LT(
        maxDiff(rotate(Quat::rotation(Vector3::xAxis(), -Vector3::xAxis()), Vector3::xAxis()), glm::vec3(-1, 0, 0)),
        kTol);
}

TEST(Vectormath, CameraMatricesMatchGlm) {
    Rand rnd;
    for (int i = 0; i < kCases; ++i) {
        const Point3 eye(rnd.vec3(10.0f)), target(rnd.vec3(10.0f));
        Vector3 up = rnd.unit();
        if (std::fabs(dot(up, normalize(target - eye))) > 0.95f)
            continue;  // near-parallel up has no well-defined view basis
        EXPECT_LT(maxDiff(Matrix4::lookAt(eye, target, up), glm::lookAt(G(Vector3(eye)), G(Vector3(target)), G(up))),
                  kInvTol)
            << i;
        const float fovy = rnd.uni(0.3f, 2.5f), aspect = rnd.uni(0.5f, 2.0f);
        const float n = rnd.uni(0.05f, 1.0f), f = n + rnd.uni(1.0f, 100.0f);
        EXPECT_LT(maxDiff(Matrix4::perspective(fovy, aspect, n, f), glm::perspective(fovy, aspect, n, f)), kProjTol)
            << i;
        const float l = rnd.uni(-5, -1), r = rnd.uni(1, 5), b = rnd.uni(-5, -1), t = rnd.uni(1, 5);
        EXPECT_LT(maxDiff(Matrix4::orthographic(l, r, b, t, n, f), glm::ortho(l, r, b, t, n, f)), kProjTol) << i;
    }
}

TEST(Vectormath, WorldTransformIsTranslateRotateScale) {
    Rand rnd;
    for (int i = 0; i < kCases; ++i) {
        const Quat q = rnd.quat();
        const Vector3 t = rnd.vec3(5.0f), s(rnd.uni(0.5f, 2.0f), rnd.uni(0.5f, 2.0f), rnd.uni(0.5f, 2.0f));
        const Point3 p(rnd.vec3());
        const Matrix4 world = Matrix4::translation(t) * Matrix4::rotation(q) * Matrix4::scale(s);
        const Vector3 expect = t + rotate(q, mulPerElem(s, Vector3(p)));
        EXPECT_LT(maxDiff((world * p).getXYZ(), G(expect)), kInvTol) << i;
        EXPECT_LT(maxDiff(world * Vector3(p), glm::vec4(G(expect - t), 0.0f)), kInvTol) << i;
        EXPECT_EQ(maxDiff(world.getTranslation(), G(t)), 0.0f);

        const Matrix4 rt(q, t);
        const glm::mat4 gS = glm::scale(glm::mat4(1.0f), G(s));
        const glm::mat4 gRT = glm::translate(glm::mat4(1.0f), G(t)) * glm::mat4_cast(G(q));
        EXPECT_LT(maxDiff(appendScale(rt, s), gRT * gS), kTol) << i;
        EXPECT_LT(maxDiff(prependScale(s, rt), gS * gRT), kInvTol) << i;  // translation up to 5, scaled by 2
        const Matrix3 r3(q);
        EXPECT_LT(maxDiff(appendScale(r3, s), glm::mat3(gRT) * glm::mat3(gS)), kTol) << i;
        EXPECT_LT(maxDiff(prependScale(s, r3), glm::mat3(gS) * glm::mat3(gRT)), kTol) << i;
    }
}
