#pragma once
// Uniform grid over a box that lists, per cell, the spheres touching that cell. Used for
// "is this point / cell / triangle inside some sphere" questions while a cover is built.
#include <cstddef>
#include <vector>

#include "Vec3.h"

namespace spheres {

class SphereGrid {
 public:
    SphereGrid(const Vec3& lo, const Vec3& hi, int cellsAlongLongest);

    /// Registers sphere number id (its index in the caller's list) in every cell it touches.
    void Insert(int id, const Sphere& s);
    /// Spheres touching the cell that holds p (p is clamped into the box).
    const std::vector<int>& Near(const Vec3& p) const;
    /// Sorted, unique ids of the spheres registered in the cells that overlap the box.
    void Collect(const Vec3& lo, const Vec3& hi, std::vector<int>& out) const;

 private:
    size_t CellIndex(int ix, int iy, int iz) const {
        return (static_cast<size_t>(ix) * m_dims[1] + iy) * m_dims[2] + iz;
    }
    int Coord(double v, int axis) const;

    Vec3 m_lo;
    double m_cell = 1.0;
    int m_dims[3] = {1, 1, 1};
    std::vector<std::vector<int>> m_cells;
};

}  // namespace spheres
