#include "algorithms/compression/BallGrowth.h"

#include <algorithm>
#include <cmath>

#include "collision/SplitMix.h"

namespace Packing::compression {
namespace {

// What an event is besides a pair (j >= 0): a wall, -1 - (2 axis + side), or the crossing of a
// cell face, kCell - (2 axis + side); side 0 is the low one.
constexpr int32_t kCell = -7;
// A ball with nothing ahead of it.
constexpr int32_t kNone = -100;
// Cells are a hair wider than the largest diameter, so rounding never hides a touching pair.
constexpr double kCellSlack = 1e-6;

// A ball's earliest event: one per ball in a heap of the balls, so the heap stays as large as the
// packing (a queue of every predicted pair grew to tens of times that, and its cache misses made
// a collision among 100,000 balls cost three times one among 1,000).
struct Next {
    double t;
    int32_t j;    ///< partner, or what else (above)
    uint32_t cj;  ///< the partner's collision count when predicted: stale once it differs
};

class Flight {
 public:
    Flight(std::vector<double>& x, const std::vector<double>& radii, const double lo[3], const double hi[3],
           double scale, double growth, double targetScale, uint64_t seed)
        : m_n(radii.size()), m_out(x), m_x(x), m_r(radii), m_s0(scale), m_g(growth) {
        double rMax = 0.0;
        for (double r : m_r) rMax = std::max(rMax, r);
        for (int k = 0; k < 3; ++k) {
            m_lo[k] = lo[k];
            m_hi[k] = hi[k];
            const double width = 2.0 * rMax * targetScale * (1.0 + kCellSlack);
            m_dims[k] = width > 0.0 ? std::max(1, static_cast<int>((hi[k] - lo[k]) / width)) : 1;
            m_w[k] = (hi[k] - lo[k]) / m_dims[k];
        }
        m_cells.resize(static_cast<size_t>(m_dims[0]) * m_dims[1] * m_dims[2]);
        m_cell.resize(3 * m_n);
        m_slot.resize(m_n);
        m_v.resize(3 * m_n);
        m_tp.assign(m_n, 0.0);
        m_count.assign(m_n, 0);
        m_next.assign(m_n, {INFINITY, kNone, 0});
        m_heap.resize(m_n);
        m_pos.resize(m_n);
        for (size_t i = 0; i < m_n; ++i) Place(i, static_cast<int32_t>(i));
        uint64_t state = seed;
        for (size_t i = 0; i < m_n; ++i) {
            for (int k = 0; k < 3; ++k) {
                const double u = static_cast<double>(col::splitMix64(state) >> 11) * (1.0 / 9007199254740992.0);
                m_v[3 * i + k] = 2.0 * u - 1.0;
                const int c = static_cast<int>((m_x[3 * i + k] - m_lo[k]) / m_w[k]);
                m_cell[3 * i + k] = std::clamp(c, 0, m_dims[k] - 1);
            }
            Link(i);
        }
        // Balls that overlap at the start would stay overlapped: start where they are clear.
        m_s0 = ClearScale(scale);
        Thermostat();
    }

    /// Where the flight starts: the given scale, or lower where the balls overlap there.
    double StartScale() const { return m_s0; }
    double Scale(double t) const { return m_s0 + m_g * t; }

    /// Runs events until `tEnd`, a jam, or `stop`; leaves every ball at the time it stopped.
    BallGrowthResult Run(double tEnd, const BallGrowthSettings& settings, const std::function<bool(double)>& stop) {
        BallGrowthResult result;
        const int64_t n = static_cast<int64_t>(m_n);
        const int64_t block = std::max<int64_t>(1, n * settings.blockEvents);
        int64_t sinceStop = 0, sinceBlock = 0;
        double blockScale = Scale(m_now);
        while (true) {
            const size_t i = static_cast<size_t>(m_heap[0]);
            const Next e = m_next[i];
            if (e.t >= tEnd) {
                m_now = std::max(m_now, tEnd);
                break;
            }
            m_now = std::max(m_now, e.t);
            if (e.j >= 0 && m_count[static_cast<size_t>(e.j)] != e.cj) {
                // The partner has changed course (and predicted anew): so must this ball.
                Predict(i);
                continue;
            }
            if (e.j >= 0) {
                Collide(i, static_cast<size_t>(e.j));
            } else if (e.j > kCell) {
                Bounce(i, -1 - e.j);
            } else {
                Cross(i, kCell - e.j);
                continue;
            }
            ++result.events;
            if (++sinceStop >= n) {
                sinceStop = 0;
                if (stop) {
                    // Shown, not advanced: the flight must not depend on who watches it.
                    Export();
                    if (stop(Scale(m_now))) {
                        result.stopped = true;
                        break;
                    }
                }
            }
            if (++sinceBlock >= block) {
                sinceBlock = 0;
                const double s = Scale(m_now);
                if (s - blockScale <= settings.jamProgress * s) {
                    result.jammed = true;
                    break;
                }
                blockScale = s;
                Thermostat();
            }
        }
        for (size_t i = 0; i < m_n; ++i) Advance(i);
        Export();
        result.scale = Scale(m_now);
        return result;
    }

