#pragma once
/// @file SplitMix.h
/// One step of splitmix64: advances the state and returns a well-mixed 64-bit value. The same
/// numbers with any standard library, for seeding and for small per-owner generators.

#include <cstdint>

namespace col {

inline uint64_t splitMix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace col
