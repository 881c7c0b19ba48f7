// Process entry: reads the options and the one optional model, then one App on the stack; its run()
// is the exit code.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <assimp/version.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/App.h"

namespace {
constexpr const char* kUsage =
    "usage: handview [--windowed[=WxH]] [--webcam[=N|FILE]] [--hud[=off]] [MODEL]\n"
    "Shows MODEL, in any format the installed Assimp imports, fitted into view; without it,\n"
    "obj/shapes.obj from the working directory, else the installed default scene. Full screen at the\n"
    "desktop resolution; a hand-tracking controller steers it.\n"
    "  --windowed[=WxH]       a normal, resizable window, 1280x720 or W by H pixels; a model file\n"
    "                         dropped on it replaces the model\n"
    "  --webcam[=N|FILE]      the hand from a webcam: starts handview-camera for /dev/videoN (0), or\n"
    "                         serving the video FILE, and ends it on quitting; replaces HANDVIEW_TRACKER\n"
    "  --hud[=off]            the hand's state in a corner of the view; on by default with --webcam\n"
    "  --version              the version of handview and of its libraries\n"
    "  --help                 this text\n"
    "Environment:\n"
    "  HANDVIEW_TRACKER=none|ws://HOST:PORT/PATH   the tracking service (default ws://127.0.0.1:6437/v6.json)\n"
    "  HANDVIEW_REPLAY=FILE   replay a hand session or recording instead\n"
    "  HANDVIEW_FIXED_STEP_MS=N   a replay's frames N ms apart, whatever the frame rate\n"
    "  HANDVIEW_RECORD=FILE   record the live stream\n"
    "Keys: Escape quits. Three or more fingers fly the camera, one or two move the light.\n";
constexpr int kUsageError = 2;
constexpr int kDefaultWindowWidth = 1280;
constexpr int kDefaultWindowHeight = 720;
constexpr int kMaxWindowSide = 16384;  // pixels: beyond any GL viewport

struct Options {
    bool help = false;
    bool version = false;
    const char* model = nullptr;
    int windowWidth = 0;  // 0: full screen
    int windowHeight = 0;
    const char* webcam = nullptr;  // --webcam's value: "0" without one
    const char* hud = nullptr;     // --hud's value: "on" without one; null when not given
    std::string error;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// WxH, digits only.
bool windowSize(const char* text, int& width, int& height) {
    char* end = nullptr;
    const long w = std::strtol(text, &end, 10);
    if (!isDigit(text[0]) || *end != 'x' || !isDigit(end[1])) return false;
    const long h = std::strtol(end + 1, &end, 10);
    if (*end != '\0' || w < 1 || h < 1 || w > kMaxWindowSide || h > kMaxWindowSide) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

// `--name` alone gives `plain`, `--name=VALUE` gives VALUE; false for another option.
bool optionValue(const char* arg, const char* name, const char* plain, const char*& value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || (arg[n] != '\0' && arg[n] != '=')) return false;
    value = arg[n] == '=' ? arg + n + 1 : plain;
    return true;
}

Options parse(int argc, char** argv) {
    Options o;
    int models = 0;
    for (int i = 1; i < argc && o.error.empty(); ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) {
            o.help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            o.version = true;
        } else if (std::strcmp(arg, "--windowed") == 0) {
            o.windowWidth = kDefaultWindowWidth;
            o.windowHeight = kDefaultWindowHeight;
        } else if (std::strncmp(arg, "--windowed=", 11) == 0) {
            if (!windowSize(arg + 11, o.windowWidth, o.windowHeight))
                o.error = std::string(arg) + " is not a size such as 1280x720 (1 to 16384 pixels a side)";
        } else if (optionValue(arg, "--webcam", "0", o.webcam)) {
            if (!*o.webcam) o.error = "--webcam= needs a camera's number or a video file";
        } else if (optionValue(arg, "--hud", "on", o.hud)) {
            if (std::strcmp(o.hud, "on") != 0 && std::strcmp(o.hud, "off") != 0)
                o.error = std::string("--hud takes on or off, not ") + o.hud;
        } else if (arg[0] == '-') {
            o.error = std::string("unknown option ") + arg;
        } else if (++models == 1) {
            o.model = arg;
        }
    }
    if (o.error.empty() && models > 1) o.error = "one model at most, not " + std::to_string(models) + " arguments";
    return o;
}

void printVersion() {
    SDL_version sdl;
    SDL_GetVersion(&sdl);
    std::printf("handview %s\nAssimp %u.%u.%u, SDL %u.%u.%u\n", HANDVIEW_VERSION, aiGetVersionMajor(), aiGetVersionMinor(),
                aiGetVersionPatch(), sdl.major, sdl.minor, sdl.patch);
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
    const Options options = parse(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "handview: %s\n", options.error.c_str());
        std::fputs(kUsage, stderr);
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
    app.webcamOption = options.webcam;
    // With the webcam the user needs to see what it reads; without, the picture stays as it was.
    app.hud = options.hud ? std::strcmp(options.hud, "on") == 0 : options.webcam != nullptr;
    return app.run();
}
