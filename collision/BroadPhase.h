#pragma once
/// @file BroadPhase.h
/// Candidate pairs among the active objects from their world bounding spheres.
///
/// Three modes with the same contract (every pair whose spheres overlap is reported, each pair
/// once, as CallbackMap keys; extra pairs are allowed and cost only time):
/// - grid: uniform grid over a given box, coarsened where needed so that no gridded object is
///   wider than a cell; each object sits in the cell of its centre (clamped into the border cells
///   when outside) and meets the objects of its own and the neighbouring cells; objects far
///   larger than the median (such as the container) go to an overflow list tested against everyone;
/// - sweep (default): sort-and-sweep along the axis of largest spread, with objects far larger
///   than the median set aside in the same overflow list so one container doesn't make it quadratic;
/// - brute force: all pairs, the reference.

#include <cstdint>
#include <vector>

namespace col {

struct BroadObject {
    float c[3];  ///< world centre
    float r;     ///< world radius
    int id;      ///< pipeline id
};

class BroadPhase {
 public:
    enum class Mode { Sweep, Grid, BruteForce };

    void useGrid(const unsigned cells[3], const float min[3], const float max[3]);
    void setBruteForce(bool on) { m_brute = on; }
    /// Off: every grid check starts from scratch (the reference for the incremental check).
    void setIncremental(bool on) {
        m_incremental = on;
        m_gridValid = false;
    }
    Mode mode() const { return m_brute ? Mode::BruteForce : (m_grid ? Mode::Grid : Mode::Sweep); }

    /// Appends candidate pair keys to `out` (cleared first), unordered.
    void findPairs(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out);

 private:
    void grid(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out);
    /// When the same objects come back with only a few centres moved inside their cells, the
    /// pairs of the last grid check are kept and only the moved objects are tested again.
    bool gridUpdate(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out);
    long cellIndex(const BroadObject& o) const;
    struct Run;
    /// The occupied run of a grid cell of the last grid check, or null.
    const Run* runOfCell(uint32_t cell) const;
    void sweep(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out);
    void overflowPairs(const std::vector<BroadObject>& objs, std::vector<uint64_t>& out);
    /// Sets aside the objects far larger than the median (the container) into the overflow list.
    void splitHuge(const std::vector<BroadObject>& objs);

    bool m_brute = false, m_grid = false;
    unsigned m_cells[3] = {1, 1, 1};
    float m_min[3] = {0, 0, 0}, m_max[3] = {0, 0, 0};
    // Scratch reused across checks.
    std::vector<uint64_t> m_entries, m_sortScratch;
    std::vector<int> m_overflow;
    std::vector<char> m_isOverflow;
    std::vector<float> m_radii;
    struct Sweep {
        float lo, hi;
        int idx;
    };
    std::vector<Sweep> m_sweep;
    struct Run {
        uint32_t cell, begin, end;  ///< occupied grid cell and its range in m_entries
    };
    std::vector<Run> m_runs;
    std::vector<int32_t> m_runOfCell;  ///< run index per cell (-1: empty) when the grid is small enough
    bool m_table = false, m_incremental = true;
    // What the last grid check saw, for gridUpdate.
    bool m_gridValid = false;
    long m_gridCells[3] = {1, 1, 1};
    float m_inv[3] = {0, 0, 0};
    std::vector<BroadObject> m_prev;
    std::vector<uint64_t> m_prevPairs;
    std::vector<uint32_t> m_moved;
    std::vector<char> m_isMoved, m_movedId;
};

}  // namespace col
