// The window shows the desktop's icon for handview.
#pragma once

#include <SDL.h>

void setWindowIcon(SDL_Window* window);
