#pragma once
// The one mesh type of densepack: the collision library's indexed geometry plus a flat
// render mesh (three vertices and three normals per triangle).

#include <cstdint>
#include <cstdio>
#include <vector>

#include "collision/ColGeometry.h"
#include "vectormath/vectormath_aos.h"

class PackingGeometry : public col::ColGeometry {
 public:
    PackingGeometry();
    PackingGeometry(const std::vector<Vectormath::Aos::Point3>& points,
                    const std::vector<std::vector<unsigned>>& primitives, col::PrimitiveTypeE type);
    explicit PackingGeometry(const col::ColGeometry& geometry);
    /// Copies the library part and the render lists; vertex count, both pointers and the
    /// gravity centre start at their defaults (a copy must set its own pointers).
    PackingGeometry(const PackingGeometry& other);
    /// Copies everything but the gravity centre; the pointers keep referring to `other`'s lists.
    PackingGeometry& operator=(const PackingGeometry& other);

    std::vector<Vectormath::Aos::Vector3>& editNormals() { return m_normals; }
    const std::vector<Vectormath::Aos::Vector3>& getNormals() const { return m_normals; }
    std::vector<Vectormath::Aos::Vector3>& editVertices() { return m_vertices; }
    const std::vector<Vectormath::Aos::Vector3>& getVertices() const { return m_vertices; }

    /// Mean of the library's points (zero vector for a mesh without points); stored and returned.
    Vectormath::Aos::Vector3 calcGravityCenter();
    Vectormath::Aos::Vector3 getGravityCenter() const { return m_gravityCenter; }

    /// Writes the library points of this mesh, moved by `transform`, as "v" lines and its
    /// polygons as "f" lines shifted by `indexOffset`, then advances `indexOffset` by the point
    /// count. Writes nothing (and returns false) while m_pointsPtr or m_primitivesPtr is null.
    bool ExportObj(std::FILE* out, const Vectormath::Aos::Matrix4& transform, unsigned& indexOffset) const;

    uint64_t m_numVertices = 0;                                     ///< entries of m_vertices; draw-call count
    std::vector<Vectormath::Aos::Point3>* m_pointsPtr = nullptr;    ///< library points (editPointsPtr)
    std::vector<std::vector<unsigned>>* m_primitivesPtr = nullptr;  ///< library polygons (editPrimitivesPtr)
    std::vector<Vectormath::Aos::Vector3> m_normals;                ///< one normal per render vertex
    std::vector<Vectormath::Aos::Vector3> m_vertices;               ///< render vertices, three per triangle
    Vectormath::Aos::Vector3 m_gravityCenter;                       ///< set by calcGravityCenter
};

/// Appends the triangles of an OBJ file to the render mesh and sets m_numVertices.
/// Faces may give "p", "p/t", "p//n" or "p/t/n" corners, negative (relative) indices and more
/// than three corners (fanned from the first). A corner without a normal gets its triangle's face
/// normal (zero for a degenerate triangle). Returns 0; -1 when the file cannot be opened (silent);
/// -2 for a line that cannot be read, with "<path>:<line>: <what>" on stderr. On any failure the
/// geometry is left unchanged.
int LoadOBJ(PackingGeometry* geometry, const char* path);

/// Volume enclosed by the render mesh (divergence theorem); independent of face orientation.
/// 0 for an empty mesh.
float calculateVolume(const PackingGeometry* geometry);

/// Collision-pipeline converter: copies the source's box and makes the library record share the
/// source's sphere tree, points and polygons. `source` is a PackingGeometry.
bool PackingGeometryConverter(col::ColGeometry* target, const void* source);

/// Converter that leaves the record as the library built it.
bool PackingGeometryConverterSlow(col::ColGeometry* target, const void* source);
