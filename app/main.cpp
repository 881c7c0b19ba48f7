// Process entry: one App on the stack; its run() is the exit code.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include "app/App.h"

int main(int, char**) {
    // What SDL's main glue does on the platforms that need it.
    SDL_SetMainReady();
    App app;
    return app.run();
}
