// The relaxation engine: iteration budgets, the order of its hooks and how a loop ends.

#include <gtest/gtest.h>

#include <list>
#include <string>

#include "algorithms/Limits.h"
#include "algorithms/Relaxation.h"
#include "collision/col.h"
#include "geometry/MovingObject.h"
#include "support/TestScene.h"

using Vectormath::Aos::Vector3;

namespace {

TEST(Limit, StepBudgetIsRoundedSecondsTimesKAndPassesAtItsLastIteration) {
    const testscene::StepLimits limits(7);
    Packing::Limit half(0.5);  // 3.5 rounds to 4
    EXPECT_EQ(half.budget(), 4);
    for (int i = 1; i < 4; ++i) EXPECT_FALSE(half.Passed()) << i;
    EXPECT_TRUE(half.Passed());
    Packing::Limit tiny(0.01);  // never less than one iteration
    EXPECT_EQ(tiny.budget(), 1);
    EXPECT_TRUE(tiny.Passed());
}

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
        type = testscene::MakeType("ball", 100, 0.5f, 0.5f);
        pipeline = new col::CollisionPipeline("relax", 1);
        for (float x : {-0.1f, 0.1f}) {
            auto* o = new MovingObject();
            o->m_geometry = type.geometry;
            o->m_position = Vector3(x, 0, 0);
            o->m_translationMatrix.setTranslation(o->m_position);
            o->m_id = pipeline->makeCollidable(o->m_geometry, nullptr);
            objects.push_back(o);
        }
        pipeline->addCallback(new PushApart(*objects.front(), *objects.back(), flag));
        relax.pipeline = pipeline;
        relax.objects = &objects;
        relax.step = Packing::SeparationSteps();
        relax.flag = &flag;
        relax.limitSeconds = 1.0;
    }
    PackingObjectInfo type;
    col::CollisionPipeline* pipeline = nullptr;
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

TEST_F(RelaxationTest, LimitWinsOverAConvergedLastIterationAndAHookStopsTheLoop) {
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
