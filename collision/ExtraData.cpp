#include "collision/ExtraData.h"

#include <cstdio>

#include "collision/SpheresFile.h"
#include "collision/TriangleTree.h"

namespace col {

ExtraData::~ExtraData() = default;

ExtraData_SphereTree::ExtraData_SphereTree(const char* file) {
    SpheresParseResult r = loadSpheresFile(file ? file : "");
    if (r.ok) {
        m_tree = std::move(r.tree);
        m_valid = true;
        return;
    }
    m_error = std::move(r.error);
    std::fprintf(stderr, "%s\n", m_error.c_str());
    std::fflush(stderr);
}

ExtraData_SphereTree::ExtraData_SphereTree(const Point3& centre, float radius) {
    SphereNode n;
    n.center = centre;
    n.radius = radius;
    n.direction = Vector3(0, 0, 0);
    n.angle = 3.14159265f;
    m_tree = SphereTree(std::vector<SphereNode>{n});
    m_valid = radius > 0;
    if (!m_valid) m_error = "sphere radius must be > 0";
}

ExtraData_SphereTree::ExtraData_SphereTree(SphereTree tree) : m_tree(std::move(tree)), m_valid(!m_tree.empty()) {}

ExtraData_SphereTree::~ExtraData_SphereTree() = default;

void ExtraData_SphereTree::bindMesh(const std::vector<Point3>& points,
                                    const std::vector<std::vector<unsigned>>& polygons) {
    if (m_meshBound) return;
    m_meshBound = true;
    auto mesh = std::make_shared<TriangleTree>();
    mesh->build(points, polygons);
    m_tree.setMesh(std::move(mesh));
}

}  // namespace col
