#pragma once
// The one GLSL program of the viewer: compiled from two files, attributes bound by index in
// the order they are added, linked once.

#include <GL/glew.h>

#include <string>

class ShaderManager {
 public:
    ShaderManager() = default;

    /// Creates the program and both shaders and compiles the two files. A file that cannot be
    /// opened is reported ("Failed to open <path>") and compiled as an empty source. Returns
    /// false when a shader could not be created or did not compile (the log is printed).
    bool CompileShaders(const std::string& vertexPath, const std::string& fragmentPath);
    /// Reads `path` line by line and compiles it into `shaderID`; on failure prints the log and
    /// "Shader <path> failed to compile", deletes the shader and returns false.
    bool CompileShader(const std::string& path, GLuint shaderID);
    /// Binds `name` to the next attribute index (0, 1, ...). Takes effect at link time.
    void AddAttribute(const std::string& name);
    /// Links, then detaches and deletes both shaders. On failure, and always after a failed
    /// compile, prints the log and "Shaders failed to link!", deletes the program and the
    /// shaders and returns false.
    bool LinkShaders();
    /// -1 (with "Uniform <name> not found in shader!") for a name the program does not use.
    GLint GetUniformLocation(const std::string& name);
    /// Selects the program and enables the bound attribute arrays.
    void Use();
    /// Selects program 0 and disables the attribute arrays.
    void UnUse();

    GLuint programID() const { return m_programID; }
    int numAttributes() const { return m_numAttributes; }
    /// The first failure in one line ("<path>: <log or reason>"), empty while all went well.
    const std::string& lastLog() const { return m_lastLog; }

 private:
    int m_numAttributes = 0;
    GLuint m_programID = 0;
    GLuint m_vertexShaderID = 0;
    GLuint m_fragmentShaderID = 0;
    std::string m_lastLog;
    bool m_compileFailed = false;  ///< a shader was not created or did not compile
};
