#pragma once
/// @file BallGrowth.h
/// Event-driven growth of hard balls in a box: the balls fly straight, bounce elastically off each
/// other and the walls, and all grow at one rate until they reach a target size or jam. Collisions
/// carry the pressure through the whole packing at once, which local trial moves do not: balls
/// pressed this way end near random close packing in a fraction of the time. The compression runs
/// it first on bodies that are nearly balls, on their enclosing balls.

#include <cstdint>
#include <functional>
#include <vector>

namespace Packing::compression {

struct BallGrowthSettings {
    /// Growth of a diameter per unit of flight of a ball at the mean speed: faster jams looser, slower
    /// gives the balls time to order.
    double rate = 0.02;
    /// Over a block of this many events per ball, the size must grow by more than `jamProgress` of
    /// itself, or the balls are jammed.
    int blockEvents = 20;
    double jamProgress = 1e-5;
};

struct BallGrowthResult {
    double scale = 0.0;  ///< the common scale reached; no two balls and no ball and wall overlap there
    int64_t events = 0;  ///< collisions with balls and walls
    bool jammed = false;
    bool stopped = false;  ///< `stop` said so
};

/// Grows balls of radius radii[i] * scale about centres (x, y, z per ball, moved in place) inside the
/// box [lo, hi] from `scale` to at most `targetScale`; balls that overlap each other or the wall
/// there start from the largest scale at which none does (the result may then be below `scale`). `stop` is asked once
/// per block of as many events as there are balls (one sweep's worth), with the centres brought up to that moment and
/// the scale then (the balls may touch there); it ends the growth by returning true. The same input gives the same
/// result on every machine.
BallGrowthResult GrowBalls(std::vector<double>& centres, const std::vector<double>& radii, const double lo[3],
                           const double hi[3], double scale, double targetScale, uint64_t seed,
                           const BallGrowthSettings& settings, const std::function<bool(double scale)>& stop);

}  // namespace Packing::compression
