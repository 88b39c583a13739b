#version 130
// Positions go through the camera; normal and light direction are handed on in world space.

in vec3 vertexPosition_modelspace;
in vec3 vertexNormal;

uniform mat4 ModelViewProjection;
uniform mat4 Model;
uniform mat3 NormalMatrix;
uniform vec3 LightPos;

out vec3 normal_worldspace;
out vec3 lightDirection_worldspace;

void main() {
    gl_Position = ModelViewProjection * vec4(vertexPosition_modelspace, 1.0);
    vec3 position_worldspace = (Model * vec4(vertexPosition_modelspace, 1.0)).xyz;
    // The normal matrix is the model's upper 3x3; with the uniform scales used here,
    // renormalising in the fragment shader is enough.
    normal_worldspace = NormalMatrix * vertexNormal;
    lightDirection_worldspace = LightPos - position_worldspace;
}
