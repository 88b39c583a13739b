#pragma once
/// @file StatisticsCallbacks.h
/// Collision reactions of the two measures of a finished packing. Both are registered with the
/// objects' m_auxId in a pipeline of the statistics' own.

#include "collision/Callback.h"

class MovingObject;

/// Surface density: sums the overlap the library reports for (container, object) into the
/// container's m_overlap. The container is recognised by its inverse mass of 0; any other pair
/// contributes nothing.
class SurfaceDensityCallback : public col::Callback {
 public:
    SurfaceDensityCallback(MovingObject& first, MovingObject& second);
    ~SurfaceDensityCallback() override = default;
    void operator()(const col::Data* data) override;

 private:
    MovingObject& m_first;
    MovingObject& m_second;
};

/// Hopkins probes: sets the overlap flag and pushes the probe (second) off the container wall
/// (first) through both objects' velocities, for ResolveOverlap to integrate.
class HopkinsCallback : public col::Callback {
 public:
    HopkinsCallback(MovingObject& first, MovingObject& second, bool& overlapFlag);
    ~HopkinsCallback() override = default;
    /// A report without sphere pairs prints "IsecData was NULL!" and changes only the flag.
    void operator()(const col::Data* data) override;

 private:
    MovingObject& m_first;
    MovingObject& m_second;
    bool& m_flag;
};
