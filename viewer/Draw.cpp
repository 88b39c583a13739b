// One object's draw call: uniforms from its pose and colour, then its type's two buffers.

#include <GL/glew.h>

#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "viewer/Viewer.h"

using Vectormath::Aos::Matrix4;

namespace {

void ToFloats(const Matrix4& m, float out[16]) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) out[4 * c + r] = m.getElem(c, r);
}

Matrix4 FromFloats(const float m[16]) {
    using Vectormath::Aos::Vector4;
    return {Vector4(m[0], m[1], m[2], m[3]), Vector4(m[4], m[5], m[6], m[7]), Vector4(m[8], m[9], m[10], m[11]),
            Vector4(m[12], m[13], m[14], m[15])};
}

}  // namespace

DrawItem DrawItemOf(const MovingObject& object) {
    DrawItem item;
    ToFloats(object.m_modelMatrix, item.model);
    for (int i = 0; i < 4; ++i)
        item.color[i] = object.m_colorPtr != nullptr ? object.m_colorPtr[i] : (i == 3 ? 1.0f : 0.0f);
    item.vertexBuffer = object.m_vertexBuffer;
    item.normalBuffer = object.m_normalBuffer;
    item.vertexCount = object.m_geometry != nullptr ? static_cast<int32_t>(object.m_geometry->m_numVertices) : 0;
    item.mvpLocation = object.m_mvpLocation;
    item.modelLocation = object.m_modelLocation;
    item.normalMatrixLocation = object.m_normalMatrixLocation;
    item.colorLocation = object.m_colorLocation;
    item.lightLocation = object.m_lightLocation;
    return item;
}

void DrawItemWith(const DrawItem& item, const Matrix4& viewProjection) {
    // Buffer 0 would make GL read vertex data from client memory at address 0.
    if (item.vertexBuffer == 0 || item.normalBuffer == 0 || item.vertexCount <= 0) return;

    glUniformMatrix4fv(item.modelLocation, 1, GL_FALSE, item.model);
    float mvp[16];
    ToFloats(viewProjection * FromFloats(item.model), mvp);
    glUniformMatrix4fv(item.mvpLocation, 1, GL_FALSE, mvp);
    const float normal[9] = {item.model[0], item.model[1], item.model[2], item.model[4], item.model[5],
                             item.model[6], item.model[8], item.model[9], item.model[10]};
    glUniformMatrix3fv(item.normalMatrixLocation, 1, GL_FALSE, normal);
    glUniform4fv(item.colorLocation, 1, item.color);
    const float light[3] = {100.0f, 100.0f, 100.0f};
    glUniform3fv(item.lightLocation, 1, light);

    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glBindBuffer(GL_ARRAY_BUFFER, item.vertexBuffer);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, item.normalBuffer);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    glDrawArrays(GL_TRIANGLES, 0, item.vertexCount);
}

void MovingObject::draw(const Matrix4& viewProjection) const { DrawItemWith(DrawItemOf(*this), viewProjection); }

Matrix4 ViewProjectionOf(const Camera& camera) {
    const glm::mat4& m = camera.GetMVP();
    using Vectormath::Aos::Vector4;
    return {Vector4(m[0][0], m[0][1], m[0][2], m[0][3]), Vector4(m[1][0], m[1][1], m[1][2], m[1][3]),
            Vector4(m[2][0], m[2][1], m[2][2], m[2][3]), Vector4(m[3][0], m[3][1], m[3][2], m[3][3])};
}
