// The application object: owns everything, starts up, runs the loop, draws a frame.
#pragma once

#include <SDL.h>

#include <memory>

#include "Leap.h"
#include "app/CameraChild.h"
#include "camera/LeapCam.h"
#include "input/OisInput.h"
#include "render/OglLight.h"
#include "render/OglHud.h"
#include "render/OglMesh.h"
#include "render/OglShader.h"

// Fields are public and in this order on purpose: construction and teardown follow it,
// and tests drive the real object.
class App {
public:
    App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Exit code: 0 after a normal quit, -1 when start-up failed.
    int run();
    // True when everything is ready to draw.
    bool init();
    // One frame: input, hand control, uploads, clear, draw, swap.
    void step();
    // Drains the window-system queue; a quit or an Escape press clears `running`. With a window of
    // its own size, a dropped model file replaces the model and a resize reaches the view.
    void pollEvents();
    // The viewport and the camera's lens take the window's drawable size.
    void followWindowSize();
    // The hand's state over the finished frame.
    void drawOverlay(bool connected);
    // For a few seconds on the overlay, made fit for the screen.
    void notify(const std::string& text);

    bool running = false;
    SDL_Window* window = nullptr;
    OisInput input;
    LeapCam camera;
    OglProgram program;
    OglMesh mesh;
    OglPointLight light;
    Leap::Frame frame;
    Leap::Controller controller;
    int screenWidth = 0;
    int screenHeight = 0;
    // The model named on the command line; null for the default scene.
    const char* modelPath = nullptr;
    // Which way is up in a user's model.
    ModelUp modelUp = ModelUp::Declared;
    // A normal window of this size instead of the full screen; 0 for the full screen.
    int windowWidth = 0;
    int windowHeight = 0;
    bool windowed() const { return windowWidth > 0; }
    // --webcam's value (a camera's number or a video); null: the hand tracker of the environment.
    const char* webcamOption = nullptr;
    std::shared_ptr<WebcamSource> webcam;
    // The overlay of the hand's state; off, nothing is drawn over the frame.
    bool hud = false;
    OglHud overlay;
};

// A user's model is framed as the camera first sees it, in the window's shape of the moment.
ModelView startView(const OglCam& window);

constexpr const char* kWindowTitle = "Oh, hello there";
constexpr const char* kVertexShaderPath = "shaders\\simple\\ColoredPointL.vsh";
constexpr const char* kFragmentShaderPath = "shaders\\simple\\ColoredPointL.fsh";
constexpr const char* kCameraUniform = "MVP";
constexpr const char* kLightUniform = "lpoint";
