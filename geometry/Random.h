#pragma once
// The system's one global random generator and its helpers.

#include "collision/FibRand.h"

/// The global generator; seeded with the start time during static initialisation,
/// or with --seed through seedGlobalRandom before anything draws from it.
extern col::FibRand* g_PRNG;

/// Uniform value from M towards N: M + r / (2^30 / (N - M)) with r the next draw of g_PRNG.
/// The result lies in [M, N) for M < N.
float randMToN(float M, float N);

/// randMToN for a given generator value r in [0, 2^30).
float randMToNFrom(unsigned r, float M, float N);

/// Replaces the global generator by one seeded with `seed` and makes every algorithm
/// generator created afterwards start from `seed` too (see algorithmSeed).
void seedGlobalRandom(unsigned seed);

/// Seed for an algorithm's own generator: the --seed value if one was given, else the
/// current time in seconds.
int algorithmSeed();
