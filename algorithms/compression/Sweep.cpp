// The trial moves: one sweep of a trial per body, shared out over domains of cells that can be
// worked on at the same time, and the tuning of the move sizes.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "algorithms/compression/Compressor.h"
#include "statistics/Cubatic.h"

namespace Packing::compression {
namespace {

// Move sizes are retuned every this many sweeps, from at least this many trials.
constexpr int kTuneEvery = 4;
constexpr int64_t kTuneMinTrials = 32;
constexpr float kMaxMoveStep = 1.0f;  // share of the body's outer radius
constexpr float kMaxTurnStep = 3.14159265f;
constexpr float kMinStep = 1e-6f;
// Overlapping bodies try moves down to 2^-(levels-1) of the tuned size.
constexpr size_t kFineLevels = 12;
// Bodies are put back in the order of their cells every this many sweeps.
constexpr int64_t kSortEvery = 64;
// Domains are blocks of at least this many cells along each axis, and at most about this many
// along an axis of the container: enough for 64 threads in a box 24 cells wide, and wide enough
// that few moves are lost at their faces. A sweep shares out its domains from this many bodies on.
constexpr int kDomainCells = 3;
constexpr int kDomainsPerAxis = 8;
constexpr size_t kParallelBodies = 2000;
// Bodies per task when every overlap is counted.
constexpr size_t kCountChunk = 512;

}  // namespace

Vector3 Compressor::Rng::Axis() {
    while (true) {
        const Vector3 v(2.0f * Uniform() - 1.0f, 2.0f * Uniform() - 1.0f, 2.0f * Uniform() - 1.0f);
        const float l2 = Vectormath::Aos::lengthSqr(v);
        if (l2 > 1e-4f && l2 <= 1.0f) return v / std::sqrt(l2);
    }
}

bool Compressor::Parallel(size_t bodies) const { return m_threads > 1 && bodies >= kParallelBodies; }

WorkerPool& Compressor::Pool() const {
    if (!m_pool) {
        m_pool = std::make_unique<WorkerPool>(m_threads);
        m_scratch.resize(static_cast<size_t>(m_pool->Threads()));
    }
    return *m_pool;
}

bool Compressor::Separating(const Body& from, const Body& to, const std::vector<int32_t>& before,
                            const std::vector<int32_t>& after) const {
    for (int32_t j : after) {
        if (std::find(before.begin(), before.end(), j) == before.end()) return false;
        const Vector3& q = m_bodies[static_cast<size_t>(j)].position;
        if (Vectormath::Aos::lengthSqr(to.position - q) < Vectormath::Aos::lengthSqr(from.position - q)) return false;
    }
    return true;
}

void Compressor::SweepDomain(Domain& d, Scratch& s) {
    Rng& rng = d.rng;
    const size_t n = d.bodies.size();
    for (size_t k = 0; k < n; ++k) {
        const int32_t i = d.bodies[rng.Index(n)];
        Body& b = m_bodies[static_cast<size_t>(i)];
        Body trial = b;
        const int kind = rng.Uniform() < 0.5f ? 1 : 0;  // 1: turn, 0: move
        int32_t& count = m_count[static_cast<size_t>(i)];
        // What the body overlaps where it stands, found only when a move needs it: most moves of
        // an overlapping body already fail on what they would meet.
        bool wallOld = false, haveOld = false;
        auto findOld = [&] {
            if (!haveOld) Partners(b, i, s.old, wallOld);
            haveOld = true;
        };
        // An overlapping body needs moves of every size: large ones find free room, small ones
        // clear a shallow overlap without running into the next neighbour.
        const float size = count == 0 ? 1.0f : std::ldexp(1.0f, -static_cast<int>(rng.Index(kFineLevels)));
        if (kind == 1) {
            const float angle = (2.0f * rng.Uniform() - 1.0f) * m_turnStep * size;
            trial.orientation = Vectormath::Aos::normalize(Quat::rotation(angle, rng.Axis()) * b.orientation);
            trial.rotation = Matrix3(trial.orientation);
            if (m_orderHeld && m_shapes.Cubic(b.type) && AxisAlignment(trial.rotation) > AxisAlignment(b.rotation))
                continue;
        } else if (count > 0 && rng.Uniform() < 0.5f) {
            // Half the moves of an overlapping body go straight away from what it overlaps (the
            // container's centre stands in for a wall): random ones alone took a cube out of a
            // corner-to-corner overlap only after hundreds of sweeps.
            findOld();
            Vector3 away(0.0f);
            for (int32_t j : s.old) {
                const Vector3 dj = b.position - m_bodies[static_cast<size_t>(j)].position;
                const float l = Vectormath::Aos::length(dj);
                if (l > 0.0f) away += dj / l;
            }
            if (wallOld) {
                const Vector3 in = 0.5f * (m_shapes.BoxMin() + m_shapes.BoxMax()) - b.position;
                const float l = Vectormath::Aos::length(in);
                if (l > 0.0f) away += in / l;
            }
            const float l = Vectormath::Aos::length(away);
            const Vector3 dir = l > 0.0f ? away / l : rng.Axis();
            trial.position += (rng.Uniform() * size * m_scale * BodyRadius(b)) * dir;
        } else {
            const float step = m_moveStep * size * m_scale * BodyRadius(b);
            trial.position +=
                step * Vector3(2.0f * rng.Uniform() - 1.0f, 2.0f * rng.Uniform() - 1.0f, 2.0f * rng.Uniform() - 1.0f);
        }
        ++d.tried[kind];
        // A body stays in its domain, so no two domains at work ever meet.
        const uint32_t cell = m_grid.CellOf(trial.position);
        int c[3];
        m_grid.Coords(cell, c);
        if (c[0] < d.lo[0] || c[0] >= d.hi[0] || c[1] < d.lo[1] || c[1] >= d.hi[1] || c[2] < d.lo[2] || c[2] >= d.hi[2])
            continue;

        if (count == 0) {
            if (Blocked(trial, i)) continue;
        } else {
            // An overlapping body may move only where it meets no new body and moves away from (or
            // keeps its distance to) each one it overlaps, so overlaps only ever clear and never
            // sink deeper.
            bool wallNew = false;
            const int fresh = Partners(trial, i, s.fresh, wallNew, count);
            if (fresh > count) continue;
            findOld();
            if (!Separating(b, trial, s.old, s.fresh)) continue;
            // The wall gives way to nothing: a body may cross it only less than before, or it would
            // trade a neighbour for the outside and wander off.
            if (wallNew && (!wallOld || m_shapes.Protrusion(trial, m_scale) > m_shapes.Protrusion(b, m_scale)))
                continue;
            // Neighbours between two domains may be counted by both at once.
            for (int32_t j : s.old)
                std::atomic_ref<int32_t>(m_count[static_cast<size_t>(j)]).fetch_sub(1, std::memory_order_relaxed);
            for (int32_t j : s.fresh)
                std::atomic_ref<int32_t>(m_count[static_cast<size_t>(j)]).fetch_add(1, std::memory_order_relaxed);
            d.pairDelta += static_cast<int64_t>(s.fresh.size()) - static_cast<int64_t>(s.old.size());
            d.wallDelta += (wallNew ? 1 : 0) - (wallOld ? 1 : 0);
            count = fresh;
        }
        b = trial;
        m_grid.Move(EntryOf(b, i), cell);
        ++d.took[kind];
    }
}

float Compressor::AxisAlignment(const Matrix3& r) const {
    float sum = 0.0f;
    for (int k = 0; k < 3; ++k) {
        const float c = Vectormath::Aos::dot(r.getCol(k), m_director);
        sum += c * c * c * c;
    }
    return sum;
}

void Compressor::HoldOrder() {
    m_orderHeld = false;
    if (m_settings.maxCubaticOrder >= 1.0) return;
    std::vector<Matrix3> frames;
    for (const Body& b : m_bodies)
        if (m_shapes.Cubic(b.type)) frames.push_back(b.rotation);
    if (frames.empty()) return;
    m_orderHeld = check::CubaticOrder(frames, &m_director) >= m_settings.maxCubaticOrder;
}

void Compressor::Sweep() {
    if (m_stats.sweeps % kSortEvery == 0) SortBodies();
    HoldOrder();
    // Domains: blocks of cells, coloured by the parity of their index along each axis. Two
    // domains of one colour have a whole domain (at least two cells) between them, so bodies
    // that they move never meet, nor do the cells they read; the eight colours take turns. The
    // blocks shift by a random offset every sweep, so no face stays a barrier. Nothing here
    // depends on the number of threads.
    const int* dims = m_grid.Dims();
    const uint64_t base = m_rng();
    uint64_t draw = base;
    int width[3], offset[3], count[3];
    for (int k = 0; k < 3; ++k) {
        width[k] = std::max(kDomainCells, dims[k] / kDomainsPerAxis);
        offset[k] = static_cast<int>(col::splitMix64(draw) % static_cast<uint64_t>(width[k]));
        count[k] = (dims[k] + offset[k] + width[k] - 1) / width[k];
    }
    const size_t domains = static_cast<size_t>(count[0]) * count[1] * count[2];
    if (m_domains.size() < domains) m_domains.resize(domains);
    for (auto& list : m_byColour) list.clear();
    for (size_t id = 0; id < domains; ++id) {
        Domain& d = m_domains[id];
        const int at[3] = {static_cast<int>(id % count[0]), static_cast<int>(id / count[0] % count[1]),
                           static_cast<int>(id / (static_cast<size_t>(count[0]) * count[1]))};
        for (int k = 0; k < 3; ++k) {
            d.lo[k] = std::max(0, at[k] * width[k] - offset[k]);
            d.hi[k] = std::min(dims[k], (at[k] + 1) * width[k] - offset[k]);
        }
        d.rng.state = base ^ (0xD1B54A32D192ED03ull * static_cast<uint64_t>(id + 1));
        d.bodies.clear();
        d.tried[0] = d.tried[1] = d.took[0] = d.took[1] = 0;
        d.pairDelta = d.wallDelta = 0;
    }
    for (size_t i = 0; i < m_bodies.size(); ++i) {
        int c[3];
        m_grid.Coords(m_grid.CellOfBody(static_cast<int32_t>(i)), c);
        size_t id = 0;
        for (int k = 2; k >= 0; --k)
            id = id * static_cast<size_t>(count[k]) + static_cast<size_t>((c[k] + offset[k]) / width[k]);
        m_domains[id].bodies.push_back(static_cast<int32_t>(i));
    }
    for (size_t id = 0; id < domains; ++id) {
        if (m_domains[id].bodies.empty()) continue;
        const size_t x = id % count[0], y = id / count[0] % count[1],
                     z = id / (static_cast<size_t>(count[0]) * count[1]);
        m_byColour[(x & 1) | (y & 1) << 1 | (z & 1) << 2].push_back(id);
    }
    if (Parallel(m_bodies.size())) {
        WorkerPool& pool = Pool();
        for (const auto& list : m_byColour)
            pool.ForEach(list.size(), [&](size_t k, int worker) {
                SweepDomain(m_domains[list[k]], m_scratch[static_cast<size_t>(worker)]);
            });
    } else {
        if (m_scratch.empty()) m_scratch.resize(1);
        for (const auto& list : m_byColour)
            for (size_t id : list) SweepDomain(m_domains[id], m_scratch[0]);
    }
    for (size_t id = 0; id < domains; ++id) {
        const Domain& d = m_domains[id];
        for (int kind = 0; kind < 2; ++kind) {
            m_tried[kind] += d.tried[kind];
            m_took[kind] += d.took[kind];
            m_stats.trials += d.tried[kind];
            m_stats.accepted += d.took[kind];
        }
        m_pairOverlaps += d.pairDelta;
        m_wallOverlaps += d.wallDelta;
    }
    ++m_stats.sweeps;
    if (m_stats.sweeps % kTuneEvery == 0) TuneSteps();
}

void Compressor::Sweeps(int count) {
    if (m_countsStale) Recount();
    for (int k = 0; k < count; ++k) Sweep();
}

void Compressor::TuneSteps() {
    float* steps[2] = {&m_moveStep, &m_turnStep};
    const float limits[2] = {kMaxMoveStep, kMaxTurnStep};
    for (int kind = 0; kind < 2; ++kind) {
        if (m_tried[kind] < kTuneMinTrials) continue;
        const double rate = static_cast<double>(m_took[kind]) / static_cast<double>(m_tried[kind]);
        const double factor = std::clamp(rate / m_settings.acceptance, 0.5, 1.5);
        *steps[kind] = std::clamp(static_cast<float>(*steps[kind] * factor), kMinStep, limits[kind]);
        m_tried[kind] = m_took[kind] = 0;
    }
}

int64_t Compressor::CountAll(float scale, std::vector<int32_t>& outCount, int64_t& outPairs, int64_t& outWall) const {
    const size_t n = m_bodies.size();
    outCount.assign(n, 0);
    const size_t chunks = (n + kCountChunk - 1) / kCountChunk;
    std::vector<int64_t> pairs(chunks, 0), wall(chunks, 0);
    // Each pair once, by its lower index, whose cache it uses; the counts add up atomically, so
    // they are the same however the chunks are shared out.
    auto countChunk = [&](size_t chunk, int) {
        for (size_t i = chunk * kCountChunk; i < std::min(n, (chunk + 1) * kCountChunk); ++i) {
            const Body& b = m_bodies[i];
            if (!m_shapes.Inside(b, scale)) {
                std::atomic_ref<int32_t>(outCount[i]).fetch_add(1, std::memory_order_relaxed);
                ++wall[chunk];
            }
            const float rb = scale * BodyRadius(b);
            m_grid.ForEachNear(m_grid.CellOf(b.position), [&](const CellGrid::Entry& o) {
                const int32_t j = o.body;
                if (static_cast<size_t>(j) <= i) return true;
                const float reach = rb + scale * o.r;
                const float dx = o.x - b.position.getX(), dy = o.y - b.position.getY(), dz = o.z - b.position.getZ();
                if (dx * dx + dy * dy + dz * dz < reach * reach &&
                    m_shapes.Overlap(b, m_bodies[static_cast<size_t>(j)], scale,
                                     m_pairCache.At(static_cast<int32_t>(i), j))) {
                    std::atomic_ref<int32_t>(outCount[i]).fetch_add(1, std::memory_order_relaxed);
                    std::atomic_ref<int32_t>(outCount[static_cast<size_t>(j)]).fetch_add(1, std::memory_order_relaxed);
                    ++pairs[chunk];
                }
                return true;
            });
        }
    };
    if (Parallel(n)) {
        Pool().ForEach(chunks, countChunk);
    } else {
        for (size_t k = 0; k < chunks; ++k) countChunk(k, 0);
    }
    outPairs = outWall = 0;
    for (size_t k = 0; k < chunks; ++k) {
        outPairs += pairs[k];
        outWall += wall[k];
    }
    return outPairs + outWall;
}

}  // namespace Packing::compression
