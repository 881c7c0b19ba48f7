// Preloaded into the program: the desktop display mode cannot be read, though the call leaves a
// plausible mode behind (or, with HANDVIEW_EMPTY_MODE set, it "succeeds" with a 0x0 mode).
#include <SDL.h>

#include <cstdlib>

extern "C" int SDL_GetDesktopDisplayMode(int, SDL_DisplayMode* mode) {
    *mode = SDL_DisplayMode{0, std::getenv("HANDVIEW_EMPTY_MODE") ? 0 : 640, 480, 60, nullptr};
    return mode->w == 0 ? 0 : SDL_SetError("no mode here");
}
