#include "geometry/MovingObject.h"

using Vectormath::Aos::Vector3;

Vector3* MovingObject::m_rotDir = nullptr;
float* MovingObject::m_angle = nullptr;
Vector3* MovingObject::m_translation = nullptr;
int MovingObject::fill_mode = 0x1B01;  // GL_LINE; this layer includes no GL header

void MovingObject::AllocateTypeTables(size_t typeCount) {
    delete[] m_rotDir;
    delete[] m_angle;
    delete[] m_translation;
    m_rotDir = new Vector3[typeCount];
    m_angle = new float[typeCount];
    m_translation = new Vector3[typeCount];
    for (size_t i = 0; i < typeCount; ++i) {
        m_rotDir[i] = Vector3(0.0f, 0.0f, 1.0f);
        m_angle[i] = 0.0f;
        m_translation[i] = Vector3(0.0f, 0.0f, 1.0f);
    }
}
