#include "app/Globals.h"

ConfigData g_configData;
std::vector<Vectormath::Aos::Vector3> pointsInside;
MovingObject g_container;
std::list<MovingObject*>* g_placedObjects = nullptr;
std::vector<std::vector<MovingObject*>*> g_objectsByType;
bool g_haveGL = false;
