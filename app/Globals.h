#pragma once
// Process-wide state of the application frame. Everything here lives until exit.
//
// The containers are references to heap objects that are never destroyed: when the process
// exits (Esc, window closed) the algorithm thread may still be reading them, and running their
// destructors then would pull the types, meshes and points from under it.

#include <list>
#include <vector>

#include "app/ConfigData.h"
#include "geometry/MovingObject.h"
#include "vectormath/vectormath_aos.h"

extern ConfigData& g_configData;                                   ///< the configuration
extern std::vector<Vectormath::Aos::Vector3>& pointsInside;        ///< interior sample points of the container
extern MovingObject& g_container;                                  ///< the container; scene creation fills it
extern std::list<MovingObject*>* g_placedObjects;                  ///< the placed objects; set up by start-up
extern std::vector<std::vector<MovingObject*>*>& g_objectsByType;  ///< one list per object type
/// True once start-up has opened the window and a GL context exists; scene creation makes
/// GL buffers only then (a headless run builds the same scene without them).
extern bool g_haveGL;
