// Camera and point-light uniforms as Mesa holds them after an upload: values, every record
// written, and no write where there is no uniform.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "camera/LeapCam.h"
#include "render/OglLight.h"
#include "support/GlWindow.h"

namespace {

using harness::uniformFloats;
using Floats = std::vector<float>;

// Two camera records, VIEW without an eye point, and two lights.
constexpr const char* kRecordsVertex = R"(#version 330
layout(location = 0) in vec3 position;
uniform mat4 MVP;
uniform vec3 MVP_pos;
uniform mat4 VIEW;
void main() { gl_Position = MVP * VIEW * vec4(position + MVP_pos, 1.0); }
)";
constexpr const char* kRecordsFragment = R"(#version 330
uniform vec3 lpoint, lpoint_col, lamp, lamp_col;
uniform float lpoint_amb, lpoint_radius, lamp_amb, lamp_radius;
out vec4 fragColor;
void main() {
  fragColor = vec4(lpoint + lpoint_col + lamp + lamp_col, lpoint_amb + lpoint_radius + lamp_amb + lamp_radius);
}
)";

Floats asVector(const Mat4& m) {
    return Floats(m.m, m.m + 16);
}
Floats asVector(Vec3 v) {
    return {v.x, v.y, v.z};
}
std::vector<GLint> locationsOf(GLuint program, std::initializer_list<const char*> names) {
    std::vector<GLint> locations;
    for (const char* name : names) locations.push_back(glGetUniformLocation(program, name));
    return locations;
}

class Uniforms : public harness::GlTest {
protected:
    void TearDown() override { glUseProgram(0); }
};

TEST_F(Uniforms, CameraWritesEveryRecordInListOrderAndNoMissingEyePoint) {
    const GLuint program = harness::linkProgram(kRecordsVertex, kRecordsFragment);
    ASSERT_NE(program, 0u);
    LeapCam camera;
    camera.locateUniforms(program, "MVP");
    camera.locateUniforms(program, "VIEW");
    ASSERT_EQ(camera.locations.size(), 2u);
    EXPECT_EQ(camera.locations[0].positionLocation, glGetUniformLocation(program, "MVP_pos"));
    EXPECT_EQ(camera.locations[1].positionLocation, -1);
    glUseProgram(program);
    harness::UniformSpy spy;
    const Mat4 returned = camera.update();
    EXPECT_EQ(asVector(returned), asVector(camera.mvp));
    EXPECT_EQ(spy.matrixWrites, locationsOf(program, {"MVP", "VIEW"}));
    EXPECT_EQ(spy.vec3Writes, locationsOf(program, {"MVP_pos"}));
    for (float yaw : {0.0f, 0.3f}) {  // each frame's pose replaces the last one
        camera.position = {-1.0f, 0.5f, yaw * 10};
        camera.yaw = yaw;
        camera.updateTarget();
        camera.update();
        for (const char* name : {"MVP", "VIEW"})
            EXPECT_EQ(uniformFloats(program, name, 16), asVector(camera.mvp));
        EXPECT_EQ(uniformFloats(program, "MVP_pos", 3), asVector(camera.position));
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Uniforms, LightWritesEveryRecordInListOrderAsNearestFloats) {
    const GLuint program = harness::linkProgram(kRecordsVertex, kRecordsFragment);
    ASSERT_NE(program, 0u);
    OglPointLight light;
    light.locateUniforms(program, "lpoint");
    light.locateUniforms(program, "lamp");
    glUseProgram(program);
    harness::UniformSpy spy;
    light.uploadUniforms();
    EXPECT_EQ(spy.vec3Writes, locationsOf(program, {"lpoint", "lpoint_col", "lamp", "lamp_col"}));
    EXPECT_EQ(spy.floatWrites,
              locationsOf(program, {"lpoint_amb", "lpoint_radius", "lamp_amb", "lamp_radius"}));
    for (const std::string name : {"lpoint", "lamp"}) {
        EXPECT_EQ(uniformFloats(program, name.c_str(), 3), (Floats{0.57f, 0.57f, 0.57f})) << name;
        EXPECT_EQ(uniformFloats(program, (name + "_col").c_str(), 3), (Floats{1.0f, 1.0f, 1.0f})) << name;
        EXPECT_EQ(uniformFloats(program, (name + "_amb").c_str(), 1), Floats{0.3f}) << name;
        EXPECT_EQ(uniformFloats(program, (name + "_radius").c_str(), 1), Floats{5.0f}) << name;
    }
    light.position = {1.0 / 3.0, -2.0 / 3.0, 1e-3};  // set between frames, sent by the next upload
    light.uploadUniforms();
    for (const char* name : {"lpoint", "lamp"})
        EXPECT_EQ(uniformFloats(program, name, 3),
                  (Floats{float(1.0 / 3.0), float(-2.0 / 3.0), float(1e-3)}));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Uniforms, LightWritesOnlyTheFoundUniformsOfTheCurrentProgram) {
    const GLuint first = harness::linkShippedProgram();
    const GLuint second = harness::linkShippedProgram();
    ASSERT_TRUE(first != 0 && second != 0);
    // Values no upload of a default light could produce.
    const std::pair<const char*, Floats> sentinels[] = {{"lpoint", {-7, -8, -9}},
                                                        {"lpoint_col", {-1, -2, -3}},
                                                        {"lpoint_amb", {-4}},
                                                        {"lpoint_radius", {-5}}};
    glUseProgram(second);
    for (const auto& [name, v] : sentinels)
        (v.size() == 3 ? glUniform3fv : glUniform1fv)(glGetUniformLocation(second, name), 1, v.data());
    OglPointLight light;
    {
        harness::UniformSpy spy;
        light.uploadUniforms();  // before locateUniforms
        EXPECT_TRUE(spy.vec3Writes.empty() && spy.floatWrites.empty());
    }
    light.locateUniforms(first, "lpoint");
    light.locateUniforms(second, "lpoint");
    light.locateUniforms(second, "nosuch");
    ASSERT_EQ(light.locations.size(), 3u);
    const LightLocations& at = light.locations[2];
    EXPECT_EQ((std::vector<GLint>{at.position, at.color, at.ambient, at.radius}),
              (std::vector<GLint>{-1, -1, -1, -1}));
    light.position = {2.0, 3.0, 4.0};
    glUseProgram(first);
    light.uploadUniforms();
    EXPECT_EQ(uniformFloats(first, "lpoint", 3), (Floats{2.0f, 3.0f, 4.0f}));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    for (const auto& [name, v] : sentinels)
        EXPECT_EQ(uniformFloats(second, name, static_cast<int>(v.size())), v) << name;
}

}  // namespace
