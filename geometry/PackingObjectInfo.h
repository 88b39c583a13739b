#pragma once
/// @file PackingObjectInfo.h
/// One object type: what the configuration gives (name, share, colour) and what scene
/// creation adds (mesh, volume, GL buffers and uniform locations).

#include <cstdint>
#include <string>

#include "geometry/SizeDistribution.h"

class PackingGeometry;

/// Held by value in ConfigData::objects and moved around whole by the volume sort, so it
/// stays a plain copyable record. Every field starts zero, null or empty.
struct PackingObjectInfo {
    std::string name;         ///< base name of the model files; the type's name in placement files
    float percentage = 0.0f;  ///< share among randomly generated objects, in percent
    alignas(16) float color[4] = {0.0f, 0.0f, 0.0f, 0.0f};  ///< R, G, B, A; objects point at it
    SizeDistribution size;                ///< linear size factor of its objects (fixed 1 unless configured)
    float extentRatio = 0.0f;             ///< (smallest box extent)^3 / box volume, "average" sampling only
    PackingGeometry* geometry = nullptr;  ///< the type's mesh with its sphere tree; never freed
    float volume = 0.0f;                  ///< mesh volume, the sort key
    uint32_t vertexBuffer = 0;            ///< GL buffer of the render vertices
    uint32_t normalBuffer = 0;            ///< GL buffer of the render normals
    int32_t modelLocation = 0;            ///< uniform "Model"
    int32_t colorLocation = 0;            ///< uniform "ObjectColor"
    int32_t lightLocation = 0;            ///< uniform "LightPos"
    int32_t normalMatrixLocation = 0;     ///< uniform "NormalMatrix"
    int32_t mvpLocation = 0;              ///< uniform "ModelViewProjection"
};
