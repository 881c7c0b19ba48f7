// Camera and point-light uniforms as Mesa holds them after an upload: values, every record
// written, and no write where there is no uniform.
#include <gtest/gtest.h>

#include <vector>

#include "camera/LeapCam.h"
#include "render/OglLight.h"
#include "support/GlWindow.h"

namespace {

using harness::uniformFloats;

// Two camera records in one program, and one that lacks the eye point.
constexpr const char* kTwoCameraVertex = R"(#version 330
layout(location = 0) in vec3 position;
uniform mat4 MVP;
uniform vec3 MVP_pos;
uniform mat4 VIEW;
uniform vec3 VIEW_pos;
void main() { gl_Position = MVP * VIEW * vec4(position + MVP_pos + VIEW_pos, 1.0); }
)";
constexpr const char* kMatrixOnlyVertex = R"(#version 330
layout(location = 0) in vec3 position;
uniform mat4 MVP;
void main() { gl_Position = MVP * vec4(position, 1.0); }
)";
constexpr const char* kWhiteFragment = R"(#version 330
out vec4 fragColor;
void main() { fragColor = vec4(1.0); }
)";

// Two lights' worth of uniforms in one program.
constexpr const char* kPlainVertex = R"(#version 330
layout(location = 0) in vec3 position;
void main() { gl_Position = vec4(position, 1.0); }
)";
constexpr const char* kTwoLightFragment = R"(#version 330
uniform vec3 lpoint;
uniform vec3 lpoint_col;
uniform float lpoint_amb;
uniform float lpoint_radius;
uniform vec3 lamp;
uniform vec3 lamp_col;
uniform float lamp_amb;
uniform float lamp_radius;
out vec4 fragColor;
void main() {
  fragColor = vec4(lpoint + lpoint_col + lamp + lamp_col, lpoint_amb + lpoint_radius + lamp_amb + lamp_radius);
}
)";

