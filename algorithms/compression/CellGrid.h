#pragma once
/// @file CellGrid.h
/// Uniform cells over a box for the compression's neighbour queries: each body sits in the cell of
/// its centre (clamped into the border cells), and two bodies can touch only if their cells are
/// neighbours, because a cell is at least as wide as the widest body. Insertion, removal and moves
/// are O(1); a neighbour query visits 27 cells, so one pass over all bodies is linear in their number.

#include <cstdint>
#include <vector>

#include "vectormath/vectormath_aos.h"

namespace Packing::compression {

class CellGrid {
 public:
    /// What a cell holds per body: its centre and outer radius at scale 1 beside its index, so
    /// that a neighbour scan reads one cell's entries in a row instead of jumping through memory.
    struct Entry {
        float x, y, z, r;
        int32_t body;
    };

    /// Cells of at least `minCellSize` over [lo, hi]; at most about `maxCells` of them.
    void Init(const Vectormath::Aos::Vector3& lo, const Vectormath::Aos::Vector3& hi, float minCellSize,
              size_t maxCells);
    /// Empties every cell (the geometry stays).
    void Clear();

    uint32_t CellOf(const Vectormath::Aos::Vector3& p) const;
    void Insert(const Entry& entry, uint32_t cell);
    void Remove(int32_t body);
    /// A body's entry moves to `cell` (or is only updated when it is already there).
    void Move(const Entry& entry, uint32_t cell);
    /// A body's index changed (the compression keeps its bodies packed: the last one fills a hole).
    void Renumber(int32_t from, int32_t to);
    uint32_t CellOfBody(int32_t body) const { return m_cellOf[static_cast<size_t>(body)]; }
    /// Cells along each axis, and a cell's index along each.
    const int* Dims() const { return m_dims; }
    void Coords(uint32_t cell, int out[3]) const {
        out[0] = static_cast<int>(cell % static_cast<uint32_t>(m_dims[0]));
        out[1] = static_cast<int>((cell / static_cast<uint32_t>(m_dims[0])) % static_cast<uint32_t>(m_dims[1]));
        out[2] = static_cast<int>(cell / (static_cast<uint32_t>(m_dims[0]) * static_cast<uint32_t>(m_dims[1])));
    }

    /// Calls f(entry) for every body in the 27 cells around `cell`; f returns false to stop early.
    /// Returns false when f stopped it.
    template <class F>
    bool ForEachNear(uint32_t cell, F&& f) const {
        const int cx = static_cast<int>(cell % m_dims[0]);
        const int cy = static_cast<int>((cell / m_dims[0]) % m_dims[1]);
        const int cz = static_cast<int>(cell / (static_cast<uint32_t>(m_dims[0]) * m_dims[1]));
        const int x0 = cx > 0 ? cx - 1 : 0, x1 = cx + 1 < m_dims[0] ? cx + 1 : cx;
        const int y0 = cy > 0 ? cy - 1 : 0, y1 = cy + 1 < m_dims[1] ? cy + 1 : cy;
        const int z0 = cz > 0 ? cz - 1 : 0, z1 = cz + 1 < m_dims[2] ? cz + 1 : cz;
        for (int z = z0; z <= z1; ++z)
            for (int y = y0; y <= y1; ++y) {
                const size_t row = (static_cast<size_t>(z) * m_dims[1] + y) * m_dims[0];
                for (int x = x0; x <= x1; ++x)
                    for (const Entry& other : m_cells[row + static_cast<size_t>(x)])
                        if (!f(other)) return false;
            }
        return true;
    }

    size_t CellCount() const { return m_cells.size(); }
    /// The narrowest cell extent.
    float CellSize() const { return Vectormath::Aos::minElem(m_stretch); }

 private:
    Vectormath::Aos::Vector3 m_lo;
    Vectormath::Aos::Vector3 m_stretch;  ///< actual cell extents: the box divided by the counts
    float m_cellSize = 1.0f;
    int m_dims[3] = {1, 1, 1};
    std::vector<std::vector<Entry>> m_cells;
    std::vector<uint32_t> m_cellOf;  ///< per body
    std::vector<uint32_t> m_slotOf;  ///< per body: its place in its cell's list
};

}  // namespace Packing::compression
