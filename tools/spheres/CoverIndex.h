#pragma once
// Cubic octree cells and a lookup grid of balls, the two pieces that the object cover and its
// check share.
#include <cstdint>
#include <vector>

#include "Vec3.h"

namespace spheres {

/// One cell of an octree over a cube: level 0 is the root, level L has 2^L cells per axis.
struct Cell {
    int32_t level = 0;
    int32_t i = 0, j = 0, k = 0;
};

/// The root cube of an octree and the geometry of its cells.
class CubeOctree {
 public:
    CubeOctree() = default;
    CubeOctree(const Vec3& center, double rootEdge) : m_center(center), m_rootEdge(rootEdge) {}

    double Edge(int level) const;
    /// Half the diagonal of a cell: every point of the cell lies this close to its centre.
    double Reach(int level) const { return 0.8660254037844386 * Edge(level); }
    Vec3 Center(const Cell& c) const;
    Vec3 Lo() const { return m_center - Vec3(1, 1, 1) * (0.5 * m_rootEdge); }
    double RootEdge() const { return m_rootEdge; }
    /// The eight children of c, in a fixed order.
    static void Children(const Cell& c, Cell out[8]);

 private:
    Vec3 m_center;
    double m_rootEdge = 1.0;
};

/// Cubic grid of n^3 cells from lo; points outside it fall into the border cells.
struct CubeGrid {
    Vec3 lo;
    double cell = 1.0;
    int n = 1;

    int Coord(double v, int axis) const;
    size_t Count() const { return static_cast<size_t>(n) * n * n; }
    size_t Index(int ix, int iy, int iz) const { return (static_cast<size_t>(ix) * n + iy) * n + iz; }
    size_t IndexOf(const Vec3& p) const { return Index(Coord(p.x, 0), Coord(p.y, 1), Coord(p.z, 2)); }
    Vec3 CellCenter(int ix, int iy, int iz) const {
        return {lo.x + (ix + 0.5) * cell, lo.y + (iy + 0.5) * cell, lo.z + (iz + 0.5) * cell};
    }
    /// The range of cells that the bounding box of s touches.
    void Span(const Sphere& s, int outFrom[3], int outTo[3]) const;
};

/// True when the whole axis-aligned cube (centre q, half edge h) lies in the closed ball s:
/// its farthest corner is within the radius.
bool BallHoldsCube(const Sphere& s, const Vec3& q, double h);

/// Uniform grid over a cube that lists, per cell, the balls that may hold a point of the cell.
/// A cell that one ball holds entirely keeps only that ball, so deep cells stay cheap however
/// many large balls overlap there.
class BallIndex {
 public:
    BallIndex(const Vec3& lo, double edge, int cellsPerAxis);

    /// Registers ball number id (its index in the caller's list).
    void Add(int id, const Sphere& s);
    /// The ball that holds p's whole cell, or -1.
    int Full(const Vec3& p) const { return m_full[m_grid.IndexOf(p)]; }
    /// The other balls that touch p's cell (none when Full(p) >= 0).
    const std::vector<int>& Partial(const Vec3& p) const { return m_partial[m_grid.IndexOf(p)]; }

    /// First ball (full one first, then in registration order) that holds point p, or -1.
    int Holding(const std::vector<Sphere>& balls, const Vec3& p) const;
    /// A ball that holds the cube (centre q, half edge h), or -1. Only the balls listed at q's cell
    /// are tried: complete for cubes that lie inside one grid cell (octree cells at or below the
    /// grid's level when the grid is the octree's), conservative for larger ones.
    int HoldingCube(const std::vector<Sphere>& balls, const Vec3& q, double h) const;

 private:
    CubeGrid m_grid;
    std::vector<int> m_full;
    std::vector<std::vector<int>> m_partial;
};

}  // namespace spheres
