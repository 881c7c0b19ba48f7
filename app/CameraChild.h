// handview-camera as the viewer's child (`handview --webcam`): started on a free port, its console
// passed on, the address it announces read and served to the hand control. It ends with the viewer,
// and by itself when the viewer is killed (the kernel's parent-death signal).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tracker/Source.h"

// handview-camera's arguments for --webcam's value: digits name a camera, anything else a video.
std::vector<std::string> webcamArguments(const std::string& value);
// The address in the service's "handview-camera: serving URL" line; "" for any other line.
std::string announcedUrl(const std::string& line);
// `name` in `beside` (a directory with its slash), else in a directory of `path` (PATH's form);
// "" when it is nowhere executable.
std::string findProgram(const std::string& name, const std::string& beside, const char* path);

class CameraChild {
public:
    // Starts `program` (found by findProgram; "": not found) with `args` at once, without waiting
    // for it; a failure is one console line and the status.
    CameraChild(const std::string& program, std::vector<std::string> args);
    // Asks it to end and waits for it (killed if it lingers); says so when it did not end with 0.
    ~CameraChild();
    CameraChild(const CameraChild&) = delete;
    CameraChild& operator=(const CameraChild&) = delete;

    // Takes what it said since the last call and notices its end. Never waits.
    void poll();
    const std::string& url() const { return url_; }  // "" until announced
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // What the screen says while it gives no hands: why, once it could not start or has ended.
    std::string status() const;

private:
    bool drain();  // passes on the whole lines it said; true at the pipe's end
    void said(const std::string& line);
    void ended(int waitStatus);

    pid_t pid_ = -1;
    int output_ = -1;  // its standard error
    std::string pending_, url_, reason_, status_;
};

// The hand control's source under --webcam: the child's stream once it serves; nothing before,
// nothing after it has ended.
class WebcamSource : public Leap::Source {
public:
    explicit WebcamSource(const std::string& value, const char* recordPath = nullptr);
    bool isConnected() override;
    Leap::Frame frame(int history) override;
    CameraChild& child() { return child_; }

private:
    void advance();

    CameraChild child_;
    std::string recordPath_;
    std::shared_ptr<Leap::Source> live_;
};
