#pragma once
/// @file ExtraData.h
/// Data attached to a ColGeometry; the sphere tree is the one kind the library uses.

#include <string>
#include <vector>

#include "collision/SphereTree.h"

namespace col {

class ExtraData {
 public:
    virtual ~ExtraData();
};

class ExtraData_SphereTree : public ExtraData {
 public:
    /// Loads a ".spheres" file. On any fault writes one line "<file>: line N: <what>" (or
    /// "<file>: cannot open") to stderr; isValid() is then false and the tree is empty, and an
    /// empty tree overlaps nothing.
    explicit ExtraData_SphereTree(const char* file);
    /// A tree of exactly one sphere (the root is the leaf), normal cone (0,0,0) / pi.
    ExtraData_SphereTree(const Point3& centre, float radius);
    /// Takes a tree built in memory (tests, tools).
    explicit ExtraData_SphereTree(SphereTree tree);
    ~ExtraData_SphereTree() override;

    bool isValid() const { return m_valid; }
    const std::string& error() const { return m_error; }
    const SphereTree* tree() const { return &m_tree; }
    SphereTree* tree() { return &m_tree; }

    /// Binds the exact triangle mesh (model frame) for distance queries. The triangle tree is
    /// built once; later calls are ignored. Polygons with more than three corners are fanned.
    void bindMesh(const std::vector<Point3>& points, const std::vector<std::vector<unsigned>>& polygons);
    bool hasMesh() const { return m_meshBound; }

 private:
    SphereTree m_tree;
    std::string m_error;
    bool m_valid = false;
    bool m_meshBound = false;
};

}  // namespace col
