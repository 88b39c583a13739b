#include "algorithms/ObjectPose.h"

#include "collision/CollisionPipeline.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/Random.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

namespace Packing {

const Orientation kCanonicalTurns[6] = {
    {Vector3(0, 0, 1), 0.78539f}, {Vector3(0, 0, 1), 1.5708f},  {Vector3(1, 0, 0), 0.78539f},
    {Vector3(1, 0, 0), 1.5708f},  {Vector3(0, 1, 0), 0.78539f}, {Vector3(0, 1, 0), 1.5708f},
};

void RebuildModel(MovingObject& o) { o.m_modelMatrix = o.m_translationMatrix * o.m_rotationMatrix * o.m_scaleMatrix; }

void SetPosition(MovingObject& o, const Vector3& p) {
    o.m_position = p;
    o.m_translationMatrix.setTranslation(p);
}

void Park(MovingObject& o) {
    // Three separate statements: the order of the draws must not depend on the compiler.
    const float x = randMToN(500, 50000);
    const float y = randMToN(500, 50000);
    const float z = randMToN(500, 50000);
    SetPosition(o, Vector3(x, y, z));
    RebuildModel(o);
}

Vector3 SafeNormalize(const Vector3& v) {
    const float len = length(v);
    return len > 0.0f ? v / len : v;
}

bool NoZeroComponent(const Vector3& v) { return v.getX() != 0.0f && v.getY() != 0.0f && v.getZ() != 0.0f; }

Vector3 RandomDirection() {
    const float x = randMToN(-1, 1);
    const float y = randMToN(-1, 1);
    const float z = randMToN(-1, 1);
    return SafeNormalize(Vector3(x, y, z));
}

Matrix4 RandomRotation() {
    const Vector3 axis = RandomDirection();
    const float angle = randMToN(0, 359);  // used as radians
    return Matrix4::rotation(angle, axis);
}

Matrix4 RememberedRotation(int typeIndex) {
    return Matrix4::rotation(MovingObject::m_angle[typeIndex], MovingObject::m_rotDir[typeIndex]);
}

void RememberRotation(int typeIndex, const Orientation& o) {
    MovingObject::m_angle[typeIndex] = o.angle;
    MovingObject::m_rotDir[typeIndex] = o.axis;
}

bool CheckFree(col::CollisionPipeline* pipeline, MovingObject& o, bool& flag) {
    pipeline->moveObject(o.m_id, &o.m_modelMatrix, nullptr);
    flag = true;
    pipeline->check();
    return flag;
}

Orientation RememberedOrientation(int typeIndex) {
    return {MovingObject::m_rotDir[typeIndex], MovingObject::m_angle[typeIndex]};
}

void Nudge(MovingObject& o) {
    o.m_position.setX(o.m_position.getX() + 0.0001f);
    o.m_translationMatrix.setTranslation(o.m_position);
    RebuildModel(o);
}

bool TryOrientations(col::CollisionPipeline* pipeline, MovingObject& o, bool& flag, const Orientation& first,
                     int turns) {
    for (int i = 0; i <= turns && i <= 6; ++i) {
        const Orientation& turn = i == 0 ? first : kCanonicalTurns[i - 1];
        o.m_rotationMatrix = Matrix4::rotation(turn.angle, turn.axis);
        Nudge(o);
        if (CheckFree(pipeline, o, flag)) {
            RememberRotation(o.m_typeIndex, turn);
            return true;
        }
    }
    return false;
}

void SetBoxInertia(MovingObject& o) {
    float mn[3], mx[3];
    o.m_geometry->getBBox(mn, mx);
    const float hx = (mx[0] - mn[0]) / 2.0f, hy = (mx[1] - mn[1]) / 2.0f, hz = (mx[2] - mn[2]) / 2.0f;
    const float m = o.m_inverseMass;
    o.m_impulseScale = 5.0f;
    o.m_inverseInertia.setElem(0, 0, 3.0f / (m * (hy * hy + hz * hz)));
    o.m_inverseInertia.setElem(1, 1, 3.0f / (m * (hx * hx + hz * hz)));
    o.m_inverseInertia.setElem(2, 2, 3.0f / (m * (hx * hx + hy * hy)));
}

void ScaleObject(MovingObject& o, float s) {
    const float size = s * o.m_sizeFactor;
    o.m_scaleMatrix.setElem(0, 0, size);
    o.m_scaleMatrix.setElem(1, 1, size);
    o.m_scaleMatrix.setElem(2, 2, size);
}

float ScaleOf(const MovingObject& o) { return o.m_scaleMatrix.getElem(0, 0) / o.m_sizeFactor; }

}  // namespace Packing
