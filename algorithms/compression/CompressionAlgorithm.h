#pragma once
/// @file CompressionAlgorithm.h
/// The compression heuristic in both roles: as the construction it fills an empty container, as the
/// improvement it starts from the construction's packing. Either way the objects are compressed
/// together (Compressor) with exact overlap tests on the meshes, and the packing is shown live.

#include <list>
#include <string>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/ImprovementHeuristic.h"
#include "algorithms/compression/Compressor.h"

class MovingObject;

namespace Packing::compression {

/// Reads "key=value" words (keys as in CompressionSettings: packingGuess, startFraction, growth,
/// maxGrowth, minGrowth, overlapShare, acceptance, clearSweeps, relaxSweeps, maxRounds,
/// insertTriesPerBody, limitSeconds) into `settings`. Returns false with `outError` naming the
/// first word that is not such a pair or whose value is not a number in range.
bool ParseSettings(const std::string& line, CompressionSettings& settings, std::string& outError);
/// Every key of ParseSettings with its default value, in the order of the documentation.
struct SettingDefault {
    std::string name;
    double value;
    bool whole;  ///< a whole number
};
std::vector<SettingDefault> SettingDefaults();

/// What both roles share: the shapes, the run and the hand-over of poses to the placed objects.
class CompressionPhase {
 public:
    /// The user's settings (the configuration's "[Compression]" section); defaults until set.
    void SetSettings(const CompressionSettings& settings) { m_settings = settings; }
    const CompressionSettings& Settings() const { return m_settings; }

    /// Compresses into `algo`'s placed-object list; with `fromPacking` the objects already in it
    /// are the start. Prints a summary line on standard output, a failure on standard error.
    void Run(IPackingAlgorithm& algo, std::vector<PackingObjectInfo>& types, MovingObject& container, bool fromPacking);

 private:
    void Publish(IPackingAlgorithm& algo, std::vector<PackingObjectInfo>& types, const Compressor& c);
    std::vector<std::vector<MovingObject*>> m_pool;  ///< per type: objects made so far, reused
    CompressionSettings m_settings;
};

/// Hands `settings` to `algo` when it is a compression heuristic (in either role); false when it
/// is another one, which has no use for them.
bool Configure(IPackingAlgorithm* algo, const CompressionSettings& settings);

}  // namespace Packing::compression

/// "CompressionAlgorithm" as the construction: from an empty container.
class CompressionAlgorithm : public IConstructionHeuristic {
 public:
    using IConstructionHeuristic::IConstructionHeuristic;
    void ConstructionHeuristic() override;
    Packing::compression::CompressionPhase& Phase() { return m_phase; }

 private:
    Packing::compression::CompressionPhase m_phase;
};

/// "CompressionAlgorithm" as the improvement: from the construction's packing.
class CompressionImprovement : public IImprovementHeuristic {
 public:
    using IImprovementHeuristic::IImprovementHeuristic;
    void ImprovementHeuristic() override;
    Packing::compression::CompressionPhase& Phase() { return m_phase; }

 private:
    Packing::compression::CompressionPhase m_phase;
};
