// Preloaded into the program: the desktop display mode cannot be read (or, with
// HANDVIEW_EMPTY_MODE set, reads as 0x0), as on a display server that refuses the query.
#include <SDL.h>

#include <cstdlib>

extern "C" int SDL_GetDesktopDisplayMode(int, SDL_DisplayMode* mode) {
    *mode = SDL_DisplayMode{};
    if (std::getenv("HANDVIEW_EMPTY_MODE") != nullptr) return 0;
    return SDL_SetError("no mode here");
}
