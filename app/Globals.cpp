#include "app/Globals.h"

ConfigData g_configData;
std::vector<Vectormath::Aos::Vector3> pointsInside;
