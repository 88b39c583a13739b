#pragma once
// Scene creation: object types and container from the configuration.

#include <string>

/// Mesh file of an object type: name + "_l.obj" when that file can be opened, else name + ".obj".
std::string TypeMeshPath(const std::string& modelPath, const std::string& name);

/// Loads the configured object types and the container. Prints the chosen mesh paths
/// and the number of types; on a load failure prints the failure line and returns false.
bool createScene();
