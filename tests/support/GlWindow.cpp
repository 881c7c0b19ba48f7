// The shared test window and context, and the small GL helpers of the GL tests.
#include "support/GlWindow.h"
#include "support/TestData.h"

#include <SDL.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace harness {

namespace {
constexpr int kWindowSizePx = 64;

struct SharedWindow {
    SDL_Window* window = nullptr;
    Uint32 windowId = 0;
    SDL_GLContext context = nullptr;
};
SharedWindow shared;

// After an SDL_Quit the old window and context belong to a video subsystem that is gone.
bool stillOpen() {
    return shared.window != nullptr && SDL_WasInit(SDL_INIT_VIDEO) != 0 &&
           SDL_GetWindowFromID(shared.windowId) == shared.window;
}

std::string open() {
    shared = SharedWindow{};
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return std::string("SDL video: ") + SDL_GetError();
    shared.window = SDL_CreateWindow("gl test", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                     kWindowSizePx, kWindowSizePx, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (shared.window == nullptr) return std::string("window: ") + SDL_GetError();
    shared.windowId = SDL_GetWindowID(shared.window);
    shared.context = SDL_GL_CreateContext(shared.window);
    if (shared.context == nullptr) return std::string("context: ") + SDL_GetError();
    glewExperimental = GL_TRUE;
    const GLenum result = glewInit();
    if (result != GLEW_OK)
        return std::string("GLEW: ") + reinterpret_cast<const char*>(glewGetErrorString(result));
    pinGlDriver();
    return "";
}

std::string infoLog(GLuint object, bool program) {
    GLint length = 0;
    (program ? glGetProgramiv : glGetShaderiv)(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    if (length > 0) (program ? glGetProgramInfoLog : glGetShaderInfoLog)(object, length, nullptr, log.data());
    return log.c_str();
}

GLuint compileStage(GLenum type, const std::string& source, std::string& log) {
    const GLuint stage = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(stage, 1, &text, nullptr);
    glCompileShader(stage);
    log += infoLog(stage, false);
    return stage;
}

}  // namespace

void pinGlDriver() {
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("_dri.so") != std::string::npos)
                static_cast<std::vector<std::string>*>(found)->push_back(name);
            return 0;
        },
        &drivers);
    // The handle is never closed on purpose: it is the extra reference.
    for (const std::string& driver : drivers) dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void GlTest::SetUp() {
    const std::string error = stillOpen() ? "" : open();
    ASSERT_EQ(error, "") << "no OpenGL context (is DISPLAY set?)";
    ASSERT_EQ(SDL_GL_MakeCurrent(shared.window, shared.context), 0) << "make current: " << SDL_GetError();
    while (glGetError() != GL_NO_ERROR) {  // GLEW's own probing may leave one behind
    }
}

std::string captureStdout(const std::function<void()>& call) {
    std::cout.flush();
    std::fflush(stdout);
    FILE* sink = std::tmpfile();
    if (sink == nullptr) throw std::runtime_error("no temporary file for stdout");
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(sink), STDOUT_FILENO);
    struct Restore {
        int saved;
        ~Restore() {
            std::cout.flush();
            std::fflush(stdout);
            dup2(saved, STDOUT_FILENO);
            close(saved);
        }
    };
    {
        Restore restore{saved};
        call();
    }
    std::string text;
    std::rewind(sink);
    for (int c = std::fgetc(sink); c != EOF; c = std::fgetc(sink)) text += static_cast<char>(c);
    std::fclose(sink);
    return text;
}

ScopedChdir::ScopedChdir(const std::filesystem::path& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
}

ScopedChdir::~ScopedChdir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

GLuint linkProgram(const std::string& vertexSource, const std::string& fragmentSource) {
    std::string log;
    const GLuint vertex = compileStage(GL_VERTEX_SHADER, vertexSource, log);
    const GLuint fragment = compileStage(GL_FRAGMENT_SHADER, fragmentSource, log);
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status == GL_TRUE) return program;
    ADD_FAILURE() << "test program did not link:\n" << log << infoLog(program, true);
    glDeleteProgram(program);
    return 0;
}

