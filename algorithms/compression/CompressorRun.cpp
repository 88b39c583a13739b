// The compression protocol: drop, then rounds of growth and local moves until jammed, removal of
// what cannot reach full size, and the last fill at full size.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "algorithms/Limits.h"
#include "algorithms/compression/BallGrowth.h"
#include "algorithms/compression/Compressor.h"

namespace Packing::compression {
namespace {

// Tries per body when dropping; a body that finds no place in that many makes everything smaller.
constexpr int kDropTries = 2000;
constexpr float kDropShrink = 0.9f;
constexpr float kSmallestScale = 1e-3f;
// Move sizes are retuned every this many sweeps, from at least this many trials.
constexpr int kTuneEvery = 4;
constexpr int64_t kTuneMinTrials = 32;
constexpr float kMaxMoveStep = 1.0f;  // share of the body's outer radius
constexpr float kMaxTurnStep = 3.14159265f;
constexpr float kMinStep = 1e-6f;
// A growth whose overlaps clear within this share of the allowed sweeps makes the next one larger.
constexpr int kQuickClearDivisor = 8;
constexpr double kGrowthSpeedUp = 1.5;
// The counting round's jam is followed by a fresh start only when full size has no room for at
// least this share of its bodies.
constexpr double kFreshStartExcess = 0.01;
// Past this share of the limit a round cut short would be blown up to full size and lose its
// wall layer: a counting round's jam no longer starts afresh, and the bodies left after a removal
// no longer loosen.
constexpr double kLateInLimit = 0.5;
// After bodies are taken out of a jammed packing, the rest shrinks by this share of its size: the
// holes left behind do not close while the neighbours around them stay jammed, and each further
// round then jammed a little lower (spheres in a box six wide lost 0.02 of volume fraction over
// seven rounds; loosened, one round reached full size).
constexpr double kLoosenAfterRemoval = 0.03;
constexpr double kLargestGrowth = 0.1;
// Balls in flight are shown this share below their size: touching balls may hold touching meshes.
constexpr double kShownBelowTouch = 1e-4;
constexpr double kMinOverlapBudget = 4.0;
// A jammed packing that does not clear backs off by this share of its size at a time.
constexpr double kSettleBackOff = 1e-3;
// Overlapping bodies try moves down to 2^-(levels-1) of the tuned size.
constexpr size_t kFineLevels = 12;
// Bodies are put back in the order of their cells every this many sweeps.
constexpr int64_t kSortEvery = 64;
// Slabs are this many cell columns wide; a sweep uses two threads from this many bodies on.
constexpr int kSlabColumns = 2;
constexpr size_t kParallelBodies = 2000;

}  // namespace

Vector3 Compressor::Rng::Axis() {
    while (true) {
        const Vector3 v(2.0f * Uniform() - 1.0f, 2.0f * Uniform() - 1.0f, 2.0f * Uniform() - 1.0f);
        const float l2 = Vectormath::Aos::lengthSqr(v);
        if (l2 > 1e-4f && l2 <= 1.0f) return v / std::sqrt(l2);
    }
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

void Compressor::SweepSlab(SlabWork& w) {
    Rng& rng = w.rng;
    const size_t n = w.bodies.size();
    for (size_t k = 0; k < n; ++k) {
        const int32_t i = w.bodies[rng.Index(n)];
        Body& b = m_bodies[static_cast<size_t>(i)];
        Body trial = b;
        const int kind = rng.Uniform() < 0.5f ? 1 : 0;  // 1: turn, 0: move
        int32_t& count = m_count[static_cast<size_t>(i)];
        // What the body overlaps where it stands, found only when a move needs it: most moves of
        // an overlapping body already fail on what they would meet.
        bool wallOld = false, haveOld = false;
        auto findOld = [&] {
            if (!haveOld) Partners(b, i, w.scratchOld, wallOld);
            haveOld = true;
        };
        // An overlapping body needs moves of every size: large ones find free room, small ones
        // clear a shallow overlap without running into the next neighbour.
        const float size = count == 0 ? 1.0f : std::ldexp(1.0f, -static_cast<int>(rng.Index(kFineLevels)));
        if (kind == 1) {
            const float angle = (2.0f * rng.Uniform() - 1.0f) * m_turnStep * size;
            trial.orientation = Vectormath::Aos::normalize(Quat::rotation(angle, rng.Axis()) * b.orientation);
            trial.rotation = Matrix3(trial.orientation);
        } else if (count > 0 && rng.Uniform() < 0.5f) {
            // Half the moves of an overlapping body go straight away from what it overlaps (the
            // container's centre stands in for a wall): random ones alone took a cube out of a
            // corner-to-corner overlap only after hundreds of sweeps.
            findOld();
            Vector3 away(0.0f);
            for (int32_t j : w.scratchOld) {
                const Vector3 d = b.position - m_bodies[static_cast<size_t>(j)].position;
                const float l = Vectormath::Aos::length(d);
                if (l > 0.0f) away += d / l;
            }
            if (wallOld) {
                const Vector3 in = 0.5f * (m_shapes.BoxMin() + m_shapes.BoxMax()) - b.position;
                const float l = Vectormath::Aos::length(in);
                if (l > 0.0f) away += in / l;
            }
            const float l = Vectormath::Aos::length(away);
            const Vector3 dir = l > 0.0f ? away / l : rng.Axis();
            trial.position += (rng.Uniform() * size * m_scale * m_shapes.OuterRadius(b.type)) * dir;
        } else {
            const float step = m_moveStep * size * m_scale * m_shapes.OuterRadius(b.type);
            trial.position +=
                step * Vector3(2.0f * rng.Uniform() - 1.0f, 2.0f * rng.Uniform() - 1.0f, 2.0f * rng.Uniform() - 1.0f);
        }
        ++w.tried[kind];
        // A body stays in its slab's columns, so no two slabs at work ever meet.
        const uint32_t cell = m_grid.CellOf(trial.position);
        const int column = m_grid.Column(cell);
        if (column < w.xBegin || column >= w.xEnd) continue;

        if (count == 0) {
            if (Blocked(trial, i)) continue;
        } else {
            // An overlapping body may move only where it meets no new body and moves away from (or
            // keeps its distance to) each one it overlaps, so overlaps only ever clear and never
            // sink deeper.
            bool wallNew = false;
            const int fresh = Partners(trial, i, w.scratchNew, wallNew, count);
            if (fresh > count) continue;
            findOld();
            if (!Separating(b, trial, w.scratchOld, w.scratchNew)) continue;
            // The wall gives way to nothing: a body may cross it only less than before, or it would
            // trade a neighbour for the outside and wander off.
            if (wallNew && (!wallOld || m_shapes.Protrusion(trial, m_scale) > m_shapes.Protrusion(b, m_scale)))
                continue;
            // Neighbours in the next slabs may be counted by two slabs at once.
            for (int32_t j : w.scratchOld)
                std::atomic_ref<int32_t>(m_count[static_cast<size_t>(j)]).fetch_sub(1, std::memory_order_relaxed);
            for (int32_t j : w.scratchNew)
                std::atomic_ref<int32_t>(m_count[static_cast<size_t>(j)]).fetch_add(1, std::memory_order_relaxed);
            w.pairDelta += static_cast<int64_t>(w.scratchNew.size()) - static_cast<int64_t>(w.scratchOld.size());
            w.wallDelta += (wallNew ? 1 : 0) - (wallOld ? 1 : 0);
            count = fresh;
        }
        b = trial;
        m_grid.Move(EntryOf(b, i), cell);
        ++w.took[kind];
    }
}

void Compressor::Sweep() {
    if (m_stats.sweeps % kSortEvery == 0) SortBodies();
    // Slabs of whole cell columns along x, at least two columns wide, so that two slabs with one
    // between them never hold bodies that could touch. The even slabs move first, then the odd
    // ones; the boundaries shift by a column every other sweep, so no plane stays a barrier.
    const int columns = m_grid.Columns();
    const int shift = columns >= 4 ? static_cast<int>(m_stats.sweeps % 2) : 0;
    const int slabCount = std::max(1, (columns - shift) / kSlabColumns);
    m_slabs.resize(static_cast<size_t>(slabCount));
    const uint64_t base = m_rng();
    for (int k = 0; k < slabCount; ++k) {
        SlabWork& w = m_slabs[static_cast<size_t>(k)];
        w.xBegin = k == 0 ? 0 : shift + k * kSlabColumns;
        w.xEnd = k + 1 == slabCount ? columns : shift + (k + 1) * kSlabColumns;
        w.rng.state = base ^ (0xD1B54A32D192ED03ull * static_cast<uint64_t>(k + 1));
        w.bodies.clear();
        w.tried[0] = w.tried[1] = w.took[0] = w.took[1] = 0;
        w.pairDelta = w.wallDelta = 0;
    }
    for (size_t i = 0; i < m_bodies.size(); ++i) {
        const int column = m_grid.Column(m_grid.CellOfBody(static_cast<int32_t>(i)));
        int k = column < shift ? 0 : std::min(slabCount - 1, (column - shift) / kSlabColumns);
        m_slabs[static_cast<size_t>(k)].bodies.push_back(static_cast<int32_t>(i));
    }
    // Two workers when there is enough to share; the result is the same with one.
    const bool parallel =
        m_bodies.size() >= kParallelBodies && slabCount >= 3 && std::thread::hardware_concurrency() > 1;
    for (int parity = 0; parity < 2; ++parity) {
        if (!parallel) {
            for (int k = parity; k < slabCount; k += 2) SweepSlab(m_slabs[static_cast<size_t>(k)]);
            continue;
        }
        std::thread helper([this, parity, slabCount] {
            for (int k = parity + 2; k < slabCount; k += 4) SweepSlab(m_slabs[static_cast<size_t>(k)]);
        });
        for (int k = parity; k < slabCount; k += 4) SweepSlab(m_slabs[static_cast<size_t>(k)]);
        helper.join();
    }
    for (const SlabWork& w : m_slabs) {
        for (int kind = 0; kind < 2; ++kind) {
            m_tried[kind] += w.tried[kind];
            m_took[kind] += w.took[kind];
            m_stats.trials += w.tried[kind];
            m_stats.accepted += w.took[kind];
        }
        m_pairOverlaps += w.pairDelta;
        m_wallOverlaps += w.wallDelta;
    }
    ++m_stats.sweeps;
}

void Compressor::Sweeps(int count) {
    Recount();
    for (int k = 0; k < count; ++k) {
        Sweep();
        if (m_stats.sweeps % kTuneEvery == 0) TuneSteps();
    }
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

void Compressor::Drop(int64_t target, Limit& limit) {
    while (static_cast<int64_t>(m_bodies.size()) < target) {
        if (TryInsert(MostWantedType(), m_scale, kDropTries)) continue;
        if (m_scale <= kSmallestScale || limit.Passed()) break;
        // No room at this size: everything gets smaller (a convex body about an inner origin
        // stays inside its old self, so nothing starts to overlap).
        m_scale *= kDropShrink;
    }
    RemoveOverlapping();
}

double Compressor::JamGuess() const {
    // Where the packing will jam: the guess until the first jam tells (walls and shapes put it
    // well below the guess, and a later round that took the guess for it grew too fast).
    return m_stats.firstJamFraction > 0.0 ? m_stats.firstJamFraction : m_settings.packingGuess;
}

double Compressor::GrowthCap(const Pace& pace) const {
    // The rate holds near the jam; further from it the packing can take larger steps, as much
    // larger as the square of how far below the guessed density it is.
    const double phi = Fraction();
    const double below = phi > 0.0 ? std::max(1.0, JamGuess() / phi) : 1.0;
    return std::min(kLargestGrowth, pace.maxGrowth * below * below);
}

void Compressor::GrowAsBalls(double rate, Limit& limit, const std::function<void(const Compressor&)>& observe) {
    const size_t n = m_bodies.size();
    std::vector<double> centres(3 * n), radii(n);
    for (size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) centres[3 * i + k] = m_bodies[i].position[k];
        radii[i] = m_shapes.OuterRadius(m_bodies[i].type);
    }
    const double lo[3] = {m_shapes.BoxMin()[0], m_shapes.BoxMin()[1], m_shapes.BoxMin()[2]};
    const double hi[3] = {m_shapes.BoxMax()[0], m_shapes.BoxMax()[1], m_shapes.BoxMax()[2]};
    BallGrowthSettings settings;
    settings.rate = rate;
    auto place = [&] {
        for (size_t i = 0; i < n; ++i)
            m_bodies[i].position = Vector3(static_cast<float>(centres[3 * i]), static_cast<float>(centres[3 * i + 1]),
                                           static_cast<float>(centres[3 * i + 2]));
    };
    // The flight shows as it goes, a hair below the balls' size there, where they may touch. As
    // many collisions as bodies count as one sweep against the limit.
    const float startScale = m_scale;
    const std::vector<Body> before = m_bodies;
    const BallGrowthResult grown =
        GrowBalls(centres, radii, lo, hi, m_scale, 1.0, m_rng(), settings, [&](double scale) {
            ++m_stats.sweeps;
            place();
            m_scale = std::min(1.0f, static_cast<float>(scale * (1.0 - kShownBelowTouch)));
            observe(*this);
            return limit.Passed();
        });
    m_stats.ballEvents += grown.events;
    m_stats.limitReached = m_stats.limitReached || grown.stopped;
    // Meshes pressed by the moves lie closer than their balls: the flight then starts lower, and
    // is kept only when it ends above where the moves had got. Rounded to float the balls may
    // touch again; the exact count below and the moves take care of that.
    if (grown.scale > startScale) {
        place();
        m_scale = std::min(1.0f, static_cast<float>(grown.scale));
    } else {
        m_bodies = before;
        m_scale = startScale;
    }
    m_pairCache.Clear();
    RebuildGrid();
    Recount();
    observe(*this);
}

Compressor::Outcome Compressor::Compress(const Pace& pace, Limit& limit,
                                         const std::function<void(const Compressor&)>& observe) {
    m_phase = Phase::Compress;
    m_growth = std::min(m_settings.growth, pace.maxGrowth);
    Recount();
    if (m_ballLike && pace.ballRate > 0.0 && m_scale < 1.0f && !m_bodies.empty() && Overlaps() == 0) {
        GrowAsBalls(pace.ballRate, limit, observe);  // ends with the bodies counted afresh
        if (m_stats.limitReached) return Outcome::Limit;
    }
    const double n = static_cast<double>(m_bodies.size());
    // A large packing may grow on while a few of its overlaps are still being cleared: waiting for
    // the very last of thousands held 15,000 spheres for hundreds of sweeps at every step.
    const int64_t allowance = static_cast<int64_t>(m_settings.restOverlapShare * n);
    int sinceGrowth = 0, rested = 0;
    bool clearing = false;
    while (true) {
        if (Overlaps() == 0) {
            Snapshot();
            if (m_scale >= 1.0f) return Outcome::Reached;
        }
        if (Overlaps() <= allowance && m_scale < 1.0f) {
            if (clearing && sinceGrowth * kQuickClearDivisor <= pace.clearSweeps)
                m_growth = std::min(GrowthCap(pace), m_growth * kGrowthSpeedUp);
            clearing = false;
            // Rest longer the denser it gets: a dilute packing needs no rest, and near the jam
            // the rest decides how dense it ends.
            const double closeness = std::min(1.0, Fraction() / JamGuess());
            if (rested >= pace.restSweeps * closeness * closeness * closeness * closeness) {
                // Grow if the step stays within the overlap budget (a few overlaps always pass, or
                // two pairs left touching by the last clearing would stop a small packing); a step
                // over budget is halved and tried after another rest.
                const float next = std::min(1.0f, static_cast<float>(m_scale * (1.0 + m_growth)));
                int64_t pairs = 0, wall = 0;
                const int64_t total = CountAll(next, m_scratchCount, pairs, wall);
                rested = 0;
                if (static_cast<double>(total) > std::max(kMinOverlapBudget, m_settings.overlapShare * n)) {
                    m_growth *= 0.5;
                    if (m_growth < m_settings.minGrowth) return Settle(pace, limit, observe);
                    continue;
                }
                m_scale = next;
                m_count.swap(m_scratchCount);
                m_pairOverlaps = pairs;
                m_wallOverlaps = wall;
                ++m_stats.growths;
                if (total == 0) m_growth = std::min(GrowthCap(pace), m_growth * kGrowthSpeedUp);
                sinceGrowth = 0;
                clearing = Overlaps() > 0;
                observe(*this);
                continue;
            }
        } else if (sinceGrowth >= pace.clearSweeps) {
            // The overlaps did not clear: back off half the step and go on clearing from where the
            // moves got to (going back to the last free state would throw their work away).
            ++m_stats.undone;
            m_growth *= 0.5;
            sinceGrowth = 0;
            if (m_growth < m_settings.minGrowth) return Settle(pace, limit, observe);
            m_scale = std::max(m_freeScale, static_cast<float>(m_scale / (1.0 + m_growth)));
            Recount();
            continue;
        }
        Sweep();
        ++sinceGrowth;
        if (Overlaps() <= allowance) ++rested;
        if (m_stats.sweeps % kTuneEvery == 0) TuneSteps();
        observe(*this);
        if (limit.Passed()) {
            m_stats.limitReached = true;
            return Outcome::Limit;
        }
    }
}

Compressor::Outcome Compressor::Settle(const Pace& pace, Limit& limit,
                                       const std::function<void(const Compressor&)>& observe) {
    // Jammed: clear what still overlaps where it is, backing off a little at a time, rather than
    // go back to the last state without overlap, which a large packing may have left long ago.
    while (Overlaps() > 0) {
        for (int k = 0; k < pace.clearSweeps && Overlaps() > 0; ++k) {
            Sweep();
            if (m_stats.sweeps % kTuneEvery == 0) TuneSteps();
            observe(*this);
            if (limit.Passed()) {
                m_stats.limitReached = true;
                return Outcome::Limit;
            }
        }
        if (Overlaps() == 0) break;
        m_scale = std::max(m_freeScale, static_cast<float>(m_scale / (1.0 + kSettleBackOff)));
        Recount();
    }
    Snapshot();
    return Outcome::Jammed;
}

void Compressor::Reset(const std::vector<Body>& start) {
    m_bodies.clear();
    m_count.clear();
    std::fill(m_typeCount.begin(), m_typeCount.end(), 0);
    m_grid.Clear();
    m_pairCache.Clear();
    m_hasFree = false;
    for (const Body& b : start) AddBody(b);
}

double Compressor::MeanVolume() const {
    double shareSum = 0.0, weighted = 0.0;
    for (const TypeSpec& t : m_types) {
        shareSum += t.share;
        weighted += t.share * t.volume;
    }
    double meanVolume = shareSum > 0.0 ? weighted / shareSum : 0.0;
    if (!(meanVolume > 0.0)) {
        meanVolume = 0.0;
        for (const TypeSpec& t : m_types) meanVolume += t.volume / static_cast<double>(m_types.size());
    }
    return meanVolume;
}

double Compressor::GuessedCount() const {
    const double meanVolume = MeanVolume();
    return meanVolume > 0.0 ? m_settings.packingGuess * m_containerVolume / meanVolume : 0.0;
}

void Compressor::Run(Limit& limit, const std::function<void(const Compressor&)>& observe) {
    const double meanVolume = MeanVolume();
    const std::vector<Body> start = m_bodies;
    int64_t target = static_cast<int64_t>(start.size());
    if (meanVolume > 0.0) target = std::max(target, static_cast<int64_t>(std::llround(GuessedCount())));

    // Drop at a size where the target count fills only the start fraction; bodies already placed
    // shrink about their centres, which keeps them clear of each other and of the wall.
    auto drop = [&](int64_t count) {
        m_phase = Phase::Drop;
        const double startScale =
            count > 0 && meanVolume > 0.0
                ? std::cbrt(m_settings.startFraction * m_containerVolume / (static_cast<double>(count) * meanVolume))
                : 1.0;
        m_scale = static_cast<float>(std::min(1.0, startScale));
        Drop(count, limit);
        observe(*this);
    };
    // The careful round's flight is slow, which decides how dense the balls jam (spheres in a box
    // six wide: 0.0005 kept about three more than 0.005, and as often reached full size at once);
    // a count, or a packing that settles again after a removal, needs only a quick one.
    const Pace slow{static_cast<double>(m_settings.relaxSweeps), m_settings.clearSweeps, m_settings.maxGrowth,
                    m_settings.ballRate};
    Pace again = slow;
    again.ballRate = m_settings.quickBallRate;

    // Jammed below full size: the bodies full size has no room for go, spread over the types by
    // their shares.
    auto scaleCubed = [&] { return static_cast<double>(m_scale) * m_scale * m_scale; };
    auto late = [&] { return limit.Used() >= kLateInLimit; };
    auto removeExcess = [&] {
        const int64_t excess =
            static_cast<int64_t>(std::ceil(static_cast<double>(m_bodies.size()) * (1.0 - scaleCubed())));
        RemoveForShares(std::max<int64_t>(1, excess));
        if (!late()) m_scale *= static_cast<float>(1.0 - kLoosenAfterRemoval);
        Recount();
        Snapshot();
        observe(*this);
    };

    // A counting compression first, to learn how many bodies full size has room for; the careful
    // one then starts afresh with that many. Taking the excess out of a jammed packing instead
    // leaves holes that the next growth does not close: in a box six spheres wide the rounds lost
    // 0.03 of volume fraction after the first jam, a fresh start about none.
    Outcome outcome = Outcome::Jammed;
    bool goOnFromJam = false;
    if (m_settings.estimateSpeed >= 1.0) {
        const Pace quick{slow.restSweeps / m_settings.estimateSpeed,
                         std::max(1, static_cast<int>(slow.clearSweeps / m_settings.estimateSpeed)),
                         std::min(0.5, slow.maxGrowth * m_settings.estimateSpeed), m_settings.quickBallRate};
        drop(target);
        ++m_stats.rounds;
        outcome = Compress(quick, limit, observe);
        m_stats.countingSweeps = m_stats.sweeps;
        if (outcome == Outcome::Jammed) {
            m_stats.firstJamFraction = Fraction();
            const double s3 = scaleCubed();
            // A jam within a hair of full size loses next to nothing when its few extra bodies are
            // taken out where they are, and a fresh round that the limit would cut short ends far
            // worse (blown up, the wall layer goes): both go on from the jam instead.
            goOnFromJam = 1.0 - s3 < kFreshStartExcess || late();
            if (goOnFromJam) {
                removeExcess();
            } else {
                // A slow careful flight packs denser than the quick count foretells.
                const double bonus =
                    m_ballLike && m_settings.ballRate > 0.0 ? m_settings.ballEstimateBonus : m_settings.estimateBonus;
                target = std::max<int64_t>(static_cast<int64_t>(start.size()),
                                           std::llround(static_cast<double>(m_bodies.size()) * s3 * (1.0 + bonus)));
                Reset(start);
                m_stats.freshStart = true;
            }
        }
    }
    if (outcome == Outcome::Jammed) {
        if (!goOnFromJam) drop(target);
        for (int round = 0; round < m_settings.maxRounds; ++round) {
            ++m_stats.rounds;
            outcome = Compress(round == 0 && !goOnFromJam ? slow : again, limit, observe);
            if (outcome != Outcome::Jammed) break;
            if (m_stats.firstJamFraction == 0.0) m_stats.firstJamFraction = Fraction();
            removeExcess();
        }
    }

    // At full size whatever still overlaps goes (only after the limit or the last round).
    m_phase = Phase::Finish;
    if (Overlaps() > 0 && m_hasFree) Restore();
    if (m_scale < 1.0f) {
        // Blown up about the container's centre to full size, the bodies keep their arrangement and
        // stay clear of each other; only those the wall now cuts go.
        const Vector3 centre = 0.5f * (m_shapes.BoxMin() + m_shapes.BoxMax());
        const float f = 1.0f / m_scale;
        for (Body& b : m_bodies) b.position = centre + f * (b.position - centre);
        m_scale = 1.0f;
        m_pairCache.Clear();
        RebuildGrid();
        RemoveOverlapping();
    }
    observe(*this);

    m_phase = Phase::Fill;
    const int64_t tries = static_cast<int64_t>(m_settings.insertTriesPerBody * static_cast<double>(m_bodies.size()));
    for (int64_t t = 0; t < tries; ++t)
        if (TryInsert(MostWantedType(), 1.0f, 1)) ++m_stats.inserted;
    m_phase = Phase::Done;
    observe(*this);
}

}  // namespace Packing::compression
