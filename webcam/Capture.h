// Frames from a camera (/dev/videoN) or a video file or image sequence, all through OpenCV's
// capture, so the service reads them alike.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <opencv2/videoio.hpp>
#include <string>
#include <thread>

namespace webcam {

struct CameraFrame {
    cv::Mat image;  // BGR; empty while the camera is gone
    int64_t timestampUs = 0;
};

class Capture {
public:
    // Null, with a one-line reason in `error`, when there is nothing to read.
    static std::unique_ptr<Capture> openCamera(int index, std::string& error);
    static std::unique_ptr<Capture> openVideo(const std::string& path, std::string& error);
    ~Capture();

    // From now on frames are read on a thread of their own: a camera's at its own rate, a video's
    // at its frame rate, over again from its start at its end. next() gives the newest frame, and
    // those it did not ask for in time are dropped, so a slow reader never falls behind.
    void startLive();
    // Reading ends and the device is released (a camera's light goes off); startLive() opens it
    // again, a video from its start.
    void stopLive();

    // Live: waits for a frame newer than the last one given; false once `stop` is set. Otherwise
    // the video's frames in order, timed by its frame rate; false at its end.
    bool next(CameraFrame& frame, const std::atomic<bool>& stop);

    int64_t dropped() const { return dropped_; }

private:
    Capture() = default;
    bool readVideo(cv::Mat& image);
    void readCamera();
    void playVideo();
    void publish(cv::Mat image);
    bool pause(double seconds);  // false once ending

    cv::VideoCapture capture_;
    int camera_ = -1;  // its number; -1 for a video
    std::string path_;
    int api_ = cv::CAP_FFMPEG;
    double fps_ = 30;
    cv::Mat first_;  // read at the opening to know the video is readable; given first
    int64_t frames_ = 0;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ending_ = false;
    CameraFrame newest_;
    uint64_t published_ = 0, taken_ = 0;
    int64_t dropped_ = 0;
};

// Microseconds on a clock that never steps back.
int64_t nowUs();

}  // namespace webcam