GLuint linkShippedProgram() {
    const std::filesystem::path shaders = std::filesystem::path(HANDVIEW_SOURCE_DIR) / "shaders/simple";
    return linkProgram(readFile(shaders / "ColoredPointL.vsh"), readFile(shaders / "ColoredPointL.fsh"));
}

GLuint linkFlatColourProgram() {
    return linkProgram(R"(#version 330
layout(location = 0) in vec3 position;
void main() { gl_Position = vec4(position, 1.0); }
)",
                       R"(#version 330
uniform vec3 col;
out vec4 fragColor;
void main() { fragColor = vec4(col, 1.0); }
)");
}

ColourTarget::ColourTarget() {
    glGetIntegerv(GL_VIEWPORT, previousViewport_);
    glGenFramebuffers(1, &framebuffer_);
    glGenRenderbuffers(1, &renderbuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, sizePx, sizePx);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer_);
    glViewport(0, 0, sizePx, sizePx);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
}

ColourTarget::~ColourTarget() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer_);
    glDeleteRenderbuffers(1, &renderbuffer_);
    glViewport(previousViewport_[0], previousViewport_[1], previousViewport_[2], previousViewport_[3]);
}

bool ColourTarget::complete() const {
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

std::vector<uint8_t> ColourTarget::pixel(int x, int y) const {
    std::vector<uint8_t> rgba(4, 0);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    rgba.pop_back();
    return rgba;
}

std::vector<float> uniformFloats(GLuint program, const char* name, int count) {
    constexpr int kLargestUniformFloats = 16;  // a mat4
    std::vector<float> values(kLargestUniformFloats, -12345.0f);
    const GLint location = glGetUniformLocation(program, name);
    if (location == -1) ADD_FAILURE() << "program " << program << " has no active uniform " << name;
    if (location != -1) glGetUniformfv(program, location, values.data());
    values.resize(static_cast<size_t>(count));
    return values;
}

PrimitiveCounter::PrimitiveCounter() {
    glGenQueries(1, &query_);
    glBeginQuery(GL_PRIMITIVES_GENERATED, query_);
}

PrimitiveCounter::~PrimitiveCounter() {
    count();
    glDeleteQueries(1, &query_);
}

GLuint PrimitiveCounter::count() {
    if (running_) {
        glEndQuery(GL_PRIMITIVES_GENERATED);
        glGetQueryObjectuiv(query_, GL_QUERY_RESULT, &result_);
        running_ = false;
    }
    return result_;
}

namespace {
UniformSpy* activeSpy = nullptr;
PFNGLUNIFORM3FPROC realUniform3f = nullptr;
PFNGLUNIFORM1FPROC realUniform1f = nullptr;
PFNGLUNIFORMMATRIX4FVPROC realUniformMatrix4fv = nullptr;

void GLAPIENTRY spyUniform3f(GLint location, GLfloat x, GLfloat y, GLfloat z) {
    activeSpy->vec3Writes.push_back(location);
    realUniform3f(location, x, y, z);
}

void GLAPIENTRY spyUniform1f(GLint location, GLfloat value) {
    activeSpy->floatWrites.push_back(location);
    realUniform1f(location, value);
}

void GLAPIENTRY spyUniformMatrix4fv(GLint location, GLsizei count, GLboolean transpose,
                                    const GLfloat* value) {
    activeSpy->matrixWrites.push_back(location);
    realUniformMatrix4fv(location, count, transpose, value);
}
}  // namespace

UniformSpy::UniformSpy() {
    if (activeSpy != nullptr) throw std::logic_error("one UniformSpy at a time");
    activeSpy = this;
    realUniform3f = __glewUniform3f;
    realUniform1f = __glewUniform1f;
    realUniformMatrix4fv = __glewUniformMatrix4fv;
    __glewUniform3f = spyUniform3f;
    __glewUniform1f = spyUniform1f;
    __glewUniformMatrix4fv = spyUniformMatrix4fv;
}

UniformSpy::~UniformSpy() {
    __glewUniform3f = realUniform3f;
    __glewUniform1f = realUniform1f;
    __glewUniformMatrix4fv = realUniformMatrix4fv;
    activeSpy = nullptr;
}

}  // namespace harness
