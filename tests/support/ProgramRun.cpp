// Child processes for the end-to-end tests: the X server, the program under test and xdotool.
#include "support/ProgramRun.h"

#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) break it

#include "support/XDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <stdexcept>

extern char** environ;

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr Seconds kXvfbStopTimeout{5.0};
constexpr Seconds kOutputDrainTimeout{5.0};
constexpr Seconds kToolTimeout{10.0};
constexpr int kSpawnFailedCode = 127;

// Inherited values that would steer the child somewhere else than the test intends.
const std::array<const char*, 4> kStrippedEnv = {"DISPLAY", "SDL_VIDEODRIVER", "HANDVIEW_REPLAY",
                                                 "WAYLAND_DISPLAY"};

Clock::time_point deadlineAfter(Seconds timeout) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string findInPath(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= dirs.size()) {
        size_t end = dirs.find(':', begin);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::filesystem::path candidate = std::filesystem::path(dirs.substr(begin, end - begin)) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        begin = end + 1;
    }
    return name;
}

// The test's own environment with `unset` removed and `set` added.
std::vector<std::string> childEnvironment(const std::vector<std::string>& unset,
                                          const std::map<std::string, std::string>& set) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const std::string& name : unset) {
        variables.erase(name);
    }
    for (const auto& [name, value] : set) {
        variables[name] = value;
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : variables) {
        result.push_back(name + "=" + value);
    }
    return result;
}

// What the child's descriptors 0, 1, 2 (and 3 when given) become.
struct ChildFds {
    int in;
    int out;
    int err;
    int extra = -1;
};

// fork + exec; between the two only async-signal-safe calls, since the test process has threads.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::filesystem::path& dir, ChildFds fds) {
    std::vector<char*> argvPtrs;
    for (const std::string& arg : argv) {
        argvPtrs.push_back(const_cast<char*>(arg.c_str()));
    }
    argvPtrs.push_back(nullptr);
    std::vector<char*> envPtrs;
    for (const std::string& entry : env) {
        envPtrs.push_back(const_cast<char*>(entry.c_str()));
    }
    envPtrs.push_back(nullptr);
    const std::string binary = findInPath(argv.at(0));
    const std::string dirText = dir.string();
    const pid_t parent = getpid();
    static const char kExecFailed[] = "harness: cannot start the program\n";

    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    // Own process group, so a forced kill reaches anything the child started; and die with the
    // thread that started it (the test's), so a crashed test leaves no X server behind.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(kSpawnFailedCode);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);

    // Move the sources out of the way first: any of them may itself be 0..3.
    constexpr int kHighFd = 100;
    const int sources[] = {fds.in, fds.out, fds.err, fds.extra};
    int moved[4];
    for (int i = 0; i < 4; ++i) {
        moved[i] = sources[i] < 0 ? -1 : fcntl(sources[i], F_DUPFD, kHighFd + i);
    }
    for (int i = 0; i < 4; ++i) {
        if (moved[i] >= 0) {
            dup2(moved[i], i);
        }
    }
    close_range(fds.extra < 0 ? 3 : 4, ~0U, 0);
    if (!dirText.empty() && chdir(dirText.c_str()) != 0) {
        _exit(kSpawnFailedCode);
    }
    execve(binary.c_str(), argvPtrs.data(), envPtrs.data());
    ssize_t ignored = write(2, kExecFailed, sizeof kExecFailed - 1);
    (void)ignored;
    _exit(kSpawnFailedCode);
}

void makePipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(systemError("pipe"));
    }
}

void closeFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

std::optional<int> exitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return std::nullopt;
}

// Writing to a child that has ended must fail with EPIPE, not kill the test.
void ignoreSigpipe() {
    static std::once_flag once;
    std::call_once(once, [] { ::signal(SIGPIPE, SIG_IGN); });
}

std::optional<std::string> windowTitle(Display* display, Window window) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        std::string title = name;
        XFree(name);
        return title;
    }
    XTextProperty property{};
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    if (XGetTextProperty(display, window, &property, netWmName) && property.value) {
        std::string title(reinterpret_cast<char*>(property.value), property.nitems);
        XFree(property.value);
        return title;
    }
    return std::nullopt;
}

