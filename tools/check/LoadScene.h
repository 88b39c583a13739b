#pragma once
/// @file LoadScene.h
/// The exact meshes of a run configuration, for the offline tools.

#include <string>

#include "statistics/PackingCheck.h"

namespace check {

/// Reads the configuration and every mesh it names (name + "_l.obj" preferred, else ".obj").
bool LoadScene(const std::string& configPath, CheckScene& outScene, std::string& outError);

}  // namespace check
