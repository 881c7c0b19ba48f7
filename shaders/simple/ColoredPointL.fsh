#version 330
// Point light: ambient plus diffuse that fades smoothly to nothing at the light's radius,
// a mild specular highlight seen from the eye, all tinted by the part colour, its vertex colours
// and its image. Lines and points show their colour unlit.
in vec3 worldPosition;
in vec3 worldNormal;
in vec3 vertexColor;
in vec2 uv;

uniform vec3 MVP_pos;       // eye point
uniform vec3 col;           // part colour
uniform bool col_vertex;    // the part's vertices carry colours
uniform bool col_unlit;     // the part is lines or points
uniform bool col_mapped;    // the part draws its image
uniform sampler2D col_map;
uniform vec3 lpoint;        // light position
uniform vec3 lpoint_col;
uniform float lpoint_amb;
uniform float lpoint_radius;

out vec4 fragColor;

void main() {
    vec3 base = col * (col_vertex ? vertexColor : vec3(1.0));
    if (col_mapped) base *= texture(col_map, uv).rgb;
    if (col_unlit) {
        fragColor = vec4(base, 1.0);
        return;
    }

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

    vec3 lit = base * (lpoint_amb + diffuse * lpoint_col) + specular * lpoint_col;
    fragColor = vec4(lit, 1.0);
}
