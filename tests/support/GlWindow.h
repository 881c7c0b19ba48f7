// A small hidden SDL window with a real (Mesa) OpenGL context for the GL tests, and the
// helpers they share: stdout capture, a working-directory switch, programs, read-backs.
#pragma once

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace harness {

// Keeps the loaded Mesa driver mapped until the process ends. SDL_Quit closes the X
// connection and with it unloads the driver; its leaks would then be reported against an
// unknown module, out of reach of the LeakSanitizer suppressions. Call with a context current.
void pinGlDriver();

// Fixture base: every test starts with the shared context current and no GL error pending. The
// window is (re)opened on first use and after an SDL_Quit (the App tests end with one).
class GlTest : public ::testing::Test {
protected:
    void SetUp() override;
};

// Everything `call` writes to standard output (C stdio and iostreams alike, through fd 1).
std::string captureStdout(const std::function<void()>& call);

// Switches the working directory for the object's lifetime: the program reads fixed relative paths.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::filesystem::path& dir);
    ~ScopedChdir();
    ScopedChdir(const ScopedChdir&) = delete;
    ScopedChdir& operator=(const ScopedChdir&) = delete;

private:
    std::filesystem::path previous_;
};

// Programs built with plain GL calls, independent of the classes under test; 0 when the
// link failed (the driver's log goes to the test's failure message).
GLuint linkProgram(const std::string& vertexSource, const std::string& fragmentSource);
// The shipped shaders/simple/ColoredPointL.{vsh,fsh} of the source tree.
GLuint linkShippedProgram();
// Attribute 0 taken as clip-space position, every fragment in the colour of the vec3 "col".
GLuint linkFlatColourProgram();

// `count` floats of a float, vec or mat uniform of `program`, read back from the driver.
std::vector<float> uniformFloats(GLuint program, const char* name, int count);

// A small off-screen RGBA8 target, bound and cleared to black while the object lives,
// so pixels can be read back whatever the window shows.
class ColourTarget {
public:
    static constexpr int sizePx = 8;

    ColourTarget();
    ~ColourTarget();
    ColourTarget(const ColourTarget&) = delete;
    ColourTarget& operator=(const ColourTarget&) = delete;

    bool complete() const;
    std::vector<uint8_t> pixel(int x, int y) const;  // red, green, blue; y from the bottom

private:
    GLuint framebuffer_ = 0;
    GLuint renderbuffer_ = 0;
    GLint previousViewport_[4] = {0, 0, 0, 0};
};

// Counts the primitives that reach the rasterizer between construction and count().
class PrimitiveCounter {
public:
    PrimitiveCounter();
    ~PrimitiveCounter();
    PrimitiveCounter(const PrimitiveCounter&) = delete;
    PrimitiveCounter& operator=(const PrimitiveCounter&) = delete;

    GLuint count();  // ends the query on the first call

private:
    GLuint query_ = 0;
    bool running_ = true;
    GLuint result_ = 0;
};

// Records the locations of the uniform writes made while it lives and still hands every call
// on to the driver: the only way to see a write to location -1, which GL silently drops.
// Works because the code under test calls GL through GLEW's function pointers.
class UniformSpy {
public:
    UniformSpy();
    ~UniformSpy();
    UniformSpy(const UniformSpy&) = delete;
    UniformSpy& operator=(const UniformSpy&) = delete;

    std::vector<GLint> vec3Writes;    // glUniform3f
    std::vector<GLint> floatWrites;   // glUniform1f
    std::vector<GLint> matrixWrites;  // glUniformMatrix4fv
};

}  // namespace harness
