#pragma once
// The viewer's global state (camera, shader program, uniform locations, what is drawn) and
// the per-frame snapshot of the packing.

#include <GL/glew.h>

#include <cstdint>
#include <list>
#include <vector>

#include "vectormath/vectormath_aos.h"
#include "viewer/Camera.h"
#include "viewer/ShaderManager.h"

class IPackingAlgorithm;
class MovingObject;
struct PackingObjectInfo;

/// What start-up hands the viewer: the packing it draws and what its keys act on.
struct ViewerContext {
    std::list<MovingObject*>* placedObjects = nullptr;  ///< drawn every frame; "h" replaces its contents
    MovingObject* container = nullptr;
    std::vector<PackingObjectInfo>* types = nullptr;  ///< recoloured by "r", reported by "a" and "s"
    /// Writes, reloads and exports placements for "g", "h" and "e"; null: those keys say so.
    IPackingAlgorithm* placementFiles = nullptr;
    bool frameAtStart = false;  ///< --frame: the first frame shows the packing framed (key "f")
};

/// Set by start-up before the window loop; the callbacks read it.
extern ViewerContext g_viewerContext;

extern Camera g_camera;
extern ShaderManager g_shaderManager;
extern GLint g_mvpID;         ///< uniform "ModelViewProjection"
extern GLint g_modelID;       ///< uniform "Model"
extern GLint g_normalID;      ///< uniform "NormalMatrix"
extern GLint g_colorID;       ///< uniform "ObjectColor"
extern GLint g_lightID;       ///< uniform "LightPos"
extern bool g_drawContainer;  ///< toggled by "c"

/// Shader files, relative to the working directory (run densepack from the project root).
inline constexpr const char* kVertexShaderPath = "shaders/Object.vert";
inline constexpr const char* kFragmentShaderPath = "shaders/Object.frag";

/// Camera set-up and the shader program with its attributes and uniform locations; needs the
/// GL context. Returns false, after one line on standard error, when the program could not be
/// built (missing file, compile or link failure).
bool SetUpViewer();

/// What one draw call needs from an object, copied under the packing lock so the frame never
/// sees a pose the algorithm thread is half-way through writing.
struct DrawItem {
    float model[16];  ///< column-major
    float color[4];
    uint32_t vertexBuffer = 0;
    uint32_t normalBuffer = 0;
    int32_t vertexCount = 0;
    int32_t mvpLocation = -1, modelLocation = -1, normalMatrixLocation = -1, colorLocation = -1, lightLocation = -1;
};

/// Copies the object's draw data (no lock taken here). An object without colour is drawn black.
DrawItem DrawItemOf(const MovingObject& object);

/// Uploads the uniforms and draws the triangles; the program must be in use. Items without
/// buffers or vertices (a headless scene, an empty mesh) are skipped.
void DrawItemWith(const DrawItem& item, const Vectormath::Aos::Matrix4& viewProjection);

/// Takes the packing lock once and copies every placed object, in list order, into `outItems`
/// (cleared first), and the container into `outContainer`.
void SnapshotPacking(std::vector<DrawItem>& outItems, DrawItem& outContainer);

/// The camera's model-view-projection as a Vectormath matrix.
Vectormath::Aos::Matrix4 ViewProjectionOf(const Camera& camera);
