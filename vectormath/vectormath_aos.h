#pragma once
// Single-precision vector math for densepack, namespace Vectormath::Aos.
// Column-major matrices, column vectors (M * v), radians, right-handed; every constructor
// without arguments gives zeros. World transforms are composed as T * R * S.

#include "vectormath/mat3_aos.h"
#include "vectormath/mat4_aos.h"
#include "vectormath/quat_aos.h"
#include "vectormath/vec_aos.h"