    /// The largest scale up to `s` at which no two balls and no ball and wall overlap.
    double ClearScale(double s) const {
        for (size_t i = 0; i < m_n; ++i) {
            for (int k = 0; k < 3; ++k) {
                const double p = m_x[3 * i + k];
                if (m_r[i] > 0.0) s = std::min(s, std::min(p - m_lo[k], m_hi[k] - p) / m_r[i]);
            }
            ForNear(i, [&](size_t j) {
                if (j <= i) return;
                double d2 = 0.0;
                for (int k = 0; k < 3; ++k) {
                    const double d = m_x[3 * j + k] - m_x[3 * i + k];
                    d2 += d * d;
                }
                const double reach = m_r[i] + m_r[j];
                if (reach > 0.0) s = std::min(s, std::sqrt(d2) / reach);
            });
        }
        return std::max(0.0, s * (1.0 - 1e-12));
    }

 private:
    size_t CellIndex(size_t i) const {
        return (static_cast<size_t>(m_cell[3 * i + 2]) * m_dims[1] + m_cell[3 * i + 1]) * m_dims[0] + m_cell[3 * i];
    }
    void Link(size_t i) {
        auto& members = m_cells[CellIndex(i)];
        m_slot[i] = members.size();
        members.push_back(static_cast<int32_t>(i));
    }
    void Unlink(size_t i) {
        auto& members = m_cells[CellIndex(i)];
        const int32_t last = members.back();
        members[m_slot[i]] = last;
        m_slot[static_cast<size_t>(last)] = m_slot[i];
        members.pop_back();
    }
    // Every other ball in the cells next to ball i's, its own included.
    template <class F>
    void ForNear(size_t i, F&& f) const {
        int from[3], to[3];
        for (int k = 0; k < 3; ++k) {
            const int c = m_cell[3 * i + k];
            from[k] = std::max(c - 1, 0);
            to[k] = std::min(c + 1, m_dims[k] - 1);
        }
        for (int z = from[2]; z <= to[2]; ++z)
            for (int y = from[1]; y <= to[1]; ++y)
                for (int x = from[0]; x <= to[0]; ++x)
                    for (int32_t j : m_cells[(static_cast<size_t>(z) * m_dims[1] + y) * m_dims[0] + x])
                        if (static_cast<size_t>(j) != i) f(static_cast<size_t>(j));
    }

    void Export() const {
        for (size_t i = 0; i < m_n; ++i)
            for (int k = 0; k < 3; ++k) m_out[3 * i + k] = Pos(i, k);
    }
    double Pos(size_t i, int k) const { return m_x[3 * i + k] + m_v[3 * i + k] * (m_now - m_tp[i]); }
    void Advance(size_t i) {
        for (int k = 0; k < 3; ++k) m_x[3 * i + k] = Pos(i, k);
        m_tp[i] = m_now;
    }
    // A candidate for ball i's next event, kept when earlier than what it has.
    void Push(double tau, size_t i, int32_t j) {
        const double t = m_now + std::max(0.0, tau);
        Next& n = m_next[i];
        if (t < n.t || (t == n.t && j < n.j)) n = {t, j, j >= 0 ? m_count[static_cast<size_t>(j)] : 0u};
    }

