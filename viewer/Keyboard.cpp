// Keys of the viewer window. Everything runs on the windowing thread; what the algorithm
// thread may be changing at the same time is copied under the packing lock first, so files are
// written and reports computed without holding the algorithm up.

#include "viewer/Keyboard.h"

// glew must come before any other GL header.
// clang-format off
#include <GL/glew.h>
#include <GL/freeglut.h>
// clang-format on

#include <cstdlib>
#include <iostream>
#include <list>
#include <mutex>
#include <string>

#include "algorithms/PackingAlgorithm.h"
#include "collision/FibRand.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/Random.h"
#include "statistics/ViewReports.h"
#include "viewer/Callbacks.h"
#include "viewer/Framing.h"
#include "viewer/Viewer.h"

using Vectormath::Aos::Vector3;

namespace {

bool animation_started = false;
bool resuming = false;
bool drawHull = false;         // toggled by "d"; nothing draws a hull yet
PackingGeometry hullGeometry;  // never filled, so "v" reports 0

const char* kPlacementFile = "testFile.txt";
const char* kObjFile = "packing.obj";

// Colours of "r" come from a generator of their own: sharing the global one with the
// algorithm thread would race and would change a seeded run's sequence.
col::FibRand& ColourRandom() {
    static col::FibRand random(algorithmSeed());
    return random;
}

// Value copies of the placed objects and the container, taken under the lock; the list
// points into `copies`.
struct PackingCopy {
    std::vector<MovingObject> copies;
    std::list<MovingObject*> list;
    MovingObject container;
};

// Only what the placement file and the OBJ export read: the algorithm thread writes other
// fields (velocities, forces, saved poses) without the lock.
MovingObject PoseCopy(const MovingObject& o) {
    MovingObject c;
    c.m_typeIndex = o.m_typeIndex;
    c.m_geometry = o.m_geometry;
    c.m_name = o.m_name;
    c.m_translationMatrix = o.m_translationMatrix;
    c.m_rotationMatrix = o.m_rotationMatrix;
    c.m_scaleMatrix = o.m_scaleMatrix;
    c.m_modelMatrix = o.m_modelMatrix;
    c.m_position = o.m_position;
    return c;
}

void CopyPacking(PackingCopy& out) {
    const ViewerContext& c = g_viewerContext;
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        if (c.placedObjects != nullptr) {
            out.copies.reserve(c.placedObjects->size());
            for (const MovingObject* o : *c.placedObjects) out.copies.push_back(PoseCopy(*o));
        }
        if (c.container != nullptr) out.container = PoseCopy(*c.container);
    }
    for (MovingObject& o : out.copies) out.list.push_back(&o);
}

IPackingAlgorithm* PlacementFiles() {
    IPackingAlgorithm* files = g_viewerContext.placementFiles;
    if (files == nullptr) std::cout << "No placement operations in this run (no construction heuristic)." << std::endl;
    return files;
}

void ExportPacking() {
    IPackingAlgorithm* files = PlacementFiles();
    if (files == nullptr) return;
    PackingCopy copy;
    CopyPacking(copy);
    files->ExportObj(kObjFile, copy.list, &copy.container);
}

void WritePacking() {
    IPackingAlgorithm* files = PlacementFiles();
    if (files == nullptr) return;
    PackingCopy copy;
    CopyPacking(copy);
    files->WritePlacedObjects(kPlacementFile, copy.list);
}

void ReloadPacking() {
    std::list<MovingObject*>* placed = g_viewerContext.placedObjects;
    IPackingAlgorithm* files = PlacementFiles();
    if (files == nullptr || placed == nullptr) return;
    if (g_algorithmRunning.load()) {
        std::cout << "The packing algorithm is still running; \"h\" reloads only after it has finished." << std::endl;
        return;
    }
    size_t size = 0;
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        placed->clear();  // the objects stay alive: a heuristic may still point at them
        size = placed->size();
    }
    std::cout << "Deleted Size: " << size << std::endl;
    // All or nothing: a damaged file leaves `loaded` empty.
    std::list<MovingObject*> loaded;
    files->LoadPlacedObjects(kPlacementFile, loaded);
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        placed->splice(placed->end(), loaded);
        size = placed->size();
    }
    std::cout << "Loaded Size: " << size << std::endl;
}

void RandomColours() {
    if (g_viewerContext.types == nullptr) return;
    for (PackingObjectInfo& type : *g_viewerContext.types)
        for (int c = 0; c < 3; ++c) type.color[c] = randMToNFrom(ColourRandom().rand(), 0.1f, 0.8f);
}

void PackingReportKey() {
    const ViewerContext& c = g_viewerContext;
    if (c.types == nullptr || c.container == nullptr) return;
    std::vector<int> types;
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        if (c.placedObjects != nullptr)
            for (const MovingObject* o : *c.placedObjects) types.push_back(o->m_typeIndex);
    }
    PrintPackingReport(std::cout, types, *c.types, c.container->m_geometry);
}

void DistanceReportKey() {
    const ViewerContext& c = g_viewerContext;
    if (c.types == nullptr) return;
    std::vector<std::pair<int, Vector3>> objects;
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        if (c.placedObjects != nullptr)
            for (const MovingObject* o : *c.placedObjects) objects.emplace_back(o->m_typeIndex, o->m_position);
    }
    PrintDistanceReport(std::cout, objects, *c.types);
}

void CycleFillMode() {
    int& mode = MovingObject::fill_mode;
    if (mode == GL_LINE)
        mode = GL_FILL;
    else if (mode == GL_FILL)
        mode = GL_POINT;
    else if (mode == GL_POINT)
        mode = GL_LINE;
    glPolygonMode(GL_FRONT_AND_BACK, static_cast<GLenum>(mode));
    glutPostRedisplay();
}

void ToggleAnimation() {
    if (animation_started) {
        animation_started = false;
        glutIdleFunc(nullptr);
    } else {
        animation_started = true;
        resuming = true;
        glutIdleFunc(animate);
    }
}

}  // namespace

void animate() {
    if (!animation_started) return;
    if (resuming) resuming = false;
    glutPostRedisplay();
}

void keyboard(unsigned char key, int, int) {
    switch (key) {
        case 27:
            std::exit(0);
        case ' ':
            ToggleAnimation();
            break;
        case 'I':
        case 'i':
            CycleFillMode();
            break;
        case 'a':
            DistanceReportKey();
            break;
        case 'c':
            g_drawContainer = !g_drawContainer;
            break;
        case 'd':
            drawHull = !drawHull;
            glutPostRedisplay();
            break;
        case 'e':
            ExportPacking();
            break;
        case 'f':
            FramePacking(g_camera, true);
            break;
        case 'g':
            WritePacking();
            break;
        case 'h':
            ReloadPacking();
            break;
        case 'r':
            RandomColours();
            break;
        case 's':
            PackingReportKey();
            break;
        case 'v':
            std::cout << "Volume: " << calculateVolume(&hullGeometry) << std::endl;
            break;
        default:
            break;  // "y" included: a collision check without a pipeline means nothing here
    }
}
