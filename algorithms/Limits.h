#pragma once
/// @file Limits.h
/// The limits of every relaxation and settling loop: wall-clock seconds by default, or, under
/// `--limits steps`, an iteration budget of K iterations per limit second, so that a run gives the
/// same packing whatever the machine and its load.

#include <chrono>
#include <cstdint>

namespace Packing {

enum class LimitMode {
    Time,  ///< each limit is wall-clock time (the default)
    Steps  ///< each limit is an iteration budget
};

/// Iterations per limit second under `--limits steps` when `--steps-per-second` is not given.
inline constexpr int kDefaultStepsPerSecond = 100;

struct LimitSettings {
    LimitMode mode = LimitMode::Time;
    int stepsPerSecond = kDefaultStepsPerSecond;  ///< K, at least 1
};

/// Process-wide; start-up sets them once before the algorithm thread starts.
void SetLimits(const LimitSettings& settings);
const LimitSettings& Limits();

/// One limit of `seconds`, started at construction.
///
/// Time: passed once more than `seconds` of wall-clock time have gone by when it is asked.
/// Steps: the budget is max(1, round(seconds * K)) iterations; passed when the iteration that asks
/// is the budget-th or a later one. Either way the loop asks once per iteration, after its check,
/// and a limit that has passed wins over a converged check in that same iteration.
class Limit {
 public:
    explicit Limit(double seconds);
    /// A loop whose iteration costs a different share of a second than a relaxation step: the
    /// steps budget is max(1, round(seconds * K * iterationsPerStep)); time mode is unchanged.
    Limit(double seconds, double iterationsPerStep);

    /// Counts one iteration and tells whether the limit has passed.
    bool Passed();

    int64_t iterations() const { return m_iterations; }
    /// The iteration budget under --limits steps (0 under --limits time).
    int64_t budget() const { return m_budget; }
    /// The share of the limit used so far: iterations over the budget, or seconds over the limit.
    double Used() const;

    /// A limit for work done on the side, started now: `share` of what is left of this one, with
    /// iterations that each cost `iterationCost` of this one's (a sweep of fewer bodies).
    Limit Part(double share, double iterationCost) const;
    /// A limit of `share` of this one's whole, started now, in the same iterations, and passed no
    /// sooner than after `atLeast` of them: time granted beyond a limit that has passed (to finish
    /// the work cleanly), enough for that work however short the limit.
    Limit Extra(double share, int64_t atLeast = 0) const;
    /// Counts `iterations` (of this limit's kind) spent on the side, say by a Part.
    void Charge(double iterations);

 private:
    double Elapsed() const;                       ///< wall-clock seconds since construction
    Limit(double seconds, int64_t budget, bool);  ///< a given budget, started now

    double m_seconds;
    int64_t m_budget = 0;
    int64_t m_iterations = 0;
    int64_t m_atLeast = 0;
    std::chrono::system_clock::time_point m_start;
};

}  // namespace Packing