    bool Before(int32_t a, int32_t b) const {
        const Next &x = m_next[static_cast<size_t>(a)], &y = m_next[static_cast<size_t>(b)];
        return x.t != y.t ? x.t < y.t : a < b;
    }
    void Place(size_t k, int32_t ball) {
        m_heap[k] = ball;
        m_pos[static_cast<size_t>(ball)] = k;
    }
    void SiftUp(size_t k) {
        const int32_t ball = m_heap[k];
        while (k > 0 && Before(ball, m_heap[(k - 1) / 2])) {
            Place(k, m_heap[(k - 1) / 2]);
            k = (k - 1) / 2;
        }
        Place(k, ball);
    }
    void SiftDown(size_t k) {
        const int32_t ball = m_heap[k];
        while (true) {
            size_t c = 2 * k + 1;
            if (c >= m_n) break;
            if (c + 1 < m_n && Before(m_heap[c + 1], m_heap[c])) ++c;
            if (!Before(m_heap[c], ball)) break;
            Place(k, m_heap[c]);
            k = c;
        }
        Place(k, ball);
    }

    void PredictPair(size_t i, size_t j) {
        // The gap closes as |r + dv t| = sigma + sg t; the first root from above of
        // a t^2 + 2 b t + c, taken as c / (-b + sqrt(b^2 - a c)) (no cancellation).
        double r[3], dv[3];
        for (int k = 0; k < 3; ++k) {
            r[k] = Pos(j, k) - Pos(i, k);
            dv[k] = m_v[3 * j + k] - m_v[3 * i + k];
        }
        const double sigma = (m_r[i] + m_r[j]) * Scale(m_now), sg = (m_r[i] + m_r[j]) * m_g;
        const double a = dv[0] * dv[0] + dv[1] * dv[1] + dv[2] * dv[2] - sg * sg;
        const double b = r[0] * dv[0] + r[1] * dv[1] + r[2] * dv[2] - sigma * sg;
        const double c = r[0] * r[0] + r[1] * r[1] + r[2] * r[2] - sigma * sigma;
        if (c <= 0.0) {
            if (b < 0.0) Push(0.0, i, static_cast<int32_t>(j));
            return;
        }
        if (a > 0.0 && b >= 0.0) return;
        const double d = b * b - a * c;
        if (d < 0.0) return;
        const double den = -b + std::sqrt(d);
        if (den > 0.0) Push(c / den, i, static_cast<int32_t>(j));
    }
    void PredictWall(size_t i) {
        double best = INFINITY;
        int32_t code = 0;
        const double s = Scale(m_now);
        for (int k = 0; k < 3; ++k) {
            const double p = Pos(i, k), v = m_v[3 * i + k], grow = m_r[i] * m_g, reach = m_r[i] * s;
            if (v - grow < 0.0) {
                const double tau = (p - m_lo[k] - reach) / (grow - v);
                if (tau < best) best = tau, code = 2 * k;
            }
            if (v + grow > 0.0) {
                const double tau = (m_hi[k] - p - reach) / (v + grow);
                if (tau < best) best = tau, code = 2 * k + 1;
            }
        }
        if (best < INFINITY) Push(best, i, -1 - code);
    }
    void PredictCell(size_t i) {
        double best = INFINITY;
        int32_t code = 0;
        for (int k = 0; k < 3; ++k) {
            const int c = m_cell[3 * i + k];
            const double v = m_v[3 * i + k], p = Pos(i, k);
            if (v > 0.0 && c + 1 < m_dims[k]) {
                const double tau = (m_lo[k] + (c + 1) * m_w[k] - p) / v;
                if (tau < best) best = tau, code = 2 * k + 1;
            } else if (v < 0.0 && c > 0) {
                const double tau = (m_lo[k] + c * m_w[k] - p) / v;
                if (tau < best) best = tau, code = 2 * k;
            }
        }
        if (best < INFINITY) Push(best, i, kCell - code);
    }
    void Predict(size_t i) {
        m_next[i] = {INFINITY, kNone, 0};
        PredictWall(i);
        PredictCell(i);
        ForNear(i, [&](size_t j) { PredictPair(i, j); });
        SiftUp(m_pos[i]);
        SiftDown(m_pos[i]);
    }

