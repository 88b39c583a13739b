// Placement files, read into a scene of two bundled types as view mode and the construction
// cache read them.

#include <list>
#include <vector>

#include "FuzzTargets.h"
#include "algorithms/ConstructionHeuristic.h"
#include "collision/ExtraData.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingObjectInfo.h"

namespace fuzz {

namespace {

// Only its loader is used; it never runs.
class Loader : public IConstructionHeuristic {
 public:
    using IConstructionHeuristic::IConstructionHeuristic;
    void Init() override {}
    void ConstructionHeuristic() override {}
};

PackingObjectInfo LoadType(const char* name) {
    const std::string base = std::string(DENSEPACK_SOURCE_DIR) + "/models/" + name;
    PackingObjectInfo type;
    type.name = name;
    type.percentage = 50.0f;
    type.geometry = new PackingGeometry();
    const std::string obj = base + ".obj";
    Require(LoadOBJ(type.geometry, obj.c_str()) + col::loadGeometryFromFile(type.geometry, obj.c_str()) == 0,
            "bundled model does not load");
    type.geometry->setExtraData(new col::ExtraData_SphereTree((base + ".spheres").c_str()));
    type.geometry->updateBBox();
    type.volume = calculateVolume(type.geometry);
    return type;
}

struct Scene {
    std::vector<PackingObjectInfo> types{LoadType("cube"), LoadType("tetrahedron")};
    MovingObject container;
    std::vector<Vectormath::Aos::Vector3> points;
    std::list<MovingObject*> placed;
    Loader loader{types, &container, points, &placed, Vectormath::Aos::Vector3(4.0f)};
};

}  // namespace

int Placement(const uint8_t* data, size_t size) {
    static Scene* scene = new Scene();
    const bool loaded = scene->loader.LoadPlacedObjects(InputFile(data, size), scene->placed);
    Require(loaded == !scene->placed.empty(), "the result does not say whether objects were loaded");
    for (MovingObject* o : scene->placed) {
        Require(o->m_typeIndex >= 0 && o->m_typeIndex < 2, "an object of a type that does not exist");
        Require(o->m_geometry->m_extraData == scene->types[o->m_typeIndex].geometry->m_extraData,
                "an object that does not share its type's sphere tree");
        // The objects' meshes are views of the type's; freeing them leaves the types intact.
        delete o->m_geometry;
        delete o;
    }
    scene->placed.clear();
    return 0;
}

}  // namespace fuzz
