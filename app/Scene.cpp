#include "app/Scene.h"

#include <fstream>
#include <iostream>

#include "app/Globals.h"

std::string TypeMeshPath(const std::string& modelPath, const std::string& name) {
    const std::string preferred = modelPath + name + "_l.obj";
    if (std::ifstream(preferred).is_open()) return preferred;
    return modelPath + name + ".obj";
}

namespace {
// Mesh files are only probed here; the geometry layer loads them once it is in place.
int ProbeFile(const std::string& path) { return std::ifstream(path).is_open() ? 0 : -1; }
}  // namespace

bool createScene() {
    for (const PackingObjectInfo& type : g_configData.objects) {
        const std::string path = TypeMeshPath(g_configData.modelPath, type.name);
        std::cout << path << std::endl;
        if (ProbeFile(path) + ProbeFile(path) < 0) {
            std::cerr << "Object model could not be loaded. Model: " << type.name << std::endl;
            return false;
        }
    }
    std::cout << "Nr. of object types loaded: " << g_configData.objects.size() << std::endl;

    const std::string containerPath = g_configData.modelPath + g_configData.containerName + ".obj";
    const int sum = ProbeFile(containerPath) + ProbeFile(containerPath);
    if (sum < 0) {
        std::cerr << "Container model could not be loaded. " << sum << std::endl;
        return false;
    }
    return true;
}
