#include "app/RunStructure.h"

#include <fstream>
#include <iostream>
#include <vector>

#include "app/Globals.h"
#include "statistics/Structure.h"

std::optional<std::string> RunStructureJson() {
    // The run's own type order (sorted at scene creation), so the type indices of the placed
    // objects apply; the meshes are the ones the tools read (name + "_l.obj" preferred).
    check::CheckScene scene;
    std::string err;
    for (const PackingObjectInfo& type : g_configData.objects) {
        const std::string base = g_configData.modelPath + type.name;
        const std::string path = std::ifstream(base + "_l.obj").good() ? base + "_l.obj" : base + ".obj";
        check::CheckMesh mesh;
        if (!mesh.Load(path, err)) {
            std::cerr << "Report without structure figures: " << err << std::endl;
            return std::nullopt;
        }
        scene.typeNames.push_back(type.name);
        scene.types.push_back(std::move(mesh));
    }
    if (!scene.container.Load(g_configData.modelPath + g_configData.containerName + ".obj", err)) {
        std::cerr << "Report without structure figures: " << err << std::endl;
        return std::nullopt;
    }
    std::vector<check::PlacedObject> objects;
    for (const MovingObject* o : *g_placedObjects)
        objects.push_back({o->m_typeIndex, o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix});
    return check::StructureJson(check::AnalyzeStructure(scene, objects, check::StructureOptions{}), scene.typeNames);
}
