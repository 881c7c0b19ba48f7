// The child is read through a non-blocking pipe from the frame loop, so a slow or silent service
// never holds up a frame; between fork and exec only async-signal-safe calls are made.
#include "app/CameraChild.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "tracker/Address.h"
#include "tracker/Console.h"
#include "tracker/DataFiles.h"

namespace {
constexpr const char* kProgram = "handview-camera";
constexpr const char* kServing = "handview-camera: serving ";
constexpr size_t kMaxLineBytes = 4096;  // a longer line is passed on in pieces
constexpr size_t kShownBytes = 300;     // of a line, on the viewer's console
// It ends within a second as a rule; a busy machine, or a sanitizer's leak check at its exit, can
// take several.
constexpr auto kStopLimit = std::chrono::seconds(10);

bool executable(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string exitText(int status) {
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "exit code " + std::to_string(WEXITSTATUS(status));
}
}  // namespace

std::vector<std::string> webcamArguments(const std::string& value) {
    const bool camera =
        !value.empty() && value.size() <= 4 && value.find_first_not_of("0123456789") == std::string::npos;
    return {"--port", "0", camera ? "--camera" : "--video", value};
}

std::string announcedUrl(const std::string& line) {
    if (line.compare(0, std::strlen(kServing), kServing) != 0) return "";
    const std::string url = line.substr(std::strlen(kServing));
    Leap::Address ignored;
    return Leap::parseAddress(url, ignored) ? url : "";
}

std::string findProgram(const std::string& name, const std::string& beside, const char* path) {
    if (!beside.empty() && executable(beside + name)) return beside + name;
    const std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && executable(dir + "/" + name)) return dir + "/" + name;
        start = end + 1;
    }
    return "";
}

CameraChild::CameraChild(const std::string& program, std::vector<std::string> args) {
    if (program.empty()) {
        status_ = std::string(kProgram) + " is not installed: not beside handview, nor on PATH";
        Leap::printConsoleLine("cannot start the webcam: " + status_ + "; running without hands");
        return;
    }
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string cannotRun =
        std::string(kProgram) + ": cannot be run: " + Leap::printable(program, kShownBytes) + "\n";

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        status_ = std::string("cannot start the webcam: ") + std::strerror(errno);
        Leap::printConsoleLine(status_ + "; running without hands");
        return;
    }
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Killed or crashed, the viewer takes its camera with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);  // gone already
        dup2(pipeEnds[1], STDERR_FILENO);
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing >= 0) dup2(nothing, STDIN_FILENO);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGINT, SIGTERM, SIGPIPE}) signal(s, SIG_DFL);
        execv(program.c_str(), argv.data());
        if (write(STDERR_FILENO, cannotRun.data(), cannotRun.size()) < 0) _exit(127);
        _exit(127);
    }
    close(pipeEnds[1]);
    if (pid_ < 0) {
        close(pipeEnds[0]);
        status_ = std::string("cannot start the webcam: ") + std::strerror(errno);
        Leap::printConsoleLine(status_ + "; running without hands");
        return;
    }
    output_ = pipeEnds[0];
    fcntl(output_, F_SETFL, O_NONBLOCK);
}

CameraChild::~CameraChild() {
    if (running()) {
        kill(pid_, SIGTERM);
        const auto limit = std::chrono::steady_clock::now() + kStopLimit;
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            Leap::printConsoleLine(std::string(kProgram) + " did not end cleanly: " + exitText(status));
    }
    if (output_ >= 0) close(output_);
}

void CameraChild::poll() {
    if (output_ < 0) return;
    drain();
    int status = 0;
    if (running() && waitpid(pid_, &status, WNOHANG) == pid_) ended(status);
}

bool CameraChild::drain() {
    char buffer[4096];
    ssize_t n;
    while ((n = read(output_, buffer, sizeof buffer)) > 0) pending_.append(buffer, size_t(n));
    for (size_t end; (end = pending_.find('\n')) != std::string::npos || pending_.size() >= kMaxLineBytes;) {
        const size_t length = std::min(end, kMaxLineBytes);
        said(pending_.substr(0, length));
        pending_.erase(0, end == length ? end + 1 : length);
    }
    return n == 0;
}

void CameraChild::said(const std::string& line) {
    std::fprintf(stderr, "%s\n", Leap::printable(line, kShownBytes).c_str());
    if (url_.empty() && !(url_ = announcedUrl(line)).empty()) return;
    const std::string prefix = std::string(kProgram) + ": ";
    reason_ = line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line;
}

void CameraChild::ended(int waitStatus) {
    pid_ = -1;
    // Its last words are in the pipe already; a last line without its end counts too.
    if (drain() && !pending_.empty()) said(std::exchange(pending_, std::string()));
    close(output_);
    output_ = -1;
    if (reason_.empty()) {
        reason_ = std::string(kProgram) + " ended (" + exitText(waitStatus) + ")";
        Leap::printConsoleLine(reason_ + "; running without hands");
    }
    status_ = Leap::printable(reason_, kShownBytes);
}

std::string CameraChild::status() const {
    if (!status_.empty()) return status_;
    return url_.empty() ? "the webcam is starting" : "connecting to the webcam";
}

WebcamSource::WebcamSource(const std::string& value, const char* recordPath)
    : child_(findProgram(kProgram, executableDirectory(), std::getenv("PATH")), webcamArguments(value)),
      recordPath_(recordPath ? recordPath : "") {}

void WebcamSource::advance() {
    child_.poll();
    if (!child_.running()) {
        live_.reset();  // no retries at a port nobody serves
    } else if (!live_ && !child_.url().empty()) {
        Leap::Address address;
        Leap::parseAddress(child_.url(), address);
        live_ = Leap::makeLiveSource(child_.url(), address, true, recordPath_.c_str());
    }
}

bool WebcamSource::isConnected() {
    advance();
    return live_ && live_->isConnected();
}

// The child is polled once a pass, in isConnected(), which the frame step asks first.
Leap::Frame WebcamSource::frame(int history) {
    return live_ ? live_->frame(history) : Leap::Frame();
}
