#pragma once
/// @file col.h
/// Everything of the collision library.

#include "collision/Callback.h"
#include "collision/ColGeometry.h"
#include "collision/CollisionPipeline.h"
#include "collision/ConvexPenetration.h"
#include "collision/ConvexShape.h"
#include "collision/Data.h"
#include "collision/DopTree.h"
#include "collision/ExactMesh.h"
#include "collision/ExtraData.h"
#include "collision/FibRand.h"
#include "collision/MeshOverlap.h"
#include "collision/NanoTimer.h"
#include "collision/OverlapQuery.h"
#include "collision/SphereTree.h"
#include "collision/SpheresFile.h"
#include "collision/TriDist.h"
#include "collision/TriIntersect.h"
#include "collision/TriangleTree.h"
