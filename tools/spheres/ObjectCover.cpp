#include "ObjectCover.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <queue>
#include <random>
#include <unordered_set>
#include <utility>

#include "CoverIndex.h"
#include "Parallel.h"

namespace spheres {

namespace {

constexpr int kCheckLevels = 3;  ///< the check refines cells to e / 2^kCheckLevels
constexpr int kSeedStride = 3;   ///< medial balls from every third layer point per axis
constexpr int kMaxRounds = 12;
constexpr size_t kMaxOpenCells = size_t{1} << 20;  ///< per level of the check (memory bound)
/// Targets lie this many grid spacings closer to the surface than the depth limit: the cover
/// sags a little between target points, and without the margin the check sends back many thin
/// slivers (on the cube about 20 times as many failing cells, and more leaves in the end).
constexpr double kLevelMargin = 0.25;

/// The float nearest to v. Through a volatile, because GCC 12's vectoriser drops a
/// double-float-double round trip of three coordinates at -O2 and -O3.
double ToFloat(double v) {
    volatile float f = static_cast<float>(v);
    return f;
}

/// The ball as the file will hold it: float centre, radius a hair below the depth there, rounded
/// down to a float. Radius 0 when the centre is not inside.
Sphere Inscribed(const MeshDistance& mesh, const Vec3& c) {
    const Vec3 cf(ToFloat(c.x), ToFloat(c.y), ToFloat(c.z));
    const double r = mesh.Depth(cf) * (1.0 - 1e-6);
    if (!(r > 0.0)) return {cf, 0.0};
    float rf = static_cast<float>(r);
    if (rf > r) rf = std::nextafter(rf, 0.0f);
    return {cf, rf};
}

/// Largest inscribed ball holding p that touches the surface at p's closest point: the centre
/// moves from that point through p while the depth keeps growing as fast as the distance. The
/// centre is found to within eps by bisection; no inscribed ball is wider than maxRadius.
Sphere MedialBall(const MeshDistance& mesh, const Vec3& p, double maxRadius, double eps) {
    ClosestHit hit;
    const double d = mesh.Depth(p, hit);
    if (!(d > 0.0)) return {p, 0.0};
    const Vec3 n = (p - hit.point) / hit.distance;
    double lo = d, hi = std::max(d, maxRadius);
    while (hi - lo > eps) {
        const double t = 0.5 * (lo + hi);
        if (mesh.Depth(hit.point + n * t) >= t - eps)
            lo = t;
        else
            hi = t;
    }
    return Inscribed(mesh, hit.point + n * lo);
}

struct Target {
    Vec3 q;
    double h = 0.0;  ///< half edge of the cube that must lie in one ball; 0 for a point
};

/// What a visit of one octree cell decides.
struct Visit {
    bool open = false;                                          ///< descend into the children
    bool keep = false;                                          ///< report the cell (at the last level)
    double witness = -std::numeric_limits<double>::infinity();  ///< depth of an uncovered centre
};

struct Visited {
    Cell cell;
    Vec3 q;
    double depth = 0.0;
};

/// Level-by-level octree descent. decide(cell, centre, depth) runs in parallel and must only
/// read; the kept cells of the last level come back in a fixed order. When more than maxOpen
/// cells would be opened at one level (a large hole in a cover), the descent stops there and
/// returns those cells instead, with outLevel telling their level.
template <class Decide>
std::vector<Visited> Descend(const MeshDistance& mesh, const CubeOctree& tree, int lastLevel, int threads,
                             Decide&& decide, size_t maxOpen, int* outLevel = nullptr, double* outWitness = nullptr,
                             Vec3* outWitnessPoint = nullptr) {
    std::vector<Cell> active{Cell{}};
    std::vector<Visited> kept;
    if (outLevel) *outLevel = lastLevel;
    for (int level = 0; level <= lastLevel && !active.empty(); ++level) {
        std::vector<Visited> cells(active.size());
        std::vector<Visit> visits(active.size());
        ParallelFor(active.size(), threads, [&](size_t i) {
            const Vec3 q = tree.Center(active[i]);
            const double d = mesh.Depth(q);
            cells[i] = {active[i], q, d};
            visits[i] = decide(active[i], q, d);
        });
        const auto opening = std::count_if(visits.begin(), visits.end(), [](const Visit& v) { return v.open; });
        if (level != lastLevel && static_cast<size_t>(opening) > maxOpen) {
            for (size_t i = 0; i < active.size(); ++i)
                if (visits[i].open) kept.push_back(cells[i]);
            if (outLevel) *outLevel = level;
            return kept;
        }
        std::vector<Cell> next;
        for (size_t i = 0; i < active.size(); ++i) {
            if (outWitness && visits[i].witness > *outWitness) {
                *outWitness = visits[i].witness;
                if (outWitnessPoint) *outWitnessPoint = cells[i].q;
            }
            if (level == lastLevel) {
                if (visits[i].keep) kept.push_back(cells[i]);
            } else if (visits[i].open) {
                Cell children[8];
                CubeOctree::Children(active[i], children);
                next.insert(next.end(), children, children + 8);
            }
        }
        active.swap(next);
    }
    return kept;
}

/// The uncovered targets of one bucket grid (the lookup grid's cells), with counts per bucket so
/// that a ball holding a whole bucket is counted at once.
class TargetSet {
 public:
    TargetSet(const Vec3& lo, double edge, int n) : m_grid{lo, edge / n, n} {}

