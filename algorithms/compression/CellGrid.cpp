#include "algorithms/compression/CellGrid.h"

#include <algorithm>
#include <cmath>

namespace Packing::compression {

using Vectormath::Aos::Vector3;

void CellGrid::Init(const Vector3& lo, const Vector3& hi, float minCellSize, size_t maxCells) {
    m_lo = lo;
    const Vector3 extent = hi - lo;
    m_cellSize = std::max(minCellSize, 1e-6f * Vectormath::Aos::maxElem(extent));
    while (true) {
        double cells = 1.0;
        for (int k = 0; k < 3; ++k) {
            m_dims[k] = std::max(1, static_cast<int>(std::floor(extent[k] / m_cellSize)));
            cells *= m_dims[k];
        }
        if (cells <= static_cast<double>(maxCells)) break;
        m_cellSize *= 1.25f;
    }
    // Stretch the cells to cover the box exactly; they only get wider.
    m_cells.assign(static_cast<size_t>(m_dims[0]) * m_dims[1] * m_dims[2], {});
    m_cellOf.clear();
    m_slotOf.clear();
    m_stretch = Vector3(extent[0] / m_dims[0], extent[1] / m_dims[1], extent[2] / m_dims[2]);
    for (int k = 0; k < 3; ++k)
        if (!(m_stretch[k] > 0.0f)) m_stretch.setElem(k, m_cellSize);
}

void CellGrid::Clear() {
    for (auto& c : m_cells) c.clear();
    m_cellOf.clear();
    m_slotOf.clear();
}

uint32_t CellGrid::CellOf(const Vector3& p) const {
    int idx[3];
    for (int k = 0; k < 3; ++k) {
        const float f = (p[k] - m_lo[k]) / m_stretch[k];
        // NaN and far-away points land in a border cell like any point outside the box.
        const int i = f >= 0.0f ? (f < static_cast<float>(m_dims[k]) ? static_cast<int>(f) : m_dims[k] - 1) : 0;
        idx[k] = i;
    }
    return static_cast<uint32_t>((static_cast<size_t>(idx[2]) * m_dims[1] + idx[1]) * m_dims[0] + idx[0]);
}

void CellGrid::Insert(const Entry& entry, uint32_t cell) {
    const size_t b = static_cast<size_t>(entry.body);
    if (m_cellOf.size() <= b) {
        m_cellOf.resize(b + 1, 0);
        m_slotOf.resize(b + 1, 0);
    }
    auto& list = m_cells[cell];
    m_cellOf[b] = cell;
    m_slotOf[b] = static_cast<uint32_t>(list.size());
    list.push_back(entry);
}

void CellGrid::Remove(int32_t body) {
    const size_t b = static_cast<size_t>(body);
    auto& list = m_cells[m_cellOf[b]];
    const uint32_t slot = m_slotOf[b];
    const Entry last = list.back();
    list[slot] = last;
    m_slotOf[static_cast<size_t>(last.body)] = slot;
    list.pop_back();
}

void CellGrid::Move(const Entry& entry, uint32_t cell) {
    const size_t b = static_cast<size_t>(entry.body);
    if (m_cellOf[b] == cell) {
        m_cells[cell][m_slotOf[b]] = entry;
        return;
    }
    Remove(entry.body);
    Insert(entry, cell);
}

void CellGrid::Renumber(int32_t from, int32_t to) {
    const size_t f = static_cast<size_t>(from), t = static_cast<size_t>(to);
    m_cells[m_cellOf[f]][m_slotOf[f]].body = to;
    m_cellOf[t] = m_cellOf[f];
    m_slotOf[t] = m_slotOf[f];
}

}  // namespace Packing::compression
