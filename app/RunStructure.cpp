#include "app/RunStructure.h"

#include <iostream>
#include <vector>

#include "app/Globals.h"
#include "geometry/TypeTable.h"
#include "statistics/Structure.h"

std::optional<JsonValue> RunStructureJson() {
    // The run's own type order (sorted at scene creation), so the type indices of the placed
    // objects apply; the meshes are the files the run loaded its types from.
    check::CheckScene scene;
    std::string err;
    for (const PackingObjectInfo& type : g_configData.objects) {
        check::CheckMesh mesh;
        if (!mesh.Load(TypeMeshPath(g_configData.modelPath, type.name), err)) {
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
    return check::StructureToJson(check::AnalyzeStructure(scene, objects, check::StructureOptions{}), scene.typeNames);
}
