// Real OpenGL (Mesa) and X on the suite's display: attribute state around a draw, the input devices
// on an SDL window, and every kind of hand played through the whole App in this process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>
#include <memory>

#include "app/App.h"
#include "app/FrameTime.h"
#include "input/X11Glue.h"
#include "tests/support/FakeHands.h"

// Last: Xlib's macros (None, Bool) clash with GoogleTest's names.
#include <SDL_syswm.h>
#include <X11/XKBlib.h>

namespace {
class OnMesa : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        ASSERT_NE(window = SDL_CreateWindow("gl test", 0, 0, 64, 64, SDL_WINDOW_OPENGL), nullptr)
            << SDL_GetError();
        ASSERT_NE(SDL_GL_CreateContext(window), nullptr) << SDL_GetError();
        glewExperimental = GL_TRUE;
        ASSERT_EQ(glewInit(), static_cast<GLenum>(GLEW_OK));
        while (glGetError() != GL_NO_ERROR) continue;  // GLEW's probing may leave one
    }
    // No SDL_Quit: closing the display under a live llvmpipe context can deadlock in the driver.

    SDL_Window* window = nullptr;
};

GLint attribute(GLuint location, GLenum what) {
    GLint value = -1;
    glGetVertexAttribiv(location, what, &value);
    return value;
}

// Under ASan, resident memory holds the quarantine of freed blocks: the allocator's live bytes instead.
#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();  // GCC ships the runtime, not its header
long memoryKb() {
    return long(__sanitizer_get_current_allocated_bytes() / 1024);
}
#else
long memoryKb() {
    long size = 0, pages = 0;
    std::ifstream("/proc/self/statm") >> size >> pages;
    return pages * 4;
}
#endif

// Every kind of hand the tracker reports, in turn, a quarter second each at 120 frames a second:
// none, a fist, pointing inside and far outside the tracked space, flying, flying far, palms
// flipping (also to zero) and two hands at once. Flights swing both ways, so the camera stays near.
std::vector<fake::HandSpec> handsAt(long n) {
    const float t = n / 120.0f, w = std::sin(3 * t);
    const fake::HandSpec point{{0, 200, 100}, {0, -1, 0}, {{120 * w, 220 + 60 * std::cos(t), 40 * w}}};
    fake::HandSpec open{{25 * w, 200 + 15 * w, 100 + 30 * w},
                        {0.25f * w, -1, 0.2f * std::cos(t)},
                        {{-55, 200, 75}, {-25, 205, 20}, {0, 205, 10}, {25, 205, 18}}};
    switch (n / 30 % 8) {
        case 0:
            return {};
        case 1:
            return {{{0, 200, 100}, {0, -1, 0}, {}}};
        case 2:
            return {point};
        case 3:
            return {{{0, 200, 100}, {0, -1, 0}, {{2000 * w, 2000, -3000}, {0, 200, 50}}}};
        case 4:
            return {open};
        case 5:
            open.palmPosition = {2000 * w, 200 + 2000 * w, 100 - 3000 * w};
            return {open};
        case 6:
            open.palmNormal = {0, float(n % 3) - 1, 0};
            return {open};
        default:
            return {open, point};
    }
}
}  // namespace

