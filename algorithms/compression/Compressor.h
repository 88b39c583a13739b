#pragma once
/// @file Compressor.h
/// Hard-particle Monte Carlo compression: every body at a common scale, grown in small steps that
/// may create a few overlaps, which local trial moves (translations and rotations, sized to a
/// target acceptance) then remove. A growth whose overlaps do not clear in time is undone and the
/// step halved; once the step is negligible the packing is jammed. The body count is not known in
/// advance: the first round starts with more bodies than any random packing holds, and after each
/// jam the share of bodies that cannot reach full size is removed and the rest compressed again,
/// until the bodies reach full size. Bodies that nearly fill their enclosing balls grow as those
/// balls in flight first (BallGrowth.h), which presses them far closer before the trial moves take
/// over. Every accepted state is checked exactly (Shapes), so the end
/// result has no overlapping meshes.

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "algorithms/compression/CellGrid.h"
#include "algorithms/compression/PairCache.h"
#include "algorithms/compression/Shapes.h"
#include "algorithms/compression/WorkerPool.h"
#include "collision/SplitMix.h"
#include "geometry/SizeDistribution.h"

namespace Packing {
class Limit;
}

namespace Packing::compression {

/// What a user tunes; defaults in one place.
struct CompressionSettings {
    double packingGuess = 0.74;         ///< the first round's bodies: this volume fraction at full size
    double startFraction = 0.2;         ///< volume fraction at which the bodies are dropped before growing
    double growth = 0.001;              ///< first relative growth of the linear size per step
    double maxGrowth = 0.001;           ///< largest relative growth per step (the compression rate)
    double minGrowth = 1e-5;            ///< a step halved below this ends the round as jammed
    double overlapShare = 0.05;         ///< a growth may leave at most this share of the bodies overlapping
    double restOverlapShare = 0.001;    ///< growth goes on while at most this share of the bodies still overlaps
    double acceptance = 0.25;           ///< target acceptance of the trial moves
    int clearSweeps = 500;              ///< sweeps a growth may take to clear its overlaps before it is halved
    int relaxSweeps = 20;               ///< sweeps at rest before each growth near the jam (more: slower, denser)
    double estimateSpeed = 1.0;         ///< from 1: a counting round this much faster first; below 1: none
    double estimateBonus = -0.01;       ///< the careful round gets this share more bodies than the counting one kept
    double ballEstimateBonus = -0.005;  ///< the same for bodies that grow as balls (their careful flight packs denser)
    int maxRounds = 20;                 ///< jam-and-remove rounds at most
    double ballRate = 0.0005;  ///< bodies that are nearly balls first grow as balls in flight at this rate (0: never)
    double quickBallRate = 0.005;     ///< the flights that only count, or settle again after a removal (0: none)
    double insertTriesPerBody = 2.0;  ///< tries to fill voids at full size, per body
    int pilotBodies = 1500;           ///< many bodies: a pilot of about this many counts them (0: never)
    double pilotBonus = 0.005;        ///< the careful round gets this share more bodies than the pilot foretells
    double limitSeconds = 600.0;      ///< the whole compression's limit (seconds, or sweeps under --limits steps)
    int threads = 0;                  ///< threads: 0 every core, N up to N; the same result for any number
    int count = 0;  ///< exactly this many bodies, compressed until jammed or full size (0: as many as fit)
    double targetFraction = 0.0;  ///< stop at full size with bodies filling this fraction (0: as many as fit)
    /// Turns that would raise the cubatic order of cube-like bodies past this are refused (1: never).
    double maxCubaticOrder = 1.0;
};

/// Per type: its share of the bodies (any non-negative weights), its volume at scale 1 and the
/// size factors of its bodies (each new body draws one).
struct TypeSpec {
    TypeSpec(double share = 0.0, double volume = 0.0, SizeDistribution size = {})
        : share(share), volume(volume), size(std::move(size)) {}
    double share;
    double volume;
    SizeDistribution size;
};

/// Counters of a run, for the progress line and the report.
struct CompressionStats {
    int64_t sweeps = 0;
    int64_t trials = 0;
    int64_t accepted = 0;
    int64_t growths = 0;  ///< growth steps kept
    int64_t undone = 0;   ///< growth steps undone because their overlaps did not clear
    int rounds = 0;
    int64_t removed = 0;            ///< bodies taken out after jams and at the end
    int64_t inserted = 0;           ///< bodies added into voids at full size
    double firstJamFraction = 0.0;  ///< volume fraction of the first jam (0: none)
    int64_t countingSweeps = 0;     ///< sweeps of the counting round
    int64_t ballEvents = 0;         ///< collisions while growing as balls
    bool freshStart = false;        ///< the counting round's jam was followed by a fresh start
    bool limitReached = false;
    int64_t pilotBodies = 0;     ///< bodies of the pilot that counted them (0: none)
    double pilotFraction = 0.0;  ///< the pilot's volume fraction at its jam, in all and in its bulk
    double pilotBulk = 0.0;
    double estimate = 0.0;     ///< the fraction the pilot foretold for the container
    int64_t finishFrom = 0;    ///< bodies when finishing to full size began (0: it was not needed)
    float finishScale = 0.0f;  ///< the scale it began at
    int64_t asked = 0;         ///< bodies a count or a target fraction asked for (0: none)
};

class Compressor {
 public:
    enum class Phase { Drop, Compress, Finish, Fill, Done };
    using Observer = std::function<void(const Compressor&)>;

