#include "algorithms/compression/Compressor.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace Packing::compression {
namespace {

using Vectormath::Aos::lengthSqr;
using Vectormath::Aos::normalize;

constexpr double kPi = 3.14159265358979323846;
// Share of its enclosing ball a body must fill to grow as that ball (a sphere's mesh of 320
// triangles fills 0.97, an M&M 0.5, a cube 0.37).
constexpr double kBallLikeShare = 0.9;
// Neighbours a free body's move sorts by distance before testing them.
constexpr int kNearest = 48;

double Cube(float s) { return static_cast<double>(s) * s * s; }

}  // namespace

Compressor::Compressor(const Shapes& shapes, std::vector<TypeSpec> types, double containerVolume,
                       CompressionSettings settings, uint64_t seed)
    : m_shapes(shapes),
      m_types(std::move(types)),
      m_containerVolume(containerVolume),
      m_settings(settings),
      m_rng(seed),
      m_typeCount(m_types.size(), 0),
      m_typeCubes(m_types.size(), 0.0),
      m_growth(settings.growth) {
    m_threads =
        settings.threads > 0 ? settings.threads : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    // Cells as wide as the widest body at full size; at most a few cells per body.
    m_grid.Init(m_shapes.BoxMin(), m_shapes.BoxMax(), 2.0f * m_shapes.MaxOuterRadius(), 1u << 24);
    // A body whose volume nearly fills its enclosing ball loses little when it grows as that ball.
    m_ballLike = m_shapes.ContainerIsBox() && !m_types.empty();
    for (size_t t = 0; t < m_types.size(); ++t) {
        const double r = m_shapes.OuterRadius(static_cast<int>(t));
        m_ballLike = m_ballLike && m_types[t].volume >= kBallLikeShare * 4.0 / 3.0 * kPi * r * r * r;
    }
}

void Compressor::AddBody(const Body& body) {
    m_bodies.push_back(body);
    m_pairCache.Resize(m_bodies.size());
    m_count.push_back(0);
    m_countsStale = true;
    ++m_typeCount[static_cast<size_t>(body.type)];
    m_typeCubes[static_cast<size_t>(body.type)] += Cube(body.size);
    m_grid.Insert(EntryOf(body, static_cast<int32_t>(m_bodies.size() - 1)), m_grid.CellOf(body.position));
}

double Compressor::Fraction() const {
    double v = 0.0;
    for (size_t t = 0; t < m_types.size(); ++t) v += m_typeCubes[t] * m_types[t].volume;
    const double s = m_scale;
    return m_containerVolume > 0.0 ? v * s * s * s / m_containerVolume : 0.0;
}

// ---------------------------------------------------------------------------------------------
// Overlap tests

bool Compressor::PairOverlap(const Body& a, int32_t ia, const Body& b, int32_t ib, float scale) const {
    // One order per pair, whoever asks: the test's rounding may differ between the two orders,
    // and the overlap counts must agree.
    if (ia < 0 || ib < 0 || !m_shapes.Remembers(a.type, b.type))
        return ia < ib ? m_shapes.Overlap(a, b, scale) : m_shapes.Overlap(b, a, scale);
    // The asking body (a) keeps the hint, whichever order the test runs in.
    return ia < ib ? m_shapes.Overlap(a, b, scale, m_pairCache.At(ia, ib))
                   : m_shapes.Overlap(b, a, scale, m_pairCache.At(ib, ia));
}

bool Compressor::Blocked(const Body& b, int32_t self) const {
    if (!m_shapes.Inside(b, m_scale)) return true;
    const float rb = m_scale * BodyRadius(b);
    const float maxReach = rb + m_scale * m_shapes.MaxOuterRadius();
    const float bx = b.position.getX(), by = b.position.getY(), bz = b.position.getZ();
    // The neighbours within reach, nearest first: a move that fails mostly fails on its nearest
    // neighbour, and testing it first spares the tests of the others.
    struct Near {
        float d2;
        int32_t body;
    };
    Near near[kNearest];
    int count = 0;
    bool overflow = false;
    m_grid.ForEachNear(m_grid.CellOf(b.position), [&](const CellGrid::Entry& o) {
        const float dx = o.x - bx, dy = o.y - by, dz = o.z - bz;
        const float d2 = dx * dx + dy * dy + dz * dz;
        if (d2 >= maxReach * maxReach || o.body == self) return true;
        const float reach = rb + m_scale * o.r;
        if (d2 >= reach * reach) return true;
        if (count == kNearest) {
            overflow = true;
            return false;
        }
        int k = count++;
        for (; k > 0 && near[k - 1].d2 > d2; --k) near[k] = near[k - 1];
        near[k] = {d2, o.body};
        return true;
    });
    if (overflow) {
        // Crowded beyond the list (much smaller bodies among large ones): every one, in cell order.
        return !m_grid.ForEachNear(m_grid.CellOf(b.position), [&](const CellGrid::Entry& o) {
            const float dx = o.x - bx, dy = o.y - by, dz = o.z - bz;
            const float reach = rb + m_scale * o.r;
            if (o.body == self || dx * dx + dy * dy + dz * dz >= reach * reach) return true;
            return !PairOverlap(b, self, m_bodies[static_cast<size_t>(o.body)], o.body, m_scale);
        });
    }
    for (int k = 0; k < count; ++k)
        if (PairOverlap(b, self, m_bodies[static_cast<size_t>(near[k].body)], near[k].body, m_scale)) return true;
    return false;
}