    void Add(const Target& t) {
        m_targets.push_back(t);
        m_covered.push_back(0);
    }
    size_t Size() const { return m_targets.size(); }
    const Target& operator[](size_t i) const { return m_targets[i]; }
    bool Covered(size_t i) const { return m_covered[i] != 0; }
    long Uncovered() const { return m_uncovered; }

    /// Sorts the targets into their buckets; call after adding.
    void Index() {
        const size_t count = m_grid.Count();
        m_begin.assign(count + 1, 0);
        m_open.assign(count, 0);
        m_hmax.assign(count, 0.0);
        std::vector<size_t> bucket(m_targets.size());
        for (size_t t = 0; t < m_targets.size(); ++t) {
            bucket[t] = m_grid.IndexOf(m_targets[t].q);
            ++m_begin[bucket[t] + 1];
        }
        for (size_t b = 0; b < count; ++b) m_begin[b + 1] += m_begin[b];
        m_ids.assign(m_targets.size(), 0);
        m_used.clear();
        for (size_t b = 0; b < count; ++b)
            if (m_begin[b + 1] > m_begin[b]) m_used.push_back(b);
        std::vector<size_t> fill(m_begin.begin(), m_begin.end() - 1);
        m_uncovered = 0;
        for (size_t t = 0; t < m_targets.size(); ++t) {
            m_ids[fill[bucket[t]]++] = static_cast<int>(t);
            m_hmax[bucket[t]] = std::max(m_hmax[bucket[t]], m_targets[t].h);
            if (!m_covered[t]) {
                ++m_open[bucket[t]];
                ++m_uncovered;
            }
        }
    }

    /// Uncovered targets the ball holds; with mark, they become covered.
    long Gain(const Sphere& s, bool mark) {
        if (!(s.radius > 0.0)) return 0;
        int from[3], to[3];
        m_grid.Span(s, from, to);
        long gain = 0;
        // A large ball spans many empty buckets: then the list of used ones is shorter.
        const size_t span = static_cast<size_t>(to[0] - from[0] + 1) * (to[1] - from[1] + 1) * (to[2] - from[2] + 1);
        if (span > m_used.size()) {
            for (size_t b : m_used) {
                const int n = m_grid.n;
                const int ix = static_cast<int>(b / (static_cast<size_t>(n) * n));
                const int iy = static_cast<int>((b / n) % n), iz = static_cast<int>(b % n);
                if (ix >= from[0] && ix <= to[0] && iy >= from[1] && iy <= to[1] && iz >= from[2] && iz <= to[2])
                    gain += BucketGain(s, ix, iy, iz, mark);
            }
            return gain;
        }
        for (int ix = from[0]; ix <= to[0]; ++ix)
            for (int iy = from[1]; iy <= to[1]; ++iy)
                for (int iz = from[2]; iz <= to[2]; ++iz) gain += BucketGain(s, ix, iy, iz, mark);
        return gain;
    }

