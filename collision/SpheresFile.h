#pragma once
/// @file SpheresFile.h
/// Reader and writer of the ".spheres" text format, version 1 (docs/spheres-format.md).

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "collision/SphereTree.h"

namespace col {

struct SpheresParseResult {
    SphereTree tree;    ///< empty unless ok
    std::string error;  ///< "<name>: line N: <what is wrong>" or "<name>: cannot open"; empty when ok
    bool ok = false;
};

/// Parses and fully validates a tree; `name` prefixes the error message.
SpheresParseResult parseSpheres(std::istream& in, const std::string& name);
SpheresParseResult loadSpheresFile(const char* path);

/// One node line of the file: centre x y z, radius, cone direction x y z and angle, then the
/// first child and the child count. The builder keeps its nodes in double precision.
struct SpheresRow {
    double values[8] = {};
    int32_t first = -1;
    int32_t count = 0;
};

/// The file's text: header, one line per row, "end". Numbers as "%.9g", so a float written
/// from a tree reads back exactly and the output is byte-reproducible.
std::string formatSpheres(SphereTreeKind kind, const std::vector<SpheresRow>& rows);
std::string formatSpheres(const SphereTree& tree);

/// Writes formatSpheres(tree). Returns false when the file cannot be written.
bool writeSpheresFile(const char* path, const SphereTree& tree);

}  // namespace col
