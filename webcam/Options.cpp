// The service's options: one table line and one case each.
#include "webcam/Options.h"

#include <cstdlib>
#include <cstring>

#include "tracker/CommandLine.h"
#include "tracker/Console.h"

namespace webcam {

const char* const kUsage =
    R"(usage: handview-camera [--camera N | --video FILE] [--port P | --stdout] [--landmarks lite|full]
                       [--preview] [--fixed-rest]
Watches a camera and serves the hands it sees as a hand-tracking service on
ws://127.0.0.1:P/v6.json, where the viewer finds it by itself.

  --camera N    /dev/videoN (default 0)
  --video FILE  a video file or an image sequence such as dir/%05d.jpg instead; served at its
                frame rate (30 for images) from its start once a client connects, over again
                at its end
  --port P      another port than 6437 (0: any free one)
  --stdout      every frame's message on standard output instead, one line each, as fast as it
                goes: a recording for HANDVIEW_REPLAY
  --landmarks full
                MediaPipe's larger landmark model instead of the lite one: about twice the
                CPU time a tracked frame
  --preview     a window showing what the camera sees and how the hand reads; reads at once,
                without waiting for a viewer; Escape or closing it ends the program
  --fixed-rest  the rest is a fixed place in the picture (the middle, 40 cm away) instead of
                where an open hand appears
  -V, --version the version of handview-camera and of its libraries
  -h, --help    this text
HANDVIEW_MODELS=DIR reads the hand models from DIR.
)";

namespace {

enum : int { kCamera = 256, kVideo, kPort, kStdout, kLandmarkModel, kPreview, kFixedRest };  // no short forms
const option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, 'V'},
                           {"camera", required_argument, nullptr, kCamera},
                           {"video", required_argument, nullptr, kVideo},
                           {"port", required_argument, nullptr, kPort},
                           {"stdout", no_argument, nullptr, kStdout},
                           {"landmarks", required_argument, nullptr, kLandmarkModel},
                           {"preview", no_argument, nullptr, kPreview},
                           {"fixed-rest", no_argument, nullptr, kFixedRest},
                           {nullptr, 0, nullptr, 0}};

// A number from 0 to `max`, digits only; else `error` names the option.
void number(const char* option, const char* text, int max, int& out, std::string& error) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || n > max)
        error = std::string(option) + " takes a number from 0 to " + std::to_string(max) + ", not " +
                Leap::printable(text, 40);
    else
        out = static_cast<int>(n);
}

}  // namespace

Options parseOptions(int argc, char** argv) {
    Options o;
    Leap::OptionsRead read;
    std::vector<const char*> operands;
    if (!Leap::readCommandLine(argc, argv, "hV", kOptions, read, operands, o.error)) return o;
    bool camera = false, port = false;
    for (const auto& [option, value] : read) {
        switch (option) {
            case 'h':
                o.help = true;
                break;
            case 'V':
                o.version = true;
                break;
            case kCamera:
                number("--camera", value, 9999, o.camera, o.error), camera = true;
                break;
            case kVideo:
                o.video = value;
                break;
            case kPort:
                number("--port", value, 65535, o.port, o.error), port = true;
                break;
            case kStdout:
                o.toStdout = true;
                break;
            case kPreview:
                o.preview = true;
                break;
            case kFixedRest:
                o.fixedRest = true;
                break;
            case kLandmarkModel:
                if (std::strcmp(value, "lite") != 0 && std::strcmp(value, "full") != 0)
                    o.error = "--landmarks takes lite or full, not " + Leap::printable(value, 40);
                o.models.landmarks = value[0] == 'f' ? ModelSize::full : ModelSize::lite;
                break;
        }
    }
    if (camera && o.video) o.error = "--camera and --video exclude each other";
    if (port && o.toStdout) o.error = "--port and --stdout exclude each other";
    if (!operands.empty()) o.error = "no arguments but options, not " + Leap::printable(operands[0], 40);
    return o;
}

}  // namespace webcam
