#pragma once
/// @file FibRand.h
/// Additive lagged Fibonacci pseudo-random generator.
///
/// x[n] = (x[n-24] + x[n-55]) mod 2^32, output = x[n] >> 2, i.e. 30 bits in [0, 2^30).
/// The 55 words of state are filled from the int seed through splitmix64, so every seed
/// (including 0 and negative ones) gives a well-mixed, deterministic sequence; at least one
/// state word is forced odd, which the additive recurrence needs for its full period.
/// Not thread-safe: one generator per thread (or per owner).

#include <cstdint>
#include <vector>

#include "collision/SplitMix.h"

namespace col {

class FibRand {
 public:
    explicit FibRand(int seed) : m_state(kLongLag) {
        uint64_t z = static_cast<uint64_t>(static_cast<int64_t>(seed));
        for (auto& w : m_state) w = static_cast<uint32_t>(splitMix64(z) >> 32);
        m_state[0] |= 1u;
        // The first outputs of a freshly filled lagged table are still correlated with the fill.
        for (int i = 0; i < 4 * kLongLag; ++i) next();
    }

    /// Next value in [0, 2^30).
    unsigned rand() { return next() >> 2; }

    /// Uniform value in [0, n) for n > 0 (n == 0 returns 0). Rejection instead of plain modulo:
    /// values of rand() at or above the largest multiple of n below 2^30 are redrawn, so every
    /// residue is equally likely even for n near 2^30.
    unsigned mrand(unsigned n) {
        if (n == 0) return 0;
        if (n >= kRange) {
            // Needs more than 30 bits: combine two draws into 60 bits and reject likewise.
            const uint64_t range = uint64_t(kRange) * kRange;
            const uint64_t limit = range - range % n;
            uint64_t r;
            do r = uint64_t(rand()) * kRange + rand();
            while (r >= limit);
            return static_cast<unsigned>(r % n);
        }
        const uint32_t limit = kRange - kRange % n;
        uint32_t r;
        do r = rand();
        while (r >= limit);
        return r % n;
    }

 private:
    static constexpr int kLongLag = 55, kShortLag = 24;
    static constexpr uint32_t kRange = 1u << 30;

    uint32_t next() {
        // m_pos indexes x[n-55]; x[n-24] sits 31 slots further on in the ring.
        int j = m_pos + (kLongLag - kShortLag);
        if (j >= kLongLag) j -= kLongLag;
        uint32_t v = m_state[m_pos] + m_state[j];
        m_state[m_pos] = v;
        if (++m_pos == kLongLag) m_pos = 0;
        return v;
    }

    std::vector<uint32_t> m_state;
    int m_pos = 0;
};

}  // namespace col