int Compressor::Partners(const Body& b, int32_t self, std::vector<int32_t>& out, bool& outWall, int cap) const {
    out.clear();
    outWall = !m_shapes.Inside(b, m_scale);
    const float rb = m_scale * BodyRadius(b);
    const size_t capPairs = static_cast<size_t>(std::max(0, cap - (outWall ? 1 : 0)));
    m_grid.ForEachNear(m_grid.CellOf(b.position), [&](const CellGrid::Entry& o) {
        const int32_t j = o.body;
        if (j == self) return true;
        const float reach = rb + m_scale * o.r;
        const float dx = o.x - b.position.getX(), dy = o.y - b.position.getY(), dz = o.z - b.position.getZ();
        if (dx * dx + dy * dy + dz * dz < reach * reach &&
            PairOverlap(b, self, m_bodies[static_cast<size_t>(j)], j, m_scale))
            out.push_back(j);
        return out.size() <= capPairs;
    });
    return static_cast<int>(out.size()) + (outWall ? 1 : 0);
}

void Compressor::Recount() {
    CountAll(m_scale, m_count, m_pairOverlaps, m_wallOverlaps);
    m_countsStale = false;
}

int64_t Compressor::CountOverlapsBruteForce() const {
    int64_t total = 0;
    for (size_t i = 0; i < m_bodies.size(); ++i) {
        if (!m_shapes.Inside(m_bodies[i], m_scale)) ++total;
        for (size_t j = i + 1; j < m_bodies.size(); ++j)
            if (m_shapes.Overlap(m_bodies[i], m_bodies[j], m_scale)) ++total;
    }
    return total;
}

// ---------------------------------------------------------------------------------------------
// Bodies in and out

Body Compressor::RandomPose(int32_t type) {
    Body b;
    b.type = type;
    const Vector3 lo = m_shapes.BoxMin(), hi = m_shapes.BoxMax();
    const float x = Uniform(), y = Uniform(), z = Uniform();
    b.position = lo + Vectormath::Aos::mulPerElem(hi - lo, Vector3(x, y, z));
    // Uniform rotation from three uniform numbers.
    const double u1 = Uniform(), u2 = 2.0 * kPi * Uniform(), u3 = 2.0 * kPi * Uniform();
    const double a = std::sqrt(1.0 - u1), c = std::sqrt(u1);
    b.orientation = Quat(static_cast<float>(a * std::sin(u2)), static_cast<float>(a * std::cos(u2)),
                         static_cast<float>(c * std::sin(u3)), static_cast<float>(c * std::cos(u3)));
    b.rotation = Matrix3(b.orientation);
    // A fixed size draws nothing, so a run without sizes keeps its numbers.
    const SizeDistribution& size = m_types[static_cast<size_t>(type)].size;
    b.size = SizeDistribution::Stored(
        size.IsFixed() ? size.a : size.Draw([this] { return static_cast<double>(m_rng() >> 11) * 0x1p-53; }));
    return b;
}

bool Compressor::TryInsert(int32_t type, float scale, int tries) {
    const float kept = m_scale;
    m_scale = scale;
    bool placed = false;
    for (int t = 0; t < tries && !placed; ++t) {
        const Body b = RandomPose(type);
        if (Blocked(b, -1)) continue;
        AddBody(b);
        placed = true;
    }
    m_scale = kept;
    return placed;
}

int32_t Compressor::MostWantedType() const {
    // The type furthest below its share if one more body came.
    double total = 0.0;
    for (const TypeSpec& t : m_types) total += t.share;
    const double n = static_cast<double>(m_bodies.size()) + 1.0;
    int32_t best = 0;
    double bestGap = -1e300;
    for (size_t t = 0; t < m_types.size(); ++t) {
        const double want = total > 0.0 ? m_types[t].share / total : 1.0 / static_cast<double>(m_types.size());
        const double gap = want * n - static_cast<double>(m_typeCount[t]);
        if (gap > bestGap) {
            bestGap = gap;
            best = static_cast<int32_t>(t);
        }
    }
    return best;
}