TEST_F(OnMesa, EachAttributeIsPointedAtTheLocationOfItsMeaningForTheDrawOnly) {
    const std::pair<std::vector<AttribFormat>, std::vector<intptr_t>> cases[] = {
        // byte offsets by location, -1: off
        {{{GL_FLOAT, 3, 0}, {GL_FLOAT, 2, 3}}, {0, -1, -1, 12}},
        {{{GL_FLOAT, 3, 0}, {GL_FLOAT, 3, 1}, {GL_FLOAT, 3, 2}, {GL_FLOAT, 2, 3}}, {0, 12, 24, 36}}};
    for (const auto& [layout, offsets] : cases) {
        OglBuffVertex vertices;
        vertices.layout = layout;
        vertices.vertices.assign((offsets.back() + 8) / 4 * 3, 0.5f);  // three vertices, a texture pair last
        vertices.fill();
        vertices.upload();
        OglBuffIndex indices;
        indices.indices = {0, 1, 2};
        indices.fill();
        indices.upload();
        vertices.bindAttributes();
        for (GLuint i = 0; i < 8; ++i) {
            void* offset = nullptr;
            glGetVertexAttribPointerv(i, GL_VERTEX_ATTRIB_ARRAY_POINTER, &offset);
            const bool on = i < 4 && offsets[i] >= 0;
            EXPECT_EQ(
                std::make_tuple(attribute(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED),
                                on ? attribute(i, GL_VERTEX_ATTRIB_ARRAY_STRIDE) : 0, on ? offset : nullptr),
                std::make_tuple(GLint(on), on ? GLint(offsets.back()) + 8 : 0,
                                on ? reinterpret_cast<void*>(offsets[i]) : nullptr))
                << "location " << i;
        }
        drawIndexed(vertices, indices);
        for (GLuint i = 0; i < 8; ++i)
            EXPECT_EQ(attribute(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_FALSE) << "location " << i;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(OnMesa, InputDevicesShareTheWindowWithoutGrabsAndSdlKeepsItsKeys) {
    std::multimap<std::string, std::string> params;
    ASSERT_EQ(shareWindowWithOis(window, params), "");
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(window, &info));
    EXPECT_EQ(params,
              (std::multimap<std::string, std::string>{{"WINDOW", std::to_string(info.info.x11.window)},
                                                       {"x11_keyboard_grab", "false"},
                                                       {"x11_mouse_grab", "false"},
                                                       {"x11_mouse_hide", "false"}}));
    OisInput input;
    input.open(window);
    ASSERT_TRUE(input.mouse != nullptr && input.keyboard != nullptr);
    Bool detectable = False;  // on OIS's own connection, which only the XOpenDisplay wrapper sees
    EXPECT_TRUE(lastOisDisplay() != info.info.x11.display &&
                XkbGetDetectableAutoRepeat(lastOisDisplay(), &detectable) && detectable);
}

// scripts/soak runs it longer: HANDVIEW_SOAK_SECONDS.
TEST(Soak, EveryKindOfHandKeepsTheViewFiniteUploadedInItsFrameAndMemoryFlat) {
    const double seconds =
        std::getenv("HANDVIEW_SOAK_SECONDS") ? std::atof(std::getenv("HANDVIEW_SOAK_SECONDS")) : 8;
    ASSERT_EQ(chdir(HANDVIEW_SOURCE_DIR), 0);
    auto app = std::make_unique<App>();
    ASSERT_TRUE(app->init());
    const GLuint program = app->program.program;
    const auto start = std::chrono::steady_clock::now();
    long frames = 0, firstKb = 0, laterKb = 0;
    for (double elapsed = 0; elapsed < seconds; ++frames) {
        auto source = std::make_shared<fake::ScriptedSource>();  // a fresh one: it keeps every frame it had
        source->setConnected(true);
        source->setFrame(fake::makeFrame(handsAt(frames), frames * 8));
        fake::attach(app->controller, source);
        app->step();
        frameTime = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - elapsed;
        elapsed += frameTime;
        LeapCam pose = app->camera;
        pose.locations.clear();
        const Mat4 mvp = pose.update();
        std::vector<float> uploaded(16), light(3);
        glGetUniformfv(program, glGetUniformLocation(program, "MVP"), uploaded.data());
        glGetUniformfv(program, glGetUniformLocation(program, "lpoint"), light.data());
        // Also finite: NaN equals nothing.
        ASSERT_EQ(uploaded, std::vector<float>(mvp.m, mvp.m + 16)) << "frame " << frames;
        ASSERT_EQ(light, (std::vector<float>{float(app->light.position.x), float(app->light.position.y),
                                             float(app->light.position.z)}))
            << "frame " << frames;
        long& kb = elapsed < seconds / 3 ? firstKb : laterKb;
        if (frames % 100 == 0) kb = std::max(kb, memoryKb());
    }
    std::printf("soak: %ld frames in %.0f s, memory %ld kB in the first third, at most %ld kB after\n",
                frames, seconds, firstKb, laterKb);
    EXPECT_LT(laterKb - firstKb, 5 * 1024) << "memory grew over " << frames << " frames";
    frameTime = 0.0;
}

// With a window of its own: files dropped as SDL delivers them (a path it allocated, the receiver
// frees), then a resize.
TEST(Windowed, DroppedModelReplacesTheShownOneABadOneKeepsItAndTheViewFollowsResizes) {
    ASSERT_EQ(chdir(HANDVIEW_SOURCE_DIR), 0);
    setenv("HANDVIEW_TRACKER", "none", 1);
    auto app = std::make_unique<App>();
    std::tie(app->windowWidth, app->windowHeight) = std::make_pair(320, 200);
    ASSERT_TRUE(app->init());
    app->camera.position = {1.0f, 0.5f, 3.0f};
    // What cannot be drawn is one line and keeps what is shown.
    const std::string odd = testing::TempDir() + "handview-drops-" + std::to_string(getpid());
    std::filesystem::create_directory(odd);
    ASSERT_EQ(mkfifo((odd + "/pipe.obj").c_str(), 0600), 0);
    std::ofstream(odd + "/empty.stl");
    std::ofstream(odd + "/cut.stl") << std::string(80, '\0') << std::string("\xE8\x03\0\0", 4)
                                    << std::string(200, '\0');  // a binary STL of 1000 triangles, cut
    const struct {
        std::string file;
        size_t parts;
        std::string says;
    } drops[] = {
        {"tests/data/models/nodes.gltf", 6, "Loaded tests/data/models/nodes.gltf: 6 parts, 60 triangles"},
        {"README.md", 6, "handview: cannot open README.md: no importer here reads .md files\n"},
        {"tests/data/models/RecursiveNodes.gltf", 6,
         "handview: cannot import tests/data/models/RecursiveNodes.gltf: GLTF: "},
        {odd + "/missing.glb", 6, "missing.glb: No such file or directory\n"},
        {odd, 6, ": it is a directory, not a file\n"},
        {odd + "/pipe.obj", 6, "pipe.obj: it is a named pipe, not a file\n"},
        {odd + "/empty.stl", 6, "empty.stl: it is empty\n"},
        {odd + "/cut.stl", 6, "cut.stl: Failed to determine STL storage representation"},
        {"obj/shapes.obj", 7, "Loaded obj/shapes.obj: 7 parts, 4844 triangles, imported in "}};
    for (const auto& drop : drops) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        SDL_Event event{};
        event.type = SDL_DROPFILE;
        event.drop.file = SDL_strdup(drop.file.c_str());
        SDL_PushEvent(&event);
        app->pollEvents();
        app->step();
        const std::string said =
            testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(drop.says), std::string::npos) << said;
        EXPECT_EQ(app->mesh.parts.size(), drop.parts) << drop.file;
        EXPECT_EQ(std::make_tuple(app->camera.position.x, app->camera.position.y, app->camera.position.z),
                  std::make_tuple(1.0f, 0.5f, 3.0f));
    }
    SDL_SetWindowSize(app->window, 400, 300);
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         app->camera.viewWidth != 400 && std::chrono::steady_clock::now() < end;)
        app->pollEvents();
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 400, 300}));
    EXPECT_EQ(app->camera.viewHeight, 300.0f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    std::filesystem::remove_all(odd);
}
