// Keys of the viewer window. Everything runs on the windowing thread; what the algorithm
// thread may be changing at the same time is copied under the packing lock first, so files are
// written and reports computed without holding the algorithm up.

#include "viewer/Keyboard.h"

// glew must come before any other GL header.
// clang-format off
#include <GL/glew.h>
#include <GL/freeglut.h>
// clang-format on

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <list>
#include <mutex>
#include <ostream>
#include <string>

#include "app/Globals.h"
#include "app/Heuristics.h"
#include "collision/FibRand.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/Random.h"
#include "viewer/Callbacks.h"
#include "viewer/PackingLock.h"
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
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        if (g_placedObjects != nullptr) {
            out.copies.reserve(g_placedObjects->size());
            for (const MovingObject* o : *g_placedObjects) out.copies.push_back(PoseCopy(*o));
        }
        out.container = PoseCopy(g_container);
    }
    for (MovingObject& o : out.copies) out.list.push_back(&o);
}

bool HaveLoader() {
    if (g_constructionHeuristic != nullptr) return true;
    std::cout << "No placement operations in this run (no construction heuristic)." << std::endl;
    return false;
}

void ExportPacking() {
    if (!HaveLoader()) return;
    PackingCopy copy;
    CopyPacking(copy);
    g_constructionHeuristic->ExportObj(kObjFile, copy.list, &copy.container);
}

void WritePacking() {
    if (!HaveLoader()) return;
    PackingCopy copy;
    CopyPacking(copy);
    g_constructionHeuristic->WritePlacedObjects(kPlacementFile, copy.list);
}

void ReloadPacking() {
    if (!HaveLoader() || g_placedObjects == nullptr) return;
    if (g_algorithmRunning.load()) {
        std::cout << "The packing algorithm is still running; \"h\" reloads only after it has finished." << std::endl;
        return;
    }
    size_t size = 0;
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        g_placedObjects->clear();  // the objects stay alive: a heuristic may still point at them
        size = g_placedObjects->size();
    }
    std::cout << "Deleted Size: " << size << std::endl;
    // All or nothing: a damaged file leaves `loaded` empty.
    std::list<MovingObject*> loaded;
    g_constructionHeuristic->LoadPlacedObjects(kPlacementFile, loaded);
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        g_placedObjects->splice(g_placedObjects->end(), loaded);
        size = g_placedObjects->size();
    }
    std::cout << "Loaded Size: " << size << std::endl;
}

void RandomColours() {
    for (PackingObjectInfo& type : g_configData.objects)
        for (int c = 0; c < 3; ++c) type.color[c] = randMToNFrom(ColourRandom().rand(), 0.1f, 0.8f);
}

void PackingReportKey() {
    std::vector<int> types;
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        if (g_placedObjects != nullptr)
            for (const MovingObject* o : *g_placedObjects) types.push_back(o->m_typeIndex);
    }
    PrintPackingReport(std::cout, types, g_configData.objects, g_container.m_geometry);
}

void DistanceReportKey() {
    std::vector<std::pair<int, Vector3>> objects;
    {
        std::lock_guard<std::mutex> lock(g_packingMutex);
        if (g_placedObjects != nullptr)
            for (const MovingObject* o : *g_placedObjects) objects.emplace_back(o->m_typeIndex, o->m_position);
    }
    PrintDistanceReport(std::cout, objects, g_configData.objects);
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

void avgDistFruit(const std::vector<Vector3>& positions, DistanceSummary& result) {
    if (positions.size() < 2) return;
    std::vector<float> distances;
    float sum = 0.0f;
    for (size_t i = 0; i < positions.size(); ++i)
        for (size_t j = i + 1; j < positions.size(); ++j) {
            const float d = Vectormath::Aos::length(positions[i] - positions[j]);
            distances.push_back(d);
            sum += d;
        }
    const float pairs = static_cast<float>(distances.size());
    const float avg = sum / pairs;
    float squares = 0.0f;
    for (float d : distances) squares += (d - avg) * (d - avg);
    result.avg = avg;
    result.variance = squares / pairs;
    result.deviation = std::sqrt(result.variance);
}

void PrintDistanceReport(std::ostream& out, const std::vector<std::pair<int, Vector3>>& objects,
                         const std::vector<PackingObjectInfo>& types) {
    const size_t n = objects.size();
    out << "Num. placed objects: " << n << std::endl;
    std::vector<std::vector<Vector3>> byType(types.size());
    for (const auto& [type, position] : objects)
        if (type >= 0 && static_cast<size_t>(type) < types.size())
            byType[static_cast<size_t>(type)].push_back(position);
    for (size_t t = 0; t < types.size(); ++t) {
        DistanceSummary s;
        avgDistFruit(byType[t], s);
        const float share = static_cast<float>(byType[t].size()) / static_cast<float>(n) * 100.0f;
        out << types[t].name << " | "
            << "Num.: " << byType[t].size() << " | "
            << "Distribution : " << share << " %"
            << " | "
            << "avg dist: " << s.avg << " | "
            << "variance: " << s.variance << " | "
            << "standard deviation: " << s.deviation << " | "
            << "percentage: " << static_cast<double>(s.deviation) / static_cast<double>(s.avg) * 100.0 << std::endl;
    }
}

void PrintVolumePerType(std::ostream& out, const std::vector<PackingObjectInfo>& types) {
    for (const PackingObjectInfo& type : types)
        out << type.name << " Vol: " << calculateVolume(type.geometry) << std::endl;
}

void PrintPackingReport(std::ostream& out, const std::vector<int>& typeIndices,
                        const std::vector<PackingObjectInfo>& types, const PackingGeometry* container) {
    const float containerVolume = calculateVolume(container);
    float objectsVolume = 0.0f;
    for (int t : typeIndices)
        if (t >= 0 && static_cast<size_t>(t) < types.size()) objectsVolume += types[static_cast<size_t>(t)].volume;
    // An empty packing is 0 %, also in a scene without a container mesh.
    const double density =
        objectsVolume == 0.0f ? 0.0 : static_cast<double>(objectsVolume) / static_cast<double>(containerVolume) * 100.0;
    out << "### Auto packing info ###" << std::endl;
    out << "Packing density/fraction: " << density << " %" << std::endl;
    out << "Container Vol: " << calculateVolume(container) << std::endl;
    out << "Objects Vol: " << objectsVolume << std::endl;
    out << "Volume per object type" << std::endl;
    PrintVolumePerType(out, types);
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
