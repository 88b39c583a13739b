#include "geometry/TypeTable.h"

#include <algorithm>
#include <fstream>

#include "geometry/PackingGeometry.h"

std::string TypeMeshPath(const std::string& modelPath, const std::string& name) {
    const std::string preferred = modelPath + name + "_l.obj";
    if (std::ifstream(preferred).is_open()) return preferred;
    return modelPath + name + ".obj";
}

bool BuildTypeTable(const std::string& modelPath, const std::vector<std::string>& names,
                    std::vector<TypeTableEntry>& outTable, std::string& outError,
                    const std::vector<const PackingGeometry*>* loaded) {
    std::vector<TypeTableEntry> table(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        TypeTableEntry& e = table[i];
        e.name = names[i];
        e.configIndex = i;
        if (loaded != nullptr) {
            e.volume = calculateVolume((*loaded)[i]);
            continue;
        }
        e.meshPath = TypeMeshPath(modelPath, names[i]);
        PackingGeometry mesh;
        const int rc = LoadOBJ(&mesh, e.meshPath.c_str());
        if (rc < 0) {
            outError = (rc == -1 ? "cannot open " : "cannot read ") + e.meshPath;
            return false;
        }
        e.volume = calculateVolume(&mesh);
    }
    // Stable: an unstable sort may swap types of equal volume, and placement files name types
    // only by their index in this order.
    std::stable_sort(table.begin(), table.end(),
                     [](const TypeTableEntry& a, const TypeTableEntry& b) { return a.volume > b.volume; });
    outTable = std::move(table);
    return true;
}
