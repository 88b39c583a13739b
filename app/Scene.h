#pragma once
// Scene creation: object types and container from the configuration.

#include <string>
#include <vector>

#include "geometry/PackingObjectInfo.h"
#include "geometry/TypeTable.h"

/// Loads every configured object type (mesh, sphere tree, and GL buffers when g_haveGL), sorts
/// the types by volume, largest first, loads the container and creates the per-type tables.
/// Prints each chosen mesh path and the number of types. Returns false after printing the
/// failure line when a type or the container cannot be loaded; the later steps are then not done.
bool createScene();

/// Sets every record's volume from its geometry and puts the records in the type table's order
/// (BuildTypeTable: largest first, equal volumes in configuration order).
void SortObjectsVolumeDesc(std::vector<PackingObjectInfo>& types);
