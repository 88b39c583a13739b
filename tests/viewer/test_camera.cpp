// The orbit camera as the mouse drives it: clamped turns, zoom from right-drags, wheel
// events that only touch the pending eye translation.

#include <gtest/gtest.h>

#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "viewer/Camera.h"

namespace {

// The start-up set-up, with the 500 x 500 viewport of the first reshape.
Camera StartUpCamera() {
    Camera c;
    c.SetMode(Orbit);
    c.SetPosition(glm::vec3(0.0f, 0.0f, 30.0f));
    c.SetLookAt(glm::vec3(0.0f));
    c.SetClipping(0.1, 1000.0);
    c.SetFOV(20.0);
    c.SetViewport(0, 0, 500, 500);
    return c;
}

// Eye position in world space recovered from a view matrix.
glm::vec3 EyeOf(const glm::mat4& view) { return glm::vec3(glm::inverse(view)[3]); }

TEST(Camera, LeftDragTurnsAtMostOneClampedStep) {
    Camera c = StartUpCamera();
    c.SetPos(0, 0, 1100, 300);
    c.Move2D(100, 300);  // 1000 px to the left in one event
    EXPECT_FLOAT_EQ(c.heading(), 5.0f);
    EXPECT_FLOAT_EQ(c.pitch(), 0.0f);
    c.Move2D(1100, 1300);  // back right and down
    EXPECT_FLOAT_EQ(c.heading(), 0.0f);
    EXPECT_FLOAT_EQ(c.pitch(), -5.0f);

    // A small drag is not clamped, and after the button is released motion does nothing.
    c.Move2D(1090, 1300);
    EXPECT_NEAR(c.heading(), 0.05f, 1e-6f);
    c.SetPos(0, 1, 1090, 1300);
    c.Move2D(0, 0);
    EXPECT_NEAR(c.heading(), 0.05f, 1e-6f);
    EXPECT_FLOAT_EQ(c.zoom(), 1.0f);
}

TEST(Camera, OrbitLooksAtTheOriginAndATurnRotatesTheEyeAboutItAndFadesOut) {
    Camera c = StartUpCamera();
    c.Update(false);
    EXPECT_LT(glm::distance(c.eye(), glm::vec3(0, 0, 30)), 1e-5f);
    glm::mat4 projection, view, model;
    c.GetMatricies(projection, view, model);
    const glm::mat4 expected = glm::lookAtRH(glm::vec3(0, 0, 30), glm::vec3(0), glm::vec3(0, 1, 0));
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(view[i / 4][i % 4], expected[i / 4][i % 4], 1e-6f);
    EXPECT_EQ(model, glm::mat4(1.0f));
    // The origin lands in the centre of the screen.
    const glm::vec4 clip = c.GetMVP() * glm::vec4(0, 0, 0, 1);
    EXPECT_NEAR(glm::length(glm::vec2(clip) / clip.w), 0.0f, 1e-6f);

    c.SetPos(0, 0, 200, 200);
    c.Move2D(100, 200);  // heading 0.5 rad about +y
    c.Update(false);
    EXPECT_NEAR(glm::length(c.eye()), 30.0f, 1e-4f);
    EXPECT_NEAR(c.eye().x, 30.0f * std::sin(0.5f), 1e-4f);
    EXPECT_NEAR(c.eye().z, 30.0f * std::cos(0.5f), 1e-4f);
    EXPECT_NEAR(c.heading(), 0.5f * 0.005f, 1e-7f);
    const glm::vec3 before = c.eye();
    c.Update(false);
    EXPECT_NEAR(glm::distance(before, c.eye()), 30.0f * 0.0025f, 1e-4f);
}

TEST(Camera, RightDragZoomsInTheViewOnlyAndTheWheelChangesOnlyThePendingTranslation) {
    Camera c = StartUpCamera();
    c.SetPos(2, 0, 300, 250);
    c.Move2D(100, 250);  // 200 px to the left: +1
    EXPECT_FLOAT_EQ(c.zoom(), 2.0f);
    EXPECT_FLOAT_EQ(c.heading(), 0.0f);
    c.Update(false);
    glm::mat4 projection, view, model;
    c.GetMatricies(projection, view, model);
    EXPECT_NEAR(glm::length(EyeOf(view)), 60.0f, 1e-3f);
    EXPECT_FLOAT_EQ(c.eye().z, 30.0f);
    c.Move2D(300, 250);  // and back to the right
    EXPECT_FLOAT_EQ(c.zoom(), 1.0f);

    Camera w = StartUpCamera();
    for (int button : {3, 3, 4, 3}) w.SetPos(button, 0, 10, 10);
    EXPECT_NEAR(w.eyeDelta().y, 0.01f, 1e-7f);
    EXPECT_FLOAT_EQ(w.eyeDelta().x, 0.0f);
    w.Move2D(500, 500);  // no button held
    EXPECT_FLOAT_EQ(w.heading(), 0.0f);
    EXPECT_FLOAT_EQ(w.zoom(), 1.0f);
    w.Update(false);
    EXPECT_LT(glm::distance(w.eye(), glm::vec3(0, 0, 30)), 1e-5f);
    EXPECT_NEAR(w.eyeDelta().y, 0.01f * 0.008f, 1e-9f);
}

TEST(Camera, FreeModeMovesTheEyeAlongThePendingTranslation) {
    Camera c;
    c.SetMode(Free);
    c.SetPosition(glm::vec3(0, 0, 10));
    c.SetLookAt(glm::vec3(0));
    c.SetClipping(0.1, 100.0);
    c.SetViewport(0, 0, 100, 100);
    c.Update(false);
    c.Move(Forward);
    c.Move(Up);
    c.Update(false);
    EXPECT_NEAR(c.eye().z, 10.0f - 0.005f, 1e-6f);
    EXPECT_NEAR(c.eye().y, 0.005f, 1e-6f);
    EXPECT_NEAR(c.lookAt().z, 10.0f - 0.005f - 1.0f, 1e-5f);

    Camera orbit = StartUpCamera();
    orbit.Move(Up);  // only the Free mode moves
    EXPECT_FLOAT_EQ(orbit.eyeDelta().y, 0.0f);
    orbit.ChangeHeading(100.0f);
    EXPECT_FLOAT_EQ(orbit.heading(), 5.0f);
}

}  // namespace
