// A connection to a test's X server that survives X errors (windows may vanish while we look).
#pragma once

#include <X11/Xlib.h>
#include <stdexcept>
#include <string>

namespace harness {

class XDisplay {
public:
    explicit XDisplay(const std::string& name) {
        // Xlib's default handler exits the process on any error, e.g. BadWindow for a window
        // destroyed between listing and querying it; callers check results instead.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        display_ = XOpenDisplay(name.c_str());
        if (!display_) {
            throw std::runtime_error("cannot open X display " + name);
        }
    }
    ~XDisplay() { XCloseDisplay(display_); }
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    Display* get() const { return display_; }

private:
    Display* display_ = nullptr;
};

}  // namespace harness
