// Process entry: reads the one optional argument, then one App on the stack; its run() is the exit code.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "app/App.h"

namespace {
constexpr const char* kUsage =
    "usage: handview [MODEL]\n"
    "Shows MODEL, in any format the installed Assimp imports, fitted into view; without it,\n"
    "obj/shapes.obj from the working directory. Full screen; a hand-tracking controller steers it.\n"
    "  --help                 this text\n"
    "Environment:\n"
    "  HANDVIEW_TRACKER=none|ws://HOST:PORT/PATH   the tracking service (default ws://127.0.0.1:6437/v6.json)\n"
    "  HANDVIEW_REPLAY=FILE   replay a hand session or recording instead\n"
    "  HANDVIEW_FIXED_STEP_MS=N   a replay's frames N ms apart, whatever the frame rate\n"
    "  HANDVIEW_RECORD=FILE   record the live stream\n"
    "Keys: Escape quits. Three or more fingers fly the camera, one or two move the light.\n";
constexpr int kUsageError = 2;
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
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        if (argc > 2)
            std::fprintf(stderr, "handview: one model at most, not %d arguments\n", argc - 1);
        else
            std::fprintf(stderr, "handview: unknown option %s\n", argv[1]);
        std::fputs(kUsage, stderr);
        return kUsageError;
    }
    // What SDL's main glue does on the platforms that need it.
    SDL_SetMainReady();
    App app;
    if (argc == 2) app.modelPath = argv[1];
    return app.run();
}
