#include "collision/BroadPhase.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "collision/CallbackMap.h"

namespace col {

namespace {

// An object this much larger than the median radius goes to the overflow list.
constexpr float kHugeFactor = 8.0f;

inline bool spheresTouch(const BroadObject& a, const BroadObject& b) {
    const float dx = a.c[0] - b.c[0], dy = a.c[1] - b.c[1], dz = a.c[2] - b.c[2];
    const float R = (a.r + b.r) * (1.0f + 1e-5f);
    return dx * dx + dy * dy + dz * dz <= R * R;
}

// Entries (cell << 32 | object) by cell, objects ascending within a cell: least significant
// digit radix sort over only as many bits as there are cells (one pass for a 10 x 10 x 10 grid).
// A comparison sort of these entries was half the time of a check once the narrow phase became
// incremental.
void sortByCell(std::vector<uint64_t>& v, std::vector<uint64_t>& tmp, uint64_t cellCount) {
    constexpr int kDigit = 11;
    int bits = 0;
    while (bits < 32 && (1ull << bits) < cellCount) ++bits;
    tmp.resize(v.size());
    uint32_t count[1u << kDigit];
    for (int shift = 32; shift < 32 + bits; shift += kDigit) {
        std::fill(std::begin(count), std::end(count), 0u);
        for (const uint64_t e : v) ++count[(e >> shift) & ((1u << kDigit) - 1)];
        uint32_t sum = 0;
        for (uint32_t& c : count) {
            const uint32_t n = c;
            c = sum;
            sum += n;
        }
        for (const uint64_t e : v) tmp[count[(e >> shift) & ((1u << kDigit) - 1)]++] = e;
        v.swap(tmp);
    }
}

}  // namespace

void BroadPhase::useGrid(const unsigned cells[3], const float min[3], const float max[3]) {
    m_grid = true;
    m_gridValid = false;
    for (int k = 0; k < 3; ++k) {
        m_cells[k] = std::max(1u, cells[k]);
        m_min[k] = std::min(min[k], max[k]);
        m_max[k] = std::max(min[k], max[k]);
    }
    // Cell indices are packed into 32 bits.
    while (static_cast<uint64_t>(m_cells[0]) * m_cells[1] * m_cells[2] >= (1ull << 32))
        for (auto& c : m_cells) c = std::max(1u, c / 2);
}

void BroadPhase::findPairs(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out) {
    out.clear();
    if (m_brute) {
        for (size_t i = 0; i < objs.size(); ++i)
            for (size_t j = i + 1; j < objs.size(); ++j) out.push_back(CallbackMap::key(objs[i].id, objs[j].id));
        return;
    }
    if (m_grid) {
        if (!gridUpdate(objs, out)) grid(objs, out);
        if (m_incremental) {
            m_prev = objs;
            m_prevPairs = out;
        }
    } else
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
    // Each object goes into the one cell holding its centre; cells are at least as wide as the
    // largest gridded diameter, so overlapping spheres sit in the same or in neighbouring cells
    // (clamping into the border cells keeps that true for objects outside the box). Inserting
    // each object into every cell its box covered made crowded cells and a pair test per cell
    // they shared, which cost more than the narrow phase of an incremental check.
    if (m_table)
        for (const Run& run : m_runs) m_runOfCell[run.cell] = -1;
    m_gridValid = false;
    splitHuge(objs);
    float rmax = 0;
    for (size_t i = 0; i < objs.size(); ++i)
        if (!m_isOverflow[i]) rmax = std::max(rmax, objs[i].r);
    long cells[3];
    float inv[3];
    for (int k = 0; k < 3; ++k) {
        const float ext = m_max[k] - m_min[k];
        const float userCell = ext / static_cast<float>(m_cells[k]);
        const float cell = std::max(userCell, 2.0f * rmax * (1.0f + 1e-5f));
        cells[k] = cell > 0 ? std::clamp(static_cast<long>(ext / cell), 1L, static_cast<long>(m_cells[k])) : 1L;
        inv[k] = ext > 0 ? static_cast<float>(cells[k]) / ext : 0.0f;
    }
    for (int k = 0; k < 3; ++k) m_gridCells[k] = cells[k], m_inv[k] = inv[k];
    m_entries.clear();
    for (size_t i = 0; i < objs.size(); ++i) {
        if (m_isOverflow[i]) continue;
        m_entries.push_back((static_cast<uint64_t>(cellIndex(objs[i])) << 32) | i);
    }
    sortByCell(m_entries, m_sortScratch, static_cast<uint64_t>(cells[0] * cells[1] * cells[2]));
    m_runs.clear();
    for (size_t s = 0; s < m_entries.size();) {
        size_t e = s + 1;
        while (e < m_entries.size() && (m_entries[e] >> 32) == (m_entries[s] >> 32)) ++e;
        m_runs.push_back(
            {static_cast<uint32_t>(m_entries[s] >> 32), static_cast<uint32_t>(s), static_cast<uint32_t>(e)});
        s = e;
    }
    // A table from cell to run replaces 13 binary searches per occupied cell when it stays small.
    const uint64_t cellCount = static_cast<uint64_t>(cells[0] * cells[1] * cells[2]);
    m_table = cellCount <= 16 * objs.size() + 4096;
    if (m_table) {
        if (m_runOfCell.size() < cellCount) m_runOfCell.assign(cellCount, -1);
        for (size_t r = 0; r < m_runs.size(); ++r) m_runOfCell[m_runs[r].cell] = static_cast<int32_t>(r);
    }
    auto object = [&](size_t entry) -> const BroadObject& { return objs[m_entries[entry] & 0xffffffffu]; };
    // Half of the 26 neighbours, so each pair of cells is visited once.
    static constexpr int kForward[13][3] = {{1, 0, 0},  {-1, 1, 0}, {0, 1, 0},  {1, 1, 0}, {-1, -1, 1},
                                            {0, -1, 1}, {1, -1, 1}, {-1, 0, 1}, {0, 0, 1}, {1, 0, 1},
                                            {-1, 1, 1}, {0, 1, 1},  {1, 1, 1}};
    for (const Run& run : m_runs) {
        for (uint32_t p = run.begin; p < run.end; ++p)
            for (uint32_t q = p + 1; q < run.end; ++q)
                if (spheresTouch(object(p), object(q))) out.push_back(CallbackMap::key(object(p).id, object(q).id));
        const long x = run.cell % cells[0], y = (run.cell / cells[0]) % cells[1], z = run.cell / (cells[0] * cells[1]);
        for (const auto& d : kForward) {
            const long nx = x + d[0], ny = y + d[1], nz = z + d[2];
            if (nx < 0 || ny < 0 || nz < 0 || nx >= cells[0] || ny >= cells[1] || nz >= cells[2]) continue;
            const uint32_t cell = static_cast<uint32_t>((nz * cells[1] + ny) * cells[0] + nx);
            const Run* it = runOfCell(cell);
            if (it == nullptr) continue;
            for (uint32_t p = run.begin; p < run.end; ++p)
                for (uint32_t q = it->begin; q < it->end; ++q)
                    if (spheresTouch(object(p), object(q))) out.push_back(CallbackMap::key(object(p).id, object(q).id));
        }
    }
    overflowPairs(objs, out);
    m_gridValid = true;
}

const BroadPhase::Run* BroadPhase::runOfCell(uint32_t cell) const {
    if (m_table) {
        const int32_t r = m_runOfCell[cell];
        return r < 0 ? nullptr : &m_runs[static_cast<size_t>(r)];
    }
    const auto it =
        std::lower_bound(m_runs.begin(), m_runs.end(), cell, [](const Run& run, uint32_t c) { return run.cell < c; });
    return it == m_runs.end() || it->cell != cell ? nullptr : &*it;
}

long BroadPhase::cellIndex(const BroadObject& o) const {
    long c[3];
    for (int k = 0; k < 3; ++k) {
        // Clamp in float first: far-away objects must not overflow the integer conversion.
        const float f =
            std::clamp(std::floor((o.c[k] - m_min[k]) * m_inv[k]), 0.0f, static_cast<float>(m_gridCells[k] - 1));
        c[k] = static_cast<long>(f);
    }
    return (c[2] * m_gridCells[1] + c[1]) * m_gridCells[0] + c[0];
}

bool BroadPhase::gridUpdate(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out) {
    if (!m_incremental || !m_gridValid || objs.size() != m_prev.size()) return false;
    m_moved.clear();
    for (size_t i = 0; i < objs.size(); ++i) {
        const BroadObject &a = objs[i], &b = m_prev[i];
        if (a.id != b.id || a.r != b.r) return false;  // other objects, or the cell size may change
        if (std::memcmp(a.c, b.c, sizeof a.c) == 0) continue;
        // An overflow object meets everyone; an object that left its cell would unsort the grid.
        if (m_isOverflow[i] || cellIndex(a) != cellIndex(b)) return false;
        m_moved.push_back(static_cast<uint32_t>(i));
        if (m_moved.size() * 2 > objs.size()) return false;  // then a new grid costs less
    }
    m_isMoved.assign(objs.size(), 0);
    int maxId = 0;
    for (const BroadObject& o : objs) maxId = std::max(maxId, o.id);
    m_movedId.assign(static_cast<size_t>(maxId) + 1, 0);
    for (uint32_t i : m_moved) m_isMoved[i] = 1, m_movedId[static_cast<size_t>(objs[i].id)] = 1;
    out.clear();
    for (const uint64_t key : m_prevPairs)
        if (!m_movedId[static_cast<size_t>(CallbackMap::keyLo(key))] &&
            !m_movedId[static_cast<size_t>(CallbackMap::keyHi(key))])
            out.push_back(key);
    const long nx = m_gridCells[0], ny = m_gridCells[1], nz = m_gridCells[2];
    for (const uint32_t i : m_moved) {
        const long cell = cellIndex(objs[i]);
        const long x = cell % nx, y = (cell / nx) % ny, z = cell / (nx * ny);
        for (long dz = -1; dz <= 1; ++dz)
            for (long dy = -1; dy <= 1; ++dy)
                for (long dx = -1; dx <= 1; ++dx) {
                    const long cx = x + dx, cy = y + dy, cz = z + dz;
                    if (cx < 0 || cy < 0 || cz < 0 || cx >= nx || cy >= ny || cz >= nz) continue;
                    const Run* run = runOfCell(static_cast<uint32_t>((cz * ny + cy) * nx + cx));
                    if (run == nullptr) continue;
                    for (uint32_t q = run->begin; q < run->end; ++q) {
                        const uint32_t j = static_cast<uint32_t>(m_entries[q] & 0xffffffffu);
                        // A pair of two moved objects is tested once, from the lower index.
                        if (j == i || (m_isMoved[j] && j < i)) continue;
                        if (spheresTouch(objs[i], objs[j])) out.push_back(CallbackMap::key(objs[i].id, objs[j].id));
                    }
                }
        for (const int o : m_overflow)
            if (spheresTouch(objs[static_cast<size_t>(o)], objs[i]))
                out.push_back(CallbackMap::key(objs[static_cast<size_t>(o)].id, objs[i].id));
    }
    return true;
}

void BroadPhase::splitHuge(const std::vector<BroadObject>& objs) {
    m_overflow.clear();
    m_isOverflow.assign(objs.size(), 0);
    if (objs.size() <= 8) return;
    m_radii.resize(objs.size());
    for (size_t i = 0; i < objs.size(); ++i) m_radii[i] = objs[i].r;
    auto mid = m_radii.begin() + static_cast<long>(m_radii.size() / 2);
    std::nth_element(m_radii.begin(), mid, m_radii.end());
    const float huge = kHugeFactor * *mid;
    for (size_t i = 0; i < objs.size(); ++i)
        if (objs[i].r > huge) {
            m_overflow.push_back(static_cast<int>(i));
            m_isOverflow[i] = 1;
        }
}

void BroadPhase::sweep(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out) {
    m_sweep.clear();
    splitHuge(objs);
    if (objs.size() < 2) return;
    double mean[3] = {0, 0, 0}, sq[3] = {0, 0, 0};
    for (size_t i = 0; i < objs.size(); ++i) {
        if (m_isOverflow[i]) continue;
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
