// The two ends of a large compression: the pilot that counts the bodies before it, and the
// finishing that brings a packing stopped below full size to full size without throwing it away.
#include <algorithm>
#include <cmath>

#include "algorithms/Limits.h"
#include "algorithms/compression/Compressor.h"

namespace Packing::compression {
namespace {

// The pilot may use this share of the limit.
constexpr double kPilotShare = 0.35;
// Its bulk: centres at least this many of the largest diameters from the wall.
constexpr double kPilotMargin = 2.0;
// Finishing: its time, this share of the whole limit beyond it, and how far the packing loosens
// after each removal (less than after a jam: it has less time to grow back). Should that time run
// out below full size, the last steps: their growth, sweeps at most per step, and time.
constexpr double kFinishShare = 0.2;
constexpr int64_t kFinishSweeps = 6000;  // at least
constexpr double kFinishLoosen = 0.02;
// Finishing first keeps this share fewer than the last scale has room for: the last per cent
// below a jam take the compression longest. A jam while finishing then takes out at most a share
// of kFinishStep.
constexpr double kFinishSlack = 0.01;
constexpr double kFinishStep = 0.005;
constexpr double kFinishGrowth = 0.002;
constexpr int kStuckSweeps = 8;  // sweeps without fewer overlaps
constexpr double kLastShare = 0.05;
constexpr int64_t kLastSweeps = 1000;

}  // namespace

int64_t Compressor::PilotCount(const Pace& pace, Limit& limit, const Observer& observe) {
    const double guess = GuessedCount();
    const double factor = std::cbrt(static_cast<double>(m_settings.pilotBodies) / guess);
    Shapes shapes;
    std::string error;
    if (!shapes.BuildScaled(m_shapes, static_cast<float>(factor), error)) return std::llround(guess);
    CompressionSettings settings = m_settings;
    settings.pilotBodies = 0;
    const double volume = m_containerVolume * factor * factor * factor;
    Compressor pilot(shapes, m_types, volume, settings, m_rng());
    pilot.m_pilot = true;
    // Its sweeps count against the limit as the share of a sweep of this compression they are.
    const double cost = pilot.GuessedCount() / guess;
    Limit part = limit.Part(kPilotShare, cost);
    pilot.DropAt(std::llround(pilot.GuessedCount()), part, observe);
    ++pilot.m_stats.rounds;
    pilot.Compress(pace, part, observe);
    limit.Charge(static_cast<double>(part.iterations()) * cost);
    m_stats.sweeps += static_cast<int64_t>(std::llround(static_cast<double>(pilot.m_stats.sweeps) * cost));
    m_stats.ballEvents += pilot.m_stats.ballEvents;

    // Its bulk: the bodies whose centres lie well inside, over the volume where they may lie.
    const float s = pilot.m_scale;
    const float margin = static_cast<float>(kPilotMargin * 2.0 * m_shapes.MaxOuterRadius()) * s;
    const double inner = shapes.InnerVolume(margin);
    double innerBodies = 0.0;
    for (const Body& b : pilot.m_bodies)
        if (shapes.Clearance(b.position) >= margin)
            innerBodies += m_types[static_cast<size_t>(b.type)].volume * b.size * b.size * b.size;
    const double whole = pilot.Fraction();
    const double bulk = inner > 0.0 ? innerBodies * s * s * s / inner : whole;
    // What the wall takes grows with its area over the volume in units of the bodies: the pilot's
    // is 1 / k times this container's, with k its size in its bodies' units against this one's.
    const double k = std::min(1.0, factor / s);
    const double estimate = bulk - k * (bulk - whole);
    m_stats.pilotBodies = static_cast<int64_t>(pilot.m_bodies.size());
    m_stats.pilotFraction = whole;
    m_stats.pilotBulk = bulk;
    m_stats.estimate = estimate;
    return std::max<int64_t>(1,
                             std::llround(estimate * m_containerVolume / MeanVolume() * (1.0 + m_settings.pilotBonus)));
}

void Compressor::RemoveWorst() {
    int32_t worst = -1;
    uint64_t ties = 0;
    double total = 0.0;
    for (const TypeSpec& t : m_types) total += t.share;
    auto excess = [&](int32_t type) {
        const double want =
            total > 0.0 ? m_types[static_cast<size_t>(type)].share / total : 1.0 / static_cast<double>(m_types.size());
        return static_cast<double>(m_typeCount[static_cast<size_t>(type)]) -
               want * static_cast<double>(m_bodies.size());
    };
    for (size_t i = 0; i < m_count.size(); ++i) {
        if (worst < 0 || m_count[i] > m_count[static_cast<size_t>(worst)]) {
            worst = static_cast<int32_t>(i);
            ties = 1;
            continue;
        }
        if (m_count[i] < m_count[static_cast<size_t>(worst)]) continue;
        const double e = excess(m_bodies[i].type), ew = excess(m_bodies[static_cast<size_t>(worst)].type);
        // Ties are drawn at random: the bodies are in cell order, and the first would favour a corner.
        if (e > ew) {
            worst = static_cast<int32_t>(i);
            ties = 1;
        } else if (e == ew && m_rng() % ++ties == 0) {
            worst = static_cast<int32_t>(i);
        }
    }
    if (worst < 0) return;
    bool wall = false;
    Partners(m_bodies[static_cast<size_t>(worst)], worst, m_scratchOld, wall);
    for (int32_t j : m_scratchOld) --m_count[static_cast<size_t>(j)];
    m_pairOverlaps -= static_cast<int64_t>(m_scratchOld.size());
    m_wallOverlaps -= wall ? 1 : 0;
    RemoveBody(worst);
    ++m_stats.removed;
}

void Compressor::RemoveOverlapping() {
    Recount();
    while (Overlaps() > 0) RemoveWorst();
}

void Compressor::Finish(const Pace& pace, bool excessOut, Limit& limit, const Observer& observe) {
    m_phase = Phase::Finish;
    if (m_scale >= 1.0f && Overlaps() == 0) return;
    // From the last state without overlap: growth past it has not cleared.
    if (Overlaps() > 0 && m_hasFree) Restore();
    m_stats.finishFrom = static_cast<int64_t>(m_bodies.size());
    m_stats.finishScale = m_scale;
    // Where it jams: where it had got to, when it never jammed (the guess lies far above).
    if (m_stats.firstJamFraction == 0.0) m_stats.firstJamFraction = Fraction();
    const bool limitReached = m_stats.limitReached;
    observe(*this);
    // Blowing the packing up to full size about the container's centre kept its arrangement but
    // pressed the whole wall layer into the wall (14,373 M&Ms stopped at scale 0.964 kept 3,794).
    // Instead the share full size has no room for goes, the bodies most in the way there, and the
    // rest compresses on into the holes they leave, as after a jam, within a time of its own.
    Limit budget = limit.Extra(kFinishShare, kFinishSweeps);
    for (bool first = true; m_scale < 1.0f; first = false) {
        if (!first || !excessOut) {
            // The first time the share the scale has no room for; after a jam here only a little at a
            // time: such a jam comes early, and its scale would take out far too many.
            const double n = static_cast<double>(m_bodies.size());
            const double s3 = static_cast<double>(m_scale) * m_scale * m_scale;
            const double share = first ? 1.0 - s3 * (1.0 - kFinishSlack) : std::min(1.0 - s3, kFinishStep);
            RemoveForShares(std::max<int64_t>(1, static_cast<int64_t>(std::floor(n * share))));
            m_scale *= static_cast<float>(1.0 - kFinishLoosen);
            Recount();
            Snapshot();
            observe(*this);
        }
        m_phase = Phase::Finish;
        const Outcome outcome = Compress(pace, budget, observe);
        m_phase = Phase::Finish;
        if (outcome != Outcome::Jammed) break;
    }
    m_stats.limitReached = limitReached;
    // Out of that time below full size: in small steps, sweeps after each, and where the sweeps
    // stop clearing the body whose overlap is worst is taken out, one at a time.
    if (Overlaps() > 0 && m_hasFree) Restore();
    Limit last = limit.Extra(kLastShare, kLastSweeps);
    int64_t fewest = Overlaps();
    int stuck = 0;
    while (m_scale < 1.0f || Overlaps() > 0) {
        if (Overlaps() == 0) {
            m_scale = std::min(1.0f, static_cast<float>(m_scale * (1.0 + kFinishGrowth)));
            Recount();
            fewest = Overlaps();
            stuck = 0;
        }
        Sweep();
        observe(*this);
        if (last.Passed()) break;
        if (Overlaps() < fewest) {
            fewest = Overlaps();
            stuck = 0;
        } else if (++stuck >= kStuckSweeps) {
            RemoveWorst();
            fewest = Overlaps();
            stuck = 0;
        }
    }
    m_scale = 1.0f;
    RemoveOverlapping();
    observe(*this);
}

}  // namespace Packing::compression
