#version 330
// World-space position and normal for per-fragment point lighting. There is no model
// matrix: the mesh is drawn in world coordinates, so MVP is the whole transform.
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec3 color;
layout(location = 3) in vec2 texCoord;

uniform mat4 MVP;

out vec3 worldPosition;
out vec3 worldNormal;
out vec3 vertexColor;
out vec2 uv;

void main() {
    worldPosition = position;
    worldNormal = normal;
    vertexColor = color;
    uv = texCoord;
    gl_Position = MVP * vec4(position, 1.0);
}
