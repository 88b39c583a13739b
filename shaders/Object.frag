#version 130
// Ambient plus diffuse shading of the object colour; alpha passes through for the
// see-through container.

in vec3 normal_worldspace;
in vec3 lightDirection_worldspace;

uniform vec4 ObjectColor;

out vec4 fragColor;

void main() {
    vec3 n = normalize(normal_worldspace);
    vec3 l = normalize(lightDirection_worldspace);
    float diffuse = max(dot(n, l), 0.0);
    float shade = 0.35 + 0.65 * diffuse;
    fragColor = vec4(ObjectColor.rgb * shade, ObjectColor.a);
}
