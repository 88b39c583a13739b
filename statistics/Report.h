#pragma once
/// @file Report.h
/// The figures of one run's packing report and their JSON form (--report FILE.json; the schema
/// is in docs/report.md).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "statistics/Json.h"

/// One object type as the report sees it.
struct TypeReport {
    std::string name;
    float volume = 0.0f;         ///< the type record's volume
    int32_t count = 0;           ///< placed objects of the type
    float sharePercent = 0.0f;   ///< count / all placed objects x 100, as printed
    std::vector<float> hopkins;  ///< one value per repetition; -1 for fewer than two objects
};

/// The figures of the packing report, as the statistics return them.
struct PackingFigures {
    // statistics parameters
    float epsilon = 0.0f;
    float hopkinsSubSet = 0.0f;
    int32_t hopkinsRepeat = 0;

    double packingDensityPercent = 0.0;
    double surfaceDensityPercent = 0.0;
    float containerVolume = 0.0f;
    float objectsVolume = 0.0f;
    int32_t numObjects = 0;
    std::vector<TypeReport> types;  ///< in type order (largest volume first)
};

/// Everything --report writes: the run fields, the phase times the runners measured and the
/// figures of the report, if it was computed.
struct PackingReport {
    std::string configPath;
    std::optional<uint32_t> seed;               ///< the --seed value; empty when time-seeded
    std::optional<double> constructionMinutes;  ///< empty when the construction came from its file
    std::optional<double> improvementMinutes;   ///< empty without an improvement phase
    std::optional<double> statisticMinutes;
    std::optional<PackingFigures> statistics;  ///< empty when the run ended before the report
    /// Exact-mesh density and structure of the final packing (StructureToJson, as
    /// densepack-analyze --json writes it); empty when not computed.
    std::optional<JsonValue> structure;
};

/// The report as one JSON document (UTF-8, two-space indents, ends with a newline). Numbers are
/// written in their shortest round-trip form (floats as floats print, whole numbers without a
/// fraction); a value that is not finite is written as null; names are escaped.
std::string ReportJson(const PackingReport& report);

/// Writes ReportJson(report) to `path` atomically: into a temporary file beside it, then renamed
/// over it, so a reader never sees half a report. Prints one line to standard error and returns
/// false when the file cannot be written; an existing file at `path` is then left as it was.
bool WriteReportJson(const PackingReport& report, const std::string& path);
