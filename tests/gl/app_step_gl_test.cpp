// The real App, started in-process on the test's X server, stepping frames that the test
// feeds to its controller: what the hand step changes, and that the same frame uploads it.
#include "app/App.h"

#include <assimp/cimport.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "Leap.h"
#include "app/FrameTime.h"
#include "camera/HandControl.h"
#include "support/FakeHands.h"
#include "support/GlWindow.h"
#include "support/ProgramRun.h"
#include "support/Screen.h"

// Last: Xlib's macros (None, Bool) clash with GoogleTest's names.
#include <SDL_syswm.h>
#include <X11/Xlib.h>

namespace {

using harness::captureStdout;
using harness::uniformFloats;
using fake::HandSpec;
using fake::makeFrame;

// A unit cube around the origin, well inside the starting view; 12 triangles once triangulated.
constexpr const char* kCubeObj = R"(o cube
v -0.5 -0.5 -0.5
v 0.5 -0.5 -0.5
v 0.5 0.5 -0.5
v -0.5 0.5 -0.5
v -0.5 -0.5 0.5
v 0.5 -0.5 0.5
v 0.5 0.5 0.5
v -0.5 0.5 0.5
f 1 4 3 2
f 5 6 7 8
f 1 5 8 4
f 2 3 7 6
f 1 2 6 5
f 4 8 7 3
)";
constexpr GLuint kCubeTriangles = 12;
constexpr double kFrameTimeS = 0.05;
// Stands out from anything the shader draws, so a cleared pixel can be told from a lit one.
constexpr uint8_t kClearRgb[3] = {51, 102, 153};

const Leap::Vector kPalmDown{0.0f, -1.0f, 0.0f};

HandSpec pointingHand() {
    return {{0.0f, 200.0f, 0.0f}, kPalmDown, {{10.0f, 230.0f, -20.0f}, {40.0f, 210.0f, 30.0f}}};
}

HandSpec openHand() {
    // Tilted palm off its rest point: the camera both flies and turns.
    return {{30.0f, 260.0f, 40.0f},
            {0.2f, -0.96f, 0.2f},
            {{-40.0f, 280.0f, -30.0f}, {0.0f, 290.0f, -40.0f}, {40.0f, 280.0f, -30.0f}}};
}

std::vector<float> asVector(Vec3 v) {
    return {v.x, v.y, v.z};
}
std::vector<float> asVector(const Mat4& m) {
    return std::vector<float>(m.m, m.m + 16);
}
std::vector<double> asVector(const LightValue3& v) {
    return {v.x, v.y, v.z};
}
std::vector<float> rounded(const LightValue3& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

void expectSamePose(const OglCam& actual, const OglCam& expected) {
    EXPECT_EQ(asVector(actual.position), asVector(expected.position));
    EXPECT_EQ(actual.yaw, expected.yaw);
    EXPECT_EQ(actual.pitch, expected.pitch);
    EXPECT_EQ(asVector(actual.target), asVector(expected.target));
}

class AppStep : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "the App needs an X display";
        for (const char* stage : {"ColoredPointL.vsh", "ColoredPointL.fsh"})
            dir.copyFromSource(std::string("shaders/simple/") + stage,
                               std::string("shaders/simple/") + stage);
        dir.writeFile("obj/shapes.obj", kCubeObj);
        inDir.emplace(dir.path());

        app = std::make_unique<App>();
        bool started = false;
        initOutput = captureStdout([&] { started = app->init(); });
        ASSERT_TRUE(started) << initOutput;
        harness::pinGlDriver();
        fake::attach(app->controller, source);
        frameTime = kFrameTimeS;
    }

    void TearDown() override {
        // The App leaves SDL running and the importer's log attached; the next test starts clean.
        app.reset();
        SDL_Quit();
        aiDetachAllLogStreams();
        frameTime = 0.0;
    }

    // One frame, its drawn primitives counted.
    GLuint step() {
        glClearColor(kClearRgb[0] / 255.0f, kClearRgb[1] / 255.0f, kClearRgb[2] / 255.0f, 1.0f);
        harness::PrimitiveCounter counter;
        app->step();
        return counter.count();
    }

    GLuint program() const { return app->program.program; }

    harness::WorkDir dir{harness::WorkDir::Contents::empty};
    std::optional<harness::ScopedChdir> inDir;
    std::unique_ptr<App> app;
    std::string initOutput;
    std::shared_ptr<fake::ScriptedSource> source = std::make_shared<fake::ScriptedSource>();
};

TEST_F(AppStep, StartUpPrintsTheShaderLinesWithEmptyLogsFirst) {
    const std::string shaderLines =
        "Compiling shader : shaders\\simple\\ColoredPointL.vsh\n\n"
        "Compiling shader : shaders\\simple\\ColoredPointL.fsh\n\n"
        "Linking program\n\n";
    EXPECT_EQ(initOutput.substr(0, shaderLines.size()), shaderLines) << initOutput;
    EXPECT_EQ(app->mesh.parts.size(), 1u);
}

