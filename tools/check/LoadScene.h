#pragma once
/// @file LoadScene.h
/// The exact meshes of a run configuration, for the offline tools.

#include <string>
#include <vector>

#include "geometry/TypeTable.h"
#include "statistics/PackingCheck.h"

namespace check {

/// Reads the configuration and its type table (BuildTypeTable, the run's type order) and the
/// path of its container mesh; fails for a configuration without object types.
bool LoadTypeTable(const std::string& configPath, std::vector<TypeTableEntry>& outTable, std::string& outContainerPath,
                   std::string& outError);

/// Reads the configuration and every mesh it names, the types in the order of their type table
/// (BuildTypeTable), which is the run's.
bool LoadScene(const std::string& configPath, CheckScene& outScene, std::string& outError);

}  // namespace check
