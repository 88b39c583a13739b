#pragma once
/// @file Structure.h
/// Density and structure of a finished packing on the exact meshes: global and bulk fraction
/// (away from the container wall), contacts, the radial distribution of the centres and the
/// orientational order of non-spherical types (nematic for elongated or flat types, cubatic for
/// cube-like ones). Works on any placement, also one made elsewhere.

#include <cstdint>
#include <string>
#include <vector>

#include "statistics/Json.h"
#include "statistics/PackingCheck.h"

namespace check {

struct StructureOptions {
    /// Bulk region: points at least this far from the container wall, world units; a negative
    /// value means `marginDiameters` times the largest object diameter.
    double margin = -1.0;
    double marginDiameters = 1.5;
    long samples = 100000;  ///< Monte Carlo points inside the bulk region
    uint64_t seed = 1;
    /// A pair is in contact when its exact surface gap is below this share of the thinner
    /// object's thickness.
    double contactTolerance = 0.01;
    double rdfBinDiameters = 0.02;  ///< width of a g(r) bin, in mean diameters
};

enum class OrderKind {
    Nematic,  ///< box extents differ: the shortest box axis u, largest eigenvalue of <3/2 u u^T - 1/2 I>
    Cubatic,  ///< box extents equal and the mesh HasCubicAxes (Cubatic.h): CubaticOrder of its three box axes
};

/// Orientational order of one type.
struct TypeOrder {
    int type = 0;
    OrderKind kind = OrderKind::Nematic;
    size_t count = 0;      ///< objects of the type
    double order = 0.0;    ///< of all of them, of the kind above
    size_t bulkCount = 0;  ///< of them, centres in the bulk region
    double bulkOrder = 0.0;
};

/// The objects' size factors (each model matrix's uniform scale): mean, standard deviation and
/// quantiles (linear between the sorted factors).
struct SizeSummary {
    double mean = 0.0, sd = 0.0;
    double min = 0.0, q10 = 0.0, median = 0.0, q90 = 0.0, max = 0.0;
};

/// The summary of `factors` (zeros when empty); the SD is the population one.
SizeSummary SummarizeSizes(std::vector<double> factors);

struct StructureReport {
    size_t objects = 0;
    double containerVolume = 0.0;
    double objectsVolume = 0.0;  ///< mesh volume x scale^3, summed
    double globalFraction = 0.0;
    double largestDiameter = 0.0;  ///< largest bounding-box extent of a placed object
    double meanDiameter = 0.0;     ///< mean of the objects' largest extents; unit of g(r)
    SizeSummary sizes;             ///< the objects' size factors

    double margin = 0.0;      ///< world units
    double bulkVolume = 0.0;  ///< Monte Carlo estimate
    double bulkFraction = 0.0;
    double bulkFractionError = 0.0;  ///< standard error
    long bulkSamples = 0;

    size_t contactPairs = 0;
    double meanContacts = 0.0;  ///< 2 x pairs / objects
    size_t bulkObjects = 0;     ///< centres in the bulk region
    double bulkMeanContacts = 0.0;

    /// g(r) of the centres, references in the bulk region, out to the margin (so every shell lies
    /// inside the container); r is the bin centre in mean diameters.
    std::vector<double> rdfR, rdfG;

    /// Types with objects placed whose box extents differ (nematic) or that are cube-like (cubatic).
    std::vector<TypeOrder> order;

    double worstPenetration = 0.0;          ///< deepest exact penetration, world units
    double worstPenetrationRelative = 0.0;  ///< of the thinner object's thickness
    double worstProtrusionRelative = 0.0;   ///< beyond the container wall, of the object's thickness
};

/// All figures of the packing. The Monte Carlo part is seeded by `options.seed` and repeats
/// exactly. An empty packing gives zeros; a container too small for the margin gives a zero bulk.
StructureReport AnalyzeStructure(const CheckScene& scene, const std::vector<PlacedObject>& objects,
                                 const StructureOptions& options);

/// The figures as one JSON object (JsonDump writes it); numbers in shortest round-trip form,
/// values that are not finite as null. `typeNames` label the order entries.
JsonValue StructureToJson(const StructureReport& report, const std::vector<std::string>& typeNames);

/// Largest eigenvalue of the symmetric 3x3 matrix (row major), by Jacobi rotations.
double LargestEigenvalue(const double m[9]);

}  // namespace check
