// The icon's pixels are put into the executable at build time (64x64, RGBA, drawn from
// packaging/handview.svg), so the window has it wherever the program runs from.
#include "app/WindowIcon.h"

asm(".section .rodata\n"
    "windowIconPixels:\n"
    ".incbin \"" HANDVIEW_ICON_PIXELS
    "\"\n"
    "windowIconEnd:\n"
    ".previous\n");
extern "C" const unsigned char windowIconPixels[];
extern "C" const unsigned char windowIconEnd[];

namespace {
constexpr int kIconSide = 64;  // pixels
}  // namespace

void setWindowIcon(SDL_Window* window) {
    if (windowIconEnd - windowIconPixels != kIconSide * kIconSide * 4) return;
    // SDL copies the pixels into the window's property: the surface only lends them.
    SDL_Surface* icon =
        SDL_CreateRGBSurfaceWithFormatFrom(const_cast<unsigned char*>(windowIconPixels), kIconSide, kIconSide,
                                           32, kIconSide * 4, SDL_PIXELFORMAT_RGBA32);
    if (icon == nullptr) return;
    SDL_SetWindowIcon(window, icon);
    SDL_FreeSurface(icon);
}
