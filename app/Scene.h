#pragma once
// Scene creation: object types and container from the configuration.

#include <string>
#include <vector>

#include "geometry/PackingObjectInfo.h"

/// Mesh file of an object type: name + "_l.obj" when that file can be opened, else name + ".obj".
std::string TypeMeshPath(const std::string& modelPath, const std::string& name);

/// Loads every configured object type (mesh, sphere tree, and GL buffers when g_haveGL), sorts
/// the types by volume, largest first, loads the container and creates the per-type tables.
/// Prints each chosen mesh path and the number of types. Returns false after printing the
/// failure line when a type or the container cannot be loaded; the later steps are then not done.
bool createScene();

/// Sets every record's volume from its geometry and sorts the records largest first
/// (records of equal volume in no particular order).
void SortObjectsVolumeDesc(std::vector<PackingObjectInfo>& types);

/// Strictly greater volume.
bool SortByVolume(const PackingObjectInfo& a, const PackingObjectInfo& b);
