#pragma once
/// @file ConfigData.h
/// The parsed run configuration (see docs/configuration.md for the file format).

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/PackingObjectInfo.h"
#include "vectormath/vectormath_aos.h"

/// Filled in place by LoadConfig; a field whose section is missing keeps its default
/// (strings empty, numbers zero, no object types).
struct ConfigData {
    std::string constructionHeuristic;                     ///< class name of the construction heuristic
    std::string improvementHeuristic;                      ///< class name of the improvement heuristic; unknown = none
    Vectormath::Aos::Vector3 gridCells{0.0f, 0.0f, 0.0f};  ///< grid cells along x, y, z
    float surfaceDensityEpsilon = 0.0f;                    ///< epsilon of the surface-density statistic
    float hopkinsSubSet = 0.0f;                            ///< fraction of objects the Hopkins statistic samples
    int32_t hopkinsRepeat = 0;                             ///< repetitions of the Hopkins statistic
    std::string pointFile;                                 ///< cached interior points, tried before sampling
    std::string samplingVolume;                            ///< "smallest", "average" or a number
    float stepSize = 0.0f;                                 ///< step-size factor of the sampling
    int32_t samplingThreads = 0;                           ///< worker threads of the sampling
    std::string modelPath;                                 ///< verbatim prefix of every model file name
    std::string containerName;                             ///< base name of the container's model files
    float containerColor[4] = {0.0f, 0.0f, 0.0f, 0.0f};    ///< R, G, B, A; the container points at it
    std::vector<PackingObjectInfo> objects;                ///< object types in file order (sorted by volume later)
    std::string constructionFile;                          ///< placement file of the construction phase; empty = none
    std::string improvementFile;                           ///< placement file of the improvement phase; empty = none
    std::string compressionSettings;  ///< "[Compression]": key=value words for the compression heuristic
    int compressionLine = 0;          ///< its line in the file, for messages (0: no such section)
};
