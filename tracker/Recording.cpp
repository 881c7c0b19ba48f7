// The recording format, written and read.
#include "tracker/Recording.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tracker/Console.h"
#include "tracker/FrameDecoding.h"

namespace Leap {

namespace {

constexpr int kFinalDrainMs = 1000;       // for the end of a line still waiting at the end
constexpr int64_t kMaxJumpUs = 10000000;  // a device clock never leaps 10 s between frames

// A target whose reader went away must end the recording, not the program: SIGPIPE is held back
// for this thread around the write, and one it raised is taken.
ssize_t writeWithoutSigpipe(int fd, std::string_view bytes) {
    sigset_t pipe, old, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE);
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    const int error = errno;
    const timespec zero{};
    if (n < 0 && error == EPIPE && !alreadyPending) sigtimedwait(&pipe, nullptr, &zero);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
}

class RecordingReader : public ReplayFormat {
public:
    bool readLine(std::string_view line, int number, std::vector<ReplayStep>& out, std::string&) override {
        if (line.find_first_not_of(" \t\r\v\f") == std::string_view::npos) return true;
        Message m = decodeMessage(line);
        switch (m.kind) {
            case Message::Kind::bad:
                skip(number, m.problem);
                break;
            case Message::Kind::version:
                newBase_ = true;
                break;
            case Message::Kind::deviceEvent:
                // Events carry no time: the device goes after the frame before, comes back with
                // the frame after, and may have restarted its clock meanwhile.
                if (!m.deviceReady) out.push_back({lastAtMs_ + 1, Frame(), false});
                backAfterEvent_ = m.deviceReady;
                afterEvent_ = true;
                break;
            case Message::Kind::other:
                break;
            case Message::Kind::frame: {
                const bool backwards = frames_ > 0 && m.timestampUs <= lastUs_;
                if (backwards && !newBase_ && !afterEvent_) {
                    skip(number, "timestamp not after the previous one");
                    break;
                }
                if (frames_ == 0 || newBase_ || backwards || m.timestampUs - lastUs_ > kMaxJumpUs) {
                    baseUs_ = m.timestampUs;
                    baseAtMs_ = frames_ > 0 ? lastAtMs_ + 1 : 0;
                }
                ++frames_;
                lastUs_ = m.timestampUs;
                lastAtMs_ = baseAtMs_ + (m.timestampUs - baseUs_) / 1000;
                if (backAfterEvent_) out.push_back({lastAtMs_, Frame(), true});
                out.push_back({lastAtMs_, toFrame(std::move(m), baseUs_)});
                newBase_ = afterEvent_ = backAfterEvent_ = false;
                break;
            }
        }
        return true;
    }

    bool finish(std::vector<ReplayStep>&, int64_t& endMs, std::string& error, std::string& warning) override {
        if (skipped_ > 0)
            warning = "skipped " + std::to_string(skipped_) + (skipped_ == 1 ? " line" : " lines") +
                      ", the first line " + std::to_string(firstSkipped_) + ": " + firstProblem_;
        if (frames_ == 0) error = "holds no frame" + (warning.empty() ? "" : " (" + warning + ")");
        endMs = lastAtMs_;
        return frames_ > 0;
    }

private:
    void skip(int number, const std::string& problem) {
        if (skipped_++ == 0) {
            firstSkipped_ = number;
            firstProblem_ = problem;
        }
    }

    long frames_ = 0;
    bool newBase_ = false;         // a greeting came: the next frame starts a new connection
    bool afterEvent_ = false;      // a device event came since the last frame
    bool backAfterEvent_ = false;  // ... and the device is back
    int64_t baseUs_ = 0;           // device time of the first frame of this time base
    int64_t baseAtMs_ = 0;         // ... and its replay time
    int64_t lastUs_ = 0;
    int64_t lastAtMs_ = 0;
    long skipped_ = 0;
    int firstSkipped_ = 0;
    std::string firstProblem_;
};

}  // namespace

Recorder::Recorder(const char* path) {
    if (!path || !*path) return;
    path_ = path;
    // Non-blocking: a named pipe nobody reads must not stall the frame.
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        stop(std::strerror(errno));
    else
        regular_ = S_ISREG(st.st_mode);
}

Recorder::~Recorder() {
    pollfd target{fd_, POLLOUT, 0};
    while (fd_ >= 0 && !flush() && ::poll(&target, 1, kFinalDrainMs) > 0) {
    }
    if (skipped_ > 0)
        printConsoleLine("recording to " + path_ + " skipped " + std::to_string(skipped_) +
                         " frames its reader was not ready for");
    if (fd_ >= 0) ::close(fd_);
}

void Recorder::write(std::string_view message) {
    if (fd_ < 0) return;
    if (!flush()) {
        skipped_ += fd_ >= 0;
        return;
    }
    // A message is JSON: a line break in it can only be white space.
    waiting_.assign(message);
    for (char& c : waiting_)
        if (c == '\n' || c == '\r') c = ' ';
    waiting_ += '\n';
    lineBytes_ = waiting_.size();
    if (!flush() && waiting_.size() == lineBytes_ && fd_ >= 0) {
        waiting_.clear();  // nothing of it went out: skipped whole
        ++skipped_;
    }
}

bool Recorder::flush() {
    while (fd_ >= 0 && !waiting_.empty()) {
        const ssize_t n = writeWithoutSigpipe(fd_, waiting_);
        if (n > 0) {
            waiting_.erase(0, static_cast<size_t>(n));
        } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            return false;
        } else if (errno != EINTR) {
            stop(std::strerror(errno));
        }
    }
    return fd_ >= 0;
}

void Recorder::stop(const std::string& why) {
    printConsoleLine("cannot record to " + path_ + ": " + why + "; recording stopped");
    // A full disk may have taken the start of a line: the file keeps whole lines only.
    if (fd_ >= 0 && regular_ && !waiting_.empty()) {
        const off_t lineStart = ::lseek(fd_, 0, SEEK_CUR) - static_cast<off_t>(lineBytes_ - waiting_.size());
        [[maybe_unused]] const int failed = ::ftruncate(fd_, lineStart);  // nothing more to do then
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    waiting_.clear();
}

std::unique_ptr<ReplayFormat> makeRecordingReader() {
    return std::make_unique<RecordingReader>();
}

}  // namespace Leap
