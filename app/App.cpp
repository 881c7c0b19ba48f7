// Start-up, main loop and the frame step, in the order the rest of the program relies on.
#include "app/App.h"

#include <assimp/cimport.h>
#include <OISKeyboard.h>
#include <boost/timer/timer.hpp>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "app/FrameTime.h"
#include "app/WindowIcon.h"
#include "camera/HandControl.h"
#include "camera/HandState.h"
#include "tracker/Console.h"
#include "tracker/DataFiles.h"

namespace {
void printImporterLine(const char* message, char*) {
    std::string_view line(message);
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    std::printf("%s\n", Leap::printable(line, Leap::kWholeLine).c_str());
}
}  // namespace

App::App() {
    running = true;
}

ModelView startView(const OglCam& window) {
    const LeapCam start;
    const Vec3 d = start.target - start.position;
    return {{start.position.x, start.position.y, start.position.z},
            {d.x, d.y, d.z},
            start.fov,
            window.viewWidth / window.viewHeight};
}

namespace {
LightValue3 modelLight(const OglMesh& mesh) {
    return {mesh.modelFrame.light.x, mesh.modelFrame.light.y, mesh.modelFrame.light.z};
}
}  // namespace

bool App::init() {
    if (SDL_Init(SDL_INIT_VIDEO) < 0) return false;

    // A 0x0 screen would make every matrix NaN: treat it like a failed window.
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.w <= 0 || mode.h <= 0) {
        std::fprintf(stderr, "Error: cannot read the desktop display mode: %s\n", SDL_GetError());
        return false;
    }
    screenWidth = mode.w;
    screenHeight = mode.h;

    const int width = windowed() ? windowWidth : screenWidth;
    const int height = windowed() ? windowHeight : screenHeight;
    const Uint32 flags = (windowed() ? 0 : SDL_WINDOW_FULLSCREEN) | SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE;
    window = SDL_CreateWindow(kWindowTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                              flags);
    if (window == nullptr) {
        std::fprintf(stderr, "Error: cannot create the window: %s\n", SDL_GetError());
        return false;
    }
    setWindowIcon(window);
    if (SDL_GL_CreateContext(window) == nullptr) {
        std::fprintf(stderr, "Error: cannot create the OpenGL context: %s\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetSwapInterval(0);

    input.open(window);

    glewExperimental = GL_TRUE;
    const GLenum glewResult = glewInit();
    if (glewResult != GLEW_OK) {
        std::fprintf(stderr, "Error: %s\n", glewGetErrorString(glewResult));
        std::cin.get();  // keep the console open until the user has read it
        return false;
    }

    // Before the slow part of start-up: the service loads its models meanwhile.
    if (webcamOption) {
        webcam = std::make_shared<WebcamSource>(webcamOption, std::getenv("HANDVIEW_RECORD"));
        controller = Leap::Controller(webcam);
    }

    // Standard output, as the predefined stream would write it, but made printable: the importer's
    // lines name the file, whose name may hold anything.
    aiLogStream stream{printImporterLine, nullptr};
    aiAttachLogStream(&stream);

    // Installed, the program's own files and nothing from the working directory. In a build tree the
    // working directory's; its shaders beside the executable serve a named model only, so that a
    // working directory without them still says so.
    const std::string vertexPath = dataFilePath(kVertexShaderPath, modelPath != nullptr);
    const std::string fragmentPath = dataFilePath(kFragmentShaderPath, modelPath != nullptr);
    OglVertexShader vertexShader(vertexPath.c_str());
    OglFragmentShader fragmentShader(fragmentPath.c_str());
    program.link(vertexShader, fragmentShader);

    camera.viewWidth = static_cast<float>(width);
    camera.viewHeight = static_cast<float>(height);
    if (modelPath)
        mesh.loadModel(program.program, modelPath, startView(camera), modelUp);
    else
        mesh.load(program.program, dataFilePath(kMeshPath, false).c_str());
    if (mesh.bothSides) light.position = modelLight(mesh);  // a user's model was loaded
    notify(mesh.problem);

    camera.updateTarget();
    camera.locateUniforms(program.program, kCameraUniform);

    light.locateUniforms(program.program, kLightUniform);

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_CULL_FACE);
    return true;  // the stages go now, fragment first; the program keeps them alive
}

void App::pollEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT || (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE)) {
            running = false;
        } else if (event.type == SDL_DROPFILE || event.type == SDL_DROPTEXT) {
            if (windowed() && event.type == SDL_DROPFILE) {
                if (mesh.replaceModel(event.drop.file, startView(camera), modelUp))
                    light.position = modelLight(mesh);
                else
                    notify(mesh.problem);
            }
            SDL_free(event.drop.file);  // SDL hands the text over
        } else if (windowed() && event.type == SDL_WINDOWEVENT &&
                   event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            followWindowSize();
        }
    }
}

void App::followWindowSize() {
    int width = 0;
    int height = 0;
    SDL_GL_GetDrawableSize(window, &width, &height);
    if (width <= 0 || height <= 0) return;  // a zero side would make the projection NaN
    glViewport(0, 0, width, height);
    camera.viewWidth = static_cast<float>(width);
    camera.viewHeight = static_cast<float>(height);
}

void App::step() {
    input.capture();
    if (input.keyboard != nullptr) input.keyboard->capture();

    const bool connected = controller.isConnected();
    if (connected) {
        frame = controller.frame(0);
        handStep(frame, camera, light);
    }

    glUseProgram(program.program);
    camera.update();
    light.uploadUniforms();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw();
    if (hud) drawOverlay(connected);
    SDL_GL_SwapWindow(window);
}

void App::drawOverlay(bool connected) {
    const std::string advice =
        webcam ? webcam->child().status() : "run handview --webcam, or start a hand-tracking service";
    overlay.draw(readHandState(connected, frame, advice), int(camera.viewWidth), int(camera.viewHeight));
}

void App::notify(const std::string& text) {
    if (hud && !text.empty()) overlay.notify(Leap::printable(text, 160));
}

int App::run() {
    if (!init()) return -1;

    FrameClock clock(Leap::fixedStepMs() / 1000.0);  // 0: the wall clock
    boost::timer::cpu_timer timer;
    while (running) {
        pollEvents();
        step();
        frameTime = clock.passEnded(timer.elapsed().wall);
    }
    SDL_Quit();
    return 0;
}
