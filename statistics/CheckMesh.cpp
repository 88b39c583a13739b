#include "statistics/CheckMesh.h"

#include <algorithm>
#include <cmath>

#include "collision/ColGeometry.h"

namespace check {

bool CheckMesh::Load(const std::string& path, std::string& outError) {
    col::ColGeometry geom;
    const int rc = col::loadGeometryFromFile(&geom, path.c_str());
    if (rc < 0) {
        outError = rc == -1 ? "cannot open " + path : "cannot read " + path;
        return false;
    }
    if (!Build(geom.getPoints(), geom.getPrimitives(), outError)) {
        outError = path + ": " + outError;
        return false;
    }
    return true;
}

bool CheckMesh::Build(std::vector<Point3> points, const std::vector<std::vector<unsigned>>& polygons,
                      std::string& outError) {
    m_triangles = 0;
    m_volume = 0.0f;
    if (!m_exact.build(points, polygons)) {
        outError = "mesh has no triangles";
        return false;
    }
    for (const auto& poly : polygons) {
        // The same triangles as the exact mesh: polygons with an index out of range are skipped.
        if (std::any_of(poly.begin(), poly.end(), [&](unsigned i) { return i >= points.size(); })) continue;
        for (size_t k = 1; k + 1 < poly.size(); ++k) {
            const Vectormath::Aos::Vector3 p0(points[poly[0]]), p1(points[poly[k]]), p2(points[poly[k + 1]]);
            m_volume += dot(p0, cross(p1, p2)) / 6.0f;
            ++m_triangles;
        }
    }
    m_volume = std::fabs(m_volume);
    return true;
}

}  // namespace check
