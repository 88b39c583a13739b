#include "viewer/Buffers.h"

#include <GL/glew.h>

#include <vector>

#include "geometry/PackingGeometry.h"

namespace {

// The vector type carries a fourth padding float; the shader attribute takes three.
void Upload(const std::vector<Vectormath::Aos::Vector3>& list, unsigned* buffer) {
    std::vector<float> flat;
    flat.reserve(3 * list.size());
    for (const Vectormath::Aos::Vector3& v : list) {
        flat.push_back(v.getX());
        flat.push_back(v.getY());
        flat.push_back(v.getZ());
    }
    glGenBuffers(1, buffer);
    glBindBuffer(GL_ARRAY_BUFFER, *buffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(flat.size() * sizeof(float)), flat.data(), GL_STATIC_DRAW);
}

}  // namespace

void generateVBO(PackingGeometry* geometry, unsigned* buffer) { Upload(geometry->m_vertices, buffer); }

void generateNormalVBO(PackingGeometry* geometry, unsigned* buffer) { Upload(geometry->m_normals, buffer); }
