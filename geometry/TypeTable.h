#pragma once
/// @file TypeTable.h
/// The object types of a configuration in the order every part of densepack indexes them: the
/// run, the placement files, the offline tools and the exporter read this one table.

#include <string>
#include <vector>

class PackingGeometry;

/// One object type, as the table orders it.
struct TypeTableEntry {
    std::string name;
    std::string meshPath;    ///< TypeMeshPath of the name
    float volume = 0.0f;     ///< calculateVolume of the mesh at meshPath
    size_t configIndex = 0;  ///< position of the type in the configuration
};

/// Mesh file of an object type: name + "_l.obj" when that file can be opened, else name + ".obj".
/// The model path is a plain prefix.
std::string TypeMeshPath(const std::string& modelPath, const std::string& name);

/// The types `names` (in configuration order) ordered largest volume first; types of equal
/// volume keep their configuration order, so a placement file reads back with the same types
/// whatever the volumes. `loaded`, when given, holds the meshes already read from the names'
/// mesh paths (one per name, in configuration order): nothing is read and `meshPath` stays
/// empty. Otherwise each mesh is read here. Returns false with `outError` ("cannot open PATH" or "cannot read PATH")
/// when a mesh cannot be read.
bool BuildTypeTable(const std::string& modelPath, const std::vector<std::string>& names,
                    std::vector<TypeTableEntry>& outTable, std::string& outError,
                    const std::vector<const PackingGeometry*>* loaded = nullptr);
