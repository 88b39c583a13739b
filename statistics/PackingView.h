#pragma once
/// @file PackingView.h
/// What the statistics read of a finished packing, and the operations of the algorithm
/// framework they need, handed in as functions so this layer stays below the framework.

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "geometry/PackingObjectInfo.h"
#include "vectormath/vectormath_aos.h"

class MovingObject;

namespace col {
class CollisionPipeline;
class FibRand;
}  // namespace col

/// The statistics neither add nor remove objects nor change a placed object's pose. The Hopkins
/// statistic does register the container and its probes in a pipeline of its own (which sets
/// m_auxId) and leaves the container's inverse mass at 0.
struct PackingView {
    MovingObject* container = nullptr;
    const std::list<MovingObject*>* placedObjects = nullptr;
    const std::vector<PackingObjectInfo>* types = nullptr;          ///< largest volume first
    const std::vector<Vectormath::Aos::Vector3>* points = nullptr;  ///< interior points for the probes
    float epsilon = 0.0f;                                           ///< surface-density epsilon
    float hopkinsSubSet = 0.0f;                                     ///< sample fraction of the Hopkins statistic
    int32_t hopkinsRepeat = 0;                                      ///< repetitions of the Hopkins statistic
    col::FibRand* random = nullptr;                                 ///< draws the samples and probe points

    /// A new pipeline set up as every pipeline of the run; the caller owns it.
    std::function<col::CollisionPipeline*(const std::string& name, int tag)> createPipeline;
    /// A new object of type k, in no list and no pipeline (the Hopkins probes).
    std::function<MovingObject*(int k)> generateObject;
    /// Distance between the two objects' sphere trees at their current poses.
    std::function<float(MovingObject* a, MovingObject* b)> distance;
    /// Moves `object` by the velocities the pipeline's callbacks give it until no overlap is
    /// reported (true) or its time is up (false).
    std::function<bool(col::CollisionPipeline* pipeline, MovingObject* object, bool& overlapFlag)> resolveOverlap;
};
