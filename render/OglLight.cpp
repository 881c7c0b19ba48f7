// Point-light uniform lookup ("<base>", "<base>_col", "<base>_amb", "<base>_radius") and upload.
#include "render/OglLight.h"

#include <string>

void OglPointLight::locateUniforms(GLuint program, const char* baseName) {
    const std::string base(baseName);
    locations.push_back({glGetUniformLocation(program, base.c_str()),
                         glGetUniformLocation(program, (base + "_col").c_str()),
                         glGetUniformLocation(program, (base + "_amb").c_str()),
                         glGetUniformLocation(program, (base + "_radius").c_str())});
}

void OglPointLight::uploadUniforms() {
    for (const LightLocations& at : locations) {
        glUniform3f(at.position, static_cast<float>(position.x), static_cast<float>(position.y),
                    static_cast<float>(position.z));
        glUniform3f(at.color, static_cast<float>(color.x), static_cast<float>(color.y),
                    static_cast<float>(color.z));
        glUniform1f(at.ambient, static_cast<float>(ambient));
        glUniform1f(at.radius, static_cast<float>(radius));
    }
}
