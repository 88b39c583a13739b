// The compression protocol: drop, then rounds of growth and local moves until jammed, removal of
// what cannot reach full size, and the last fill at full size.
#include <algorithm>
#include <cmath>

#include "algorithms/Limits.h"
#include "algorithms/compression/BallGrowth.h"
#include "algorithms/compression/Compressor.h"

namespace Packing::compression {
namespace {

// Tries per body when dropping; a body that finds no place in that many makes everything smaller.
constexpr int kDropTries = 2000;
constexpr float kDropShrink = 0.9f;
constexpr float kSmallestScale = 1e-3f;
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
// The count is learned by a pilot from this many times its bodies on.
constexpr double kPilotFrom = 4.0;

}  // namespace

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

void Compressor::DropAt(int64_t count, Limit& limit, const Observer& observe) {
    // At a size where the count fills only the start fraction; bodies already placed shrink about
    // their centres, which keeps them clear of each other and of the wall.
    m_phase = Phase::Drop;
    const double meanVolume = MeanVolume();
    const double startScale =
        count > 0 && meanVolume > 0.0
            ? std::cbrt(m_settings.startFraction * m_containerVolume / (static_cast<double>(count) * meanVolume))
            : 1.0;
    m_scale = static_cast<float>(std::min(1.0, startScale));
    Drop(count, limit);
    observe(*this);
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
        radii[i] = BodyRadius(m_bodies[i]);
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
    if (m_phase != Phase::Finish) m_phase = Phase::Compress;
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
    std::fill(m_typeCubes.begin(), m_typeCubes.end(), 0.0);
    m_grid.Clear();
    m_pairCache.Clear();
    m_hasFree = false;
    for (const Body& b : start) AddBody(b);
}

double Compressor::MeanVolume() const {
    double shareSum = 0.0, weighted = 0.0;
    for (const TypeSpec& t : m_types) {
        shareSum += t.share;
        weighted += t.share * t.volume * t.size.MeanCube();
    }
    double meanVolume = shareSum > 0.0 ? weighted / shareSum : 0.0;
    if (!(meanVolume > 0.0)) {
        meanVolume = 0.0;
        for (const TypeSpec& t : m_types)
            meanVolume += t.volume * t.size.MeanCube() / static_cast<double>(m_types.size());
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

    auto drop = [&](int64_t count) { DropAt(count, limit, observe); };
    // The careful round's flight is slow, which decides how dense the balls jam (spheres in a box
    // six wide: 0.0005 kept about three more than 0.005, and as often reached full size at once);
    // a count, or a packing that settles again after a removal, needs only a quick one.
    Pace slow{static_cast<double>(m_settings.relaxSweeps), m_settings.clearSweeps, m_settings.maxGrowth,
              m_settings.ballRate};
    Pace again = slow;
    again.ballRate = m_settings.quickBallRate;
    const Pace quick{slow.restSweeps / std::max(1.0, m_settings.estimateSpeed),
                     std::max(1, static_cast<int>(slow.clearSweeps / std::max(1.0, m_settings.estimateSpeed))),
                     std::min(0.5, slow.maxGrowth * std::max(1.0, m_settings.estimateSpeed)), m_settings.quickBallRate};

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

    Outcome outcome = Outcome::Jammed;
    bool goOnFromJam = false;
    if (m_settings.count > 0 || m_settings.targetFraction > 0.0) {
        // Asked for: no count to learn, one careful round. A count stays whole wherever that round
        // ends (full size, jammed, the limit), at its last state without overlap; a fraction is
        // reached at full size, or, where the container cannot hold it, as many as fit go on below.
        const double wanted = m_settings.count > 0 || meanVolume <= 0.0
                                  ? static_cast<double>(m_settings.count)
                                  : m_settings.targetFraction * m_containerVolume / meanVolume;
        m_stats.asked = std::max(static_cast<int64_t>(start.size()), static_cast<int64_t>(std::llround(wanted)));
        drop(m_stats.asked);
        ++m_stats.rounds;
        outcome = Compress(slow, limit, observe);
        if (m_settings.count > 0 || (outcome == Outcome::Reached && Overlaps() == 0)) {
            if (Overlaps() > 0 && m_hasFree) Restore();
            if (outcome == Outcome::Jammed) m_stats.firstJamFraction = Fraction();
            m_phase = Phase::Done;
            observe(*this);
            return;
        }
        if (outcome == Outcome::Jammed) {
            m_stats.firstJamFraction = Fraction();
            goOnFromJam = true;
            removeExcess();
        }
    } else if (start.empty() && m_settings.estimateSpeed >= 1.0 && m_settings.pilotBodies > 0 &&
               GuessedCount() >= kPilotFrom * m_settings.pilotBodies) {
        // Many bodies: a counting round as long as the careful one would double the cost, so a
        // pilot in a smaller copy of the container counts instead, and its flights are as quick as
        // the careful round's, which at this size takes the quick rate too (a slow flight of
        // 12,000 balls took minutes and packed no denser).
        target = PilotCount(quick, limit, observe);
        slow.ballRate = m_settings.quickBallRate;
    } else if (m_settings.estimateSpeed >= 1.0) {
        // A counting compression first, to learn how many bodies full size has room for; the
        // careful one then starts afresh with that many. Taking the excess out of a jammed packing
        // instead leaves holes that the next growth does not close: in a box six spheres wide the
        // rounds lost 0.03 of volume fraction after the first jam, a fresh start about none.
        drop(target);
        ++m_stats.rounds;
        outcome = Compress(quick, limit, observe);
        m_stats.countingSweeps = m_stats.sweeps;
        if (outcome == Outcome::Jammed) {
            m_stats.firstJamFraction = Fraction();
            const double s3 = scaleCubed();
            // A jam within a hair of full size loses next to nothing when its few extra bodies are
            // taken out where they are, and a fresh round that the limit would cut short ends
            // worse: both go on from the jam instead.
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
    // Below full size (the limit, or the last round jammed), or still overlapping: on to full size.
    Finish(again, outcome == Outcome::Jammed, limit, observe);

    m_phase = Phase::Fill;
    const int64_t tries = static_cast<int64_t>(m_settings.insertTriesPerBody * static_cast<double>(m_bodies.size()));
    for (int64_t t = 0; t < tries; ++t)
        if (TryInsert(MostWantedType(), 1.0f, 1)) ++m_stats.inserted;
    m_phase = Phase::Done;
    observe(*this);
}

}  // namespace Packing::compression
