#include "geometry/Random.h"

#include <ctime>

col::FibRand* g_PRNG = new col::FibRand(static_cast<int>(time(nullptr)));

namespace {
bool g_fixedSeed = false;
unsigned g_seedValue = 0;
}  // namespace

float randMToN(float M, float N) {
    const unsigned r = g_PRNG->rand();
    return M + static_cast<float>(r) / (1073741824.0f / (N - M));
}

void seedGlobalRandom(unsigned seed) {
    // Reseeded in place, so code that cached the pointer draws from the new sequence.
    *g_PRNG = col::FibRand(static_cast<int>(seed));
    g_fixedSeed = true;
    g_seedValue = seed;
}

int algorithmSeed() {
    return g_fixedSeed ? static_cast<int>(g_seedValue) : static_cast<int>(time(nullptr));
}
