#pragma once
/// @file StatisticsCallbacks.h
/// Collision reaction of the Hopkins statistic, registered with the objects' m_auxId in a
/// pipeline of the statistics' own.

#include "collision/Callback.h"

class MovingObject;

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