 private:
    long BucketGain(const Sphere& s, int ix, int iy, int iz, bool mark) {
        const size_t b = m_grid.Index(ix, iy, iz);
        if (m_open[b] == 0) return 0;
        const double half = 0.5 * m_grid.cell;
        const Vec3 q = m_grid.CellCenter(ix, iy, iz);
        double near2 = 0.0;
        for (int a = 0; a < 3; ++a) {
            const double v = std::max(0.0, std::fabs(q[a] - s.center[a]) - half - m_hmax[b]);
            near2 += v * v;
        }
        if (near2 > s.radius * s.radius) return 0;
        const bool whole = BallHoldsCube(s, q, half + m_hmax[b]);
        if (whole && !mark) return m_open[b];
        long gain = 0;
        for (size_t k = m_begin[b]; k < m_begin[b + 1]; ++k) {
            const int t = m_ids[k];
            if (m_covered[t] || !(whole || BallHoldsCube(s, m_targets[t].q, m_targets[t].h))) continue;
            ++gain;
            if (mark) {
                m_covered[t] = 1;
                --m_open[b];
                --m_uncovered;
            }
        }
        return gain;
    }
    CubeGrid m_grid;
    std::vector<Target> m_targets;
    std::vector<char> m_covered;
    std::vector<size_t> m_begin;
    std::vector<size_t> m_used;  ///< buckets holding targets, in index order
    std::vector<int> m_ids;
    std::vector<long> m_open;
    std::vector<double> m_hmax;
    long m_uncovered = 0;
};

/// Sizes shared by construction and check.
struct Frame {
    double thickness = 0.0, limit = 0.0, reach = 0.0;
    int gridLevel = 0;    ///< octree level of the target grid (cell edge <= limit / 2)
    int lookupLevel = 0;  ///< octree level of the lookup and bucket grids
    CubeOctree tree;

