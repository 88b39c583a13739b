#include "app/Globals.h"

ConfigData& g_configData = *new ConfigData();
std::vector<Vectormath::Aos::Vector3>& pointsInside = *new std::vector<Vectormath::Aos::Vector3>();
MovingObject& g_container = *new MovingObject();
std::list<MovingObject*>* g_placedObjects = nullptr;
std::vector<std::vector<MovingObject*>*>& g_objectsByType = *new std::vector<std::vector<MovingObject*>*>();
bool g_haveGL = false;
