// The two OBJ readers of a model file and the mesh reader of densepack-spheres.

#include <vector>

#include "FuzzTargets.h"
#include "collision/ColGeometry.h"
#include "geometry/PackingGeometry.h"
#include "tools/spheres/TriMesh.h"

namespace fuzz {

int Obj(const uint8_t* data, size_t size) {
    const std::string path = InputFile(data, size);

    PackingGeometry render;
    const int drawn = LoadOBJ(&render, path.c_str());
    Require(drawn == 0 || drawn == -2, "an open file was reported as unreadable");
    Require(render.m_vertices.size() == render.m_normals.size(), "one normal per vertex");
    Require(render.m_vertices.size() % 3 == 0 && render.m_numVertices == render.m_vertices.size(),
            "render vertices come in whole triangles");
    if (drawn != 0) Require(render.m_vertices.empty(), "a rejected file left vertices behind");

    col::ColGeometry collision;
    const int read = col::loadGeometryFromFile(&collision, path.c_str());
    Require(read == 0 || read == -2, "an open file was reported as unreadable");
    const std::vector<Vectormath::Aos::Point3>& points = collision.getPoints();
    for (const std::vector<unsigned>& polygon : collision.getPrimitives()) {
        Require(polygon.size() >= 3, "a polygon with fewer than three corners");
        for (unsigned index : polygon) Require(index < points.size(), "a polygon index past the points");
    }
    return 0;
}

int Mesh(const uint8_t* data, size_t size) {
    spheres::TriMesh mesh;
    const spheres::MeshResult result = spheres::LoadClosedMesh(InputFile(data, size), mesh);
    Require(result.ok == result.message.empty(), "a message without a failure or the other way round");
    if (!result.ok) return 0;
    for (const auto& t : mesh.triangles)
        for (int i : t) Require(i >= 0 && static_cast<size_t>(i) < mesh.points.size(), "a corner past the points");
    // The builder relies on outward faces: an accepted mesh has a positive volume.
    Require(spheres::SignedVolume(mesh) > 0.0, "an accepted mesh is not outward-facing");
    Require(spheres::CheckClosedAndOriented(mesh).ok, "an accepted mesh is not closed");
    return 0;
}

}  // namespace fuzz
