#pragma once
/// @file Statistics.h
/// The packing report: figures computed from a view of the packing and returned, and the
/// console lines that show them.

#include <iosfwd>
#include <vector>

#include "statistics/PackingView.h"
#include "statistics/Report.h"

namespace Packing {

/// Parameters, volumes, packing density and the distribution over the types. Every object
/// counts with its type's volume, whatever its scale; an empty packing has 0 % everywhere. The
/// surface density and the Hopkins values are left empty (they need pipelines of their own).
PackingFigures MeasurePacking(const PackingView& view);

/// Overlap of the objects with the shell between the container wall and the wall shrunk by
/// 1 - epsilon, over the shell's volume (a fraction, 0...1). An epsilon outside (0, 1) has no
/// shell: one line on standard error and 0.
float SurfaceDensity(const PackingView& view, float epsilon);

/// The Hopkins values per type (type order), one per repetition; -1 for a type with fewer than
/// two objects. Probes of every type are dropped at random interior points and pushed free of
/// the container wall; they and their pipeline are kept until the process ends.
std::vector<std::vector<float>> HopkinsValues(const PackingView& view);

/// Smallest distance from `object` to another of `candidates` (itself skipped); 0 for fewer than
/// two candidates.
float NearestNeighborDist(const PackingView& view, MovingObject* object, const std::vector<MovingObject*>& candidates);

/// "EPSILON: " up to "Volume per object type", one line each.
void PrintPackingSummary(std::ostream& out, const PackingFigures& figures);
/// One line per type: name, " Vol: " and its stored volume.
void PrintTypeVolumes(std::ostream& out, const PackingFigures& figures);
/// The object count, then per type its count and share.
void PrintDistribution(std::ostream& out, const PackingFigures& figures);
/// Per type: name, " | Hopkins Value:" and " " before each value.
void PrintHopkins(std::ostream& out, const PackingFigures& figures);

}  // namespace Packing
