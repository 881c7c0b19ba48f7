// What the camera sees, in a window of its own: the picture mirrored as the user sees themself, the
// hand's 21 landmarks and the crop the reader read them in, the reading as the viewer will take it,
// the camera's rate and the reader's cost, and a warning line that says what to do when a hand
// cannot be read.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "webcam/ControllerSpace.h"
#include "webcam/HandReader.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace webcam {

// One camera frame as the preview shows it.
struct PreviewFrame {
    cv::Mat picture;  // BGR, as the camera gave it; empty while the camera is gone
    int64_t timestampUs = 0;
    int delivered = 1;  // frames the camera gave since the last one shown, dropped ones included
    double readerMs = 0;
    std::optional<ReaderView> view;      // the reader's crop and landmarks
    std::optional<ControllerHand> hand;  // as it is served
};

// The status and warning lines, from the frames so far.
class PreviewStatus {
public:
    explicit PreviewStatus(bool camera = true) : camera_(camera) {}
    void add(const PreviewFrame& frame);
    std::string reading() const;  // as the viewer takes it: "fly, 5 fingers"
    std::string rates() const;    // the camera's frames a second and the reader's cost
    std::string warning() const;  // "" while all is well

private:
    double cameraFps() const;  // over the last 2 s

    struct Sample {
        int64_t us;
        int delivered;
        double readerMs;
    };
    bool camera_;  // a video's rate is its own: only a camera's is warned of
    std::deque<Sample> recent_;
    int fingers_ = -1;  // -1: no hand
    bool picture_ = false;
    double brightness_ = 0;
    std::optional<int64_t> firstUs_, handUs_;
};

class Preview {
public:
    // Null, with a one-line reason, when no window can be opened. `camera`: the frames come from one.
    static std::unique_ptr<Preview> open(bool camera, std::string& error);
    ~Preview();
    Preview(const Preview&) = delete;
    Preview& operator=(const Preview&) = delete;

    // With what the service makes of the stream so far, which also goes out with the frames. False
    // once the window is closed or Escape is pressed.
    bool show(const PreviewFrame& frame, const PreviewStatus& status);

private:
    Preview() = default;
    bool present(const cv::Mat& canvas);

    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    cv::Size size_;               // the window's
    cv::Size picture_{640, 480};  // the last picture's, kept while the camera is gone
};

}  // namespace webcam
