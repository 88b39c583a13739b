#pragma once
/// @file RunStructure.h
/// The exact-mesh density and structure figures of the run's final packing, for its JSON report.

#include <optional>

#include "statistics/Json.h"

/// The figures of densepack-analyze (default options) for the placed objects, as one JSON object;
/// empty, with one line on standard error, when a mesh cannot be read.
std::optional<JsonValue> RunStructureJson();
