#include "CoverIndex.h"

#include <algorithm>
#include <cmath>

namespace spheres {

double CubeOctree::Edge(int level) const { return std::ldexp(m_rootEdge, -level); }

Vec3 CubeOctree::Center(const Cell& c) const {
    const double e = Edge(c.level);
    const Vec3 lo = Lo();
    return {lo.x + (c.i + 0.5) * e, lo.y + (c.j + 0.5) * e, lo.z + (c.k + 0.5) * e};
}

void CubeOctree::Children(const Cell& c, Cell out[8]) {
    for (int n = 0; n < 8; ++n) out[n] = {c.level + 1, 2 * c.i + (n >> 2), 2 * c.j + ((n >> 1) & 1), 2 * c.k + (n & 1)};
}

bool BallHoldsCube(const Sphere& s, const Vec3& q, double h) {
    double far2 = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double v = std::fabs(q[a] - s.center[a]) + h;
        far2 += v * v;
    }
    return far2 <= s.radius * s.radius;
}

int CubeGrid::Coord(double v, int axis) const {
    return std::clamp(static_cast<int>(std::floor((v - lo[axis]) / cell)), 0, n - 1);
}

void CubeGrid::Span(const Sphere& s, int outFrom[3], int outTo[3]) const {
    for (int a = 0; a < 3; ++a) {
        outFrom[a] = Coord(s.center[a] - s.radius, a);
        outTo[a] = Coord(s.center[a] + s.radius, a);
    }
}

BallIndex::BallIndex(const Vec3& lo, double edge, int cellsPerAxis)
    : m_grid{lo, edge / std::max(cellsPerAxis, 1), std::max(cellsPerAxis, 1)} {
    m_full.assign(m_grid.Count(), -1);
    m_partial.resize(m_grid.Count());
}

void BallIndex::Add(int id, const Sphere& s) {
    int from[3], to[3];
    m_grid.Span(s, from, to);
    const double r2 = s.radius * s.radius, h = 0.5 * m_grid.cell;
    for (int ix = from[0]; ix <= to[0]; ++ix)
        for (int iy = from[1]; iy <= to[1]; ++iy)
            for (int iz = from[2]; iz <= to[2]; ++iz) {
                const size_t idx = m_grid.Index(ix, iy, iz);
                if (m_full[idx] >= 0) continue;
                const Vec3 q = m_grid.CellCenter(ix, iy, iz);
                if (BallHoldsCube(s, q, h)) {
                    m_full[idx] = id;
                    std::vector<int>().swap(m_partial[idx]);
                    continue;
                }
                double near2 = 0.0;
                for (int a = 0; a < 3; ++a) {
                    const double v = std::max(0.0, std::fabs(q[a] - s.center[a]) - h);
                    near2 += v * v;
                }
                if (near2 <= r2) m_partial[idx].push_back(id);
            }
}

int BallIndex::Holding(const std::vector<Sphere>& balls, const Vec3& p) const {
    const size_t idx = m_grid.IndexOf(p);
    if (m_full[idx] >= 0) return m_full[idx];
    for (int id : m_partial[idx]) {
        const Vec3 d = p - balls[id].center;
        if (dot(d, d) <= balls[id].radius * balls[id].radius) return id;
    }
    return -1;
}

int BallIndex::HoldingCube(const std::vector<Sphere>& balls, const Vec3& q, double h) const {
    const size_t idx = m_grid.IndexOf(q);
    if (m_full[idx] >= 0 && BallHoldsCube(balls[m_full[idx]], q, h)) return m_full[idx];
    for (int id : m_partial[idx])
        if (BallHoldsCube(balls[id], q, h)) return id;
    return -1;
}

}  // namespace spheres
