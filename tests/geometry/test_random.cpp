// The global random mapping.

#include <gtest/gtest.h>

#include "geometry/Random.h"

namespace {

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
