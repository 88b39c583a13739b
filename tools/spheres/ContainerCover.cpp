#include "ContainerCover.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <queue>
#include <utility>

#include "Parallel.h"
#include "SphereGrid.h"

namespace spheres {

namespace {

struct Corner {
    Vec3 p;
    Vec3 n;  ///< outward normal used for the shell offset
};

bool InsideShrunk(const Sphere& s, const Vec3& p, double shrink) { return distance(p, s.center) <= s.radius - shrink; }

struct Piece {
    std::array<Corner, 3> corners;
    Vec3 centroid;
    Vec3 faceNormal;
    double reach = 0.0;  ///< largest corner distance from the centroid
};

Piece MakePiece(const std::array<Corner, 3>& c, const Vec3& faceNormal) {
    Piece p{c, (c[0].p + c[1].p + c[2].p) / 3.0, faceNormal, 0.0};
    for (const Corner& k : c) p.reach = std::max(p.reach, distance(k.p, p.centroid));
    return p;
}

// Halves the longest edge, so long thin triangles turn into well-shaped pieces.
std::array<Piece, 2> Split(const Piece& piece) {
    const auto& t = piece.corners;
    int k = 0;
    double longest = -1.0;
    for (int i = 0; i < 3; ++i) {
        const double l = distance(t[i].p, t[(i + 1) % 3].p);
        if (l > longest) {
            longest = l;
            k = i;
        }
    }
    const Corner& a = t[k];
    const Corner& b = t[(k + 1) % 3];
    const Corner& c = t[(k + 2) % 3];
    const Corner m{(a.p + b.p) * 0.5, a.n};
    return {MakePiece({a, m, c}, piece.faceNormal), MakePiece({m, b, c}, piece.faceNormal)};
}

class WallCoverer {
 public:
    WallCoverer(const MeshDistance& mesh, const ContainerCoverSettings& settings, std::vector<Sphere>& spheres,
                SphereGrid& grid, double surfaceMargin, double shellDepth)
        : m_mesh(mesh),
          m_settings(settings),
          m_spheres(spheres),
          m_grid(grid),
          m_margin(surfaceMargin),
          m_shell(shellDepth),
          m_offset(2.0 * settings.margin) {
        const double e = settings.intrusion - surfaceMargin;
        // Radius, on a flat wall, of the patch that one sphere at height m_offset holds with margin.
        m_capRadius = std::sqrt(std::max((m_offset + e) * (m_offset + e) - m_offset * m_offset, e * e));
    }

    /// Greedy set cover: the wall is cut into small pieces, every piece centroid proposes a
    /// sphere above it, and the sphere holding the most uncovered pieces is taken next.
    void CoverAll() {
        const TriMesh& tm = m_mesh.Mesh();

        std::vector<Piece> pieces;
        std::function<void(const Piece&)> cut = [&](const Piece& p) {
            if (p.reach <= 0.3 * m_capRadius) {
                pieces.push_back(p);
                return;
            }
            for (const Piece& q : Split(p)) cut(q);
        };
        for (size_t t = 0; t < tm.triangles.size(); ++t) {
            const auto& tri = tm.triangles[t];
            std::array<Corner, 3> c;
            const Vec3 n = m_mesh.FaceNormal(static_cast<int>(t));
            for (int k = 0; k < 3; ++k) c[k] = {tm.points[tri[k]], n};
            cut(MakePiece(c, m_mesh.FaceNormal(static_cast<int>(t))));
        }

        SphereGrid pieceGrid(m_mesh.BoxMin() - Vec3(1, 1, 1) * m_capRadius,
                             m_mesh.BoxMax() + Vec3(1, 1, 1) * m_capRadius, 64);
        for (size_t i = 0; i < pieces.size(); ++i) pieceGrid.Insert(static_cast<int>(i), {pieces[i].centroid, 0.0});

        std::vector<Sphere> candidate(pieces.size());
        std::vector<std::vector<int>> holds(pieces.size());
        ParallelFor(pieces.size(), m_settings.threads, [&](size_t i) {
            const Vec3 c = pieces[i].centroid + pieces[i].faceNormal * m_offset;
            candidate[i] = {c, -m_mesh.Depth(c) + m_settings.intrusion};
            // The held patch lies within about one cap radius of the foot point.
            const double look = 1.5 * m_capRadius;
            std::vector<int> seen;
            pieceGrid.Collect(pieces[i].centroid - Vec3(1, 1, 1) * look, pieces[i].centroid + Vec3(1, 1, 1) * look,
                              seen);
            for (int id : seen)
                if (Holds(candidate[i], pieces[id].corners)) holds[i].push_back(id);
        });

        std::vector<char> covered(pieces.size(), 0);
        std::priority_queue<std::pair<size_t, int>> queue;  // (gain, -index): ties to the lower index
        for (size_t i = 0; i < pieces.size(); ++i)
            if (!holds[i].empty()) queue.push({holds[i].size(), -static_cast<int>(i)});
        while (!queue.empty()) {
            const auto [gain, negIndex] = queue.top();
            queue.pop();
            const int i = -negIndex;
            size_t now = 0;
            for (int id : holds[i]) now += covered[id] ? 0 : 1;
            if (now == 0) continue;
            if (now < gain) {
                queue.push({now, negIndex});
                continue;
            }
            for (int id : holds[i]) covered[id] = 1;
            Add(candidate[i]);
        }
        // Pieces no candidate could hold (sharp or concave spots) get their own smaller spheres.
        for (size_t i = 0; i < pieces.size(); ++i)
            if (!covered[i]) Cover(pieces[i], 0);
    }

