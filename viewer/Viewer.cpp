#include "viewer/Viewer.h"

#include <iostream>

Camera g_camera;
ShaderManager g_shaderManager;
GLint g_mvpID = -1;
GLint g_modelID = -1;
GLint g_normalID = -1;
GLint g_colorID = -1;
GLint g_lightID = -1;
bool g_drawContainer = true;
ViewerContext g_viewerContext;

bool SetUpViewer() {
    g_camera.SetMode(Orbit);
    g_camera.SetPosition(glm::vec3(0.0f, 0.0f, 30.0f));
    g_camera.SetLookAt(glm::vec3(0.0f, 0.0f, 0.0f));
    g_camera.SetClipping(0.1, 1000.0);
    g_camera.SetFOV(20.0);

    const bool compiled = g_shaderManager.CompileShaders(kVertexShaderPath, kFragmentShaderPath);
    g_shaderManager.AddAttribute("vertexPosition_modelspace");
    g_shaderManager.AddAttribute("vertexNormal");
    // Linking a failed compile still runs, so its log is printed too.
    const bool linked = g_shaderManager.LinkShaders();
    if (!compiled || !linked) {
        std::cerr << "densepack: cannot build the shader program from " << kVertexShaderPath << " and "
                  << kFragmentShaderPath
                  << " (read relative to the working directory; start densepack from the project root): "
                  << g_shaderManager.lastLog() << std::endl;
        return false;
    }
    g_mvpID = g_shaderManager.GetUniformLocation("ModelViewProjection");
    g_modelID = g_shaderManager.GetUniformLocation("Model");
    g_normalID = g_shaderManager.GetUniformLocation("NormalMatrix");
    g_colorID = g_shaderManager.GetUniformLocation("ObjectColor");
    g_lightID = g_shaderManager.GetUniformLocation("LightPos");
    return true;
}
