#pragma once
// Wall-clock stopwatch for the phase times of a run.

#include <cstdint>

namespace Packing {

class Timer {
 public:
    Timer() = default;
    virtual ~Timer() = default;

    /// Starts (or restarts) the stopwatch at the current system-clock time.
    void Start();
    /// Milliseconds since Start(); the stopwatch keeps running.
    double Elapsed();

    /// Minutes for a millisecond value, the unit every phase time is printed in.
    static double ToMinutes(double ms) { return ms / 1000.0 / 60.0; }

 private:
    int64_t m_start = 0;     ///< ns of the system clock at Start()
    double m_elapsed = 0.0;  ///< last value returned by Elapsed(), ms
};

}  // namespace Packing
