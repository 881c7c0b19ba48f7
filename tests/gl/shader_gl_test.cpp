// Shader stages and program link on Mesa: the exact console output, broken and missing
// sources, and what the stage destructor does to the GL shader.
#include "render/OglShader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/App.h"
#include "support/GlWindow.h"
#include "support/ProgramRun.h"

namespace {

using harness::captureStdout;

constexpr const char* kBrokenVertex = "#version 330\nvoid main() { gl_Position = vec4(0.0) }\n";

GLint programIv(GLuint program, GLenum what) {
    GLint value = -1;
    glGetProgramiv(program, what, &value);
    return value;
}

GLint shaderIv(GLuint shader, GLenum what) {
    GLint value = -1;
    glGetShaderiv(shader, what, &value);
    return value;
}

// The log Mesa gives a stage compiled from `source`, straight from GL.
std::string driverLog(GLenum type, const char* source) {
    const GLuint stage = glCreateShader(type);
    glShaderSource(stage, 1, &source, nullptr);
    glCompileShader(stage);
    GLint length = 0;
    glGetShaderiv(stage, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    if (length > 0) glGetShaderInfoLog(stage, length, nullptr, log.data());
    glDeleteShader(stage);
    return log.c_str();
}

class ShaderOnMesa : public harness::GlTest {};

TEST_F(ShaderOnMesa, ShippedShadersPrintSixLinesWithEmptyLogsAndLink) {
    harness::ScopedChdir inSource(HANDVIEW_SOURCE_DIR);
    OglProgram program;
    const std::string out = captureStdout([&] {
        OglVertexShader vertex(kVertexShaderPath);
        OglFragmentShader fragment(kFragmentShaderPath);
        program.link(vertex, fragment);
    });
    EXPECT_EQ(out,
              "Compiling shader : shaders\\simple\\ColoredPointL.vsh\n"
              "\n"
              "Compiling shader : shaders\\simple\\ColoredPointL.fsh\n"
              "\n"
              "Linking program\n"
              "\n");
    EXPECT_NE(program.program, 0u);
    EXPECT_EQ(programIv(program.program, GL_LINK_STATUS), GL_TRUE);
    // Every uniform of the interface must survive the optimiser, or its writes go nowhere.
    for (const char* name : {"MVP", "MVP_pos", "col", "lpoint", "lpoint_col", "lpoint_amb", "lpoint_radius"})
        EXPECT_NE(glGetUniformLocation(program.program, name), -1) << name;
}

TEST_F(ShaderOnMesa, BrokenStagePrintsItsLogAndLinkGoesOn) {
    harness::WorkDir dir;
    dir.writeFile("broken.vsh", kBrokenVertex);
    harness::ScopedChdir inDir(dir.path());
    OglProgram program;
    GLuint vertexName = 0;
    GLint vertexStatus = -1;
    // No assertions inside a capture: GoogleTest reports on stdout too.
    const std::string out = captureStdout([&] {
        OglVertexShader vertex("broken.vsh");
        OglFragmentShader fragment(kFragmentShaderPath);
        vertexName = vertex.shader;
        vertexStatus = shaderIv(vertex.shader, GL_COMPILE_STATUS);
        program.link(vertex, fragment);
    });

    const std::string compileLine = "Compiling shader : broken.vsh\n";
    ASSERT_EQ(out.compare(0, compileLine.size(), compileLine), 0) << out;
    const size_t nextCompile = out.find("Compiling shader : shaders\\simple\\ColoredPointL.fsh\n");
    ASSERT_NE(nextCompile, std::string::npos) << out;
    const std::string vertexLog = out.substr(compileLine.size(), nextCompile - compileLine.size());
    EXPECT_NE(vertexLog.find("error"), std::string::npos) << vertexLog;
    EXPECT_EQ(vertexLog.back(), '\n');

    const std::string linkLine = "Linking program\n";
    const size_t link = out.find(linkLine);
    ASSERT_NE(link, std::string::npos) << out;
    const std::string linkLog = out.substr(link + linkLine.size());
    EXPECT_GT(linkLog.size(), 1u) << "a failed link has something to say";
    EXPECT_EQ(linkLog.back(), '\n');

    EXPECT_NE(vertexName, 0u);
    EXPECT_EQ(vertexStatus, GL_FALSE);
    EXPECT_NE(program.program, 0u);
    EXPECT_EQ(programIv(program.program, GL_LINK_STATUS), GL_FALSE);
}

TEST_F(ShaderOnMesa, MissingFilePrintsPathAsGivenAndTheLogOfAnEmptySource) {
    harness::WorkDir dir(harness::WorkDir::Contents::empty);
    harness::ScopedChdir inDir(dir.path());
    GLuint name = 0;
    const std::string out = captureStdout([&] {
        OglFragmentShader fragment("no\\such\\stage.fsh");
        name = fragment.shader;
    });
    EXPECT_NE(name, 0u) << "the shader is created before the file is touched";
    EXPECT_EQ(out, "Compiling shader : no\\such\\stage.fsh\n" + driverLog(GL_FRAGMENT_SHADER, "") + "\n");
}

TEST_F(ShaderOnMesa, StageDeletesItsShaderWhenDestroyed) {
    harness::ScopedChdir inSource(HANDVIEW_SOURCE_DIR);
    GLuint name = 0;
    GLboolean aliveInScope = GL_FALSE;
    captureStdout([&] {
        OglVertexShader vertex(kVertexShaderPath);
        name = vertex.shader;
        aliveInScope = glIsShader(name);
    });
    EXPECT_TRUE(aliveInScope);
    EXPECT_FALSE(glIsShader(name));
}

TEST_F(ShaderOnMesa, AttachedStagesAreOnlyFlaggedForDeletionAndTheProgramStaysUsable) {
    harness::ScopedChdir inSource(HANDVIEW_SOURCE_DIR);
    OglProgram program;
    GLuint names[2] = {0, 0};
    captureStdout([&] {
        OglVertexShader vertex(kVertexShaderPath);
        OglFragmentShader fragment(kFragmentShaderPath);
        names[0] = vertex.shader;
        names[1] = fragment.shader;
        program.link(vertex, fragment);
    });
    for (GLuint name : names) {
        ASSERT_TRUE(glIsShader(name)) << "deletion is deferred while attached";
        EXPECT_EQ(shaderIv(name, GL_DELETE_STATUS), GL_TRUE);
    }
    EXPECT_EQ(programIv(program.program, GL_ATTACHED_SHADERS), 2);
    glUseProgram(program.program);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glUseProgram(0);
}

}  // namespace
