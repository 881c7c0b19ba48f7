// handview-camera: a webcam, a video or an image sequence as a hand-tracking service, serving the
// tracking protocol (version 6) that the viewer reads, or writing its frames as a recording.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/core/utility.hpp>
#include <optional>
#include <string>
#include <utility>

#include "tracker/Console.h"
#include "tracker/DataFiles.h"
#include "tracker/Protocol.h"
#include "webcam/Capture.h"
#include "webcam/Console.h"
#include "webcam/ControllerSpace.h"
#include "webcam/HandCentring.h"
#include "webcam/HandFilter.h"
#include "webcam/FrameMessage.h"
#include "webcam/HandReader.h"
#include "webcam/Options.h"
#include "webcam/Preview.h"
#include "webcam/TrackingServer.h"

namespace {

using namespace webcam;

constexpr int kUsageError = 2;

std::atomic<bool> stopRequested{false};

extern "C" void requestStop(int) {
    stopRequested = true;
}

// HANDVIEW_MODELS wins; then the installed copy, for an installed program; else the source tree's.
std::string modelDirectory() {
    const char* chosen = std::getenv("HANDVIEW_MODELS");
    if (chosen && *chosen) return chosen;
    const std::string installed = installedDataDirectory();
    return installed.empty() ? HANDVIEW_WEBCAM_MODELS : installed + "models";
}

// The libraries a bug report needs: OpenCV as loaded; XNNPACK as built, since it cannot say.
void printVersion() {
    std::printf("handview-camera %s\nOpenCV %s, XNNPACK %s (built with)\n", HANDVIEW_VERSION,
                cv::getVersionString().c_str(), HANDVIEW_XNNPACK_VERSION);
}
}  // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    if (!o.error.empty()) {
        consoleLine(o.error + "; see handview-camera --help");
        return kUsageError;
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string error;
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
    bool saidRefusal = false, saidSkipped = false;
    int64_t id = 1;
    for (;;) {
        if (rests) {
            capture->stopLive();
            if (!server.waitForClient(stopRequested)) return 0;
            restLine.rearm();
        }
        if (!o.toStdout || !o.video) capture->startLive();
        PreviewStatus status(!o.video);  // its warnings go out with the frames; the preview shows it
        int64_t dropped = capture->dropped();
        // One frame read, served and shown; an exit code once the run is to end.
        const auto serve = [&]() -> std::optional<int> {
            const int64_t start = nowUs();
            std::optional<ControllerHand> seen;
            const auto sighting = reader.read(frame.image);
            if (!reader.refusal().empty() && !std::exchange(saidRefusal, true))
                consoleLine(reader.refusal() + "; such frames show no hand");
            if (sighting) seen = toControllerSpace(*sighting, frame.image.cols, frame.image.rows);
            std::optional<ControllerHand> hand = filter.next(seen, frame.timestampUs);
            if (!o.fixedRest) hand = centring.next(hand, frame.timestampUs);
            const double readerMs = double(nowUs() - start) / 1e3;
            const int delivered = int(1 + capture->dropped() - dropped);
            dropped = capture->dropped();
            const PreviewFrame shown{frame.image, frame.timestampUs, delivered,
                                     readerMs,    reader.lastView(), hand};
            status.add(shown);
            std::string message = frameMessage(id, frame.timestampUs, hand ? &*hand : nullptr,
                                               filter.handId(), status.warning());
            if (!o.toStdout) {
                server.send(std::move(message));
            } else if (std::printf("%s\n", message.c_str()) < 0 || std::fflush(stdout) != 0) {
                consoleLine("cannot write to standard output");
                return 1;
            }
            if (preview && !preview->show(shown, status)) return 0;
            return std::nullopt;
        };
        for (; capture->next(frame, stopRequested); ++id) {
            try {
                if (const auto end = serve()) return *end;
            } catch (const cv::Exception& e) {  // a picture no check here foresaw: the service goes on
                if (!std::exchange(saidSkipped, true))
                    consoleLine("skipped a frame that OpenCV cannot take (" + e.err +
                                "); others like it go without a line");
            }
            if (rests && !server.watched()) break;
        }
        if (!rests || stopRequested) return 0;
        restLine.say(0, std::string("no client left: ") +
                            (o.video ? "the video stops" : "the camera is closed") + " until one connects");
    }
    return 0;
}
