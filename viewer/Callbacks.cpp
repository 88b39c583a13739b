// Frame, window-size and mouse callbacks. The frame copies what it draws under the packing
// lock in one short pass and makes the GL calls afterwards, so the algorithm thread waits at
// most for that copy, and the picture never mixes two states of a moving object.

#include "viewer/Callbacks.h"

// glew must come before any other GL header.
// clang-format off
#include <GL/glew.h>
#include <GL/freeglut.h>
// clang-format on

#include <mutex>
#include <string>
#include <vector>

#include "geometry/MovingObject.h"
#include "geometry/PackingLock.h"
#include "geometry/Progress.h"
#include "viewer/Viewer.h"

namespace {

int w = 0;  // window size of the last reshape
int h = 0;

}  // namespace

void SnapshotPacking(std::vector<DrawItem>& outItems, DrawItem& outContainer) {
    outItems.clear();
    std::lock_guard<std::mutex> lock(g_packingMutex);
    const ViewerContext& c = g_viewerContext;
    if (c.placedObjects != nullptr)
        for (const MovingObject* o : *c.placedObjects) outItems.push_back(DrawItemOf(*o));
    if (c.container != nullptr) outContainer = DrawItemOf(*c.container);
}

void display() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    g_camera.Update();
    g_shaderManager.Use();
    const Vectormath::Aos::Matrix4 viewProjection = ViewProjectionOf(g_camera);

    static std::vector<DrawItem> items;  // kept between frames to reuse its storage
    DrawItem container;
    SnapshotPacking(items, container);
    for (const DrawItem& item : items) DrawItemWith(item, viewProjection);
    // Last, so the see-through container blends over the objects behind it.
    if (g_drawContainer) DrawItemWith(container, viewProjection);

    g_shaderManager.UnUse();
    // The title carries the run's latest progress line: its phase, and how a limit ended it.
    static std::string title;
    if (const std::string status = Packing::Progress::Status(); !status.empty() && status != title) {
        title = status;
        glutSetWindowTitle(("densepack: " + status).c_str());
    }
    glutPostRedisplay();
    glutSwapBuffers();
}

void reshape(int width, int height) {
    w = width;
    h = height;
    glViewport(0, 0, width, height);
    g_camera.SetViewport(0, 0, width, height);
}

void mouseClick(int button, int state, int x, int y) { g_camera.SetPos(button, state, x, y); }

void mouseMoving(int x, int y) {
    g_camera.Move2D(x, y);
    glutPostRedisplay();
}