TEST_F(AppStep, DisconnectedControllerChangesNothingButTheFrameIsStillDrawn) {
    app->frame = makeFrame({pointingHand()}, 42);
    source->setFrame(makeFrame({openHand()}, 99));  // would move the camera if it were read
    const LeapCam cameraBefore = app->camera;
    const LightValue3 lightBefore = app->light.position;

    EXPECT_EQ(step(), kCubeTriangles);

    EXPECT_EQ(app->frame.timestamp(), 42);
    EXPECT_EQ(app->frame.hands().count(), 1);
    expectSamePose(app->camera, cameraBefore);
    EXPECT_EQ(asVector(app->light.position), asVector(lightBefore));
    // Uploads ran: the matrix is no longer the identity it was before the first update.
    EXPECT_NE(asVector(app->camera.mvp), asVector(Mat4()));
    EXPECT_EQ(uniformFloats(program(), "MVP", 16), asVector(app->camera.mvp));
    EXPECT_EQ(uniformFloats(program(), "MVP_pos", 3), asVector(app->camera.position));
    EXPECT_EQ(uniformFloats(program(), "lpoint", 3), rounded(app->light.position));

    // Cleared and drawn, then swapped onto the screen. Mesa's software path puts the image into
    // the X window; its own front buffer is not where the picture goes, so ask the X server.
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(app->window, &info)) << SDL_GetError();
    XSync(info.info.x11.display, False);
    const harness::Image screen = harness::captureScreen(std::getenv("DISPLAY"));
    size_t cleared = 0;
    for (size_t i = 0; i < screen.rgb.size(); i += 3)
        if (screen.rgb[i] == kClearRgb[0] && screen.rgb[i + 1] == kClearRgb[1] &&
            screen.rgb[i + 2] == kClearRgb[2])
            ++cleared;
    const size_t pixels = screen.rgb.size() / 3;
    EXPECT_GT(cleared, pixels / 2) << "the window was cleared with the current clear colour";
    EXPECT_LT(cleared, pixels - pixels / 50) << "the cube covers part of the window";
}

TEST_F(AppStep, ConnectedWithoutHandReplacesOnlyTheFrame) {
    app->frame = makeFrame({pointingHand()}, 5);
    source->setConnected(true);
    source->setFrame(makeFrame({}, 77));
    // A stale target shows whether updateTarget ran.
    app->camera.target = {9.0f, 9.0f, 9.0f};
    const LeapCam cameraBefore = app->camera;
    const LightValue3 lightBefore = app->light.position;

    EXPECT_EQ(step(), kCubeTriangles);

    EXPECT_EQ(app->frame.timestamp(), 77);
    EXPECT_EQ(app->frame.hands().count(), 0);
    expectSamePose(app->camera, cameraBefore);
    EXPECT_EQ(asVector(app->light.position), asVector(lightBefore));
}

TEST_F(AppStep, TwoFingersPlaceTheLightAndTheSameFrameUploadsIt) {
    source->setConnected(true);
    source->setFrame(makeFrame({pointingHand()}, 10));
    const LeapCam cameraBefore = app->camera;
    const Vec3 lightAt = cameraBefore.fingerPoint({10.0f, 230.0f, -20.0f});  // the frontmost tip

    EXPECT_EQ(step(), kCubeTriangles);

    EXPECT_EQ(app->frame.timestamp(), 10);
    EXPECT_EQ(asVector(app->light.position), (std::vector<double>{lightAt.x, lightAt.y, lightAt.z}));
    EXPECT_NE(asVector(app->light.position), (std::vector<double>{0.57, 0.57, 0.57}));
    expectSamePose(app->camera, cameraBefore);
    EXPECT_EQ(uniformFloats(program(), "lpoint", 3), asVector(lightAt));
    EXPECT_EQ(uniformFloats(program(), "MVP_pos", 3), asVector(cameraBefore.position));
}

TEST_F(AppStep, ThreeFingersFlyTheCameraAndTheSameFrameUploadsThePose) {
    const Leap::Frame frame = makeFrame({openHand()}, 20);
    source->setConnected(true);
    source->setFrame(frame);
    const LeapCam cameraBefore = app->camera;
    const LightValue3 lightBefore = app->light.position;
    LeapCam expected = app->camera;
    expected.steer(readPalmPosition(frame), readPalmAngles(frame));
    expected.updateTarget();
    LeapCam unmoved = app->camera;
    unmoved.locations.clear();
    unmoved.update();

    EXPECT_EQ(step(), kCubeTriangles);

    EXPECT_EQ(app->frame.timestamp(), 20);
    expectSamePose(app->camera, expected);
    EXPECT_NE(asVector(app->camera.position), asVector(cameraBefore.position));
    EXPECT_NE(app->camera.yaw, cameraBefore.yaw);
    EXPECT_NE(app->camera.pitch, cameraBefore.pitch);
    EXPECT_EQ(asVector(app->light.position), asVector(lightBefore));
    EXPECT_EQ(uniformFloats(program(), "MVP_pos", 3), asVector(expected.position));
    EXPECT_EQ(uniformFloats(program(), "MVP", 16), asVector(app->camera.mvp));
    EXPECT_NE(uniformFloats(program(), "MVP", 16), asVector(unmoved.mvp));
}

}  // namespace