    int Gaps() const { return m_gaps; }

 private:
    void Cover(const Piece& piece, int depth) {
        if (Covered(piece.corners)) return;
        if (Place(piece)) return;
        if (depth > 24) {
            ++m_gaps;
            return;
        }
        for (const Piece& q : Split(piece)) Cover(q, depth + 1);
    }

    bool Holds(const Sphere& s, const std::array<Corner, 3>& tri) const {
        for (const Corner& c : tri) {
            if (!InsideShrunk(s, c.p, m_margin)) return false;
            if (!InsideShrunk(s, c.p + c.n * m_shell, 0.0)) return false;
        }
        return true;
    }

    bool Covered(const std::array<Corner, 3>& tri) const {
        for (int id : m_grid.Near(tri[0].p))
            if (Holds(m_spheres[id], tri)) return true;
        return false;
    }

    void Add(const Sphere& s) {
        m_grid.Insert(static_cast<int>(m_spheres.size()), s);
        m_spheres.push_back(s);
    }

    // Tries a sphere above the centroid at decreasing heights; the radius is always the
    // largest one that keeps the intrusion bound.
    bool Place(const Piece& piece) {
        for (double height = m_offset; height >= m_settings.intrusion * 0.25; height *= 0.5) {
            const Vec3 c = piece.centroid + piece.faceNormal * height;
            const Sphere s{c, -m_mesh.Depth(c) + m_settings.intrusion};
            if (s.radius > 0.0 && Holds(s, piece.corners)) {
                Add(s);
                return true;
            }
        }
        return false;
    }

