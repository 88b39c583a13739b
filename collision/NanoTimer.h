#pragma once
/// @file NanoTimer.h
/// Wall-clock stopwatch on the steady (monotonic) clock, in nanoseconds.

#include <chrono>

namespace col {

class NanoTimer {
 public:
    /// Starts running at construction.
    NanoTimer() { start(); }
    void start() { m_start = std::chrono::steady_clock::now(); }
    /// Nanoseconds since the last start() (or construction).
    double elapsed() const {
        return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - m_start).count();
    }

 private:
    std::chrono::steady_clock::time_point m_start;
};

}  // namespace col
