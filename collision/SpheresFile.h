#pragma once
/// @file SpheresFile.h
/// Reader and writer of the ".spheres" text format, version 1 (docs/spheres-format.md).

#include <iosfwd>
#include <string>

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

/// Writes the tree with "%.9g" numbers (exact float round trip, byte-reproducible output).
/// Returns false when the file cannot be written.
bool writeSpheresFile(const char* path, const SphereTree& tree);
std::string formatSpheres(const SphereTree& tree);

}  // namespace col
