#include "viewer/ShaderManager.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

namespace {

// Compiler logs span several lines; the start-up message shows them in one.
std::string OneLine(const std::string& log) {
    std::string out;
    for (char c : log) {
        if (c == '\n') {
            if (!out.empty() && out.back() != ' ') out += "; ";
        } else if (c != '\r') {
            out += c;
        }
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == ';')) out.pop_back();
    return out;
}

}  // namespace

bool ShaderManager::CompileShaders(const std::string& vertexPath, const std::string& fragmentPath) {
    m_programID = glCreateProgram();
    bool ok = true;
    m_vertexShaderID = glCreateShader(GL_VERTEX_SHADER);
    if (m_vertexShaderID == 0) {
        std::cout << "Vertex shader failed to be created!" << std::endl;
        ok = false;
    }
    m_fragmentShaderID = glCreateShader(GL_FRAGMENT_SHADER);
    if (m_fragmentShaderID == 0) {
        std::cout << "Fragment shader failed to be created!" << std::endl;
        ok = false;
    }
    // Both are compiled even after a failure so that every problem is reported in one run.
    const bool vertexOk = CompileShader(vertexPath, m_vertexShaderID);
    const bool fragmentOk = CompileShader(fragmentPath, m_fragmentShaderID);
    return ok && vertexOk && fragmentOk;
}

bool ShaderManager::CompileShader(const std::string& path, GLuint shaderID) {
    std::string source;
    std::ifstream file(path);
    if (!file.is_open()) {
        const int savedErrno = errno;
        std::perror(path.c_str());
        std::cout << "Failed to open " << path << std::endl;
        if (m_lastLog.empty()) m_lastLog = path + ": " + std::strerror(savedErrno);
    } else {
        std::string line;
        while (std::getline(file, line)) source += line + "\n";
    }
    if (shaderID == 0) {
        m_compileFailed = true;
        return false;
    }

    const char* text = source.c_str();
    glShaderSource(shaderID, 1, &text, nullptr);
    glCompileShader(shaderID);
    GLint success = GL_FALSE;
    glGetShaderiv(shaderID, GL_COMPILE_STATUS, &success);
    if (success == GL_FALSE) {
        GLint length = 0;
        glGetShaderiv(shaderID, GL_INFO_LOG_LENGTH, &length);
        std::vector<char> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
        glGetShaderInfoLog(shaderID, static_cast<GLsizei>(log.size()), &length, log.data());
        glDeleteShader(shaderID);
        m_compileFailed = true;
        if (m_lastLog.empty()) m_lastLog = path + ": " + OneLine(log.data());
        std::cout.flush();
        std::puts(log.data());
        std::fflush(stdout);
        std::cout << "Shader " << path << " failed to compile" << std::endl;
        return false;
    }
    return true;
}

void ShaderManager::AddAttribute(const std::string& name) {
    glBindAttribLocation(m_programID, static_cast<GLuint>(m_numAttributes), name.c_str());
    ++m_numAttributes;
}

bool ShaderManager::LinkShaders() {
    glAttachShader(m_programID, m_vertexShaderID);
    glAttachShader(m_programID, m_fragmentShaderID);
    glLinkProgram(m_programID);
    GLint success = GL_FALSE;
    glGetProgramiv(m_programID, GL_LINK_STATUS, &success);
    // GL links a program that lacks a stage (the fixed pipeline fills in); ours cannot draw then.
    if (success == GL_FALSE || m_compileFailed) {
        GLint length = 0;
        glGetProgramiv(m_programID, GL_INFO_LOG_LENGTH, &length);
        std::vector<char> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
        glGetProgramInfoLog(m_programID, static_cast<GLsizei>(log.size()), &length, log.data());
        glDeleteProgram(m_programID);
        glDeleteShader(m_vertexShaderID);
        glDeleteShader(m_fragmentShaderID);
        if (m_lastLog.empty()) m_lastLog = "link: " + OneLine(log.data());
        std::cout.flush();
        std::puts(log.data());
        std::fflush(stdout);
        std::cout << "Shaders failed to link!" << std::endl;
        return false;
    }
    glDetachShader(m_programID, m_vertexShaderID);
    glDetachShader(m_programID, m_fragmentShaderID);
    glDeleteShader(m_vertexShaderID);
    glDeleteShader(m_fragmentShaderID);
    return true;
}

GLint ShaderManager::GetUniformLocation(const std::string& name) {
    const GLint location = glGetUniformLocation(m_programID, name.c_str());
    if (location == -1) std::cout << "Uniform " << name << " not found in shader!" << std::endl;
    return location;
}

void ShaderManager::Use() {
    glUseProgram(m_programID);
    for (int i = 0; i < m_numAttributes; ++i) glEnableVertexAttribArray(static_cast<GLuint>(i));
}

void ShaderManager::UnUse() {
    glUseProgram(0);
    for (int i = 0; i < m_numAttributes; ++i) glDisableVertexAttribArray(static_cast<GLuint>(i));
}
