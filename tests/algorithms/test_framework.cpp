// Object generation, saved states, grid counts and the base overlap resolution.

#include <gtest/gtest.h>

#include <cmath>

#include "Stubs.h"
#include "collision/CollisionPipeline.h"
#include "collision/FibRand.h"
#include "geometry/Random.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

TEST(GenerateObject, ShareDrawsPickTheFirstTypeWhoseRunningSumIsGreater) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    EXPECT_EQ(a.TypeForShareDraw(0.0f), 0);
    EXPECT_EQ(a.TypeForShareDraw(59.9f), 0);
    EXPECT_EQ(a.TypeForShareDraw(60.0f), 1);
    EXPECT_EQ(a.TypeForShareDraw(99.99f), 1);

    s.types[0].percentage = 30.0f;
    s.types[1].percentage = 30.0f;
    EXPECT_EQ(a.TypeForShareDraw(59.99f), 1);
    EXPECT_EQ(a.TypeForShareDraw(60.0f), -1);
    EXPECT_EQ(a.TypeForShareDraw(99.0f), -1);

    s.types.clear();
    EXPECT_EQ(a.TypeForShareDraw(0.0f), -1);
    EXPECT_EQ(a.GenerateRandomObject(), nullptr);
}

TEST(GenerateObject, RandomObjectFollowsTheGlobalGenerator) {
    StubScene s;
    s.types[0].percentage = 30.0f;
    s.types[1].percentage = 30.0f;
    StubConstruction a = s.Make<StubConstruction>();
    seedGlobalRandom(12345);
    col::FibRand twin(12345);
    int nulls = 0, objects = 0;
    for (int i = 0; i < 200; ++i) {
        const float draw = 0.0f + static_cast<float>(twin.rand()) / (1073741824.0f / 100.0f);
        const int expected = draw < 30.0f ? 0 : draw < 60.0f ? 1 : -1;
        MovingObject* o = a.GenerateRandomObject();
        if (expected < 0) {
            EXPECT_EQ(o, nullptr) << "draw " << draw;
            ++nulls;
        } else {
            ASSERT_NE(o, nullptr) << "draw " << draw;
            EXPECT_EQ(o->m_typeIndex, expected);
            ++objects;
        }
    }
    EXPECT_GT(nulls, 0);
    EXPECT_GT(objects, 0);
}

TEST(GenerateObject, SharesTreePointsBuffersAndColourOfItsType) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    MovingObject* o = a.GenerateObject(1);
    PackingGeometry* type = s.types[1].geometry;
    EXPECT_NE(o->m_geometry, type);
    EXPECT_EQ(o->m_geometry->m_extraData, type->m_extraData);
    EXPECT_EQ(o->m_geometry->m_pointsPtr, type->editPointsPtr());
    EXPECT_EQ(o->m_geometry->m_primitivesPtr, type->editPrimitivesPtr());
    float lo[3], hi[3];
    o->m_geometry->getBBox(lo, hi);
    EXPECT_FLOAT_EQ(lo[0], -0.25f);
    EXPECT_FLOAT_EQ(hi[2], 0.25f);
    EXPECT_EQ(o->m_typeIndex, 1);
    EXPECT_EQ(o->m_name, "small");
    EXPECT_EQ(o->m_vertexBuffer, 7u);
    EXPECT_EQ(o->m_mvpLocation, 3);
    EXPECT_FLOAT_EQ(o->m_impulseScale, 5.0f);
    // Box inertia of half extents 0.25: 3 / (2 * 0.0625).
    EXPECT_FLOAT_EQ(o->m_inverseInertia.getElem(0, 0), 24.0f);
    EXPECT_FLOAT_EQ(o->m_inverseInertia.getElem(2, 2), 24.0f);
    EXPECT_FLOAT_EQ(o->m_inverseInertia.getElem(1, 0), 0.0f);
    // Recolouring the type recolours its objects.
    s.types[1].color[1] = 0.75f;
    EXPECT_FLOAT_EQ(o->m_colorPtr[1], 0.75f);
    EXPECT_FALSE(o->m_id >= 0);
}

TEST(ObjectStates, LoadRestoresTheSavedPoseButNotTheScale) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    std::list<MovingObject*> objects{a.GenerateObject(0), a.GenerateObject(1)};
    MovingObject* o = objects.front();
    o->m_position = Vector3(1, 2, 3);
    o->m_translationMatrix = Matrix4::translation(o->m_position);
    o->m_rotationMatrix = Matrix4::rotationZ(0.5f);
    o->m_modelMatrix = o->m_translationMatrix * o->m_rotationMatrix;
    a.SaveObjectStates(&objects);

    o->m_position = Vector3(-1, 0, 0);
    o->m_translationMatrix = Matrix4::translation(o->m_position);
    o->m_rotationMatrix = Matrix4::rotationX(1.0f);
    o->m_scaleMatrix = Matrix4::scale(Vector3(2.0f));
    o->m_modelMatrix = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
    o->m_velocity = Vector3(1, 1, 1);
    o->m_angularVelocity = Vector3(0, 1, 0);
    a.LoadObjectStates(&objects);

    EXPECT_FLOAT_EQ(o->m_position.getZ(), 3.0f);
    EXPECT_FLOAT_EQ(o->m_translationMatrix.getElem(3, 1), 2.0f);
    EXPECT_FLOAT_EQ(o->m_rotationMatrix.getElem(0, 1), std::sin(0.5f));
    EXPECT_FLOAT_EQ(o->m_modelMatrix.getElem(3, 0), 1.0f);
    EXPECT_FLOAT_EQ(o->m_modelMatrix.getElem(0, 1), std::sin(0.5f));
    EXPECT_FLOAT_EQ(Vectormath::Aos::lengthSqr(o->m_velocity), 0.0f);
    EXPECT_FLOAT_EQ(Vectormath::Aos::lengthSqr(o->m_angularVelocity), 0.0f);
    EXPECT_FLOAT_EQ(o->m_scaleMatrix.getElem(1, 1), 2.0f);
}

