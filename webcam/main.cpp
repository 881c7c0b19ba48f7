// handview-camera: a webcam, a video or an image sequence as a hand-tracking service, serving the
// tracking protocol (version 6) that the viewer reads, or writing its frames as a recording.
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/core/utility.hpp>
#include <string>

#include "app/DataFiles.h"
#include "tracker/Console.h"
#include "tracker/Protocol.h"
#include "webcam/Capture.h"
#include "webcam/Console.h"
#include "webcam/ControllerSpace.h"
#include "webcam/FrameMessage.h"
#include "webcam/HandReader.h"
#include "webcam/Preview.h"
#include "webcam/TrackingServer.h"

namespace {

using namespace webcam;

constexpr const char* kUsage =
    "usage: handview-camera [--camera N | --video FILE] [--port P | --stdout] [--landmarks lite|full] "
    "[--preview] [--fixed-rest] [--help] [--version]";
constexpr const char* kHelp = R"(
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
  --version     the version of handview-camera and of its libraries
HANDVIEW_MODELS=DIR reads the hand models from DIR.
)";

std::atomic<bool> stopRequested{false};

extern "C" void requestStop(int) {
    stopRequested = true;
}

struct Options {
    int camera = 0;
    const char* video = nullptr;
    int port = Leap::kServicePort;  // where the viewer looks for a tracking service
    bool toStdout = false;
    bool preview = false;
    bool fixedRest = false;
    bool help = false;
    bool version = false;
    HandModels models;
};

bool number(const char* text, int max, int& out) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || n > max) return false;
    out = static_cast<int>(n);
    return true;
}

bool parse(int argc, char** argv, Options& o, std::string& error) {
    bool camera = false, port = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--help") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--stdout") {
            o.toStdout = true;
        } else if (a == "--preview" || a == "--fixed-rest") {
            (a == "--preview" ? o.preview : o.fixedRest) = true;
        } else if (a != "--camera" && a != "--video" && a != "--port" && a != "--landmarks") {
            error = "unknown option " + a;
            return false;
        } else if (!value) {
            error = a + " needs a value";
            return false;
        } else if ((a == "--camera" && !number(value, 9999, o.camera)) ||
                   (a == "--port" && !number(value, 65535, o.port))) {
            error = a + " needs a number, not " + value;
            return false;
        } else if (a == "--landmarks" && std::strcmp(value, "lite") != 0 && std::strcmp(value, "full") != 0) {
            error = "--landmarks takes lite or full, not " + std::string(value);
            return false;
        } else {
            if (a == "--landmarks") o.models.landmarks = value[0] == 'f' ? ModelSize::full : ModelSize::lite;
            if (a == "--video") o.video = value;
            camera |= a == "--camera";
            port |= a == "--port";
            ++i;
        }
    }
    if (camera && o.video) error = "--camera and --video exclude each other";
    if (port && o.toStdout) error = "--port and --stdout exclude each other";
    return error.empty();
}

// HANDVIEW_MODELS wins; then the source tree's, for a build-tree program; then the installed copy.
std::string modelDirectory() {
    const char* chosen = std::getenv("HANDVIEW_MODELS");
    if (chosen && *chosen) return chosen;
    struct stat status {};
    const std::string installed = installedDataDirectory();
    const bool source = HANDVIEW_MODELS_FROM_SOURCE && stat(HANDVIEW_WEBCAM_MODELS, &status) == 0 && S_ISDIR(status.st_mode);
    if (source || installed.empty())
        return HANDVIEW_WEBCAM_MODELS;
    return installed + "models";
}

// The libraries a bug report needs: OpenCV as loaded; XNNPACK as built, since it cannot say.
void printVersion() {
    std::printf("handview-camera %s\nOpenCV %s, XNNPACK %s (built with)\n", HANDVIEW_VERSION, cv::getVersionString().c_str(),
                HANDVIEW_XNNPACK_VERSION);
}
}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parse(argc, argv, o, error)) {
        consoleLine(error + " (" + kUsage + ")");
        return 1;
    }
    if (o.help) {
        std::printf("%s\n%s", kUsage, kHelp);
        return 0;
    }
    if (o.version) {
        printVersion();
        return 0;
    }
    // OpenCV and FFmpeg would explain each failure in lines of their own; one of ours says it.
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);

    auto capture = o.video ? Capture::openVideo(o.video, error) : Capture::openCamera(o.camera, error);
    if (!capture) {
        consoleLine(error);
        return 1;
    }
    std::unique_ptr<Preview> preview;
    if (o.preview && !(preview = Preview::open(!o.video, error))) {
        consoleLine(error);
        return 1;
    }
    // Greeting clients already while the models load: a viewer that connects meanwhile stays.
    TrackingServer server;
    if (!o.toStdout) {
        if (!server.listen(static_cast<unsigned short>(o.port), error)) {
            consoleLine(error);
            return 1;
        }
        server.start();
    }
    HandReader reader(modelDirectory(), o.models);
    if (!reader.error().empty()) {
        consoleLine("cannot load the hand models: " + reader.error());
        return 1;
    }
    if (!o.toStdout) consoleLine("serving " + Leap::localServiceUrl(server.port()));
    // Nobody watches yet, nor after the last client: the camera rests, released, its light off.
    // The preview is a watcher of its own.
    const bool rests = !o.toStdout && !preview;
    Leap::ConsoleLines<1> restLine(consoleLine);
    HandFilter filter;
    HandCentring centring;
    CameraFrame frame;
    int64_t id = 1;
    for (;;) {
        if (rests) {
            capture->stopLive();
            if (!server.waitForClient(stopRequested)) return 0;
            restLine.rearm();
        }
        if (!o.toStdout || !o.video) capture->startLive();
        PreviewStatus status(!o.video);  // its warnings go out with the frames
        int64_t dropped = capture->dropped();
        for (; capture->next(frame, stopRequested); ++id) {
            const int64_t start = nowUs();
            std::optional<ControllerHand> seen;
            const auto sighting = reader.read(frame.image);
            if (sighting) seen = toControllerSpace(*sighting, frame.image.cols, frame.image.rows);
            std::optional<ControllerHand> hand = filter.next(seen, frame.timestampUs);
            if (!o.fixedRest) hand = centring.next(hand, frame.timestampUs);
            const double readerMs = double(nowUs() - start) / 1e3;
            const int delivered = int(1 + capture->dropped() - dropped);
            dropped = capture->dropped();
            const PreviewFrame shown{frame.image, frame.timestampUs, delivered, readerMs, reader.lastView(), hand};
            status.add(shown);
            std::string message =
                frameMessage(id, frame.timestampUs, hand ? &*hand : nullptr, filter.handId(), status.warning());
            if (!o.toStdout) {
                server.send(std::move(message));
            } else if (std::printf("%s\n", message.c_str()) < 0 || std::fflush(stdout) != 0) {
                consoleLine("cannot write to standard output");
                return 1;
            }
            if (preview && !preview->show(shown)) return 0;
            if (rests && !server.watched()) break;
        }
        if (!rests || stopRequested) return 0;
        restLine.say(0, std::string("no client left: ") + (o.video ? "the video stops" : "the camera is closed") +
                            " until one connects");
    }
    return 0;
}
