// Runs a program as a real process on a private X server, for the end-to-end tests.
// Use: Xvfb x; WorkDir dir; ProgramRun run(x, dir);
//      ASSERT_TRUE(run.waitForWindow()); run.key("Escape");
//      EXPECT_EQ(run.wait(), 0) << run.transcript();
// Screen pictures: see Screen.h (captureSettledScreen, expectScreenMatches).
#pragma once

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace harness {

using Seconds = std::chrono::duration<double>;

// Sanitizer builds under llvmpipe start slowly; these bound a hang, not the normal case.
constexpr Seconds kStartTimeout{30.0};
constexpr Seconds kExitTimeout{30.0};

// A private X server `Xvfb :N -screen 0 WxHx24`: ready when constructed, killed when destroyed.
class Xvfb {
public:
    static constexpr int kDefaultWidthPx = 640;
    static constexpr int kDefaultHeightPx = 480;

    explicit Xvfb(int widthPx = kDefaultWidthPx, int heightPx = kDefaultHeightPx);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }  // ":N"
    int width() const { return width_; }
    int height() const { return height_; }

private:
    void stop();

    pid_t pid_ = -1;
    std::string display_;
    int width_;
    int height_;
};

// A temporary working directory, removed at the end. The program reads fixed relative paths,
// so a test either takes copies of the shipped data or writes its own files here.
class WorkDir {
public:
    enum class Contents { shippedData, empty };

    explicit WorkDir(Contents contents = Contents::shippedData);
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::filesystem::path& relative) const { return path_ / relative; }

    // Creates missing folders; overwrites an existing file.
    void writeFile(const std::filesystem::path& relative, std::string_view contents) const;
    // `sourceRelative` is relative to the repository root, e.g. "tests/data/broken.obj".
    void copyFromSource(const std::filesystem::path& sourceRelative,
                        const std::filesystem::path& relative) const;
    void removeFile(const std::filesystem::path& relative) const;

private:
    std::filesystem::path path_;
};

struct WindowGeometry {
    int left = 0;  // relative to the screen
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ProgramOptions {
    std::string binary = HANDVIEW_BINARY;
    std::vector<std::string> args;
    std::filesystem::path workDir;           // empty: the test's own working directory
    std::string display;                     // empty: DISPLAY unset, the program cannot reach any X server
    std::map<std::string, std::string> env;  // added to (or replacing) the test's environment
    std::vector<std::string> unsetEnv;       // removed from it
    // A terminal makes C stdio line-buffered, so stdout can be watched while the program runs;
    // with a pipe it arrives when the buffer fills or the program exits.
    bool stdoutIsTerminal = false;
};

// One child process with its three standard streams. Both output streams are read continuously
// so the child never blocks on a full pipe. A child still running at destruction is killed.
class ProgramRun {
public:
    enum class Stream { out, err };

    explicit ProgramRun(ProgramOptions options);
    // The usual case: handview in `dir` on the server `x`, with extra environment variables.
    ProgramRun(const Xvfb& x, const WorkDir& dir, std::map<std::string, std::string> env = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    pid_t pid() const { return pid_; }
    unsigned long window() const { return window_; }  // X window id, 0 before waitForWindow

    // True once a viewable window titled `title` of this process exists; false on timeout or exit.
    bool waitForWindow(Seconds timeout = kStartTimeout, std::string_view title = "Oh, hello there");
    bool waitForOutput(std::string_view text, Stream stream = Stream::out, Seconds timeout = kStartTimeout);

    // Key through XTEST (`xdotool key --clearmodifiers`), so it reaches the focused window.
    bool key(const std::string& keyName);
    // Any xdotool command on this program's display, e.g. {"mousemove", "10", "10", "click", "1"}.
    bool xdotool(const std::vector<std::string>& args);
    // Where the window found by waitForWindow is now; empty when there is none.
    std::optional<WindowGeometry> windowGeometry() const;

    // WM_DELETE_WINDOW, as a window manager's close button sends it; needs waitForWindow first.
    bool closeWindow();
    void signal(int signalNumber) const;
    void writeStdin(std::string_view text);
    void closeStdin();

    bool isRunning();
    // Exit code, or 128 + signal number as a shell reports it. On timeout the process is killed,
    // a test failure is recorded and the result is empty.
    std::optional<int> wait(Seconds timeout = kExitTimeout);

    std::string output(Stream stream = Stream::out) const;
    std::string errors() const { return output(Stream::err); }
    // Both streams, labelled, for failure messages: EXPECT_EQ(run.wait(), 0) << run.transcript();
    std::string transcript() const;

private:
    void start(const ProgramOptions& options);
    void finish();  // kills a child still running, closes every descriptor
    void readOutput();
    bool reap(bool block);
    void stopReader();

    pid_t pid_ = -1;
    std::optional<int> exitCode_;
    std::string display_;
    unsigned long window_ = 0;
    int stdinFd_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int wakeFds_[2] = {-1, -1};  // wakes the reader when it has to stop early
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable outputArrived_;
    std::string out_;
    std::string err_;
    bool readerDone_ = false;
};

}  // namespace harness