namespace {

// Pushes the object toward the container's centre while it touches a wall, as the Hopkins
// callback does.
class PushInward : public col::Callback {
 public:
    PushInward(MovingObject* container, MovingObject* object, bool& flag)
        : col::Callback(container->m_id, object->m_id, false, true, col::LEVEL_CONTACT),
          m_object(object),
          m_flag(&flag) {}
    void operator()(const col::Data*) override {
        *m_flag = true;
        ++calls;
        m_object->m_velocity = m_object->m_velocity - 3.0f * m_object->m_position;
        m_object->m_angularVelocity = m_object->m_angularVelocity + Vector3(0.3f, 0.2f, 0.1f);
    }
    int calls = 0;

 private:
    MovingObject* m_object;
    bool* m_flag;
};

bool IsOrthonormal(const Matrix4& m) {
    const Vectormath::Aos::Matrix3 r = m.getUpper3x3();
    const Vectormath::Aos::Matrix3 p = Vectormath::Aos::transpose(r) * r;
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            if (std::fabs(p.getElem(c, k) - (c == k ? 1.0f : 0.0f)) > 1e-5f) return false;
    return true;
}

}  // namespace

TEST(ResolveOverlap, FreeObjectNeedsOneStepAndKeepsAnOrthonormalRotation) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    col::CollisionPipeline* pipeline = a.CreatePipeline("ResolveTest", 0);
    a.MakeObjectCollidable(pipeline, &s.container);
    MovingObject* o = a.GenerateObject(1);
    a.MakeObjectCollidable(pipeline, o);
    bool flag = false;
    PushInward callback(&s.container, o, flag);
    pipeline->addCallback(&callback);

    o->m_velocity = Vector3(3.0f, 0.0f, 0.0f);
    o->m_angularVelocity = Vector3(2.0f, -1.0f, 0.5f);
    EXPECT_TRUE(a.ResolveOverlap(pipeline, o, flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(callback.calls, 0);
    // Exactly one step of the entry velocity.
    EXPECT_NEAR(o->m_position.getX(), 3.0f * 0.03333333f, 1e-6f);
    EXPECT_FLOAT_EQ(o->m_translationMatrix.getElem(3, 0), o->m_position.getX());
    EXPECT_TRUE(IsOrthonormal(o->m_rotationMatrix));
    EXPECT_GT(std::fabs(o->m_rotationMatrix.getElem(0, 1)), 1e-3f);  // it did turn
    EXPECT_FLOAT_EQ(Vectormath::Aos::lengthSqr(o->m_velocity), 0.0f);
    EXPECT_FLOAT_EQ(Vectormath::Aos::lengthSqr(o->m_angularVelocity), 0.0f);
    EXPECT_FLOAT_EQ(s.container.m_inverseMass, 0.0f);
    const Matrix4 expectedModel = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
    EXPECT_FLOAT_EQ(o->m_modelMatrix.getElem(3, 0), expectedModel.getElem(3, 0));
    EXPECT_FLOAT_EQ(o->m_modelMatrix.getElem(1, 2), expectedModel.getElem(1, 2));
}

TEST(ResolveOverlap, ObjectInTheWallIsPushedFreeAndStaysOrthonormal) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    col::CollisionPipeline* pipeline = a.CreatePipeline("ResolveTest", 0);
    a.MakeObjectCollidable(pipeline, &s.container);
    MovingObject* o = a.GenerateObject(1);  // sphere radius 0.25 in a container of half size 2
    a.MakeObjectCollidable(pipeline, o);
    bool flag = false;
    PushInward callback(&s.container, o, flag);
    pipeline->addCallback(&callback);

    o->m_position = Vector3(1.9f, 1.0f, 0.0f);
    o->m_translationMatrix.setTranslation(o->m_position);
    ASSERT_TRUE(a.ResolveOverlap(pipeline, o, flag));
    EXPECT_GT(callback.calls, 0);
    EXPECT_LT(o->m_position.getX(), 2.0f - 0.25f);
    EXPECT_TRUE(IsOrthonormal(o->m_rotationMatrix));
    EXPECT_FLOAT_EQ(s.container.m_inverseMass, 0.0f);
}
