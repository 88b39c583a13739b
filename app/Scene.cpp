#include "app/Scene.h"

#include <iostream>

#include "app/Globals.h"
#include "collision/ExtraData.h"
#include "geometry/PackingGeometry.h"
#include "viewer/Buffers.h"
#include "viewer/Viewer.h"

namespace {

// Render mesh and collision mesh come from the same file; a negative sum is a failure.
int LoadMesh(PackingGeometry* geometry, const std::string& path) {
    return LoadOBJ(geometry, path.c_str()) + col::loadGeometryFromFile(geometry, path.c_str());
}

void MakeBuffers(PackingGeometry* geometry, uint32_t* vertexBuffer, uint32_t* normalBuffer) {
    if (!g_haveGL) return;
    generateVBO(geometry, vertexBuffer);
    generateNormalVBO(geometry, normalBuffer);
}

// A tree that does not load is empty and overlaps nothing: objects of the type (or the container)
// would pass through everything, and the heuristics that add until no room is left would never
// stop. Its reader has printed the line that says why; the run stops here.
bool AttachTree(PackingGeometry* geometry, const std::string& path) {
    auto* tree = new col::ExtraData_SphereTree(path.c_str());
    geometry->setExtraData(tree);
    return tree->isValid();
}

}  // namespace

void SortObjectsVolumeDesc(std::vector<PackingObjectInfo>& types) {
    std::vector<std::string> names;
    std::vector<const PackingGeometry*> meshes;
    for (const PackingObjectInfo& type : types) {
        names.push_back(type.name);
        meshes.push_back(type.geometry);
    }
    std::vector<TypeTableEntry> table;
    std::string unused;  // nothing is read, so nothing fails
    BuildTypeTable("", names, table, unused, &meshes);
    std::vector<PackingObjectInfo> ordered;
    ordered.reserve(types.size());
    for (const TypeTableEntry& e : table) {
        ordered.push_back(std::move(types[e.configIndex]));
        ordered.back().volume = e.volume;
    }
    types = std::move(ordered);
}

bool createScene() {
    const std::string& modelPath = g_configData.modelPath;
    for (PackingObjectInfo& type : g_configData.objects) {
        auto* geometry = new PackingGeometry();
        const std::string path = TypeMeshPath(modelPath, type.name);
        std::cout << path << std::endl;
        if (LoadMesh(geometry, path) < 0) {
            std::cerr << "Object model could not be loaded. Model: " << type.name << std::endl;
            delete geometry;
            return false;
        }
        MakeBuffers(geometry, &type.vertexBuffer, &type.normalBuffer);
        // The tree comes from the plain name even when the "_l" mesh was chosen.
        type.geometry = geometry;
        if (!AttachTree(geometry, modelPath + type.name + ".spheres")) return false;
        geometry->updateBBox();
        type.modelLocation = g_modelID;
        type.colorLocation = g_colorID;
        type.lightLocation = g_lightID;
        type.normalMatrixLocation = g_normalID;
        type.mvpLocation = g_mvpID;
    }
    std::cout << "Nr. of object types loaded: " << g_configData.objects.size() << std::endl;

    SortObjectsVolumeDesc(g_configData.objects);

    auto* container = new PackingGeometry();
    g_container.m_geometry = container;
    const std::string containerBase = modelPath + g_configData.containerName;
    const int sum = LoadMesh(container, containerBase + ".obj");
    if (sum < 0) {
        std::cerr << "Container model could not be loaded. " << sum << std::endl;
        return false;
    }
    container->m_pointsPtr = container->editPointsPtr();
    container->m_primitivesPtr = container->editPrimitivesPtr();
    MakeBuffers(container, &g_container.m_vertexBuffer, &g_container.m_normalBuffer);
    g_container.m_modelLocation = g_modelID;
    // No updateBBox here: the operations that need the container's box refresh it themselves.
    if (!AttachTree(container, containerBase + ".spheres")) return false;
    g_container.m_colorPtr = g_configData.containerColor;
    g_container.m_colorLocation = g_colorID;
    g_container.m_lightLocation = g_lightID;
    g_container.m_normalMatrixLocation = g_normalID;
    g_container.m_mvpLocation = g_mvpID;

    const size_t typeCount = g_configData.objects.size();
    MovingObject::AllocateTypeTables(typeCount);
    for (size_t k = 0; k < typeCount; ++k) g_objectsByType.push_back(new std::vector<MovingObject*>());
    return true;
}
