#include "algorithms/Limits.h"

#include <algorithm>
#include <cmath>

namespace Packing {

namespace {
LimitSettings g_limits;
}  // namespace

void SetLimits(const LimitSettings& settings) {
    g_limits = settings;
    if (g_limits.stepsPerSecond < 1) g_limits.stepsPerSecond = 1;
}

const LimitSettings& Limits() { return g_limits; }

Limit::Limit(double seconds) : Limit(seconds, 1.0) {}

Limit::Limit(double seconds, double iterationsPerStep) : m_seconds(seconds), m_start(std::chrono::system_clock::now()) {
    if (g_limits.mode == LimitMode::Steps) {
        const double steps = std::llround(seconds * static_cast<double>(g_limits.stepsPerSecond) * iterationsPerStep);
        m_budget = steps < 1.0 ? 1 : static_cast<int64_t>(steps);
    }
}

Limit::Limit(double seconds, int64_t budget, bool)
    : m_seconds(seconds), m_budget(budget < 1 ? 1 : budget), m_start(std::chrono::system_clock::now()) {}

Limit Limit::Part(double share, double iterationCost) const {
    const double left = std::max(0.0, 1.0 - Used());
    const double cost = iterationCost > 0.0 ? iterationCost : 1.0;
    const double budget = static_cast<double>(m_budget - std::min(m_budget, m_iterations)) * share / cost;
    return Limit(m_seconds * left * share, static_cast<int64_t>(std::llround(budget)), true);
}

Limit Limit::Extra(double share, int64_t atLeast) const {
    Limit extra(m_seconds * share, static_cast<int64_t>(std::llround(static_cast<double>(m_budget) * share)), true);
    extra.m_atLeast = atLeast;
    return extra;
}

void Limit::Charge(double iterations) { m_iterations += static_cast<int64_t>(std::llround(iterations)); }

bool Limit::Passed() {
    ++m_iterations;
    if (m_iterations < m_atLeast) return false;
    if (g_limits.mode == LimitMode::Steps) return m_iterations >= m_budget;
    return Elapsed() > m_seconds;
}

double Limit::Elapsed() const {
    const std::chrono::duration<double> elapsed = std::chrono::system_clock::now() - m_start;
    return elapsed.count();
}

double Limit::Used() const {
    if (g_limits.mode == LimitMode::Steps) return static_cast<double>(m_iterations) / static_cast<double>(m_budget);
    return m_seconds > 0.0 ? Elapsed() / m_seconds : 1.0;
}

}  // namespace Packing
