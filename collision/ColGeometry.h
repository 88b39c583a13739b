#pragma once
/// @file ColGeometry.h
/// The library's geometry record: indexed points, polygons, a bounding box, the attached sphere
/// tree and the geometry scale value.

#include <vector>

#include "collision/ExtraData.h"

namespace col {

enum PrimitiveTypeE { PRIM_POLYGONS = 0, PRIM_TRIANGLES = 1 };

class ColGeometry {
 public:
    ExtraData* m_extraData = nullptr;  ///< FIRST member: the sphere tree; callers read/copy it directly

    ColGeometry();
    ColGeometry(const std::vector<Point3>& pts, const std::vector<std::vector<unsigned>>& prims, PrimitiveTypeE type);
    /// Copies points, primitives, box, extra-data pointer and the current scale value (a copy of a
    /// sharing record owns its own copies again).
    ColGeometry(const ColGeometry& other);
    ColGeometry& operator=(const ColGeometry& other);
    ~ColGeometry();  ///< does not delete m_extraData

    void getBBox(float min[3], float max[3]) const;
    void setBBox(const float min[3], const float max[3]);
    /// Recomputes the box from the points; an empty point list leaves the box unchanged.
    void updateBBox();

    std::vector<Point3>* editPointsPtr() { return m_points; }
    const std::vector<Point3>& getPoints() const { return *m_points; }
    std::vector<std::vector<unsigned>>* editPrimitivesPtr() { return m_primitives; }
    const std::vector<std::vector<unsigned>>& getPrimitives() const { return *m_primitives; }
    PrimitiveTypeE primitiveType() const { return m_primType; }

    /// Stores e; if it is a sphere tree and this geometry has points, binds the mesh to it.
    void setExtraData(ExtraData* e);
    ExtraData_SphereTree* sphereTree() const;

    /// Geometry scale value (default 1): overlap queries multiply sphere radii by it on top of the
    /// model matrix's scale, which already sizes the object (centres and radii). Distance queries
    /// ignore it. A record made with shareFrom reads its source's value live.
    float getScale() const { return m_scaleSource ? m_scaleSource->getScale() : m_scale; }
    void setScale(float s);

    /// Share src's sphere tree, point/primitive storage and scale value instead of copying them.
    /// src must outlive this record.
    void shareFrom(const ColGeometry& src);

 private:
    void pointAtOwnStorage();

    std::vector<Point3> m_ownPoints;
    std::vector<std::vector<unsigned>> m_ownPrimitives;
    std::vector<Point3>* m_points = &m_ownPoints;
    std::vector<std::vector<unsigned>>* m_primitives = &m_ownPrimitives;
    const ColGeometry* m_scaleSource = nullptr;
    float m_bboxMin[3] = {0, 0, 0};
    float m_bboxMax[3] = {0, 0, 0};
    float m_scale = 1.0f;
    PrimitiveTypeE m_primType = PRIM_POLYGONS;
};

/// Reads an OBJ file's "v" and "f" lines into points and polygons (0-based), then updateBBox().
/// Returns 0; -1 when the file cannot be opened, -2 for a malformed or out-of-range index (one
/// line on stderr naming file and line).
int loadGeometryFromFile(ColGeometry* geom, const char* path);

}  // namespace col