void Compressor::RemoveBody(int32_t i) {
    const size_t idx = static_cast<size_t>(i);
    const int32_t last = static_cast<int32_t>(m_bodies.size() - 1);
    --m_typeCount[static_cast<size_t>(m_bodies[idx].type)];
    m_typeCubes[static_cast<size_t>(m_bodies[idx].type)] -= Cube(m_bodies[idx].size);
    m_grid.Remove(i);
    if (i != last) {
        m_bodies[idx] = m_bodies.back();
        m_pairCache.Move(last, i);
        m_count[idx] = m_count.back();
        m_grid.Renumber(last, i);
    }
    m_bodies.pop_back();
    m_count.pop_back();
}

void Compressor::RemoveForShares(int64_t k) {
    // The bodies that go are those most in the way at full size (most overlaps there). Random ones
    // left holes where none was needed: spheres in a box six wide, 20 seeds, then needed a second
    // removal round in 4 of the 5 seeds that removed at all; the most crowded, in none.
    std::vector<int32_t> crowd;
    int64_t pairs = 0, wall = 0;
    CountAll(1.0f, crowd, pairs, wall);
    double total = 0.0;
    for (const TypeSpec& t : m_types) total += t.share;
    for (int64_t r = 0; r < k && !m_bodies.empty(); ++r) {
        // The type furthest above its share loses a body.
        const double n = static_cast<double>(m_bodies.size()) - 1.0;
        size_t worst = 0;
        double excess = -1e300;
        for (size_t t = 0; t < m_types.size(); ++t) {
            if (m_typeCount[t] == 0) continue;
            const double want = total > 0.0 ? m_types[t].share / total : 1.0 / static_cast<double>(m_types.size());
            const double e = static_cast<double>(m_typeCount[t]) - want * n;
            if (e > excess) {
                excess = e;
                worst = t;
            }
        }
        // Ties are drawn at random: the bodies are in cell order, and the first would favour a corner.
        size_t pick = m_bodies.size();
        uint64_t ties = 0;
        for (size_t i = 0; i < m_bodies.size(); ++i) {
            if (m_bodies[i].type != static_cast<int32_t>(worst)) continue;
            if (pick == m_bodies.size() || crowd[i] > crowd[pick]) {
                pick = i;
                ties = 1;
            } else if (crowd[i] == crowd[pick] && m_rng() % ++ties == 0) {
                pick = i;
            }
        }
        // Its neighbours at full size are that much less in the way.
        const float kept = m_scale;
        m_scale = 1.0f;
        bool outside = false;
        Partners(m_bodies[pick], static_cast<int32_t>(pick), m_scratchOld, outside);
        m_scale = kept;
        for (int32_t j : m_scratchOld) --crowd[static_cast<size_t>(j)];
        crowd[pick] = crowd.back();
        crowd.pop_back();
        RemoveBody(static_cast<int32_t>(pick));
        ++m_stats.removed;
    }
}

void Compressor::RebuildGrid() {
    m_grid.Clear();
    for (size_t i = 0; i < m_bodies.size(); ++i)
        m_grid.Insert(EntryOf(m_bodies[i], static_cast<int32_t>(i)), m_grid.CellOf(m_bodies[i].position));
}

void Compressor::SortBodies() {
    // Bodies in the order of their cells: a trial's neighbours then sit near it in memory, which
    // kept the cost per body from growing with the count (cache misses at 100,000 bodies).
    const size_t n = m_bodies.size();
    std::vector<int32_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<int32_t>(i);
    std::vector<uint32_t> cell(n);
    for (size_t i = 0; i < n; ++i) cell[i] = m_grid.CellOfBody(static_cast<int32_t>(i));
    std::stable_sort(order.begin(), order.end(), [&cell](int32_t x, int32_t y) {
        return cell[static_cast<size_t>(x)] < cell[static_cast<size_t>(y)];
    });
    std::vector<int32_t> newIndex(n);
    std::vector<Body> bodies(n);
    std::vector<int32_t> count(n);
    for (size_t k = 0; k < n; ++k) {
        const size_t from = static_cast<size_t>(order[k]);
        newIndex[from] = static_cast<int32_t>(k);
        bodies[k] = m_bodies[from];
        count[k] = m_count[from];
    }
    m_bodies.swap(bodies);
    m_count.swap(count);
    m_pairCache.Renumber(newIndex);
    RebuildGrid();
}

void Compressor::Snapshot() {
    m_freeBodies = m_bodies;
    m_freeScale = m_scale;
    m_hasFree = true;
}

void Compressor::Restore() {
    m_bodies = m_freeBodies;
    m_pairCache.Resize(m_bodies.size());
    m_pairCache.Clear();
    m_scale = m_freeScale;
    std::fill(m_typeCount.begin(), m_typeCount.end(), 0);
    std::fill(m_typeCubes.begin(), m_typeCubes.end(), 0.0);
    for (const Body& b : m_bodies) {
        ++m_typeCount[static_cast<size_t>(b.type)];
        m_typeCubes[static_cast<size_t>(b.type)] += Cube(b.size);
    }
    RebuildGrid();
    Recount();
}

}  // namespace Packing::compression
