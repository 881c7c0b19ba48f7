// The viewer's options: one table line and one case each.
#include "app/Options.h"

#include <cstdlib>
#include <cstring>

#include "tracker/CommandLine.h"
#include "tracker/Console.h"

const char* const kUsage =
    "usage: handview [--windowed[=WxH]] [--up=+y|+z] [--webcam[=N|FILE]] [--hud[=off]] [MODEL]\n"
    "Shows MODEL, in any format the installed Assimp imports, fitted into view; without it, the\n"
    "default scene. Full screen at the desktop resolution; a hand-tracking controller steers it.\n"
    "  --windowed[=WxH]       a normal, resizable window, 1280x720 or W by H pixels; a model file\n"
    "                         dropped on it replaces the model\n"
    "  --up=+y|+z             which axis is up in MODEL (default: what the file declares, else +y)\n"
    "  --webcam[=N|FILE]      the hand from a webcam: starts handview-camera for /dev/videoN (0), or\n"
    "                         serving the video FILE, and ends it on quitting; replaces HANDVIEW_TRACKER\n"
    "  --hud[=off]            the hand's state in a corner of the view; on by default with --webcam\n"
    "  -V, --version          the version of handview and of its libraries\n"
    "  -h, --help             this text\n"
    "Environment:\n"
    "  HANDVIEW_TRACKER=none|ws://HOST:PORT/PATH   the tracking service (default ws://127.0.0.1:6437/v6.json)\n"
    "  HANDVIEW_REPLAY=FILE   replay a hand session or recording instead\n"
    "  HANDVIEW_FIXED_STEP_MS=N   a replay's frames N ms apart, whatever the frame rate\n"
    "  HANDVIEW_RECORD=FILE   record the live stream\n"
    "Keys: Escape quits. Three or more fingers fly the camera, one or two move the light.\n";

namespace {
constexpr int kDefaultWindowWidth = 1280;
constexpr int kDefaultWindowHeight = 720;
constexpr int kMaxWindowSide = 16384;  // pixels: beyond any GL viewport

enum : int { kWindowed = 256, kUp, kWebcam, kHud };  // long options without a short form
const option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, 'V'},
                           {"windowed", optional_argument, nullptr, kWindowed},
                           {"up", required_argument, nullptr, kUp},
                           {"webcam", optional_argument, nullptr, kWebcam},
                           {"hud", optional_argument, nullptr, kHud},
                           {nullptr, 0, nullptr, 0}};

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
}  // namespace

Options parseOptions(int argc, char** argv) {
    Options o;
    Leap::OptionsRead read;
    std::vector<const char*> operands;
    if (!Leap::readCommandLine(argc, argv, "hV", kOptions, read, operands, o.error)) return o;
    for (const auto& [option, value] : read) {
        switch (option) {
            case 'h':
                o.help = true;
                break;
            case 'V':
                o.version = true;
                break;
            case kWindowed:
                o.windowWidth = kDefaultWindowWidth;
                o.windowHeight = kDefaultWindowHeight;
                if (value && !windowSize(value, o.windowWidth, o.windowHeight))
                    o.error = "--windowed=" + Leap::printable(value, 40) +
                              " is not a size such as 1280x720 (1 to 16384 pixels a side)";
                break;
            case kUp:
                if (!parseModelUp(value, o.up))
                    o.error = "--up takes +y or +z, not " + Leap::printable(value, 40);
                break;
            case kWebcam:
                o.webcam = value ? value : "0";
                if (!*o.webcam) o.error = "--webcam= needs a camera's number or a video file";
                break;
            case kHud:
                o.hud = value ? value : "on";
                if (std::strcmp(o.hud, "on") != 0 && std::strcmp(o.hud, "off") != 0)
                    o.error = "--hud takes on or off, not " + Leap::printable(o.hud, 40);
                break;
        }
    }
    if (o.error.empty() && operands.size() > 1)
        o.error = "one model at most, not " + std::to_string(operands.size());
    if (operands.size() == 1) o.model = operands[0];
    return o;
}
