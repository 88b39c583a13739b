#pragma once
/// @file MeshOverlap.h
/// Exact overlap of two posed closed meshes, and whether a posed mesh lies inside a posed
/// container mesh, with penetration and protrusion estimates.

#include "collision/ConvexShape.h"
#include "collision/ExactMesh.h"

namespace col {

struct ExactOverlapQuery {
    const ExactMesh* a = nullptr;
    ScaledPose X_WA;
    const ExactMesh* b = nullptr;
    ScaledPose X_WB;
    bool wantDepth = false;     ///< also estimate the penetration (costs far more than the yes/no)
    bool useTriangles = false;  ///< take the triangle path even when both meshes are convex
};

struct ExactOverlapResult {
    bool overlap = false;  ///< the two solids share a point (surfaces meet, or one holds the other)
    /// Penetration estimate, world units; 0 when apart or not asked for.
    /// - Both convex: the shortest translation that separates the two vertex hulls (EPA).
    /// - Otherwise: the deepest sample point (vertices, edge midpoints, centroids) of either mesh
    ///   inside the other, as distance to the other's surface: a lower bound on the shortest
    ///   separating translation, 0 when the surfaces cross between samples (two thin parts
    ///   crossing in their middle) or only touch.
    float depth = 0.0f;
    bool convexPath = false;  ///< decided on the convex shapes (else by the triangle trees)
};

/// Whether the closed meshes a and b, posed in the world, overlap.
/// - Both convex (ExactMesh::convex) and !useTriangles: convexOverlap (GJK) on the vertex hulls;
///   two boxes (ExactMesh::isBox) by the 15 separating axes of two oriented boxes instead.
/// - Otherwise: any pair of crossing or touching triangles (surfacesIntersect), else one mesh
///   wholly inside the other (a vertex of each tested with contains()).
/// Touching, or a gap or depth below about 1e-6 of the size, may go either way (the triangle
/// path mostly calls exact touching an overlap). An empty mesh overlaps nothing.
ExactOverlapResult exactOverlap(const ExactOverlapQuery& query);

/// Whether two meshes that are both boxes (ExactMesh::isBox) overlap: the 15 separating axes of
/// two oriented boxes. Touching boxes, and boxes closer than about 1e-6 of their size, overlap.
bool boxesOverlap(const ExactMesh& a, const ScaledPose& X_WA, const ExactMesh& b, const ScaledPose& X_WB);

struct ContainmentQuery {
    const ExactMesh* object = nullptr;
    ScaledPose X_WO;
    const ExactMesh* container = nullptr;
    ScaledPose X_WC;
    bool wantDepth = false;  ///< also estimate how far the object sticks out
};

struct ContainmentResult {
    bool inside = false;  ///< no surface contact with the container and a vertex of the object inside it
    /// How far the object sticks out, world units, when asked for: the largest distance to the
    /// container's surface among the object's samples outside the container (vertices, edge
    /// midpoints, centroids): a lower bound on the translation that brings it back in, up to
    /// the samples' spacing. 0 when inside, or when the surfaces only touch or cross between samples.
    float depth = 0.0f;
};

/// Whether the object lies inside the container (any closed mesh, convex or not). A convex
/// object in a container with few face planes (ExactMesh::fewPlanes, such as a box) is tested
/// by its support point along each of the container's face normals instead of the trees. Touching the
/// container's surface from inside mostly counts as not inside; within about 1e-6 of the
/// container's coordinates it may go either way. An empty object or container gives not inside.
ContainmentResult exactContainment(const ContainmentQuery& query);

}  // namespace col
