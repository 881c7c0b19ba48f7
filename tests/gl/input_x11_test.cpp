// The real OIS devices on a real SDL window under X: motion, buttons and keys
// reach OIS, while SDL still gets Escape and the window close.
#include "input/OisInput.h"
#include "input/X11Glue.h"
#include "support/GlWindow.h"
#include "support/ProgramRun.h"

#include <OIS.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

// Last: Xlib's macros (None, Bool) clash with GoogleTest's names.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace {

constexpr auto kSettle = std::chrono::milliseconds(30);
constexpr int kEventWaitMs = 2000;

int xErrorCount = 0;
int countXError(Display*, XErrorEvent*) {
    ++xErrorCount;
    return 0;
}

void xdotool(const std::string& args) {
    // The sanitizer runtime that sanitized builds preload is not for the tool.
    const std::string command = "env -u LD_PRELOAD xdotool " + args;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

class InputOnX11 : public ::testing::Test {
protected:
    // A private server: xdotool moves the one pointer and keyboard of a display,
    // so tests running beside these must not share it.
    static void SetUpTestSuite() {
        SDL_Quit();  // the shared GL test window may hold SDL's video open on the outer display
        server = std::make_unique<harness::Xvfb>();
        const char* display = std::getenv("DISPLAY");
        previousDisplay = display ? display : "";
        setenv("DISPLAY", server->display().c_str(), 1);
        wm = XOpenDisplay(nullptr);
    }

    static void TearDownTestSuite() {
        if (wm) XCloseDisplay(wm);
        wm = nullptr;
        previousDisplay.empty() ? unsetenv("DISPLAY") : setenv("DISPLAY", previousDisplay.c_str(), 1);
        server.reset();
    }

    void SetUp() override {
        ASSERT_NE(wm, nullptr) << "cannot open the private X display";
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        SDL_DisplayMode mode;
        ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0) << SDL_GetError();
        window = SDL_CreateWindow("input test", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, mode.w,
                                  mode.h, SDL_WINDOW_OPENGL | SDL_WINDOW_FULLSCREEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        context = SDL_GL_CreateContext(window);
        ASSERT_NE(context, nullptr) << SDL_GetError();
        harness::pinGlDriver();
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        ASSERT_TRUE(SDL_GetWindowWMInfo(window, &info))
            << SDL_GetError() << " (video driver " << SDL_GetCurrentVideoDriver() << ")";
        display = info.info.x11.display;
        xWindow = info.info.x11.window;
        settle();
    }

    void TearDown() override {
        input.reset();  // as in the application: devices go before the window
        if (context) SDL_GL_DeleteContext(context);
        if (window) SDL_DestroyWindow(window);
        SDL_Quit();
    }

    // Opens the devices and takes a first frame with the pointer inside the window.
    void openInput() {
        xErrorCount = 0;
        XErrorHandler previous = XSetErrorHandler(countXError);
        input->open(window);
        settle();
        if (lastOisDisplay()) XSync(lastOisDisplay(), False);
        XSetErrorHandler(previous);
        EXPECT_EQ(xErrorCount, 0);
        ASSERT_NE(input->mouse, nullptr);
        ASSERT_NE(input->keyboard, nullptr);
        xdotool("mousemove 100 100");
        frame();
    }

    // Lets the server deliver what xdotool sent, on every connection.
    void settle() {
        XSync(display, False);
        std::this_thread::sleep_for(kSettle);
        SDL_PumpEvents();
    }

    MouseSnapshot frame() {
        settle();
        const MouseSnapshot s = input->capture();
        input->keyboard->capture();
        return s;
    }

    bool waitForSdlEvent(bool (*wanted)(const SDL_Event&)) {
        for (int waited = 0; waited < kEventWaitMs; waited += 10) {
            SDL_Event event;
            while (SDL_PollEvent(&event))
                if (wanted(event)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    inline static std::unique_ptr<harness::Xvfb> server;
    inline static std::string previousDisplay;
    inline static Display* wm = nullptr;  // stands in for a window manager
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    Display* display = nullptr;
    Window xWindow = 0;
    std::unique_ptr<OisInput> input = std::make_unique<OisInput>();
};

}  // namespace

TEST_F(InputOnX11, OpensBothDevicesOnTheDecimalWindowIdWithoutGrabs) {
    std::multimap<std::string, std::string> params;
    ASSERT_EQ(shareWindowWithOis(window, params), "");
    const std::pair<std::string, std::string> wanted[] = {{"WINDOW", std::to_string(xWindow)},
                                                          {"x11_mouse_grab", "false"},
                                                          {"x11_mouse_hide", "false"},
                                                          {"x11_keyboard_grab", "false"}};
    for (const auto& [key, value] : wanted) {
        ASSERT_EQ(params.count(key), 1u) << key;
        EXPECT_EQ(params.find(key)->second, value) << key;
    }
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(display, xWindow, &attributes), 0);
    EXPECT_EQ(attributes.your_event_mask & ButtonPressMask, 0);
    EXPECT_NE(attributes.your_event_mask & KeyPressMask, 0) << "SDL must keep its keys";

    openInput();
    // Only the XOpenDisplay wrapper can have reached OIS's own connection.
    ASSERT_NE(lastOisDisplay(), nullptr);
    EXPECT_NE(lastOisDisplay(), display);
    Bool supported = False;
    EXPECT_TRUE(XkbGetDetectableAutoRepeat(lastOisDisplay(), &supported) && supported);
}

TEST_F(InputOnX11, MouseMotionBetweenCapturesIsRelative) {
    openInput();
    const std::tuple<const char*, int, int> moves[] = {
        {"130 90", 30, -10}, {"130 90", 0, 0}, {"120 120", -10, 30}};
    for (auto [to, dx, dy] : moves) {
        xdotool(std::string("mousemove ") + to);
        const MouseSnapshot s = frame();
        EXPECT_EQ(s.dx, dx) << to;
        EXPECT_EQ(s.dy, dy) << to;
    }
}

TEST_F(InputOnX11, HeldButtonPressesOnceAndReleasesOnce) {
    openInput();
    struct Button {
        const char* x11;
        bool MouseSnapshot::*down;
        bool MouseSnapshot::*pressed;
        bool MouseSnapshot::*released;
    };
    for (const Button& b :
         {Button{"1", &MouseSnapshot::leftDown, &MouseSnapshot::leftPressed, &MouseSnapshot::leftReleased},
          Button{"3", &MouseSnapshot::rightDown, &MouseSnapshot::rightPressed,
                 &MouseSnapshot::rightReleased}}) {
        SCOPED_TRACE(b.x11);
        int pressed = 0;
        int released = 0;
        xdotool(std::string("mousedown ") + b.x11);
        for (int i = 0; i < 5; ++i) {
            if (i == 3) xdotool(std::string("mouseup ") + b.x11);
            const MouseSnapshot s = frame();
            EXPECT_EQ(s.*b.down, i < 3) << i;
            EXPECT_EQ(s.leftDown + s.middleDown + s.rightDown, i < 3 ? 1 : 0) << i;
            pressed += s.*b.pressed;
            released += s.*b.released;
        }
        EXPECT_EQ(pressed, 1);
        EXPECT_EQ(released, 1);
    }
}

TEST_F(InputOnX11, OisSeesHeldKeyWhileSdlStillGetsEscapeAndClose) {
    openInput();
    EXPECT_FALSE(input->keyboard->isKeyDown(OIS::KC_A));
    xdotool("keydown a");
    for (int i = 0; i < 2; ++i) {
        frame();
        EXPECT_TRUE(input->keyboard->isKeyDown(OIS::KC_A)) << i;
    }
    xdotool("keyup a");
    frame();
    EXPECT_FALSE(input->keyboard->isKeyDown(OIS::KC_A));

    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    xdotool("key Escape");
    EXPECT_TRUE(waitForSdlEvent(
        [](const SDL_Event& e) { return e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE; }));

    // What a window manager sends when the user closes the window.
    XEvent close = {};
    close.xclient.type = ClientMessage;
    close.xclient.window = xWindow;
    close.xclient.message_type = XInternAtom(wm, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(wm, "WM_DELETE_WINDOW", False));
    XSendEvent(wm, xWindow, False, NoEventMask, &close);
    XSync(wm, False);
    EXPECT_TRUE(waitForSdlEvent([](const SDL_Event& e) { return e.type == SDL_QUIT; }));
}

TEST_F(InputOnX11, ClosingAfterTheWindowIsGoneKeepsTheProcess) {
    openInput();
    SDL_GL_DeleteContext(context);
    context = nullptr;
    SDL_DestroyWindow(window);
    window = nullptr;
    input.reset();  // would exit on BadWindow if OIS's errors reached Xlib's default handler
}

TEST(InputWithoutX11, OffscreenWindowRunsOnWithoutDevices) {
    SDL_Quit();  // an open shared GL test window would keep SDL on X11
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window* window = SDL_CreateWindow("offscreen", 0, 0, 64, 64, 0);
    ASSERT_NE(window, nullptr) << SDL_GetError();

    OisInput input;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    input.open(window);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    SDL_DestroyWindow(window);
    SDL_Quit();
    SDL_ResetHint(SDL_HINT_VIDEODRIVER);

    EXPECT_TRUE(input.mouse == nullptr && input.keyboard == nullptr);
    EXPECT_EQ(err, "");
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    EXPECT_EQ(input.capture().dx, 0);
}
