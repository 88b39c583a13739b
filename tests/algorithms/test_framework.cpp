// The framework under the heuristics: object generation, saved states, the base overlap
// resolution, and the relaxation engine with its iteration budgets, hook order and endings.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "Stubs.h"
#include "algorithms/Limits.h"
#include "algorithms/ObjectPose.h"
#include "algorithms/Relaxation.h"
#include "collision/CollisionPipeline.h"
#include "collision/FibRand.h"
#include "collision/col.h"
#include "geometry/MovingObject.h"
#include "geometry/Random.h"
#include "geometry/SizeDistribution.h"

using Vectormath::Aos::lengthSqr;

TEST(GenerateObject, SharesItsTypesTreeAndBuffersFollowsTheShareDrawsAndRestoresSavedPoses) {
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
    EXPECT_EQ(std::pair(lo[0], hi[2]), std::pair(-0.25f, 0.25f));
    EXPECT_EQ(o->m_typeIndex, 1);
    EXPECT_EQ(o->m_name, "small");
    EXPECT_EQ(o->m_vertexBuffer, 7u);
    EXPECT_EQ(o->m_mvpLocation, 3);
    EXPECT_FLOAT_EQ(o->m_impulseScale, 5.0f);
    // Box inertia of half extents 0.25: 3 / (2 * 0.0625).
    EXPECT_FLOAT_EQ(o->m_inverseInertia.getElem(0, 0), 24.0f);
    EXPECT_FLOAT_EQ(o->m_inverseInertia.getElem(2, 2), 24.0f);
    EXPECT_FLOAT_EQ(o->m_inverseInertia.getElem(1, 0), 0.0f);
    s.types[1].color[1] = 0.75f;  // recolouring the type recolours its objects
    EXPECT_FLOAT_EQ(o->m_colorPtr[1], 0.75f);
    EXPECT_FALSE(o->m_id >= 0);

    // A draw picks the first type whose running sum of shares is greater; 60/40, then 30/30.
    const std::pair<float, int> draws[] = {{0.0f, 0}, {59.9f, 0}, {60.0f, 1}, {99.99f, 1}};
    for (const auto& [draw, k] : draws) EXPECT_EQ(a.TypeForShareDraw(draw), k) << draw;
    s.types[0].percentage = s.types[1].percentage = 30.0f;
    const std::pair<float, int> partial[] = {{59.99f, 1}, {60.0f, -1}, {99.0f, -1}};
    for (const auto& [draw, k] : partial) EXPECT_EQ(a.TypeForShareDraw(draw), k) << draw;

    // Random objects draw from the global generator; a draw past the shares gives none.
    seedGlobalRandom(12345);
    col::FibRand twin(12345);
    int nulls = 0;
    for (int i = 0; i < 200; ++i) {
        const float draw = static_cast<float>(twin.rand()) / (1073741824.0f / 100.0f);
        const MovingObject* r = a.GenerateRandomObject();
        nulls += r == nullptr;
        ASSERT_EQ(r ? r->m_typeIndex : -1, draw < 30.0f ? 0 : draw < 60.0f ? 1 : -1) << "draw " << draw;
    }
    EXPECT_TRUE(nulls > 0 && nulls < 200) << nulls;

    // Loading the saved states restores the pose but not the scale.
    std::list<MovingObject*> objects{a.GenerateObject(0), o};
    o = objects.front();
    Pose(o, Vector3(1, 2, 3), 0.5f, Vector3(0, 0, 1), 1.0f);
    a.SaveObjectStates(&objects);
    Pose(o, Vector3(-1, 0, 0), 1.0f, Vector3(1, 0, 0), 2.0f);
    o->m_velocity = Vector3(1, 1, 1), o->m_angularVelocity = Vector3(0, 1, 0);
    a.LoadObjectStates(&objects);

    EXPECT_FLOAT_EQ(o->m_position.getZ(), 3.0f);
    EXPECT_FLOAT_EQ(o->m_translationMatrix.getElem(3, 1), 2.0f);
    EXPECT_FLOAT_EQ(o->m_rotationMatrix.getElem(0, 1), std::sin(0.5f));
    EXPECT_FLOAT_EQ(o->m_modelMatrix.getElem(3, 0), 1.0f);
    EXPECT_FLOAT_EQ(o->m_modelMatrix.getElem(0, 1), std::sin(0.5f));
    EXPECT_FLOAT_EQ(lengthSqr(o->m_velocity) + lengthSqr(o->m_angularVelocity), 0.0f);
    EXPECT_FLOAT_EQ(o->m_scaleMatrix.getElem(1, 1), 2.0f);

    s.types.clear();
    EXPECT_EQ(a.TypeForShareDraw(0.0f), -1);
    EXPECT_EQ(a.GenerateRandomObject(), nullptr);
}