    explicit Frame(const MeshDistance& mesh, double tolerance) {
        const Vec3 lo = mesh.BoxMin(), hi = mesh.BoxMax(), ext = hi - lo;
        thickness = std::min({ext.x, ext.y, ext.z});
        limit = tolerance * thickness;
        reach = std::max({ext.x, ext.y, ext.z});
        const double e = 0.5 * limit;
        gridLevel = std::max(0, static_cast<int>(std::ceil(std::log2(reach / e))));
        tree = CubeOctree((lo + hi) * 0.5, std::ldexp(e, gridLevel));
        lookupLevel = std::clamp(gridLevel - 3, 0, 6);
    }
    BallIndex MakeIndex() const { return BallIndex(tree.Lo(), tree.RootEdge(), 1 << lookupLevel); }
};

/// Where a pass covers: the points within the radius of the given points and segments, or
/// everywhere when there are none.
struct Focus {
    std::vector<Vec3> points;
    std::vector<std::pair<Vec3, Vec3>> segments;
    double radius = 0.0;
    /// True when no point within reach of q lies in the focus.
    bool Misses(const Vec3& q, double reach) const {
        if (points.empty() && segments.empty()) return false;
        for (const Vec3& c : points)
            if (distance(q, c) - reach < radius) return false;
        for (const auto& [a, b] : segments) {
            const Vec3 ab = b - a;
            const double t = std::clamp(dot(q - a, ab) / dot(ab, ab), 0.0, 1.0);
            if (distance(q, a + ab * t) - reach < radius) return false;
        }
        return true;
    }
};

/// Runs the sound check on cells; failing finest cells are appended to outFailing when given.
CoverCheck Check(const MeshDistance& mesh, const Frame& f, const Focus& focus, const std::vector<Sphere>& balls,
                 const BallIndex& index, int threads, std::vector<Target>* outFailing) {
    CoverCheck c;
    c.thickness = f.thickness;
    c.depthLimit = f.limit;
    const int last = f.gridLevel + kCheckLevels;
    auto decide = [&](const Cell& cell, const Vec3& q, double d) {
        Visit v;
        if (focus.Misses(q, f.tree.Reach(cell.level))) return v;
        if (d > 0.0 && index.Holding(balls, q) < 0) v.witness = d;
        if (d + f.tree.Reach(cell.level) <= f.limit) return v;
        if (index.HoldingCube(balls, q, 0.5 * f.tree.Edge(cell.level)) >= 0) return v;
        v.open = v.keep = true;
        return v;
    };
    c.deepestSample = 0.0;
    int level = last;
    const std::vector<Visited> failing =
        Descend(mesh, f.tree, last, threads, decide, kMaxOpenCells, &level, &c.deepestSample, &c.deepestPoint);
    c.failingCells = static_cast<long>(failing.size());
    for (const Visited& v : failing) {
        c.failingDepth = std::max(c.failingDepth, v.depth + f.tree.Reach(level));
        // Cut short: the centres of the open cells are what the next round covers first.
        if (outFailing) outFailing->push_back({v.q, level == last ? 0.5 * f.tree.Edge(last) : 0.0});
    }
    c.met = failing.empty();
    return c;
}

/// The check of a finished set of leaves, with an index of its own.
CoverCheck CheckLeaves(const MeshDistance& mesh, const Frame& f, const Focus& focus, const std::vector<Sphere>& balls,
                       int threads) {
    BallIndex index = f.MakeIndex();
    for (size_t i = 0; i < balls.size(); ++i) index.Add(static_cast<int>(i), balls[i]);
    return Check(mesh, f, focus, balls, index, threads, nullptr);
}

/// One greedy pass over the focus, continuing the leaves already in out.spheres; out.check and
/// out.rounds describe this pass.
void CoverPass(const MeshDistance& mesh, const Frame& f, const Focus& focus, int maxSpheres, int threads,
               ObjectCover& out) {
    // The layer of targets just under the depth limit.
    const double band = 2.0 * f.tree.Reach(f.gridLevel), top = f.limit - kLevelMargin * f.tree.Edge(f.gridLevel);
    auto inLayer = [&](const Cell& cell, const Vec3& q, double d) {
        Visit v;
        if (focus.Misses(q, f.tree.Reach(cell.level))) return v;
        const double spread = f.tree.Reach(cell.level) - f.tree.Reach(f.gridLevel);
        v.open = d + spread >= top && d - spread < top + band;
        v.keep = d >= top && d < top + band;
        return v;
    };
    const std::vector<Visited> layer =
        Descend(mesh, f.tree, f.gridLevel, threads, inLayer, std::numeric_limits<size_t>::max());

    TargetSet targets(f.tree.Lo(), f.tree.RootEdge(), 1 << f.lookupLevel);
    std::vector<Vec3> seeds;
    // Each layer point moves along its distance ray onto the level just under the limit, so the
    // targets sample that level itself and not a staircase of grid points beneath it.
    std::vector<Vec3> onLevel(layer.size());
    ParallelFor(layer.size(), threads, [&](size_t i) {
        const ClosestHit hit = mesh.Closest(layer[i].q);
        onLevel[i] = hit.point + (layer[i].q - hit.point) * (top / hit.distance);
    });
    for (size_t i = 0; i < layer.size(); ++i) {
        const Cell& c = layer[i].cell;
        targets.Add({onLevel[i], 0.0});
        if (c.i % kSeedStride == 0 && c.j % kSeedStride == 0 && c.k % kSeedStride == 0) seeds.push_back(onLevel[i]);
    }
    targets.Index();

    BallIndex index = f.MakeIndex();
    for (size_t i = 0; i < out.spheres.size(); ++i) {
        index.Add(static_cast<int>(i), out.spheres[i]);
        targets.Gain(out.spheres[i], true);
    }
    std::vector<Sphere> candidates;
    using Entry = std::pair<long, int>;  // (gain, -candidate): larger gain first, then lower index
    std::priority_queue<Entry> heap;
    // Neighbouring seeds on one face give nearly the same ball: one seed ball per small cell of
    // centres. Balls proposed for targets that are still uncovered are all kept, since a near
    // twin need not hold that target.
    std::unordered_set<uint64_t> seen;
    const double quantum = 0.25 * f.tree.Edge(f.gridLevel);
    auto key = [&](const Vec3& c) {
        uint64_t k = 0;
        for (int a = 0; a < 3; ++a)
            k = k * 2097152u + static_cast<uint64_t>(std::llround((c[a] - f.tree.Lo()[a]) / quantum) & 2097151);
        return k;
    };
    auto propose = [&](const std::vector<Vec3>& from, bool thin) {
        std::vector<Sphere> balls(from.size());
        ParallelFor(from.size(), threads,
                    [&](size_t i) { balls[i] = MedialBall(mesh, from[i], 0.5 * f.thickness, 1e-3 * f.limit); });
        const size_t first = candidates.size();
        for (const Sphere& b : balls)
            if (b.radius > 0.0 && (!thin || seen.insert(key(b.center)).second)) candidates.push_back(b);
        std::vector<long> gains(candidates.size() - first);
        ParallelFor(gains.size(), threads, [&](size_t i) { gains[i] = targets.Gain(candidates[first + i], false); });
        for (size_t i = 0; i < gains.size(); ++i)
            if (gains[i] > 0) heap.push({gains[i], -static_cast<int>(first + i)});
    };
    auto full = [&] { return static_cast<int>(out.spheres.size()) >= maxSpheres; };

    propose(seeds, true);
    size_t proposedUpTo = 0;  // targets below this index have proposed their own medial ball
    for (out.rounds = 1;; ++out.rounds) {
        // Greedy cover of the targets; uncovered ones that no candidate holds propose their own.
        while (targets.Uncovered() > 0 && !full()) {
            while (!heap.empty() && !full()) {
                const int id = -heap.top().second;
                heap.pop();
                const long gain = targets.Gain(candidates[id], false);
                if (gain <= 0) continue;
                if (!heap.empty() && gain < heap.top().first) {
                    heap.push({gain, -id});
                    continue;
                }
                targets.Gain(candidates[id], true);
                index.Add(static_cast<int>(out.spheres.size()), candidates[id]);
                out.spheres.push_back(candidates[id]);
            }
            if (targets.Uncovered() == 0 || full()) break;
            std::vector<Vec3> left;
            for (size_t t = proposedUpTo; t < targets.Size(); ++t)
                if (!targets.Covered(t)) left.push_back(targets[t].q);
            proposedUpTo = targets.Size();
            propose(left, false);
            if (heap.empty()) break;  // no inscribed ball holds what is left
        }
        std::vector<Target> failing;
        out.check = Check(mesh, f, focus, out.spheres, index, threads, &failing);
        if (out.check.met || full() || out.rounds >= kMaxRounds) break;
        std::vector<Vec3> from;
        for (const Target& t : failing) {
            targets.Add(t);
            from.push_back(t.q);
        }
        targets.Index();
        proposedUpTo = targets.Size();
        propose(from, false);
    }
}

// Nearest point to the origin with n . x <= -1 for every n: on the plane of one, the line of two
// or the point of three of them (the nearest point of a polyhedron lies on at most three facets).
double DeepRegionDistance(const std::vector<Vec3>& normals) {
    double best = std::numeric_limits<double>::infinity();
    auto consider = [&](const Vec3& x) {
        for (const Vec3& n : normals)
            if (dot(n, x) > -1.0 + 1e-9) return;
        best = std::min(best, length(x));
    };
    const size_t m = normals.size();
    for (size_t i = 0; i < m; ++i) {
        consider(-normals[i]);
        for (size_t j = i + 1; j < m; ++j) {
            const double c = dot(normals[i], normals[j]);
            if (c > -1.0 + 1e-12) consider((normals[i] + normals[j]) * (-1.0 / (1.0 + c)));
            for (size_t k = j + 1; k < m; ++k) {
                const Vec3 &a = normals[i], &b = normals[j], &e = normals[k];
                const double det = dot(a, cross(b, e));
                if (std::fabs(det) < 1e-9) continue;
                // x with a.x = b.x = e.x = -1, by Cramer's rule.
                consider((cross(b, e) + cross(e, a) + cross(a, b)) * (-1.0 / det));
            }
        }
    }
    return best;
}

}  // namespace

SharpFeatures FindSharpFeatures(const TriMesh& mesh) {
    constexpr double kSharpEdge = 1.2, kSharpCorner = 1.5;
    const size_t n = mesh.points.size();
    std::vector<std::vector<Vec3>> normals(n);
    std::vector<std::vector<int>> neighbours(n);
    std::vector<Vec3> faceNormal(mesh.triangles.size());
    std::map<std::pair<int, int>, std::vector<size_t>> edgeFaces;
    for (size_t f = 0; f < mesh.triangles.size(); ++f) {
        const auto& t = mesh.triangles[f];
        const Vec3& a = mesh.points[t[0]];
        const Vec3 nf = normalized(cross(mesh.points[t[1]] - a, mesh.points[t[2]] - a));
        faceNormal[f] = nf;
        if (length(nf) == 0.0) continue;
        for (int k = 0; k < 3; ++k) {
            auto& list = normals[t[k]];
            if (std::none_of(list.begin(), list.end(), [&](const Vec3& o) { return dot(o, nf) > 1.0 - 1e-9; }))
                list.push_back(nf);
            const int u = t[k], w = t[(k + 1) % 3];
            neighbours[u].push_back(w);
            edgeFaces[{std::min(u, w), std::max(u, w)}].push_back(f);
        }
    }
    // Locally convex: no neighbour above any of the given planes through p.
    auto below = [&](const Vec3& p, const std::vector<int>& others, const std::vector<Vec3>& planes) {
        for (int w : others)
            for (const Vec3& nv : planes)
                if (dot(nv, mesh.points[w] - p) > 1e-9 * (1.0 + length(mesh.points[w] - p))) return false;
        return true;
    };
    SharpFeatures out;
    for (size_t v = 0; v < n; ++v)
        if (normals[v].size() >= 3 && below(mesh.points[v], neighbours[v], normals[v]) &&
            DeepRegionDistance(normals[v]) > kSharpCorner)
            out.corners.push_back(mesh.points[v]);
    for (const auto& [key, faces] : edgeFaces) {
        if (faces.size() != 2) continue;
        const std::vector<Vec3> planes{faceNormal[faces[0]], faceNormal[faces[1]]};
        if (length(planes[0]) == 0.0 || length(planes[1]) == 0.0) continue;
        std::vector<int> apexes;
        for (size_t f : faces)
            for (int c : mesh.triangles[f])
                if (c != key.first && c != key.second) apexes.push_back(c);
        if (below(mesh.points[key.first], apexes, planes) && DeepRegionDistance(planes) > kSharpEdge)
            out.edges.push_back({mesh.points[key.first], mesh.points[key.second]});
    }
    return out;
}

ObjectCover CoverObject(const MeshDistance& mesh, const ObjectCoverSettings& settings) {
    ObjectCover out;
    const Frame f(mesh, settings.tolerance);
    CoverPass(mesh, f, Focus{}, settings.maxSpheres, settings.threads, out);
    const SharpFeatures features = FindSharpFeatures(mesh.Mesh());
    const double radius = settings.featureRadius * f.thickness;
    double limit = settings.tolerance;
    // A pass over the focus to the tolerance t, continuing the leaves so far.
    auto refine = [&](double t, const Focus& focus, CoverCheck& check) {
        ObjectCover pass;
        pass.spheres = std::move(out.spheres);
        const Frame g(mesh, t);
        CoverPass(mesh, g, focus, settings.maxSpheres, settings.threads, pass);
        out.spheres = std::move(pass.spheres);
        out.rounds += pass.rounds;
        check = pass.check;
        limit = t;
    };
    if (settings.edgeTolerance > 0.0 && settings.edgeTolerance < limit && !features.edges.empty()) {
        out.features.edges = features.edges;
        refine(settings.edgeTolerance, Focus{{}, features.edges, radius}, out.edgeCheck);
    }
    if (settings.cornerTolerance > 0.0 && settings.cornerTolerance < limit && !features.corners.empty()) {
        out.features.corners = features.corners;
        refine(settings.cornerTolerance, Focus{features.corners, {}, radius}, out.cornerCheck);
    }
    if (limit == settings.tolerance) return out;
    // The earlier guarantees hold for the superset; their figures are checked again on it.
    out.check = CheckLeaves(mesh, f, Focus{}, out.spheres, settings.threads);
    if (!out.features.edges.empty() && !out.features.corners.empty())
        out.edgeCheck = CheckLeaves(mesh, Frame(mesh, settings.edgeTolerance), Focus{{}, out.features.edges, radius},
                                    out.spheres, settings.threads);
    return out;
}

CoverSample SampleCoverage(const MeshDistance& mesh, const std::vector<Sphere>& spheres, int samples, int threads) {
    const Vec3 lo = mesh.BoxMin(), hi = mesh.BoxMax(), ext = hi - lo;
    const double edge = std::max({ext.x, ext.y, ext.z});
    BallIndex index((lo + hi) * 0.5 - Vec3(1, 1, 1) * (0.5 * edge), edge, 48);
    for (size_t i = 0; i < spheres.size(); ++i) index.Add(static_cast<int>(i), spheres[i]);
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<Vec3> points(static_cast<size_t>(std::max(samples, 0)));
    for (Vec3& p : points) p = {lo.x + ext.x * u(rng), lo.y + ext.y * u(rng), lo.z + ext.z * u(rng)};
    std::vector<double> depth(points.size());
    std::vector<char> covered(points.size());
    ParallelFor(points.size(), threads, [&](size_t i) {
        depth[i] = mesh.Depth(points[i]);
        covered[i] = depth[i] > 0.0 && index.Holding(spheres, points[i]) >= 0;
    });
    CoverSample s;
    long inside = 0, held = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        if (!(depth[i] > 0.0)) continue;
        ++inside;
        held += covered[i];
        if (!covered[i] && depth[i] > s.deepestUncovered) {
            s.deepestUncovered = depth[i];
            s.deepestPoint = points[i];
        }
    }
    s.share = inside > 0 ? static_cast<double>(held) / inside : 0.0;
    return s;
}

double WorstProtrusion(const MeshDistance& mesh, const std::vector<Sphere>& spheres, int threads) {
    std::vector<double> out(spheres.size());
    ParallelFor(spheres.size(), threads, [&](size_t i) { out[i] = spheres[i].radius - mesh.Depth(spheres[i].center); });
    double worst = -std::numeric_limits<double>::infinity();
    for (double v : out) worst = std::max(worst, v);
    return worst;
}

}  // namespace spheres
