#pragma once
/// @file ViewReports.h
/// The reports the viewer's keys print, computed from plain copies of the packing.

#include <iosfwd>
#include <utility>
#include <vector>

#include "geometry/PackingObjectInfo.h"
#include "vectormath/vectormath_aos.h"

class PackingGeometry;

/// Mean, population variance and standard deviation of the pairwise distances.
struct DistanceSummary {
    float avg = 0.0f;
    float variance = 0.0f;
    float deviation = 0.0f;
};

/// Over every unordered pair of `positions`; fewer than two positions leave `result` unchanged.
void avgDistFruit(const std::vector<Vectormath::Aos::Vector3>& positions, DistanceSummary& result);

/// Key "a": the object count, then one line per type in configuration order with its count,
/// share, and the distance summary of its objects (zeros for fewer than two; the last column
/// is then 0 / 0). `objects` holds (type index, position) in list order; indices outside the
/// type list are counted in the total only.
void PrintDistanceReport(std::ostream& out, const std::vector<std::pair<int, Vectormath::Aos::Vector3>>& objects,
                         const std::vector<PackingObjectInfo>& types);

/// Key "s": density of the objects (by their types' volumes) in the container, the volumes,
/// then one line per type with its mesh volume computed afresh. An empty packing is 0 %.
void PrintPackingReport(std::ostream& out, const std::vector<int>& typeIndices,
                        const std::vector<PackingObjectInfo>& types, const PackingGeometry* container);

/// One line per type: name, " Vol: " and the volume of its mesh computed afresh.
void PrintVolumePerType(std::ostream& out, const std::vector<PackingObjectInfo>& types);