std::optional<pid_t> windowPid(Display* display, Window window) {
    const Atom netWmPid = XInternAtom(display, "_NET_WM_PID", True);
    if (netWmPid == None) {
        return std::nullopt;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::optional<pid_t> pid;
    if (XGetWindowProperty(display, window, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &remaining, &data) == Success &&
        data && format == 32 && count == 1) {
        pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data) {
        XFree(data);
    }
    return pid;
}

// Depth-first over the window tree; a window manager, if any, puts client windows below frames.
Window findWindow(Display* display, Window parent, std::string_view title, pid_t pid) {
    Window root = 0;
    Window parentOfParent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &parentOfParent, &children, &count)) {
        return 0;
    }
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes{};
        const std::optional<std::string> name = windowTitle(display, children[i]);
        const std::optional<pid_t> owner = windowPid(display, children[i]);
        if (name == title && (!owner || *owner == pid) &&
            XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable) {
            found = children[i];
        } else {
            found = findWindow(display, children[i], title, pid);
        }
    }
    if (children) {
        XFree(children);
    }
    return found;
}

std::filesystem::path makeTempDir() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = base / ("handview-e2e-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            return candidate;
        }
    }
    throw std::runtime_error("cannot create a temporary directory in " + base.string());
}

}  // namespace

// ---------------------------------------------------------------- Xvfb

Xvfb::Xvfb(int widthPx, int heightPx) : width_(widthPx), height_(heightPx) {
    constexpr Seconds kReadyTimeout{30.0};
    int ready[2];
    makePipe(ready);
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    // Its messages, kept for a failure report; a file, since an unread pipe would stall it.
    const int log = memfd_create("xvfb-log", MFD_CLOEXEC);
    const std::string screen = std::to_string(widthPx) + "x" + std::to_string(heightPx) + "x24";
    // A sanitizer runtime preloaded for the program under test has no business in the server.
    const std::vector<std::string> env = childEnvironment({"LD_PRELOAD"}, {});
    // -displayfd: the server picks a free number and writes it to descriptor 3 once it accepts
    // connections. -noreset: our short-lived connections must not reset the server.
    pid_ = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, env, {},
                 ChildFds{devNull, devNull, log, ready[1]});
    close(devNull);
    close(ready[1]);

    std::string number;
    const auto deadline = deadlineAfter(kReadyTimeout);
    while (number.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd entry{ready[0], POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0) {
            continue;
        }
        char buffer[32];
        const ssize_t count = read(ready[0], buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        number.append(buffer, static_cast<size_t>(count));
    }
    close(ready[0]);
    if (number.find('\n') == std::string::npos) {
        stop();
        std::string messages(4096, '\0');
        const ssize_t count = pread(log, messages.data(), messages.size(), 0);
        messages.resize(count > 0 ? static_cast<size_t>(count) : 0);
        close(log);
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)\n" + messages);
    }
    close(log);
    display_ = ":" + number.substr(0, number.find('\n'));
}

Xvfb::~Xvfb() {
    stop();
}

void Xvfb::stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    const auto deadline = deadlineAfter(kXvfbStopTimeout);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    pid_ = -1;
}

// ---------------------------------------------------------------- WorkDir

WorkDir::WorkDir(Contents contents) : path_(makeTempDir()) {
    if (contents == Contents::shippedData) {
        const std::filesystem::path source = HANDVIEW_SOURCE_DIR;
        for (const char* folder : {"shaders/simple", "obj"}) {
            std::filesystem::create_directories(path_ / folder);
            std::filesystem::copy(source / folder, path_ / folder, std::filesystem::copy_options::recursive);
        }
    }
}

WorkDir::~WorkDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WorkDir::writeFile(const std::filesystem::path& relative, std::string_view contents) const {
    const std::filesystem::path target = file(relative);
    std::filesystem::create_directories(target.parent_path());
    std::ofstream stream(target, std::ios::binary | std::ios::trunc);
    stream.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!stream) {
        throw std::runtime_error("cannot write " + target.string());
    }
}

