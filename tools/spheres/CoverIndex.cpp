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

BallIndex::BallIndex(const Vec3& lo, double edge, int cellsPerAxis)
    : m_lo(lo), m_cell(edge / std::max(cellsPerAxis, 1)), m_n(std::max(cellsPerAxis, 1)) {
    const size_t count = static_cast<size_t>(m_n) * m_n * m_n;
    m_full.assign(count, -1);
    m_partial.resize(count);
}

int BallIndex::Coord(double v, int axis) const {
    return std::clamp(static_cast<int>(std::floor((v - m_lo[axis]) / m_cell)), 0, m_n - 1);
}

size_t BallIndex::Index(const Vec3& p) const {
    return (static_cast<size_t>(Coord(p.x, 0)) * m_n + Coord(p.y, 1)) * m_n + Coord(p.z, 2);
}

void BallIndex::Add(int id, const Sphere& s) {
    int from[3], to[3];
    for (int a = 0; a < 3; ++a) {
        from[a] = Coord(s.center[a] - s.radius, a);
        to[a] = Coord(s.center[a] + s.radius, a);
    }
    const double r2 = s.radius * s.radius, h = 0.5 * m_cell;
    for (int ix = from[0]; ix <= to[0]; ++ix)
        for (int iy = from[1]; iy <= to[1]; ++iy)
            for (int iz = from[2]; iz <= to[2]; ++iz) {
                const size_t idx = (static_cast<size_t>(ix) * m_n + iy) * m_n + iz;
                if (m_full[idx] >= 0) continue;
                const Vec3 q{m_lo.x + (ix + 0.5) * m_cell, m_lo.y + (iy + 0.5) * m_cell, m_lo.z + (iz + 0.5) * m_cell};
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
    const size_t idx = Index(p);
    if (m_full[idx] >= 0) return m_full[idx];
    for (int id : m_partial[idx]) {
        const Vec3 d = p - balls[id].center;
        if (dot(d, d) <= balls[id].radius * balls[id].radius) return id;
    }
    return -1;
}

int BallIndex::HoldingCube(const std::vector<Sphere>& balls, const Vec3& q, double h) const {
    const size_t idx = Index(q);
    if (m_full[idx] >= 0 && BallHoldsCube(balls[m_full[idx]], q, h)) return m_full[idx];
    for (int id : m_partial[idx])
        if (BallHoldsCube(balls[id], q, h)) return id;
    return -1;
}

}  // namespace spheres