    Compressor(const Shapes& shapes, std::vector<TypeSpec> types, double containerVolume, CompressionSettings settings,
               uint64_t seed);

    /// A body that is already placed (the improvement's start); taken at full size.
    void AddBody(const Body& body);
    /// The whole protocol. `observe` is called after every sweep and phase change (it must not
    /// change anything); `limit` counts sweeps.
    void Run(Limit& limit, const std::function<void(const Compressor&)>& observe);

    const std::vector<Body>& Bodies() const { return m_bodies; }
    float Scale() const { return m_scale; }
    Phase CurrentPhase() const { return m_phase; }
    int64_t Overlaps() const { return m_pairOverlaps + m_wallOverlaps; }
    const CompressionStats& Stats() const { return m_stats; }
    /// Whether this compression is a pilot that counts for a larger one.
    bool IsPilot() const { return m_pilot; }
    /// Volume fraction of the bodies at the current scale (each at its own size factor).
    double Fraction() const;
    /// Mean volume of a body at scale 1 and its type's mean cubed size, weighted by the type shares
    /// (plain mean without shares).
    double MeanVolume() const;
    /// Bodies that fill packingGuess of the container at full size (0 without a volume).
    double GuessedCount() const;

    /// Sets the common scale (the overlaps are counted afresh at the next Sweeps), for benches and tests.
    void SetScale(float scale) {
        m_scale = scale;
        m_countsStale = true;
    }
    /// Trial moves at the current scale and nothing else: `count` sweeps of one trial per body (the
    /// overlaps counted afresh first when bodies came since the last count). What a compression
    /// repeats, for measuring its cost per body.
    void Sweeps(int count);

    /// Brute force over all pairs and the wall, for tests: the number of overlapping pairs plus
    /// bodies not inside, at the current scale.
    int64_t CountOverlapsBruteForce() const;

 private:
    bool PairOverlap(const Body& a, int32_t ia, const Body& b, int32_t ib, float scale) const;
    // Neighbour tests at the current scale against every body but `self`.
    bool Blocked(const Body& b, int32_t self) const;
    // What b overlaps at the current scale (bodies into out, the wall into outWall); returns their
    // number. Stops early once that number is past `cap` (then it is only known to be larger).
    int Partners(const Body& b, int32_t self, std::vector<int32_t>& out, bool& outWall,
                 int cap = std::numeric_limits<int>::max()) const;
    // Counts every overlap at `scale` into outCount; returns pairs + wall.
    int64_t CountAll(float scale, std::vector<int32_t>& outCount, int64_t& outPairs, int64_t& outWall) const;
    void Recount();

    void Drop(int64_t target, Limit& limit);
    // A drop of `count` bodies at the start fraction, then shown.
    void DropAt(int64_t count, Limit& limit, const Observer& observe);
    bool TryInsert(int32_t type, float scale, int tries);
    void Sweep();
    // Whether turns are held this sweep, and along which director.
    void HoldOrder();
    // Sum over the frame's axes of their fourth power along the director.
    float AxisAlignment(const Matrix3& r) const;
    // Whether every overlap of the move's new place (after) is an old one (before) that the move
    // does not deepen, judged by the distance of the centres.
    bool Separating(const Body& from, const Body& to, const std::vector<int32_t>& before,
                    const std::vector<int32_t>& after) const;
    void TuneSteps();
    enum class Outcome { Reached, Jammed, Limit };
    /// How fast a compression goes: rest sweeps before a growth (at the guessed density), sweeps a
    /// growth may take to clear, largest growth step.
    struct Pace {
        double restSweeps;
        int clearSweeps;
        double maxGrowth;
        double ballRate;  ///< the flight's rate, for bodies that are nearly balls (0: none)
    };
    double GrowthCap(const Pace& pace) const;
    // Nearly balls in a box: grow on their enclosing balls in flight until jammed or full size.
    void GrowAsBalls(double rate, Limit& limit, const std::function<void(const Compressor&)>& observe);
    double JamGuess() const;
    Outcome Compress(const Pace& pace, Limit& limit, const std::function<void(const Compressor&)>& observe);
    Outcome Settle(const Pace& pace, Limit& limit, const std::function<void(const Compressor&)>& observe);
    void Reset(const std::vector<Body>& start);
    void SortBodies();
    void Snapshot();
    void Restore();
    void RemoveBody(int32_t i);
    void RemoveForShares(int64_t k);
    void RemoveOverlapping();
    // The body with the most overlaps goes (ties: the type furthest above its share, then at random).
    void RemoveWorst();
    // A pilot in a smaller copy of the container compresses to its jam with `pace`; from its
    // fraction in all and in its bulk, the count the container holds at full size.
    int64_t PilotCount(const Pace& pace, Limit& limit, const Observer& observe);
    // From a state below full size, or overlapping, to full size without overlap: the share full
    // size has no room for taken out where it is most in the way, and compressed on with `pace`
    // within a time of its own (`excessOut`: that share is out already, after a jam); then growth
    // in small steps with the worst body taken out one at a time where a step does not clear.
    void Finish(const Pace& pace, bool excessOut, Limit& limit, const Observer& observe);
    int32_t MostWantedType() const;
    void RebuildGrid();