void WorkDir::copyFromSource(const std::filesystem::path& sourceRelative,
                             const std::filesystem::path& relative) const {
    const std::filesystem::path target = file(relative);
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(std::filesystem::path(HANDVIEW_SOURCE_DIR) / sourceRelative, target,
                               std::filesystem::copy_options::overwrite_existing);
}

void WorkDir::removeFile(const std::filesystem::path& relative) const {
    std::filesystem::remove(file(relative));
}

// ---------------------------------------------------------------- ProgramRun

ProgramRun::ProgramRun(const Xvfb& x, const WorkDir& dir, std::map<std::string, std::string> env)
    : ProgramRun([&] {
          ProgramOptions options;
          options.workDir = dir.path();
          options.display = x.display();
          options.env = std::move(env);
          return options;
      }()) {}

ProgramRun::ProgramRun(ProgramOptions options) : display_(options.display) {
    ignoreSigpipe();
    try {
        start(options);
    } catch (...) {
        finish();
        throw;
    }
}

void ProgramRun::start(const ProgramOptions& options) {
    std::map<std::string, std::string> env;
    if (!options.display.empty()) {
        env["DISPLAY"] = options.display;
    }
    for (const auto& [name, value] : options.env) {
        env[name] = value;
    }
    std::vector<std::string> unset = options.unsetEnv;
    unset.insert(unset.end(), kStrippedEnv.begin(), kStrippedEnv.end());
    std::vector<std::string> argv{options.binary};
    argv.insert(argv.end(), options.args.begin(), options.args.end());

    int in[2];
    int out[2];
    int err[2];
    makePipe(in);
    makePipe(err);
    if (options.stdoutIsTerminal) {
        out[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (out[0] < 0 || grantpt(out[0]) != 0 || unlockpt(out[0]) != 0 ||
            ptsname_r(out[0], name, sizeof name) != 0 ||
            (out[1] = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
            throw std::runtime_error(systemError("pseudo-terminal"));
        }
        // Raw: the bytes arrive as written, no "\r\n" for "\n".
        termios mode{};
        tcgetattr(out[1], &mode);
        cfmakeraw(&mode);
        tcsetattr(out[1], TCSANOW, &mode);
    } else {
        makePipe(out);
    }
    makePipe(wakeFds_);

    pid_ = spawn(argv, childEnvironment(unset, env), options.workDir, ChildFds{in[0], out[1], err[1]});
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdinFd_ = in[1];
    outFd_ = out[0];
    errFd_ = err[0];
    if (pid_ < 0) {
        throw std::runtime_error(systemError("fork"));
    }
    reader_ = std::thread(&ProgramRun::readOutput, this);
}

ProgramRun::~ProgramRun() {
    finish();
}

void ProgramRun::finish() {
    if (pid_ > 0 && !reap(false)) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        reap(true);
    }
    closeFd(stdinFd_);
    stopReader();
    closeFd(outFd_);
    closeFd(errFd_);
    closeFd(wakeFds_[0]);
    closeFd(wakeFds_[1]);
}

void ProgramRun::readOutput() {
    std::array<pollfd, 3> entries{pollfd{outFd_, POLLIN, 0}, pollfd{errFd_, POLLIN, 0},
                                  pollfd{wakeFds_[0], POLLIN, 0}};
    std::string* targets[] = {&out_, &err_};
    while (entries[0].fd >= 0 || entries[1].fd >= 0) {
        if (poll(entries.data(), entries.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (entries[2].revents) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (!entries[i].revents) {
                continue;
            }
            char buffer[4096];
            const ssize_t count = read(entries[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                targets[i]->append(buffer, static_cast<size_t>(count));
                outputArrived_.notify_all();
            } else if (count == 0 || errno != EINTR) {
                // End of a pipe, or EIO from a terminal whose other side has closed. Negative fds are
                // skipped by poll; the descriptors themselves are closed by the destructor.
                entries[i].fd = -1;
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    readerDone_ = true;
    outputArrived_.notify_all();
}

void ProgramRun::stopReader() {
    if (reader_.joinable()) {
        const char wake = 'w';
        ssize_t ignored = write(wakeFds_[1], &wake, 1);
        (void)ignored;
        reader_.join();
    }
}

bool ProgramRun::reap(bool block) {
    if (exitCode_) {
        return true;
    }
    int status = 0;
    pid_t result;
    do {
        result = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid_) {
        exitCode_ = exitCodeOf(status);
        return true;
    }
    return false;
}

bool ProgramRun::isRunning() {
    return !reap(false);
}

std::optional<int> ProgramRun::wait(Seconds timeout) {
    const auto deadline = deadlineAfter(timeout);
    while (!reap(false)) {
        if (Clock::now() > deadline) {
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);
            reap(true);
            stopReader();
            ADD_FAILURE() << "the program did not end within " << timeout.count() << " s and was killed\n"
                          << transcript();
            return std::nullopt;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    // The pipes close with the process; collect what is still in flight.
    std::unique_lock<std::mutex> lock(mutex_);
    outputArrived_.wait_for(lock, kOutputDrainTimeout, [this] { return readerDone_; });
    return exitCode_;
}

bool ProgramRun::waitForOutput(std::string_view text, Stream stream, Seconds timeout) {
    const std::string& target = stream == Stream::out ? out_ : err_;
    std::unique_lock<std::mutex> lock(mutex_);
    return outputArrived_.wait_until(lock, deadlineAfter(timeout), [&] {
        return target.find(text) != std::string::npos || readerDone_;
    }) && target.find(text) != std::string::npos;
}

bool ProgramRun::waitForWindow(Seconds timeout, std::string_view title) {
    if (display_.empty()) {
        return false;
    }
    XDisplay x(display_);
    const auto deadline = deadlineAfter(timeout);
    while (Clock::now() < deadline && isRunning()) {
        window_ = findWindow(x.get(), DefaultRootWindow(x.get()), title, pid_);
        if (window_) {
            return true;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return false;
}

bool ProgramRun::key(const std::string& keyName) {
    return xdotool({"key", "--clearmodifiers", keyName});
}

bool ProgramRun::xdotool(const std::vector<std::string>& args) {
    ProgramOptions options;
    options.binary = "xdotool";
    options.args = args;
    options.display = display_;
    options.unsetEnv = {"LD_PRELOAD"};  // meant for the program under test, not for the tool
    ProgramRun tool(options);
    const std::optional<int> code = tool.wait(kToolTimeout);
    std::string command = "xdotool";
    for (const std::string& arg : args) {
        command += " " + arg;
    }
    EXPECT_EQ(code, 0) << command << "\n" << tool.transcript();
    return code == 0;
}

std::optional<WindowGeometry> ProgramRun::windowGeometry() const {
    if (!window_ || display_.empty()) {
        return std::nullopt;
    }
    XDisplay x(display_);
    XWindowAttributes attributes{};
    WindowGeometry geometry;
    Window child = 0;
    if (!XGetWindowAttributes(x.get(), window_, &attributes) ||
        !XTranslateCoordinates(x.get(), window_, DefaultRootWindow(x.get()), 0, 0, &geometry.left,
                               &geometry.top, &child)) {
        return std::nullopt;
    }
    geometry.width = attributes.width;
    geometry.height = attributes.height;
    return geometry;
}

bool ProgramRun::closeWindow() {
    if (!window_ || display_.empty()) {
        ADD_FAILURE() << "closeWindow needs a window found by waitForWindow";
        return false;
    }
    XDisplay x(display_);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window_;
    event.xclient.message_type = XInternAtom(x.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(x.get(), window_, False, NoEventMask, &event);
    XSync(x.get(), False);
    return sent != 0;
}

void ProgramRun::signal(int signalNumber) const {
    kill(pid_, signalNumber);
}

void ProgramRun::writeStdin(std::string_view text) {
    while (!text.empty() && stdinFd_ >= 0) {
        const ssize_t count = write(stdinFd_, text.data(), text.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            ADD_FAILURE() << systemError("writing to the program's standard input");
            return;
        }
        text.remove_prefix(static_cast<size_t>(count));
    }
}

void ProgramRun::closeStdin() {
    closeFd(stdinFd_);
}

std::string ProgramRun::output(Stream stream) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream == Stream::out ? out_ : err_;
}

std::string ProgramRun::transcript() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return "--- stdout ---\n" + out_ + "\n--- stderr ---\n" + err_ + "\n--------------";
}

}  // namespace harness
