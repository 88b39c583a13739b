// FibRand: determinism, range and uniformity of mrand.
#include <gtest/gtest.h>

#include <vector>

#include "collision/FibRand.h"

namespace {

TEST(FibRand, DeterministicPerSeedAndInRange) {
    col::FibRand a(42), b(42), c(43), neg(-42);
    int sameAsOtherSeed = 0, sameAsNegSeed = 0;
    for (int i = 0; i < 100000; ++i) {
        const unsigned x = a.rand();
        ASSERT_EQ(x, b.rand());
        ASSERT_LT(x, 1u << 30);
        sameAsOtherSeed += x == c.rand();
        sameAsNegSeed += x == neg.rand();
    }
    EXPECT_LT(sameAsOtherSeed, 3);
    EXPECT_LT(sameAsNegSeed, 3);
}

// Pearson chi-square of `draws` values of mrand(n) over the n bins.
double chiSquare(col::FibRand& g, unsigned n, int draws) {
    std::vector<int> bins(n, 0);
    for (int i = 0; i < draws; ++i) {
        const unsigned v = g.mrand(n);
        EXPECT_LT(v, n);
        if (v < n) ++bins[v];
    }
    const double expect = double(draws) / n;
    double chi = 0;
    for (int k : bins) chi += (k - expect) * (k - expect) / expect;
    return chi;
}

TEST(FibRand, MrandIsUniformWithoutModuloBias) {
    col::FibRand g(7);
    // Thresholds lie about 6 standard deviations above the chi-square mean (n - 1).
    EXPECT_LT(chiSquare(g, 3, 30000), 25.0);
    EXPECT_LT(chiSquare(g, 7, 70000), 40.0);
    EXPECT_LT(chiSquare(g, 1000, 200000), 999 + 6 * 44.7);
    EXPECT_EQ(g.mrand(1), 0u);
    for (int i = 0; i < 1000; ++i) ASSERT_LT(g.mrand(0xFFFFFFFFu), 0xFFFFFFFFu);
    // n = 2^30 / 1.5: folding rand() with % puts 2/3 of the draws into the lower half of [0, n).
    const unsigned n = 715827883u;
    const int draws = 30000;
    col::FibRand h(99), raw(99);
    int lowHalf = 0, lowHalfModulo = 0;
    for (int i = 0; i < draws; ++i) {
        lowHalf += h.mrand(n) < n / 2;
        lowHalfModulo += raw.rand() % n < n / 2;
    }
    EXPECT_NEAR(double(lowHalf) / draws, 0.5, 0.02);
    EXPECT_GT(double(lowHalfModulo) / draws, 0.62);  // the same statistic does catch the biased folding
}

}  // namespace
