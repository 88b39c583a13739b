#pragma once
// The interior point file: one point per line, "x y z".

#include <string>
#include <vector>

#include "vectormath/vectormath_aos.h"

/// Appends the points of the file to `points` and returns 0; returns -1 when the file cannot
/// be opened. A line that does not hold three numbers, or is longer than 2047 characters, is
/// reported with its line number and makes the file count as not loadable: -1, and `points`
/// keeps what it held before. Blank lines are skipped.
int LoadPointFile(std::string& path, std::vector<Vectormath::Aos::Vector3>& points);

/// Writes the points, one per line with default float formatting. An empty list prints
/// "Point array is empty!" and leaves the file alone. Replaces the file atomically
/// (geometry/AtomicReplace.h): a crash or a failed write never leaves a torn file.
void WritePointFile(std::string path, std::vector<Vectormath::Aos::Vector3>& points);
