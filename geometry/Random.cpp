#include "geometry/Random.h"

#include <cmath>
#include <ctime>

col::FibRand* g_PRNG = new col::FibRand(static_cast<int>(time(nullptr)));

namespace {
bool g_fixedSeed = false;
unsigned g_seedValue = 0;
}  // namespace

float randMToN(float M, float N) { return randMToNFrom(g_PRNG->rand(), M, N); }

float randMToNFrom(unsigned r, float M, float N) {
    const float value = M + static_cast<float>(r) / (1073741824.0f / (N - M));
    // The last 64 generator values round up to 2^30 as floats and would give N itself;
    // callers truncate the result to an index, so the end stays excluded.
    if (M < N && value >= N) return std::nextafter(N, M);
    return value;
}

void seedGlobalRandom(unsigned seed) {
    // Reseeded in place, so code that cached the pointer draws from the new sequence.
    *g_PRNG = col::FibRand(static_cast<int>(seed));
    g_fixedSeed = true;
    g_seedValue = seed;
}

int algorithmSeed() { return g_fixedSeed ? static_cast<int>(g_seedValue) : static_cast<int>(time(nullptr)); }