    Body RandomPose(int32_t type);
    // Own conversions, so the numbers do not depend on the standard library's distributions.
    float Uniform() { return static_cast<float>(m_rng() >> 40) * (1.0f / 16777216.0f); }

    /// A small generator per slab and sweep (splitmix64), so a slab's moves do not depend on how
    /// many threads share the sweep.
    struct Rng {
        uint64_t state;
        uint64_t Next() { return col::splitMix64(state); }
        float Uniform() { return static_cast<float>(Next() >> 40) * (1.0f / 16777216.0f); }
        size_t Index(size_t n) { return static_cast<size_t>(Next() % n); }
        Vector3 Axis();
    };
    /// One domain of a sweep: a block of cells whose bodies only it moves while the other domains
    /// of its colour work at the same time, with its own generator and counts, merged into the
    /// compressor's once the sweep is done.
    struct Domain {
        Rng rng{0};
        int lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};  ///< its cells along each axis, [lo, hi)
        std::vector<int32_t> bodies;
        int64_t tried[2] = {0, 0}, took[2] = {0, 0};
        int64_t pairDelta = 0, wallDelta = 0;
    };
    /// What a thread needs while it works on a domain.
    struct Scratch {
        std::vector<int32_t> old, fresh;
    };
    void SweepDomain(Domain& d, Scratch& s);
    /// Whether this many bodies are worth sharing out, and the workers then (made on first use).
    bool Parallel(size_t bodies) const;
    WorkerPool& Pool() const;

    const Shapes& m_shapes;
    std::vector<TypeSpec> m_types;
    double m_containerVolume;
    CompressionSettings m_settings;
    std::mt19937_64 m_rng;

    /// The body's outer radius at scale 1: its type's at the body's size factor.
    float BodyRadius(const Body& b) const { return m_shapes.OuterRadius(b.type) * b.size; }
    CellGrid::Entry EntryOf(const Body& b, int32_t index) const {
        return {b.position.getX(), b.position.getY(), b.position.getZ(), BodyRadius(b), index};
    }

    std::vector<Body> m_bodies;
    bool m_ballLike = false;       ///< every type nearly fills its enclosing ball, and the container is a box
    std::vector<int32_t> m_count;  ///< per body: overlapping neighbours, plus one when not inside
    std::vector<int64_t> m_typeCount;
    std::vector<double> m_typeCubes;  ///< per type: its bodies' size factors cubed, summed
    int64_t m_pairOverlaps = 0;
    int64_t m_wallOverlaps = 0;
    bool m_countsStale = false;  ///< bodies came since the overlaps were last counted
    float m_scale = 1.0f;
    CellGrid m_grid;
    mutable PairCache m_pairCache;  ///< per near pair: what speeds up its next overlap test

    std::vector<Body> m_freeBodies;  ///< the last state without overlaps
    float m_freeScale = 0.0f;
    bool m_hasFree = false;

    double m_growth;
    float m_moveStep = 0.1f;  ///< translation: share of the body's outer radius
    float m_turnStep = 0.1f;  ///< rotation: radians
    // Holding the cubatic order of cube-like bodies: while it is at its cap (as of the sweep's
    // start), a turn may not bring a body's axes closer to the director.
    bool m_orderHeld = false;
    Vector3 m_director{0.0f};
    int64_t m_tried[2] = {0, 0}, m_took[2] = {0, 0};  ///< since the last tuning: moves, turns
    Phase m_phase = Phase::Drop;
    CompressionStats m_stats;
    std::vector<int32_t> m_scratchOld, m_scratchCount;
    bool m_pilot = false;
    int m_threads = 1;
    mutable std::unique_ptr<WorkerPool> m_pool;
    std::vector<Domain> m_domains;
    std::vector<size_t> m_byColour[8];       ///< per colour: its domains that hold bodies
    mutable std::vector<Scratch> m_scratch;  ///< per worker
};

}  // namespace Packing::compression
