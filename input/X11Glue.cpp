// Platform glue between SDL2 and the OIS input library on X11. Each step below
// fixes a failure measured with OIS on an SDL window; the reasons sit with them.
#include "input/X11Glue.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <sstream>

namespace {

bool oisIsOpening = false;
Display* latestOisDisplay = nullptr;

// X lets only one client select ButtonPress on a window, and SDL already has:
// OIS selecting it too dies with BadAccess (X_ChangeWindowAttributes). SDL
// needs no mouse buttons here, so it gives that selection up.
void releaseButtonPress(Display* display, Window window) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) != 0) {
        XSelectInput(display, window, attributes.your_event_mask & ~ButtonPressMask);
    }
}

// SDL selects XInput2 events on its window, and the server then delivers
// pointer motion as XI2 only; OIS listens for core events and would see none.
void clearXi2Selection(Display* display, Window window) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XIEventMask none;
    none.deviceid = XIAllMasterDevices;
    none.mask_len = sizeof bits;
    none.mask = bits;
    XISelectEvents(display, window, &none, 1);
}

}  // namespace

std::string shareWindowWithOis(SDL_Window* window, std::multimap<std::string, std::string>& params) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info)) {
        return std::string("no native window: ") + SDL_GetError();
    }
    if (info.subsystem != SDL_SYSWM_X11) {
        return "the window is not an X11 window";
    }
    Display* display = info.info.x11.display;
    const Window handle = info.info.x11.window;

    std::ostringstream decimal;
    decimal << handle;
    params.insert({"WINDOW", decimal.str()});
    // The X11 side of "foreground, non-exclusive": no grabs, pointer stays
    // visible. OIS honours only the exact text "false".
    params.insert({"x11_mouse_grab", "false"});
    params.insert({"x11_mouse_hide", "false"});
    params.insert({"x11_keyboard_grab", "false"});

    releaseButtonPress(display, handle);
    clearXi2Selection(display, handle);
    // OIS changes the window from its own connection; ours must reach the server first.
    XSync(display, False);
    return {};
}

OisConnectionScope::OisConnectionScope() {
    oisIsOpening = true;
    latestOisDisplay = nullptr;
}

OisConnectionScope::~OisConnectionScope() {
    oisIsOpening = false;
}

// Without a keyboard grab the server sends OIS's connection a release just
// before each press, and OIS drops that pair as auto-repeat: no key ever
// shows as down. Detectable auto-repeat stops the fake releases; it is set per
// connection, and OIS keeps its connection to itself, hence the wrapper of
// XOpenDisplay that brings each new one here.
void noteDisplayOpened(Display* display) {
    if (!oisIsOpening || !display) {
        return;
    }
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display, True, &supported);
    latestOisDisplay = display;
}

void ignoringXErrors(const std::function<void()>& action) {
    const XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    action();
    XSetErrorHandler(previous);
}

Display* lastOisDisplay() {
    return latestOisDisplay;
}