// Each object draws its size factor from its type with the algorithm's seeded generator: the same
// seed gives the same factors, the draws keep their bounds and median, and a fixed size draws
// nothing. The factor is the object's full size for the scale matrix, the volume and ScaleObject.
TEST(GenerateObject, SizeFactorsFromTheSeededGeneratorAreTheObjectsFullSize) {
    StubScene s;
    std::string err;
    ASSERT_TRUE(ParseSizeDistribution("lognormal:1:0.3", s.types[1].size, err)) << err;
    seedGlobalRandom(7);
    StubConstruction a = s.Make<StubConstruction>(), b = s.Make<StubConstruction>(), c = s.Make<StubConstruction>();
    for (int i = 0; i < 10; ++i) a.GenerateObject(0), b.GenerateObject(0);
    EXPECT_EQ(a.random()->rand(), c.random()->rand());
    b.random()->rand();
    std::vector<float> fa, fb;
    for (int i = 0; i < 4001; ++i) {
        fa.push_back(a.GenerateObject(1)->m_sizeFactor);
        fb.push_back(b.GenerateObject(1)->m_sizeFactor);
    }
    EXPECT_EQ(fa, fb);
    std::sort(fa.begin(), fa.end());
    EXPECT_NEAR(fa[2000], 1.0f, 0.015f);  // 3 standard errors; a mean of 1 would put it at 0.956
    EXPECT_TRUE(fa.front() >= std::exp(-0.9f) && fa.back() <= std::exp(0.9f)) << fa.front() << " " << fa.back();
    EXPECT_TRUE(fa.front() < 0.5f && fa.back() > 2.0f) << "the tails were never drawn";

    ASSERT_TRUE(ParseSizeDistribution("uniform:0.8:1.2", s.types[1].size, err)) << err;
    float lo = 2.0f, hi = 0.0f;
    for (int i = 0; i < 2000; ++i) {
        const float f = a.GenerateObject(1)->m_sizeFactor;
        lo = std::min(lo, f), hi = std::max(hi, f);
    }
    EXPECT_TRUE(lo >= 0.8f && lo < 0.801f && hi <= 1.2f && hi > 1.199f) << lo << " " << hi;

    MovingObject* o = a.GenerateObject(1);
    const float f = o->m_sizeFactor;
    char text[16];
    std::snprintf(text, sizeof text, "%g", f);
    EXPECT_EQ(std::strtof(text, nullptr), f) << "a placement file would store another size";
    EXPECT_EQ(o->m_modelMatrix.getElem(2, 2), f);
    EXPECT_FLOAT_EQ(o->m_volume, s.types[1].volume * f * f * f);
    Packing::ScaleObject(*o, 0.5f);
    EXPECT_EQ(o->m_scaleMatrix.getElem(1, 1), 0.5f * f);
    EXPECT_FLOAT_EQ(Packing::ScaleOf(*o), 0.5f);
}

namespace {

// Pushes the object toward the container's centre while it touches a wall, as the Hopkins
// callback does.
struct PushInward : col::Callback {
    PushInward(MovingObject& container, MovingObject& object, bool& flag)
        : col::Callback(container.m_id, object.m_id, false, true, col::LEVEL_CONTACT), object(object), flag(flag) {}
    void operator()(const col::Data*) override {
        flag = true;
        ++calls;
        object.m_velocity -= 3.0f * object.m_position;
        object.m_angularVelocity += Vector3(0.3f, 0.2f, 0.1f);
    }
    MovingObject& object;
    bool& flag;
    int calls = 0;
};

bool IsOrthonormal(const Matrix4& m) {
    const Vectormath::Aos::Matrix3 r = m.getUpper3x3(), p = Vectormath::Aos::transpose(r) * r;
    for (int k = 0; k < 9; ++k)
        if (std::fabs(p.getElem(k / 3, k % 3) - (k % 4 == 0 ? 1.0f : 0.0f)) > 1e-5f) return false;
    return true;
}

}  // namespace

TEST(ResolveOverlap, FreeObjectTakesOneStepAndOneInTheWallIsPushedFreeBothStayingOrthonormal) {
    StubScene s;
    StubConstruction a = s.Make<StubConstruction>();
    col::CollisionPipeline* pipeline = a.CreatePipeline("ResolveTest", 0);
    a.MakeObjectCollidable(pipeline, &s.container);
    MovingObject* o = a.GenerateObject(1);  // sphere radius 0.25 in a container of half size 2
    a.MakeObjectCollidable(pipeline, o);
    bool flag = false;
    PushInward callback(s.container, *o, flag);
    pipeline->addCallback(&callback);

    o->m_velocity = Vector3(3.0f, 0.0f, 0.0f), o->m_angularVelocity = Vector3(2.0f, -1.0f, 0.5f);
    EXPECT_TRUE(a.ResolveOverlap(pipeline, o, flag));
    EXPECT_EQ(std::pair(flag, callback.calls), std::pair(false, 0));
    // Exactly one step of the entry velocity.
    EXPECT_NEAR(o->m_position.getX(), 3.0f * 0.03333333f, 1e-6f);
    EXPECT_FLOAT_EQ(o->m_translationMatrix.getElem(3, 0), o->m_position.getX());
    EXPECT_TRUE(IsOrthonormal(o->m_rotationMatrix));
    EXPECT_GT(std::fabs(o->m_rotationMatrix.getElem(0, 1)), 1e-3f);  // it did turn
    EXPECT_FLOAT_EQ(lengthSqr(o->m_velocity) + lengthSqr(o->m_angularVelocity), 0.0f);
    const Matrix4 model = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
    EXPECT_FLOAT_EQ(o->m_modelMatrix.getElem(3, 0), model.getElem(3, 0));
    EXPECT_FLOAT_EQ(o->m_modelMatrix.getElem(1, 2), model.getElem(1, 2));

    o->m_position = Vector3(1.9f, 1.0f, 0.0f);
    o->m_translationMatrix.setTranslation(o->m_position);
    ASSERT_TRUE(a.ResolveOverlap(pipeline, o, flag));
    EXPECT_GT(callback.calls, 0);
    EXPECT_LT(o->m_position.getX(), 2.0f - 0.25f);
    EXPECT_TRUE(IsOrthonormal(o->m_rotationMatrix));
    EXPECT_FLOAT_EQ(s.container.m_inverseMass, 0.0f);
}

