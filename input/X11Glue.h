// What it takes for the OIS input library to share SDL's X11 window: the
// parameters it is opened with, and the room SDL has to make for it.
#pragma once

#include <functional>
#include <map>
#include <string>

struct SDL_Window;
typedef struct _XDisplay Display;

// Fills OIS's parameter list (an OIS::ParamList, spelt out to keep OIS out of
// this header) with "WINDOW" and the no-grab switches, and adjusts SDL's own
// selections on the window so OIS can select and receive its events.
// Returns empty text on success, otherwise why there is no X11 window.
std::string shareWindowWithOis(SDL_Window* window, std::multimap<std::string, std::string>& params);

// While one of these lives, every X connection the process opens belongs to
// OIS and gets detectable auto-repeat. Not nestable.
class OisConnectionScope {
public:
    OisConnectionScope();
    ~OisConnectionScope();
    OisConnectionScope(const OisConnectionScope&) = delete;
    OisConnectionScope& operator=(const OisConnectionScope&) = delete;
};

// Runs action with X errors dropped instead of ending the process. OIS resets
// the cursor on the window when closing its devices; if SDL has destroyed that
// window already, Xlib's default handler would exit on BadWindow.
void ignoringXErrors(const std::function<void()>& action);

// Called by the XOpenDisplay wrapper for every connection that opens.
void noteDisplayOpened(Display* display);

// The connection OIS opened last, during the latest opening (null if none
// reached the wrapper); valid while OIS's devices live.
Display* lastOisDisplay();