    void Collide(size_t i, size_t j) {
        Advance(i);
        Advance(j);
        double n[3], len2 = 0.0;
        for (int k = 0; k < 3; ++k) {
            n[k] = m_x[3 * j + k] - m_x[3 * i + k];
            len2 += n[k] * n[k];
        }
        const double len = std::sqrt(len2);
        if (len > 0.0) {
            double u = 0.0;
            for (int k = 0; k < 3; ++k) {
                n[k] /= len;
                u += (m_v[3 * j + k] - m_v[3 * i + k]) * n[k];
            }
            // Elastic in the frame of the growing contact: the balls leave it as fast as they met
            // it, so they part faster than they grow.
            const double impulse = (m_r[i] + m_r[j]) * m_g - u;
            if (impulse > 0.0)
                for (int k = 0; k < 3; ++k) {
                    m_v[3 * i + k] -= impulse * n[k];
                    m_v[3 * j + k] += impulse * n[k];
                }
        }
        ++m_count[i];
        ++m_count[j];
        Predict(i);
        Predict(j);
    }
    void Bounce(size_t i, int code) {
        Advance(i);
        const int k = code / 2;
        double& v = m_v[3 * i + k];
        const double grow = m_r[i] * m_g;
        if (code % 2 == 0 && v < grow) v = 2.0 * grow - v;
        if (code % 2 == 1 && v > -grow) v = -2.0 * grow - v;
        ++m_count[i];
        Predict(i);
    }
    void Cross(size_t i, int code) {
        Advance(i);
        const int k = code / 2, step = code % 2 == 1 ? 1 : -1;
        Unlink(i);
        m_cell[3 * i + k] += step;
        Link(i);
        Predict(i);
    }

    // Kinetic energy back to three halves per ball (the growth heats the packing), and every
    // prediction afresh.
    void Thermostat() {
        double sum = 0.0;
        for (size_t i = 0; i < m_n; ++i) {
            Advance(i);
            for (int k = 0; k < 3; ++k) sum += m_v[3 * i + k] * m_v[3 * i + k];
        }
        const double f = sum > 0.0 ? std::sqrt(3.0 * static_cast<double>(m_n) / sum) : 1.0;
        for (double& v : m_v) v *= f;
        Repredict();
    }
    void Repredict() {
        for (size_t i = 0; i < m_n; ++i) {
            Advance(i);
            ++m_count[i];
        }
        // Each pair once, with the first of the two: whichever changes course first predicts it
        // again with every neighbour.
        for (size_t i = 0; i < m_n; ++i) {
            m_next[i] = {INFINITY, kNone, 0};
            PredictWall(i);
            PredictCell(i);
            ForNear(i, [&](size_t j) {
                if (j > i) PredictPair(i, j);
            });
        }
        for (size_t k = 0; k < m_n; ++k) Place(k, static_cast<int32_t>(k));
        for (size_t k = m_n / 2; k-- > 0;) SiftDown(k);
    }

    size_t m_n;
    std::vector<double>& m_out;  ///< the caller's centres, at the time last shown
    std::vector<double> m_x;     ///< centres at each ball's own time m_tp
    const std::vector<double>& m_r;
    std::vector<double> m_v, m_tp;
    std::vector<uint32_t> m_count;
    std::vector<int> m_cell;  ///< per ball its cell along x, y, z
    std::vector<size_t> m_slot;
    std::vector<std::vector<int32_t>> m_cells;
    int m_dims[3];
    double m_lo[3], m_hi[3], m_w[3];
    double m_s0, m_g;
    double m_now = 0.0;
    std::vector<Next> m_next;
    std::vector<int32_t> m_heap;  ///< balls by their next event's time
    std::vector<size_t> m_pos;    ///< per ball its place in m_heap
};

}  // namespace

BallGrowthResult GrowBalls(std::vector<double>& centres, const std::vector<double>& radii, const double lo[3],
                           const double hi[3], double scale, double targetScale, uint64_t seed,
                           const BallGrowthSettings& settings, const std::function<bool(double)>& stop) {
    BallGrowthResult result;
    result.scale = scale;
    double rMax = 0.0;
    for (double r : radii) rMax = std::max(rMax, r);
    if (radii.empty() || !(rMax > 0.0) || !(settings.rate > 0.0) || scale >= targetScale) return result;
    // At the mean speed (sqrt 3) the largest diameter grows by `rate` per unit of flight.
    const double growth = settings.rate * std::sqrt(3.0) / (2.0 * rMax);
    Flight flight(centres, radii, lo, hi, scale, growth, targetScale, seed);
    result = flight.Run((targetScale - flight.StartScale()) / growth, settings, stop);
    result.scale = flight.ClearScale(std::min(result.scale, targetScale));
    return result;
}

}  // namespace Packing::compression
