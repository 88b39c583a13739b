// The two impulse variants on small contacts whose results are worked out by hand, and the
// global random mapping.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/MovingObject.h"
#include "geometry/Random.h"

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

namespace {

const float kEps = 1e-5f;  // a handful of float operations on values of order 1

void ExpectVec(const Vector3& got, const Vector3& want, const char* what) {
    EXPECT_NEAR(got.getX(), want.getX(), kEps) << what;
    EXPECT_NEAR(got.getY(), want.getY(), kEps) << what;
    EXPECT_NEAR(got.getZ(), want.getZ(), kEps) << what;
}

MovingObject Body(const Vector3& position, const Matrix3& inverseInertia = Matrix3::identity()) {
    MovingObject o;
    o.m_position = position;
    o.m_translationMatrix = Matrix4::translation(position);
    o.m_modelMatrix = o.m_translationMatrix;
    o.m_impulseScale = 5.0f;
    o.m_inverseInertia = inverseInertia;
    return o;
}

using Spheres = std::vector<col::SphereIntersectionData>;

// Head on: two spheres 0.8 apart along x, centred on their objects. Off centre: w1 = (0.5, 0.3,
// 0.1), w2 = (0.6, 0.4, 0.1): n = -(1, 1, 0)/sqrt2, p = (0.55, 0.35, 0.1). r1 x n = (0.1, -0.1,
// -0.2)/sqrt2 and, with b at (1, 0, 0), r2 x n = (0.1, -0.1, 0.8)/sqrt2; the spin steps are those
// directions (through each body-frame inverse inertia) at length 0.25.
TEST(ApplyImpulse2, HeadOnOffCentreAgainstTheContainerAndDegenerateEntries) {
    MovingObject a = Body(Vector3(0, 0, 0)), b = Body(Vector3(0.8f, 0, 0));
    const Spheres headOn = {{Point3(0, 0, 0), 0.5f, Point3(0, 0, 0), 0.5f}};
    a.ApplyImpulse2(&b, &headOn);
    ExpectVec(a.m_velocity, Vector3(-1, 0, 0), "a pushed away from b");
    ExpectVec(b.m_velocity, Vector3(1, 0, 0), "b the other way");
    ExpectVec(a.m_force, Vector3(-5, 0, 0), "force = impulse scale * n");
    ExpectVec(b.m_force, Vector3(5, 0, 0), "b force");
    ExpectVec(a.m_angularVelocity, Vector3(0, 0, 0), "contact on the line of centres");
    ExpectVec(b.m_angularVelocity, Vector3(0, 0, 0), "no spin for b");

    // A second partner adds up, and the sum of directions is not normalised.
    a.ApplyImpulse2(&b, &headOn);
    ExpectVec(a.m_velocity, Vector3(-2, 0, 0), "accumulates");

    const Spheres s = {{Point3(0.5f, 0.3f, 0.1f), 0.2f, Point3(-0.4f, 0.4f, 0.1f), 0.2f}};
    MovingObject o = Body(Vector3(0, 0, 0)), p = Body(Vector3(1, 0, 0));
    o.ApplyImpulse2(&p, &s);
    const float h = 1.0f / std::sqrt(2.0f);
    ExpectVec(o.m_velocity, Vector3(-h, -h, 0), "normal from b to a");
    ExpectVec(o.m_angularVelocity, 0.25f * normalize(Vector3(0.1f, -0.1f, -0.2f)), "a spin");
    ExpectVec(p.m_angularVelocity, 0.25f * normalize(Vector3(0.1f, -0.1f, 0.8f)), "b spin, same impulse sign");

    // Anisotropic inertia turns the direction: diag(1, 2, 3) * (0.1, -0.1, -0.2).
    MovingObject c = Body(Vector3(0, 0, 0), Matrix3::scale(Vector3(1, 2, 3))), d = Body(Vector3(1, 0, 0));
    c.ApplyImpulse2(&d, &s);
    ExpectVec(c.m_angularVelocity, 0.25f * normalize(Vector3(0.1f, -0.2f, -0.6f)), "body-frame inertia");

    // An axis-aligned contact gives a torque with zero components: no spin is applied.
    const Spheres axis = {{Point3(0.4f, 0.5f, 0), 0.3f, Point3(-0.4f, 0.5f, 0), 0.3f}};
    MovingObject e = Body(Vector3(0, 0, 0)), f = Body(Vector3(1, 0, 0));
    e.ApplyImpulse2(&f, &axis);
    ExpectVec(e.m_angularVelocity, Vector3(0, 0, 0), "(0, 0, z) torque skipped");
    ExpectVec(e.m_velocity, Vector3(-1, 0, 0), "still pushed");

    // A container with zero inverse mass.
    MovingObject container = Body(Vector3(0, 0, 0), Matrix3());
    container.m_inverseMass = 0.0f;
    MovingObject obj = Body(Vector3(2.5f, 0, 0));
    // Object sphere at its centre touching the wall sphere at x = 2.
    const Spheres wall = {{Point3(0, 0, 0), 0.5f, Point3(2, 0.3f, 0), 0.6f}};
    obj.ApplyImpulse2(&container, &wall);
    ExpectVec(obj.m_velocity, normalize(Vector3(0.5f, -0.3f, 0)), "pushed inward, off the wall");
    ExpectVec(container.m_angularVelocity, Vector3(0, 0, 0), "container cannot turn");
    ExpectVec(container.m_velocity, -normalize(Vector3(0.5f, -0.3f, 0)), "recorded, never integrated");

    // Both immovable and unturnable: no NaN.
    MovingObject w1 = Body(Vector3(0, 0, 0), Matrix3()), w2 = Body(Vector3(1, 0, 0), Matrix3());
    w1.m_inverseMass = w2.m_inverseMass = 0.0f;
    w1.ApplyImpulse2(&w2, &wall);
    EXPECT_FALSE(std::isnan(w1.m_angularVelocity.getX()));

    // Zero radii and coincident centres: no change at all.
    MovingObject m = Body(Vector3(0, 0, 0)), n = Body(Vector3(1, 0, 0));
    const Spheres none = {{Point3(0, 0, 0), 0.0f, Point3(0, 0, 0), 0.5f},
                          {Point3(1, 0, 0), 0.5f, Point3(0, 0, 0), 0.5f}};
    m.ApplyImpulse2(&n, &none);
    m.ApplyImpulse2(&n, nullptr);
    const Spheres empty;
    m.ApplyImpulse2(&n, &empty);
    ExpectVec(m.m_velocity, Vector3(0, 0, 0), "nothing usable");
    ExpectVec(n.m_force, Vector3(0, 0, 0), "other untouched");

    // Skipped entries still count in the contact divisor: one padding entry halves the contact
    // point, from (0.4, 0.1, 0.05) to (0.2, 0.05, 0.025), which turns b's spin direction.
    const Spheres lifted = {{Point3(0, 0.1f, 0), 0.5f, Point3(0, 0.1f, 0.1f), 0.5f}};
    Spheres padded = lifted;
    padded.push_back({Point3(0, 0, 0), 0.0f, Point3(0, 0, 0), 0.0f});
    MovingObject a1 = Body(Vector3(0, 0, 0)), b1 = Body(Vector3(0.8f, 0, 0));
    MovingObject a2 = Body(Vector3(0, 0, 0)), b2 = Body(Vector3(0.8f, 0, 0));
    a1.ApplyImpulse2(&b1, &lifted);
    a2.ApplyImpulse2(&b2, &padded);
    ExpectVec(a1.m_velocity, a2.m_velocity, "same normal");
    ExpectVec(b1.m_angularVelocity, 0.25f * normalize(Vector3(-0.01f, -0.08f, 0.08f)), "contact (0.4, 0.1, 0.05)");
    ExpectVec(b2.m_angularVelocity, 0.25f * normalize(Vector3(-0.005f, -0.08f, 0.04f)), "contact (0.2, 0.05, 0.025)");
}

// Radii 0.6 and 0.4, 0.8 apart along x at height y = 1 above a's centre.
TEST(ApplyImpulse4, TorqueDirectionsDampedVelocityAndCentralForces) {
    MovingObject a = Body(Vector3(0, 0, 0)), b = Body(Vector3(1, 0, 0));
    a.m_velocity = Vector3(0.05f, 0, 0);  // squared speed 0.0025: comes to rest
    b.m_velocity = Vector3(0, 2, 0);
    const Spheres s = {{Point3(0, 1, 0), 0.6f, Point3(-0.2f, 1, 0), 0.4f}};
    a.ApplyImpulse4(&b, &s);
    // F1 = 5 (-1, 0, 0) at height 1: (0 - p) x F1 = (0, 0, -5); F2 = (5, 0, 0): (0, 0, 5).
    ExpectVec(a.m_torque, Vector3(0, 0, -1), "unit torque");
    ExpectVec(b.m_torque, Vector3(0, 0, 1), "other's unit torque");
    ExpectVec(a.m_force, Vector3(-5, 0, 0), "force");
    ExpectVec(b.m_force, Vector3(5, 0, 0), "other force");
    EXPECT_TRUE(a.m_stopped);
    ExpectVec(a.m_velocity, Vector3(0.05f, 0, 0), "a stopped object keeps its velocity");
    EXPECT_FALSE(b.m_stopped);
    ExpectVec(b.m_velocity, Vector3(1.6f, 0, 0), "turned onto -n, damped by 0.8");

    // Forces through the centre leave the torque alone.
    MovingObject o = Body(Vector3(0, 0, 0)), p = Body(Vector3(0.8f, 0, 0));
    o.m_velocity = Vector3(0, 0, 1);
    const Spheres headOn = {{Point3(0, 0, 0), 0.5f, Point3(0, 0, 0), 0.5f}};
    o.ApplyImpulse4(&p, &headOn);
    ExpectVec(o.m_torque, Vector3(0, 0, 0), "zero torque sum skipped");
    EXPECT_FALSE(std::isnan(p.m_torque.getX()));
    ExpectVec(o.m_velocity, Vector3(-0.8f, 0, 0), "speed 1 turned onto n");
    EXPECT_TRUE(p.m_stopped) << "b was at rest";

    MovingObject c = Body(Vector3(0, 0, 0)), d = Body(Vector3(1, 0, 0));
    const Spheres unusable = {{Point3(0, 0, 0), 1e-8f, Point3(0, 0, 0), 0.5f}};
    c.ApplyImpulse4(&d, &unusable);
    EXPECT_FALSE(c.m_stopped) << "no usable pair: nothing happens";
    ExpectVec(c.m_force, Vector3(0, 0, 0), "no force");
}

TEST(RandMToN, MapsTheGeneratorRangeOntoTheHalfOpenInterval) {
    EXPECT_EQ(randMToNFrom(0, 0.0f, 100.0f), 0.0f);
    EXPECT_FLOAT_EQ(randMToNFrom(1u << 29, 0.0f, 100.0f), 50.0f);
    // 2^30 - 1 rounds to 2^30 as a float; the result still stays below N.
    const float top = randMToNFrom((1u << 30) - 1, 0.0f, 100.0f);
    EXPECT_LT(top, 100.0f);
    EXPECT_GT(top, 99.999f);
    EXPECT_LT(randMToNFrom((1u << 30) - 1, -3.0f, 3.0f), 3.0f);

    seedGlobalRandom(7);
    int low = 0, high = 0;
    for (int i = 0; i < 2000; ++i) {
        const float v = randMToN(2.0f, 5.0f);
        ASSERT_TRUE(v >= 2.0f && v < 5.0f) << v;
        (v < 3.5f ? low : high)++;
    }
    EXPECT_GT(low, 800);
    EXPECT_GT(high, 800);
}

}  // namespace
