#include "collision/BroadPhase.h"

#include <algorithm>
#include <cmath>

#include "collision/CallbackMap.h"

namespace col {

namespace {

// Objects covering more cells than this are cheaper to test against everyone.
constexpr long kMaxCellsPerObject = 64;
// In the sweep, an object this much larger than the median radius goes to the overflow list.
constexpr float kHugeFactor = 8.0f;

inline bool spheresTouch(const BroadObject& a, const BroadObject& b) {
    const float dx = a.c[0] - b.c[0], dy = a.c[1] - b.c[1], dz = a.c[2] - b.c[2];
    const float R = (a.r + b.r) * (1.0f + 1e-5f);
    return dx * dx + dy * dy + dz * dz <= R * R;
}

}  // namespace

void BroadPhase::useGrid(const unsigned cells[3], const float min[3], const float max[3]) {
    m_grid = true;
    for (int k = 0; k < 3; ++k) {
        m_cells[k] = std::max(1u, cells[k]);
        m_min[k] = std::min(min[k], max[k]);
        m_max[k] = std::max(min[k], max[k]);
    }
    // Cell indices are packed into 32 bits.
    while (static_cast<uint64_t>(m_cells[0]) * m_cells[1] * m_cells[2] >= (1ull << 32))
        for (auto& c : m_cells) c = std::max(1u, c / 2);
    for (int k = 0; k < 3; ++k) {
        const float ext = m_max[k] - m_min[k];
        m_inv[k] = ext > 0 ? static_cast<float>(m_cells[k]) / ext : 0.0f;
    }
}

void BroadPhase::findPairs(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out) {
    out.clear();
    if (m_brute) {
        for (size_t i = 0; i < objs.size(); ++i)
            for (size_t j = i + 1; j < objs.size(); ++j) out.push_back(CallbackMap::key(objs[i].id, objs[j].id));
        return;
    }
    if (m_grid)
        grid(objs, out);
    else
        sweep(objs, out);
}

void BroadPhase::overflowPairs(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out) {
    for (int o : m_overflow)
        for (size_t j = 0; j < objs.size(); ++j) {
            // Pairs of two overflow objects are emitted once, from the lower index.
            if (static_cast<int>(j) == o || (m_isOverflow[j] && static_cast<int>(j) < o)) continue;
            if (spheresTouch(objs[o], objs[j])) out.push_back(CallbackMap::key(objs[o].id, objs[j].id));
        }
}

void BroadPhase::grid(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out) {
    m_entries.clear();
    m_overflow.clear();
    m_isOverflow.assign(objs.size(), 0);
    auto cellOf = [&](int k, float x) {
        // Clamp in float first: far-away objects must not overflow the integer conversion.
        const float f = std::clamp(std::floor((x - m_min[k]) * m_inv[k]), 0.0f, static_cast<float>(m_cells[k] - 1));
        return static_cast<long>(f);
    };
    for (size_t i = 0; i < objs.size(); ++i) {
        const BroadObject& o = objs[i];
        long lo[3], hi[3];
        bool inside = true;
        long span = 1;
        for (int k = 0; k < 3; ++k) {
            // Partly outside is fine: clamping keeps overlapping boxes in shared border cells.
            inside = inside && o.c[k] + o.r >= m_min[k] && o.c[k] - o.r <= m_max[k];
            lo[k] = cellOf(k, o.c[k] - o.r);
            hi[k] = cellOf(k, o.c[k] + o.r);
            span *= hi[k] - lo[k] + 1;
        }
        if (!inside || span > kMaxCellsPerObject) {
            m_overflow.push_back(static_cast<int>(i));
            m_isOverflow[i] = 1;
            continue;
        }
        for (long z = lo[2]; z <= hi[2]; ++z)
            for (long y = lo[1]; y <= hi[1]; ++y)
                for (long x = lo[0]; x <= hi[0]; ++x) {
                    const uint64_t cell =
                        (static_cast<uint64_t>(z) * m_cells[1] + static_cast<uint64_t>(y)) * m_cells[0] +
                        static_cast<uint64_t>(x);
                    m_entries.push_back((cell << 32) | i);
                }
    }
    std::sort(m_entries.begin(), m_entries.end());
    for (size_t s = 0; s < m_entries.size();) {
        const uint64_t cell = m_entries[s] >> 32;
        size_t e = s + 1;
        while (e < m_entries.size() && (m_entries[e] >> 32) == cell) ++e;
        const long cx = static_cast<long>(cell % m_cells[0]);
        const long cy = static_cast<long>((cell / m_cells[0]) % m_cells[1]);
        const long cz = static_cast<long>(cell / (static_cast<uint64_t>(m_cells[0]) * m_cells[1]));
        const long here[3] = {cx, cy, cz};
        for (size_t p = s; p < e; ++p) {
            const BroadObject& a = objs[m_entries[p] & 0xffffffffu];
            for (size_t q = p + 1; q < e; ++q) {
                const BroadObject& b = objs[m_entries[q] & 0xffffffffu];
                if (!spheresTouch(a, b)) continue;
                // A pair shares several cells; only the cell holding the low corner of the
                // intersection of the two boxes reports it.
                bool owner = true;
                for (int k = 0; k < 3 && owner; ++k) owner = cellOf(k, std::max(a.c[k] - a.r, b.c[k] - b.r)) == here[k];
                if (owner) out.push_back(CallbackMap::key(a.id, b.id));
            }
        }
        s = e;
    }
    overflowPairs(objs, out);
}

void BroadPhase::sweep(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out) {
    m_overflow.clear();
    m_isOverflow.assign(objs.size(), 0);
    m_sweep.clear();
    if (objs.size() < 2) return;
    m_radii.resize(objs.size());
    for (size_t i = 0; i < objs.size(); ++i) m_radii[i] = objs[i].r;
    auto mid = m_radii.begin() + static_cast<long>(m_radii.size() / 2);
    std::nth_element(m_radii.begin(), mid, m_radii.end());
    const float huge = kHugeFactor * *mid;
    double mean[3] = {0, 0, 0}, sq[3] = {0, 0, 0};
    for (size_t i = 0; i < objs.size(); ++i) {
        if (objs.size() > 8 && objs[i].r > huge) {
            m_overflow.push_back(static_cast<int>(i));
            m_isOverflow[i] = 1;
            continue;
        }
        for (int k = 0; k < 3; ++k) mean[k] += objs[i].c[k], sq[k] += double(objs[i].c[k]) * objs[i].c[k];
    }
    int axis = 0;
    double best = -1;
    for (int k = 0; k < 3; ++k) {
        const double var = sq[k] - mean[k] * mean[k] / std::max<double>(1, double(objs.size() - m_overflow.size()));
        if (var > best) best = var, axis = k;
    }
    for (size_t i = 0; i < objs.size(); ++i)
        if (!m_isOverflow[i])
            m_sweep.push_back({objs[i].c[axis] - objs[i].r, objs[i].c[axis] + objs[i].r, static_cast<int>(i)});
    std::sort(m_sweep.begin(), m_sweep.end(), [](const Sweep& a, const Sweep& b) { return a.lo < b.lo; });
    for (size_t p = 0; p < m_sweep.size(); ++p) {
        const float hi = m_sweep[p].hi;
        const BroadObject& a = objs[m_sweep[p].idx];
        for (size_t q = p + 1; q < m_sweep.size() && m_sweep[q].lo <= hi; ++q) {
            const BroadObject& b = objs[m_sweep[q].idx];
            if (spheresTouch(a, b)) out.push_back(CallbackMap::key(a.id, b.id));
        }
    }
    overflowPairs(objs, out);
}

}  // namespace col
