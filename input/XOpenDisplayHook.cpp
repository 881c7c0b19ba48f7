// Wraps XOpenDisplay so the input glue sees the X connections that OIS opens
// for itself. Lives in the executable, which X11's callers resolve to first.
#include "input/X11Glue.h"

#include <X11/Xlib.h>
#include <dlfcn.h>

extern "C" Display* XOpenDisplay(const char* name) {
    using OpenDisplay = Display* (*)(const char*);
    static const OpenDisplay real = reinterpret_cast<OpenDisplay>(dlsym(RTLD_NEXT, "XOpenDisplay"));
    if (!real) {
        return nullptr;
    }
    Display* display = real(name);
    noteDisplayOpened(display);
    return display;
}
