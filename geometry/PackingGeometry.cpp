#include "geometry/PackingGeometry.h"

#include <cmath>

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

PackingGeometry::PackingGeometry() = default;

PackingGeometry::PackingGeometry(const std::vector<Point3>& points,
                                 const std::vector<std::vector<unsigned>>& primitives, col::PrimitiveTypeE type)
    : col::ColGeometry(points, primitives, type) {}

PackingGeometry::PackingGeometry(const col::ColGeometry& geometry) : col::ColGeometry(geometry) {}

// The pointers of a copy would refer into the source's lists, which may go away first.
PackingGeometry::PackingGeometry(const PackingGeometry& other)
    : col::ColGeometry(other), m_normals(other.m_normals), m_vertices(other.m_vertices) {}

PackingGeometry& PackingGeometry::operator=(const PackingGeometry& other) {
    if (this == &other) return *this;
    col::ColGeometry::operator=(other);
    m_vertices = other.m_vertices;
    m_normals = other.m_normals;
    m_numVertices = other.m_numVertices;
    m_pointsPtr = other.m_pointsPtr;
    m_primitivesPtr = other.m_primitivesPtr;
    return *this;
}

Vector3 PackingGeometry::calcGravityCenter() {
    const std::vector<Point3>& points = getPoints();
    float sx = 0.0f, sy = 0.0f, sz = 0.0f;
    for (const Point3& p : points) {
        sx += p.getX();
        sy += p.getY();
        sz += p.getZ();
    }
    // No points: the origin rather than 0/0.
    if (points.empty()) {
        m_gravityCenter = Vector3(0.0f, 0.0f, 0.0f);
    } else {
        const float n = static_cast<float>(points.size());
        m_gravityCenter = Vector3(sx / n, sy / n, sz / n);
    }
    return m_gravityCenter;
}

bool PackingGeometry::ExportObj(std::FILE* out, const Matrix4& transform, unsigned& indexOffset) const {
    if (out == nullptr || m_pointsPtr == nullptr || m_primitivesPtr == nullptr) return false;
    for (const Point3& p : *m_pointsPtr) {
        const Vector4 q = transform * p;
        std::fprintf(out, "v %f %f %f\n", q.getX(), q.getY(), q.getZ());
    }
    for (const std::vector<unsigned>& prim : *m_primitivesPtr) {
        std::fputs("f", out);
        for (unsigned k : prim) std::fprintf(out, " %u", k + indexOffset + 1);
        std::fputs("\n", out);
    }
    indexOffset += static_cast<unsigned>(m_pointsPtr->size());
    return true;
}

float calculateVolume(const PackingGeometry* geometry) {
    if (geometry == nullptr) return 0.0f;
    const std::vector<Vector3>& v = geometry->m_vertices;
    if (v.empty()) return 0.0f;
    float sum = 0.0f;
    // A trailing partial triangle (never produced by LoadOBJ) is ignored.
    for (size_t k = 0; k + 2 < v.size(); k += 3) {
        const Vector3& p0 = v[k];
        const Vector3& p1 = v[k + 1];
        const Vector3& p2 = v[k + 2];
        // Signed volume of the tetrahedron (origin, p0, p1, p2).
        sum += dot(p0, cross(p1, p2)) / 6.0f;
    }
    return std::fabs(sum);
}

bool PackingGeometryConverter(col::ColGeometry* target, const void* source) {
    const col::ColGeometry* src = static_cast<const PackingGeometry*>(source);
    float min[3] = {0.0f, 0.0f, 0.0f};
    float max[3] = {0.0f, 0.0f, 0.0f};
    src->getBBox(min, max);
    target->setBBox(min, max);
    // Every collidable object of a type reads that type's one sphere tree and point data.
    target->shareFrom(*src);
    return true;
}

bool PackingGeometryConverterSlow(col::ColGeometry* /*target*/, const void* /*source*/) { return true; }
