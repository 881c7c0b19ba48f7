#version 330
// Point light: ambient plus diffuse that fades smoothly to nothing at the light's radius,
// a mild specular highlight seen from the eye, all tinted by the part colour.
in vec3 worldPosition
in vec3 worldNormal;
in vec3 vertexColor;

uniform vec3 MVP_pos;       // eye point
uniform vec3 col;           // part colour
uniform vec3 lpoint;        // light position
uniform vec3 lpoint_col;
uniform float lpoint_amb;
uniform float lpoint_radius;

out vec4 fragColor;

void main() {
    vec3 toLight = lpoint - worldPosition;
    float distance = length(toLight);
    vec3 l = toLight / max(distance, 1e-6);
    vec3 v = normalize(MVP_pos - worldPosition);
    // A mesh without normals gets zeros: light it as if it faced the light.
    vec3 n = dot(worldNormal, worldNormal) > 1e-12 ? normalize(worldNormal) : l;
    if (!gl_FrontFacing) n = -n;

    float fade = 1.0 - smoothstep(0.0, max(lpoint_radius, 1e-6), distance);
    float diffuse = max(dot(n, l), 0.0) * fade;
    float specular = pow(max(dot(n, normalize(l + v)), 0.0), 32.0) * fade * 0.25;

    // A disabled colour attribute reads as black: treat black as "no vertex colour".
    vec3 tint = vertexColor == vec3(0.0) ? vec3(1.0) : vertexColor;
    vec3 base = col * tint;
    vec3 lit = base * (lpoint_amb + diffuse * lpoint_col) + specular * lpoint_col;
    fragColor = vec4(lit, 1.0);
}
