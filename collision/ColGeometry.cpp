#include "collision/ColGeometry.h"

#include <algorithm>

namespace col {

ColGeometry::ColGeometry() = default;

ColGeometry::ColGeometry(const std::vector<Point3>& pts, const std::vector<std::vector<unsigned>>& prims,
                         PrimitiveTypeE type)
    : m_ownPoints(pts), m_ownPrimitives(prims), m_primType(type) {
    updateBBox();
}

ColGeometry::ColGeometry(const ColGeometry& other)
    : m_extraData(other.m_extraData),
      m_ownPoints(other.getPoints()),
      m_ownPrimitives(other.getPrimitives()),
      m_scale(other.getScale()),
      m_primType(other.m_primType) {
    std::copy(other.m_bboxMin, other.m_bboxMin + 3, m_bboxMin);
    std::copy(other.m_bboxMax, other.m_bboxMax + 3, m_bboxMax);
}

ColGeometry& ColGeometry::operator=(const ColGeometry& other) {
    if (this == &other) return *this;
    m_extraData = other.m_extraData;
    // Copy before re-pointing: other may share this record's storage.
    std::vector<Point3> pts = other.getPoints();
    std::vector<std::vector<unsigned>> prims = other.getPrimitives();
    m_scale = other.getScale();
    m_ownPoints = std::move(pts);
    m_ownPrimitives = std::move(prims);
    pointAtOwnStorage();
    m_primType = other.m_primType;
    std::copy(other.m_bboxMin, other.m_bboxMin + 3, m_bboxMin);
    std::copy(other.m_bboxMax, other.m_bboxMax + 3, m_bboxMax);
    return *this;
}

ColGeometry::~ColGeometry() = default;

void ColGeometry::pointAtOwnStorage() {
    m_points = &m_ownPoints;
    m_primitives = &m_ownPrimitives;
    m_scaleSource = nullptr;
}

void ColGeometry::getBBox(float min[3], float max[3]) const {
    std::copy(m_bboxMin, m_bboxMin + 3, min);
    std::copy(m_bboxMax, m_bboxMax + 3, max);
}

void ColGeometry::setBBox(const float min[3], const float max[3]) {
    std::copy(min, min + 3, m_bboxMin);
    std::copy(max, max + 3, m_bboxMax);
}

void ColGeometry::updateBBox() {
    const auto& pts = getPoints();
    if (pts.empty()) return;
    for (int k = 0; k < 3; ++k) m_bboxMin[k] = m_bboxMax[k] = pts[0][k];
    for (const Point3& p : pts)
        for (int k = 0; k < 3; ++k) {
            m_bboxMin[k] = std::min(m_bboxMin[k], p[k]);
            m_bboxMax[k] = std::max(m_bboxMax[k], p[k]);
        }
}

void ColGeometry::setExtraData(ExtraData* e) {
    m_extraData = e;
    if (auto* st = sphereTree(); st && !getPoints().empty()) st->bindMesh(getPoints(), getPrimitives());
}

ExtraData_SphereTree* ColGeometry::sphereTree() const { return dynamic_cast<ExtraData_SphereTree*>(m_extraData); }

void ColGeometry::setScale(float s) {
    // Writing through a sharing record would silently change its source; keep it local instead.
    m_scaleSource = nullptr;
    m_scale = s;
}

void ColGeometry::shareFrom(const ColGeometry& src) {
    if (&src == this) return;
    m_extraData = src.m_extraData;
    // Chains resolve to the storage owner so a copy of a copy still sees the original.
    m_points = const_cast<std::vector<Point3>*>(&src.getPoints());
    m_primitives = const_cast<std::vector<std::vector<unsigned>>*>(&src.getPrimitives());
    m_scaleSource = &src;
    m_primType = src.m_primType;
    std::copy(src.m_bboxMin, src.m_bboxMin + 3, m_bboxMin);
    std::copy(src.m_bboxMax, src.m_bboxMax + 3, m_bboxMax);
}

}  // namespace col
