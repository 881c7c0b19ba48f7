// Process entry: reads the options and the one optional model, then one App on the stack; its run()
// is the exit code.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <assimp/version.h>

#include <cstdio>
#include <cstring>

#include "app/App.h"
#include "app/Options.h"
#include "tracker/Console.h"

namespace {
constexpr int kUsageError = 2;

void printVersion() {
    SDL_version sdl;
    SDL_GetVersion(&sdl);
    std::printf("handview %s\nAssimp %u.%u.%u, SDL %u.%u.%u\n", HANDVIEW_VERSION, aiGetVersionMajor(),
                aiGetVersionMinor(), aiGetVersionPatch(), sdl.major, sdl.minor, sdl.patch);
}
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// The address-space bound of a model's import cannot work under AddressSanitizer (its shadow
// alone spans terabytes), so its allocator bounds this build: an allocation over 8 GiB, or any
// once the process holds 8 GiB, fails (malloc returns null; new ends the run with a report).
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=8192:soft_rss_limit_mb=8192";
}
#endif

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (!options.error.empty()) {
        Leap::printConsoleLine(options.error + "; see handview --help");
        return kUsageError;
    }
    if (options.help || options.version) {
        options.help ? (void)std::fputs(kUsage, stdout) : printVersion();
        return 0;
    }
    // What SDL's main glue does on the platforms that need it.
    SDL_SetMainReady();
    App app;
    app.modelPath = options.model;
    app.windowWidth = options.windowWidth;
    app.windowHeight = options.windowHeight;
    app.modelUp = options.up;
    app.webcamOption = options.webcam;
    // With the webcam the user needs to see what it reads; without, the picture stays as it was.
    app.hud = options.hud ? std::strcmp(options.hud, "on") == 0 : options.webcam != nullptr;
    return app.run();
}