namespace {

// Two unit balls; the callback pushes them apart by unit velocities, as the heuristics do.
struct PushApart : col::Callback {
    PushApart(MovingObject& a, MovingObject& b, bool& flag)
        : col::Callback(a.m_id, b.m_id, false, true, col::LEVEL_CONTACT), a(a), b(b), flag(flag) {}
    void operator()(const col::Data*) override {
        flag = false;
        const Vector3 d = normalize(a.m_position - b.m_position);
        a.m_velocity += d;
        b.m_velocity -= d;
    }
    MovingObject &a, &b;
    bool& flag;
};

class RelaxationTest : public ::testing::Test {
 protected:
    void SetUp() override {
        type = MakeType("ball", 100, 0.5f, 0.5f);
        auto* pipeline = new col::CollisionPipeline("relax", 1);
        for (float x : {-0.1f, 0.1f}) {
            auto* o = new MovingObject();
            o->m_geometry = type.geometry;
            o->m_position = Vector3(x, 0, 0);
            o->m_translationMatrix.setTranslation(o->m_position);
            o->m_id = pipeline->makeCollidable(o->m_geometry, nullptr);
            objects.push_back(o);
        }
        pipeline->addCallback(new PushApart(*objects.front(), *objects.back(), flag));
        relax.pipeline = pipeline, relax.objects = &objects, relax.flag = &flag;
        relax.step = Packing::SeparationSteps(), relax.limitSeconds = 1.0;
    }
    PackingObjectInfo type;
    std::list<MovingObject*> objects;
    bool flag = false;
    Packing::Relaxation relax;
};

TEST_F(RelaxationTest, PushedApartUntilFreeWithHooksInTheirOrder) {
    const testscene::StepLimits limits(1000);
    std::string order;
    relax.beginIteration = [&] { order += 'b'; };
    relax.beforeCheck = [&] { order += 'c'; };
    relax.afterCheck = [&] {
        order += flag ? 'f' : 'o';
        return true;
    };
    EXPECT_EQ(relax.Run(), Packing::RelaxResult::Converged);
    // 0.2 apart, 0.8 to go at 2/30 per iteration: the 13th step separates them.
    EXPECT_EQ(relax.iterations, 14);
    EXPECT_EQ(order.substr(0, 6), "bcobco");
    EXPECT_EQ(order.substr(order.size() - 3), "bcf");
    EXPECT_GE(objects.back()->m_position.getX() - objects.front()->m_position.getX(), 1.0f);
}

TEST_F(RelaxationTest, StepBudgetsRoundAndWinOverAConvergedLastIterationAndAHookStopsTheLoop) {
    {
        const testscene::StepLimits limits(7);
        Packing::Limit half(0.5);  // 3.5 rounds to 4
        EXPECT_EQ(half.budget(), 4);
        for (int i = 1; i < 4; ++i) EXPECT_FALSE(half.Passed()) << i;
        EXPECT_DOUBLE_EQ(half.Used(), 0.75);
        EXPECT_TRUE(half.Passed());
        EXPECT_DOUBLE_EQ(half.Used(), 1.0);
        Packing::Limit tiny(0.01);  // never less than one iteration
        EXPECT_EQ(tiny.budget(), 1);
        EXPECT_TRUE(tiny.Passed());
        EXPECT_EQ(Packing::Limit(2.0, 0.25).budget(), 4);  // 14 steps, a quarter each: 3.5 rounds to 4
        EXPECT_EQ(Packing::Limit(2.0, 30.0).budget(), 420);
    }
    {
        const testscene::StepLimits limits(14);  // the iteration that frees them is the last allowed
        EXPECT_EQ(relax.Run(), Packing::RelaxResult::Limit);
    }
    const testscene::StepLimits limits(1000);
    relax.afterCheck = [&] { return relax.iterations < 2; };
    relax.objects->front()->m_position = Vector3(0.3f, 0, 0);
    relax.objects->front()->m_translationMatrix.setTranslation(Vector3(0.3f, 0, 0));
    EXPECT_EQ(relax.Run(), Packing::RelaxResult::Stopped);
    EXPECT_EQ(relax.iterations, 2);
}

}  // namespace