    const MeshDistance& m_mesh;
    const ContainerCoverSettings& m_settings;
    std::vector<Sphere>& m_spheres;
    SphereGrid& m_grid;
    double m_margin, m_shell, m_offset, m_capRadius = 0.0;
    int m_gaps = 0;
};

struct Cell {
    Vec3 center;
    double half = 0.0;  ///< half the edge length
};

}  // namespace

ContainerCover CoverContainer(const MeshDistance& mesh, const ContainerCoverSettings& settings) {
    const Vec3 lo = mesh.BoxMin() - Vec3(1, 1, 1) * settings.margin;
    const Vec3 hi = mesh.BoxMax() + Vec3(1, 1, 1) * settings.margin;
    const double surfaceMargin = 0.125 * settings.intrusion;
    const double shellDepth = std::max(4.0 * settings.intrusion, 0.1 * settings.margin);

    ContainerCover result;
    SphereGrid grid(lo, hi, 48);

    WallCoverer wall(mesh, settings, result.spheres, grid, surfaceMargin, shellDepth);
    wall.CoverAll();
    result.wallSpheres = static_cast<int>(result.spheres.size());
    result.wallGaps = wall.Gaps();

    // Octree over the enlarged box, one level at a time so the distances can be computed in
    // parallel while the decisions stay in a fixed order.
    const Vec3 ext = hi - lo;
    const double rootHalf = 0.5 * std::max({ext.x, ext.y, ext.z});
    std::vector<Cell> level{{(lo + hi) * 0.5, rootHalf}};
    const double skipNearWall = 0.5 * shellDepth;
    while (!level.empty()) {
        std::vector<double> outside(level.size());
        ParallelFor(level.size(), settings.threads, [&](size_t i) { outside[i] = -mesh.Depth(level[i].center); });
        std::vector<Cell> next;
        for (size_t i = 0; i < level.size(); ++i) {
            const Cell& cell = level[i];
            bool inBand = true;
            for (int a = 0; a < 3; ++a)
                if (cell.center[a] + cell.half < lo[a] || cell.center[a] - cell.half > hi[a]) inBand = false;
            if (!inBand) continue;
            const double rho = cell.half * std::sqrt(3.0);
            const double s = outside[i];
            if (s <= -rho) continue;                // wholly inside the container
            if (s + rho <= skipNearWall) continue;  // within the wall shell
            bool held = false;
            for (int id : grid.Near(cell.center))
                if (InsideShrunk(result.spheres[id], cell.center, rho)) {
                    held = true;
                    break;
                }
            if (held) continue;
            // Near the wall the wall spheres usually hold the pieces of a split cell, so a
            // sphere of its own is only made far out or once the cell is small.
            const bool far = s >= 2.0 * rho;
            if (rho <= s + settings.intrusion && (far || rho <= 0.5 * skipNearWall)) {
                // Grow past the cell where the wall allows it: neighbours then need no sphere.
                const Sphere sp{cell.center, std::min(s + settings.intrusion, 2.0 * rho)};
                grid.Insert(static_cast<int>(result.spheres.size()), sp);
                result.spheres.push_back(sp);
                continue;
            }
            const double q = 0.5 * cell.half;
            for (int c = 0; c < 8; ++c)
                next.push_back({cell.center + Vec3((c & 4) ? q : -q, (c & 2) ? q : -q, (c & 1) ? q : -q), q});
        }
        level.swap(next);
    }
    return result;
}

double BandCoverage(const MeshDistance& mesh, const std::vector<Sphere>& spheres, double margin, int samples,
                    int threads) {
    const Vec3 lo = mesh.BoxMin() - Vec3(1, 1, 1) * margin;
    const Vec3 hi = mesh.BoxMax() + Vec3(1, 1, 1) * margin;
    SphereGrid grid(lo, hi, 48);
    for (size_t i = 0; i < spheres.size(); ++i) grid.Insert(static_cast<int>(i), spheres[i]);
    // Fixed-seed points so the printed figure is reproducible.
    std::vector<int> state(static_cast<size_t>(samples), 0);
    ParallelFor(static_cast<size_t>(samples), threads, [&](size_t i) {
        uint64_t x = 0x9E3779B97F4A7C15ull * (i + 1);
        Vec3 p;
        for (int a = 0; a < 3; ++a) {
            x ^= x >> 33;
            x *= 0xff51afd7ed558ccdull;
            x ^= x >> 33;
            x *= 0xc4ceb9fe1a85ec53ull;
            x ^= x >> 33;
            p[a] = lo[a] + (hi[a] - lo[a]) * (static_cast<double>(x >> 11) / 9007199254740992.0);
        }
        if (mesh.Depth(p) >= 0.0) return;
        state[i] = 1;
        for (int id : grid.Near(p))
            if (distance(p, spheres[id].center) <= spheres[id].radius) {
                state[i] = 2;
                return;
            }
    });
    const long band = std::count_if(state.begin(), state.end(), [](int v) { return v > 0; });
    const long covered = std::count(state.begin(), state.end(), 2);
    return band > 0 ? static_cast<double>(covered) / band : 1.0;
}

}  // namespace spheres
