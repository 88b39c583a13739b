#pragma once
/// @file Config.h
/// Reader for the run configuration file.

#include <string>

#include "app/ConfigData.h"

/// Results of LoadConfig.
inline constexpr int kConfigOk = 0;
inline constexpr int kConfigCannotOpen = -1;     ///< nothing read, `data` untouched
inline constexpr int kConfigBadObjectLine = -2;  ///< stopped at an object line; earlier types kept

/// Reads the configuration file at `path` into `data`.
///
/// Section data lines are never validated: a value that is not a number of the right kind
/// becomes 0 and ends that line, a missing value leaves the field as it was, extra tokens are
/// ignored. Object types are appended to `data.objects`.
///
/// Returns kConfigOk; kConfigCannotOpen after printing "Error reading filename:<path>" to
/// standard output when the file cannot be opened (or is a directory); kConfigBadObjectLine
/// after printing "<path>:<line>: <reason>" to standard error when an object line's colour does
/// not start with a number ("invalid colour value '<token>' in object line") or a word after the
/// colour is a bad "size=DIST" or another "key=value" (ParseSizeDistribution). Throws nothing.
int LoadConfig(std::string& path, ConfigData& data);

/// Stream-style conversion of an object line's colour token: accepts text that starts with a
/// number ("0.5abc" gives 0.5), rejects text that does not and values outside the float range.
bool ParseColourToken(const std::string& token, float& out);
