#pragma once
// Closed, outward-oriented triangle meshes with per-corner normals for the bundled models.
#include <array>
#include <string>
#include <vector>

namespace modelgen {

struct V3 {
    double x = 0, y = 0, z = 0;
};

struct Corner {
    int position = 0;  ///< 0-based
    int normal = 0;    ///< 0-based
};

struct Model {
    std::vector<V3> positions;
    std::vector<V3> normals;
    std::vector<std::array<Corner, 3>> faces;
};

/// Ellipsoid with the given semi-axes from a subdivided icosahedron; smooth normals.
Model Ellipsoid(double a, double b, double c, int subdivisions);
/// Axis-aligned box centred at the origin; flat normals.
Model Box(double sx, double sy, double sz);
/// Regular tetrahedron with vertices at (±s, ±s, ±s) (even sign count); flat normals.
Model Tetrahedron(double s);
/// Cylinder along z centred at the origin; smooth side, flat caps.
Model Cylinder(double radius, double height, int segments);
/// Torus around the z axis; smooth normals.
Model Torus(double majorRadius, double minorRadius, int majorSegments, int minorSegments);

/// OBJ text with "f a/1/n" corners and one "vt 0 0" line, numbers in fixed notation.
std::string ToObj(const Model& m, const std::string& title);

}  // namespace modelgen
