// MovingObject defaults, the per-type tables and the global random mapping.

#include <gtest/gtest.h>

#include <memory>

#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/Random.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

namespace {

TEST(MovingObject, StartsAsAnUncolouredIdentityObjectAndLeavesItsMeshAlive) {
    auto geometry = std::make_unique<PackingGeometry>();
    geometry->m_numVertices = 42;
    {
        auto obj = std::make_unique<MovingObject>();
        EXPECT_EQ(obj->m_id, -1);
        EXPECT_EQ(obj->m_auxId, -1);
        EXPECT_EQ(obj->m_typeIndex, -1);
        EXPECT_EQ(obj->m_inverseMass, 1.0f);
        EXPECT_EQ(obj->m_impulseScale, 0.0f);
        EXPECT_EQ(obj->m_colorPtr, nullptr);
        EXPECT_FLOAT_EQ(obj->m_color[0], 0.929f);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(obj->m_color) % 16, 0u);
        const Vector3 probe(1, 2, 3);
        EXPECT_EQ(length((obj->m_modelMatrix * probe).getXYZ() - probe), 0.0f);
        EXPECT_EQ(length((obj->m_savedRotationMatrix * probe).getXYZ() - probe), 0.0f);
        EXPECT_EQ(length(obj->m_inverseInertia * probe), 0.0f) << "zero inertia until the algorithms set it";
        obj->m_geometry = geometry.get();
        obj->m_name = "sphere";
    }
    EXPECT_EQ(geometry->m_numVertices, 42u) << "the object did not own its mesh";
    EXPECT_EQ(MovingObject::fill_mode, 6913);
}

TEST(MovingObject, TypeTablesStartAtZAxisAndZeroAngle) {
    MovingObject::AllocateTypeTables(3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(length(MovingObject::m_rotDir[i] - Vector3(0, 0, 1)), 0.0f);
        EXPECT_EQ(length(MovingObject::m_translation[i] - Vector3(0, 0, 1)), 0.0f);
        EXPECT_EQ(MovingObject::m_angle[i], 0.0f);
    }
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
        ASSERT_GE(v, 2.0f);
        ASSERT_LT(v, 5.0f);
        (v < 3.5f ? low : high)++;
    }
    EXPECT_GT(low, 800);
    EXPECT_GT(high, 800);
}

}  // namespace
