// Replays a file as a tracker source: a hand session or a recording of the service's stream, told
// apart by the file's first non-blank byte. The file is read as it plays: the window does not
// wait for it, and memory does not grow with its length.
#include <chrono>
#include <cmath>

#include "tracker/Console.h"
#include "tracker/FrameHistory.h"
#include "tracker/LineFile.h"
#include "tracker/Recording.h"
#include "tracker/SessionFormat.h"
#include "tracker/Source.h"

namespace Leap {

namespace {

// What one call reads at most: a file of skipped lines must not stall a frame.
constexpr uint64_t kReadAheadBytes = 256 * 1024;

class ReplaySource : public Source {
public:
    ReplaySource(std::string path, double stepMs) : path_(std::move(path)), stepMs_(stepMs) {}

    bool open() {
        std::string error;
        if (!file_.open(path_, error)) printConsoleLine("replay file " + path_ + " " + error);
        return error.empty();
    }

    bool isConnected() override {
        const int64_t now = clockMs(true);
        advance(now);
        // A frame that has just come is shown once, however far the clock went past the end.
        if (!ended_ && !reading_ && next_ == steps_.size() && now > endMs_ && !freshFrame_) {
            ended_ = true;
            printConsoleLine("the replay of " + path_ + " has ended");
        }
        freshFrame_ = false;
        return !ended_ && deviceReady_;
    }

    Frame frame(int history) override {
        const int64_t now = clockMs(false);
        advance(now);
        return history_.frame(history, now);
    }

private:
    // From the first call, not from construction: the program's start-up (window, shaders, a
    // large mesh) would otherwise eat the beginning of the replay.
    int64_t clockMs(bool poll) {
        const auto now = std::chrono::steady_clock::now();
        if (!started_) {
            start_ = now;
            started_ = true;
        } else if (poll) {
            ++polls_;
        }
        if (stepMs_ > 0) return static_cast<int64_t>(std::floor(double(polls_) * stepMs_ + 1e-6));
        return std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
    }

    // Takes the steps due by `nowMs`, reading on until one after it waits.
    void advance(int64_t nowMs) {
        const uint64_t start = file_.consumed();
        for (;;) {
            for (; next_ < steps_.size() && steps_[next_].atMs <= nowMs; ++next_) {
                const ReplayStep& step = steps_[next_];
                if (!step.frame.isValid()) {
                    deviceReady_ = step.deviceReady;
                    continue;
                }
                history_.push(step.frame, nowMs);
                freshFrame_ = true;
            }
            if (next_ < steps_.size() || !reading_ || file_.consumed() - start > kReadAheadBytes) return;
            steps_.clear();
            next_ = 0;
            readLine();
        }
    }

    void readLine() {
        std::string_view line;
        std::string error, warning;
        switch (file_.next(line, error)) {
            case LineFile::Read::line:
                if (!format_) {
                    const size_t first = line.find_first_not_of(" \t\r\v\f");
                    if (first == std::string_view::npos) return;
                    format_ = line[first] == '{' ? makeRecordingReader() : makeSessionReader();
                }
                if (format_->readLine(line, file_.number(), steps_, error)) return;
                error = "line " + std::to_string(file_.number()) + ": " + error;
                break;
            case LineFile::Read::end:
                reading_ = false;
                if (!format_) format_ = makeSessionReader();
                if (!format_->finish(steps_, endMs_, error, warning)) break;
                if (!warning.empty()) printConsoleLine("replay file " + path_ + ": " + warning);
                return;
            case LineFile::Read::failed:
                break;
        }
        // The replay stops here, where the file cannot go on.
        printConsoleLine("replay file " + path_ + " " + error);
        reading_ = false;
        ended_ = true;
        steps_.clear();
    }

    const std::string path_;
    const double stepMs_;
    LineFile file_;
    std::unique_ptr<ReplayFormat> format_;
    std::vector<ReplayStep> steps_;  // read, and from next_ on not due yet
    size_t next_ = 0;
    bool reading_ = true;
    int64_t endMs_ = 0;
    FrameHistory history_;
    bool freshFrame_ = false;  // since the last isConnected()
    bool deviceReady_ = true;
    bool ended_ = false;
    bool started_ = false;
    int64_t polls_ = 0;  // isConnected() calls after the first
    std::chrono::steady_clock::time_point start_;
};

}  // namespace

std::shared_ptr<Source> makeReplaySource(const std::string& path, double stepMs) {
    auto source = std::make_shared<ReplaySource>(path, stepMs);
    if (!source->open()) return makeNoDevice();
    return source;
}

}  // namespace Leap
