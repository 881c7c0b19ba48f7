// A live source keeps only its newest frame: a camera queues frames inside the driver, and a reader
// that took them in turn would fall further behind with every slow frame.
#include "webcam/Capture.h"

#include <chrono>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>

#include "webcam/Console.h"

namespace webcam {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kStillFps = 30;  // an image sequence has no rate of its own
constexpr double kMaxFps = 240;
constexpr double kRetrySeconds = 1;

std::string deviceName(int index) {
    return "/dev/video" + std::to_string(index);
}

}  // namespace

int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

std::unique_ptr<Capture> Capture::openCamera(int index, std::string& error) {
    std::unique_ptr<Capture> c(new Capture);
    c->camera_ = index;
    std::error_code ignored;
    if (!std::filesystem::exists(deviceName(index), ignored)) {
        error = "no camera at " + deviceName(index);
        return nullptr;
    }
    if (!c->capture_.open(index, cv::CAP_V4L2)) {
        error = "cannot open the camera " + deviceName(index) + " (busy, or not a capture device)";
        return nullptr;
    }
    return c;
}

std::unique_ptr<Capture> Capture::openVideo(const std::string& path, std::string& error) {
    std::unique_ptr<Capture> c(new Capture);
    c->path_ = path;
    // A directory or a device would be taken for a stream and read forever, or block.
    std::error_code ignored;
    const bool sequence = path.find('%') != std::string::npos;
    if (!sequence && !std::filesystem::is_regular_file(path, ignored)) {
        error = "cannot open the video " + path + ": not a file";
        return nullptr;
    }
    // FFmpeg decodes a sequence in the first image's pixel format, garbling images of another.
    // GStreamer, OpenCV's other choice, probes USB devices for any file and leaks what it finds.
    c->api_ = sequence ? cv::CAP_IMAGES : cv::CAP_FFMPEG;
    if (!c->capture_.open(path, c->api_) || !c->capture_.read(c->first_) || c->first_.empty()) {
        error = "cannot open the video " + path + ": not a video or image sequence OpenCV can read";
        return nullptr;
    }
    // FFmpeg gives images a rate of 25 of its own.
    const double fps = c->capture_.get(cv::CAP_PROP_FPS);
    if (!sequence && !cv::haveImageReader(path) && fps >= 1 && fps <= kMaxFps)
        c->fps_ = fps;
    else
        c->fps_ = kStillFps;
    return c;
}

Capture::~Capture() {
    stopLive();
}

void Capture::startLive() {
    if (thread_.joinable()) return;
    ending_ = false;
    thread_ = std::thread([this] { camera_ >= 0 ? readCamera() : playVideo(); });
}

void Capture::stopLive() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    capture_.release();
    first_ = cv::Mat();
    taken_ = published_;
}

bool Capture::readVideo(cv::Mat& image) {
    if (!first_.empty()) {
        image = first_;
        first_ = cv::Mat();
        return true;
    }
    return capture_.read(image) && !image.empty();
}

bool Capture::next(CameraFrame& frame, const std::atomic<bool>& stop) {
    if (!thread_.joinable()) {
        if (stop || !readVideo(frame.image)) return false;
        frame.timestampUs = static_cast<int64_t>(static_cast<double>(frames_++) * 1e6 / fps_);
        return true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // A signal cannot wake a condition variable: look at `stop` now and then.
    while (published_ == taken_ && !stop) changed_.wait_for(lock, std::chrono::milliseconds(50));
    if (stop) return false;
    dropped_ += static_cast<int64_t>(published_ - taken_ - 1);
    taken_ = published_;
    frame = newest_;
    return true;
}

void Capture::publish(cv::Mat image) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        newest_ = {std::move(image), nowUs()};
        ++published_;
    }
    changed_.notify_all();
}

bool Capture::pause(double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return ending_; });
}

void Capture::readCamera() {
    bool lost = false;
    auto retry = Clock::now();
    if (!capture_.isOpened()) capture_.open(camera_, cv::CAP_V4L2);  // after a rest
    while (pause(0)) {
        cv::Mat image;  // a fresh one: the last is still being read
        if (capture_.read(image) && !image.empty()) {
            if (lost) consoleLine("the camera " + deviceName(camera_) + " is back");
            lost = false;
            publish(std::move(image));
            continue;
        }
        if (!lost) consoleLine("lost the camera " + deviceName(camera_) + "; trying again every second");
        lost = true;
        publish(cv::Mat());  // the viewer goes on hearing that there is no hand
        if (!pause(1 / kStillFps)) break;
        if (Clock::now() >= retry) {
            retry = Clock::now() +
                    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kRetrySeconds));
            capture_.release();
            capture_.open(camera_, cv::CAP_V4L2);
        }
    }
}

void Capture::playVideo() {
    const auto start = Clock::now();
    bool gone = false;
    for (int64_t n = 0;; ++n) {
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(static_cast<double>(n) / fps_));
        if (!pause(std::chrono::duration<double>(due - Clock::now()).count())) return;
        cv::Mat image;
        // At its end, over again from its start.
        const bool read = readVideo(image) || (capture_.open(path_, api_) && readVideo(image));
        if (!read && !gone)
            consoleLine("cannot read the video " + path_ + " any more; going on without a hand");
        gone |= !read;
        publish(std::move(image));
    }
}

}  // namespace webcam