std::vector<float> asVector(const Mat4& m) {
    return std::vector<float>(m.m, m.m + 16);
}
std::vector<float> asVector(Vec3 v) {
    return {v.x, v.y, v.z};
}
std::vector<float> rounded(const LightValue3& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
std::vector<GLint> locationsOf(GLuint program, std::initializer_list<const char*> names) {
    std::vector<GLint> locations;
    for (const char* name : names) locations.push_back(glGetUniformLocation(program, name));
    return locations;
}

class CameraUniforms : public harness::GlTest {
protected:
    void TearDown() override { glUseProgram(0); }
};

TEST_F(CameraUniforms, UpdateLeavesItsMatrixAndEyePointInTheProgram) {
    const GLuint program = harness::linkShippedProgram();
    ASSERT_NE(program, 0u);
    LeapCam camera;
    camera.locateUniforms(program, "MVP");
    ASSERT_EQ(camera.locations.size(), 1u);
    EXPECT_EQ(camera.locations[0].matrixLocation, glGetUniformLocation(program, "MVP"));
    EXPECT_EQ(camera.locations[0].positionLocation, glGetUniformLocation(program, "MVP_pos"));

    glUseProgram(program);
    const Mat4 returned = camera.update();
    EXPECT_EQ(uniformFloats(program, "MVP", 16), asVector(camera.mvp));
    EXPECT_EQ(asVector(returned), asVector(camera.mvp));
    EXPECT_EQ(uniformFloats(program, "MVP_pos", 3), asVector(camera.position));

    // The next frame's pose replaces the last one.
    camera.position = {-1.0f, 0.5f, 3.25f};
    camera.yaw = 0.3f;
    camera.updateTarget();
    camera.update();
    EXPECT_EQ(uniformFloats(program, "MVP", 16), asVector(camera.mvp));
    EXPECT_EQ(uniformFloats(program, "MVP_pos", 3), asVector(camera.position));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(CameraUniforms, EveryRecordReceivesTheSameMatrixInListOrder) {
    const GLuint program = harness::linkProgram(kTwoCameraVertex, kWhiteFragment);
    ASSERT_NE(program, 0u);
    LeapCam camera;
    camera.locateUniforms(program, "MVP");
    camera.locateUniforms(program, "VIEW");
    glUseProgram(program);
    harness::UniformSpy spy;
    camera.update();

    EXPECT_EQ(spy.matrixWrites, locationsOf(program, {"MVP", "VIEW"}));
    EXPECT_EQ(spy.vec3Writes, locationsOf(program, {"MVP_pos", "VIEW_pos"}));
    for (const char* name : {"MVP", "VIEW"})
        EXPECT_EQ(uniformFloats(program, name, 16), asVector(camera.mvp)) << name;
    for (const char* name : {"MVP_pos", "VIEW_pos"})
        EXPECT_EQ(uniformFloats(program, name, 3), asVector(camera.position)) << name;
}

TEST_F(CameraUniforms, RecordWithoutEyePointGetsTheMatrixOnly) {
    const GLuint program = harness::linkProgram(kMatrixOnlyVertex, kWhiteFragment);
    ASSERT_NE(program, 0u);
    LeapCam camera;
    camera.locateUniforms(program, "MVP");
    ASSERT_EQ(camera.locations.size(), 1u);
    EXPECT_EQ(camera.locations[0].positionLocation, -1);

    glUseProgram(program);
    harness::UniformSpy spy;
    camera.update();
    EXPECT_EQ(spy.matrixWrites, locationsOf(program, {"MVP"}));
    EXPECT_TRUE(spy.vec3Writes.empty()) << "an eye-point write to location " << spy.vec3Writes.front();
    EXPECT_EQ(uniformFloats(program, "MVP", 16), asVector(camera.mvp));
}

class LightUniforms : public harness::GlTest {
protected:
    void TearDown() override { glUseProgram(0); }

    // Values no upload of a default light could produce.
    static void writeSentinels(GLuint program) {
        glUseProgram(program);
        glUniform3f(glGetUniformLocation(program, "lpoint"), -7.0f, -8.0f, -9.0f);
        glUniform3f(glGetUniformLocation(program, "lpoint_col"), -1.0f, -2.0f, -3.0f);
        glUniform1f(glGetUniformLocation(program, "lpoint_amb"), -4.0f);
        glUniform1f(glGetUniformLocation(program, "lpoint_radius"), -5.0f);
    }
    static void expectSentinels(GLuint program) {
        EXPECT_EQ(uniformFloats(program, "lpoint", 3), (std::vector<float>{-7.0f, -8.0f, -9.0f}));
        EXPECT_EQ(uniformFloats(program, "lpoint_col", 3), (std::vector<float>{-1.0f, -2.0f, -3.0f}));
        EXPECT_EQ(uniformFloats(program, "lpoint_amb", 1), std::vector<float>{-4.0f});
        EXPECT_EQ(uniformFloats(program, "lpoint_radius", 1), std::vector<float>{-5.0f});
    }
};

TEST_F(LightUniforms, UploadSendsTheDoublesAsNearestFloats) {
    const GLuint program = harness::linkShippedProgram();
    ASSERT_NE(program, 0u);
    OglPointLight light;
    light.locateUniforms(program, "lpoint");
    ASSERT_EQ(light.locations.size(), 1u);
    glUseProgram(program);
    light.uploadUniforms();

    EXPECT_EQ(uniformFloats(program, "lpoint", 3), (std::vector<float>{0.57f, 0.57f, 0.57f}));
    EXPECT_EQ(uniformFloats(program, "lpoint_col", 3), (std::vector<float>{1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(uniformFloats(program, "lpoint_amb", 1), std::vector<float>{0.3f});
    EXPECT_EQ(uniformFloats(program, "lpoint_radius", 1), std::vector<float>{5.0f});

    // A position set between frames is the one the next upload sends.
    light.position = {1.0 / 3.0, -2.0 / 3.0, 1e-3};
    light.uploadUniforms();
    EXPECT_EQ(uniformFloats(program, "lpoint", 3), rounded(light.position));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LightUniforms, TwoRecordsAreBothWrittenInListOrder) {
    const GLuint program = harness::linkProgram(kPlainVertex, kTwoLightFragment);
    ASSERT_NE(program, 0u);
    OglPointLight light;
    light.locateUniforms(program, "lpoint");
    light.locateUniforms(program, "lamp");
    light.position = {0.25, 0.5, 0.75};
    glUseProgram(program);
    harness::UniformSpy spy;
    light.uploadUniforms();

    EXPECT_EQ(spy.vec3Writes, locationsOf(program, {"lpoint", "lpoint_col", "lamp", "lamp_col"}));
    EXPECT_EQ(spy.floatWrites,
              locationsOf(program, {"lpoint_amb", "lpoint_radius", "lamp_amb", "lamp_radius"}));
    for (const char* base : {"lpoint", "lamp"}) {
        const std::string name(base);
        EXPECT_EQ(uniformFloats(program, base, 3), (std::vector<float>{0.25f, 0.5f, 0.75f})) << name;
        EXPECT_EQ(uniformFloats(program, (name + "_col").c_str(), 3), (std::vector<float>{1.0f, 1.0f, 1.0f}))
            << name;
        EXPECT_EQ(uniformFloats(program, (name + "_amb").c_str(), 1), std::vector<float>{0.3f}) << name;
        EXPECT_EQ(uniformFloats(program, (name + "_radius").c_str(), 1), std::vector<float>{5.0f}) << name;
    }
}

TEST_F(LightUniforms, RecordsFollowTheCurrentProgram) {
    const GLuint first = harness::linkShippedProgram();
    const GLuint second = harness::linkShippedProgram();
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    OglPointLight light;
    light.locateUniforms(first, "lpoint");
    light.locateUniforms(second, "lpoint");
    glUseProgram(first);
    light.uploadUniforms();
    writeSentinels(second);
    light.position = {2.0, 3.0, 4.0};
    glUseProgram(first);
    light.uploadUniforms();

    EXPECT_EQ(uniformFloats(first, "lpoint", 3), (std::vector<float>{2.0f, 3.0f, 4.0f}));
    expectSentinels(second);
}

TEST_F(LightUniforms, BeforeLocateUniformsUploadWritesNothing) {
    const GLuint program = harness::linkShippedProgram();
    ASSERT_NE(program, 0u);
    writeSentinels(program);
    OglPointLight light;
    harness::UniformSpy spy;
    light.uploadUniforms();
    EXPECT_TRUE(spy.vec3Writes.empty());
    EXPECT_TRUE(spy.floatWrites.empty());
    expectSentinels(program);
}

TEST_F(LightUniforms, UnknownBaseNameLeavesTheProgramAloneAndReportsNothing) {
    const GLuint program = harness::linkShippedProgram();
    ASSERT_NE(program, 0u);
    writeSentinels(program);
    OglPointLight light;
    light.locateUniforms(program, "nosuch");
    ASSERT_EQ(light.locations.size(), 1u);
    const LightLocations& at = light.locations[0];
    EXPECT_EQ((std::vector<GLint>{at.position, at.color, at.ambient, at.radius}),
              (std::vector<GLint>{-1, -1, -1, -1}));
    light.uploadUniforms();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    expectSentinels(program);
}

}  // namespace
