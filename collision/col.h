#pragma once
/// @file col.h
/// Everything of the collision library.

#include "collision/Callback.h"
#include "collision/ColGeometry.h"
#include "collision/CollisionPipeline.h"
#include "collision/Data.h"
#include "collision/DopTree.h"
#include "collision/ExtraData.h"
#include "collision/OverlapQuery.h"
#include "collision/SphereTree.h"
#include "collision/SpheresFile.h"
#if __has_include("collision/TriDist.h")
#include "collision/TriDist.h"
#endif
#if __has_include("collision/TriangleTree.h")
#include "collision/TriangleTree.h"
#endif
#if __has_include("collision/FibRand.h")
#include "collision/FibRand.h"
#endif
#if __has_include("collision/NanoTimer.h")
#include "collision/NanoTimer.h"
#endif
