#include "SphereGrid.h"

#include <algorithm>
#include <cmath>

namespace spheres {

SphereGrid::SphereGrid(const Vec3& lo, const Vec3& hi, int cellsAlongLongest) : m_lo(lo) {
    const Vec3 ext = hi - lo;
    m_cell = std::max({ext.x, ext.y, ext.z}) / std::max(cellsAlongLongest, 1);
    for (int a = 0; a < 3; ++a) m_dims[a] = std::max(1, static_cast<int>(std::ceil(ext[a] / m_cell)));
    m_cells.resize(static_cast<size_t>(m_dims[0]) * m_dims[1] * m_dims[2]);
}

int SphereGrid::Coord(double v, int axis) const {
    const int i = static_cast<int>(std::floor((v - m_lo[axis]) / m_cell));
    return std::clamp(i, 0, m_dims[axis] - 1);
}

void SphereGrid::Insert(int id, const Sphere& s) {
    int from[3], to[3];
    for (int a = 0; a < 3; ++a) {
        from[a] = Coord(s.center[a] - s.radius, a);
        to[a] = Coord(s.center[a] + s.radius, a);
    }
    const double r2 = s.radius * s.radius;
    for (int ix = from[0]; ix <= to[0]; ++ix)
        for (int iy = from[1]; iy <= to[1]; ++iy)
            for (int iz = from[2]; iz <= to[2]; ++iz) {
                // Exact sphere-box overlap, so large spheres do not flood far cells.
                const int idx[3] = {ix, iy, iz};
                double d2 = 0.0;
                for (int a = 0; a < 3; ++a) {
                    const double lo = m_lo[a] + idx[a] * m_cell, hi = lo + m_cell;
                    const double v = s.center[a] < lo ? lo - s.center[a] : (s.center[a] > hi ? s.center[a] - hi : 0.0);
                    d2 += v * v;
                }
                if (d2 <= r2) m_cells[CellIndex(ix, iy, iz)].push_back(id);
            }
}

void SphereGrid::Collect(const Vec3& lo, const Vec3& hi, std::vector<int>& out) const {
    out.clear();
    for (int ix = Coord(lo.x, 0); ix <= Coord(hi.x, 0); ++ix)
        for (int iy = Coord(lo.y, 1); iy <= Coord(hi.y, 1); ++iy)
            for (int iz = Coord(lo.z, 2); iz <= Coord(hi.z, 2); ++iz) {
                const auto& cell = m_cells[CellIndex(ix, iy, iz)];
                out.insert(out.end(), cell.begin(), cell.end());
            }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

const std::vector<int>& SphereGrid::Near(const Vec3& p) const {
    return m_cells[CellIndex(Coord(p.x, 0), Coord(p.y, 1), Coord(p.z, 2))];
}

}  // namespace spheres
