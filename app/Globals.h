#pragma once
// Process-wide state of the application frame. Everything here lives until exit.

#include <vector>

#include "app/ConfigData.h"
#include "vectormath/vectormath_aos.h"

extern ConfigData g_configData;                              ///< the configuration
extern std::vector<Vectormath::Aos::Vector3> pointsInside;   ///< interior sample points of the container
