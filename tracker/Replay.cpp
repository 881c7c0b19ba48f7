// Replays a file as a tracker source: the project's hand sessions (README-format.md) or a
// JSON-lines recording of the service's stream, told apart by the file's first non-blank byte.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

#include "FrameDecoding.h"
#include "Source.h"

namespace Leap {

namespace {

constexpr size_t kMaxLineBytes = 64 * 1024;
constexpr off_t kMaxFileBytes = off_t(1) << 30;
constexpr std::string_view kBlanks = " \t\r\v\f";

// Frames in time order; connected up to and including endMs.
struct Session {
    std::vector<Frame> frames;
    int64_t endMs = 0;
};

constexpr size_t kMaxFingertips = 10;
constexpr size_t kPalmNumbers = 6;  // position and normal
constexpr size_t kTipNumbers = 3;

std::vector<std::string_view> splitTokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    size_t pos = line.find_first_not_of(kBlanks);
    while (pos != std::string_view::npos) {
        size_t end = line.find_first_of(kBlanks, pos);
        if (end == std::string_view::npos) end = line.size();
        tokens.push_back(line.substr(pos, end - pos));
        pos = line.find_first_not_of(kBlanks, end);
    }
    return tokens;
}

// Quotes a token for an error message, cut short so a binary or huge line stays one readable line.
std::string quote(std::string_view token) {
    constexpr size_t kMaxQuoted = 40;
    if (token.size() <= kMaxQuoted) return "'" + std::string(token) + "'";
    return "'" + std::string(token.substr(0, kMaxQuoted)) + "...'";
}

bool parseTimestamp(std::string_view token, int64_t& out) {
    const char* end = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(token.data(), end, out);
    return ec == std::errc() && ptr == end && out >= 0;
}

// std::from_chars: no locale, and no silent "inf"/"nan" as long as we check isfinite.
bool parseNumber(std::string_view token, float& out, std::string& error) {
    const char* end = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(token.data(), end, out);
    if (ec == std::errc::invalid_argument || ptr != end) {
        error = quote(token) + " is not a number";
        return false;
    }
    if (ec != std::errc() || !std::isfinite(out)) {
        error = quote(token) + " is not a finite number";
        return false;
    }
    return true;
}

bool parseHand(const std::vector<std::string_view>& tokens, HandData& hand, std::string& error) {
    std::vector<float> numbers;
    for (size_t i = 2; i < tokens.size(); ++i) {
        float value = 0;
        if (!parseNumber(tokens[i], value, error)) return false;
        numbers.push_back(value);
    }
    if (numbers.size() < kPalmNumbers) {
        error = "expected palm position and normal (6 numbers) after 'hand'";
        return false;
    }
    size_t tipNumbers = numbers.size() - kPalmNumbers;
    if (tipNumbers % kTipNumbers != 0) {
        error = "expected 3 numbers per fingertip";
        return false;
    }
    if (tipNumbers / kTipNumbers > kMaxFingertips) {
        error = "more than 10 fingertips";
        return false;
    }
    hand.palmPosition = Vector(numbers[0], numbers[1], numbers[2]);
    hand.palmNormal = Vector(numbers[3], numbers[4], numbers[5]);
    for (size_t i = kPalmNumbers; i < numbers.size(); i += kTipNumbers) {
        hand.tips.emplace_back(numbers[i], numbers[i + 1], numbers[i + 2]);
    }
    return true;
}

// Collects lines into frames; one instance per parse.
class SessionReader {
public:
    // False with `error` set on a bad line.
    bool readLine(std::string_view line, std::string& error) {
        line = line.substr(0, line.find('#'));
        std::vector<std::string_view> tokens = splitTokens(line);
        if (tokens.empty()) return true;
        if (ended_) {
            error = "nothing may follow the 'end' line";
            return false;
        }
        int64_t t = 0;
        if (!parseTimestamp(tokens[0], t)) {
            error = "expected a non-negative integer timestamp, got " + quote(tokens[0]);
            return false;
        }
        if (haveTime_ && t < time_) {
            error =
                "timestamp " + std::to_string(t) + " is earlier than the previous " + std::to_string(time_);
            return false;
        }
        if (tokens.size() < 2) {
            error = "expected 'hand', 'none' or 'end' after the timestamp";
            return false;
        }
        std::string_view keyword = tokens[1];
        if (keyword != "hand" && keyword != "none" && keyword != "end") {
            error = "unknown keyword " + quote(keyword) + " (expected hand, none or end)";
            return false;
        }
        if (keyword != "hand" && tokens.size() > 2) {
            error = "unexpected " + quote(tokens[2]) + " after " + quote(keyword);
            return false;
        }
        if (haveTime_ && t != time_) flushFrame();
        haveTime_ = true;
        time_ = t;
        if (keyword == "end") {
            flushFrame();
            ended_ = true;
            return true;
        }
        if (keyword == "none") {
            if (pending_) {
                error = "a frame with 'none' cannot hold anything else";
                return false;
            }
            pending_ = pendingNone_ = true;
            return true;
        }
        if (pendingNone_) {
            error = "a frame with 'none' cannot hold anything else";
            return false;
        }
        HandData hand;
        if (!parseHand(tokens, hand, error)) return false;
        hands_.push_back(std::move(hand));
        pending_ = true;
        return true;
    }

    // False with `error` set when the input held neither a frame nor an end line.
    bool finish(Session& out, std::string& error) {
        flushFrame();
        if (!haveTime_) {
            error = "holds no frame and no 'end' line";
            return false;
        }
        out.frames = std::move(frames_);
        out.endMs = time_;
        return true;
    }

private:
    void flushFrame() {
        if (pending_) frames_.push_back(Frame(FrameData{time_, hands_}));
        hands_.clear();
        pending_ = pendingNone_ = false;
    }

    std::vector<Frame> frames_;
    std::vector<HandData> hands_;  // of the frame at time_ still being read
    bool pending_ = false;         // a frame at time_ has started
    bool pendingNone_ = false;     // ... and it is a "none" frame
    bool haveTime_ = false;
    bool ended_ = false;
    int64_t time_ = 0;
};

// Recording lines are frame messages; a bad one, or one not after the previous in time, is
// skipped and counted, and the rest replays.
class RecordingReader {
public:
    void readLine(std::string_view line, int number) {
        if (line.find_first_not_of(kBlanks) == std::string_view::npos) return;
        Message m = decodeMessage(line);
        if (m.kind == Message::Kind::bad) return skip(number, m.problem);
        if (m.kind != Message::Kind::frame) return;  // the service's version line or events
        if (!frames_.empty() && m.timestampUs <= lastUs_)
            return skip(number, "timestamp not after the previous one");
        if (frames_.empty()) originUs_ = m.timestampUs;
        lastUs_ = m.timestampUs;
        frames_.push_back(toFrame(std::move(m), originUs_));
    }

    // False with `error` set when no frame was read; `warning` tells of skipped lines.
    bool finish(Session& out, std::string& error, std::string& warning) {
        if (skipped_ > 0)
            warning = "skipped " + std::to_string(skipped_) + (skipped_ == 1 ? " line" : " lines") +
                      ", the first line " + std::to_string(firstSkipped_) + ": " + firstProblem_;
        if (frames_.empty()) {
            error = "holds no frame" + (warning.empty() ? "" : " (" + warning + ")");
            return false;
        }
        out.endMs = frames_.back().timestamp();
        out.frames = std::move(frames_);
        return true;
    }

private:
    void skip(int number, const std::string& problem) {
        if (skipped_++ == 0) {
            firstSkipped_ = number;
            firstProblem_ = problem;
        }
    }

    std::vector<Frame> frames_;
    int64_t originUs_ = 0;
    int64_t lastUs_ = 0;
    int skipped_ = 0;
    int firstSkipped_ = 0;
    std::string firstProblem_;
};

// Not a regular file (a pipe would block, /dev/zero never ends a line) or too large: refused.
bool checkFile(const struct stat& st, std::string& error) {
    if (S_ISDIR(st.st_mode))
        error = "cannot be opened: it is a directory";
    else if (!S_ISREG(st.st_mode))
        error = "cannot be opened: it is not a regular file";
    else if (st.st_size > kMaxFileBytes)
        error = "cannot be opened: it is larger than 1 GiB";
    return error.empty();
}

// Calls onLine(line, number, error) for each line; false with `error` set on the first failure.
template <typename OnLine>
bool readLines(int fd, OnLine onLine, std::string& error) {
    std::string line;
    std::vector<char> chunk(kMaxLineBytes);
    int number = 0;
    auto tooLong = [&] {
        error = "line " + std::to_string(number + 1) + ": longer than 64 KiB";
        return false;
    };
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = "line " + std::to_string(number + 1) + ": read error: " + std::strerror(errno);
            return false;
        }
        if (got == 0) break;
        const char* p = chunk.data();
        const char* end = p + got;
        while (const char* newline =
                   static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) {
            line.append(p, newline);
            if (line.size() > kMaxLineBytes) return tooLong();
            if (!onLine(line, ++number, error)) return false;
            line.clear();
            p = newline + 1;
        }
        line.append(p, end);
        if (line.size() > kMaxLineBytes) return tooLong();
    }
    return line.empty() || onLine(line, ++number, error);
}

bool loadReplay(const std::string& path, Session& out, std::string& error, std::string& warning) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    if (!checkFile(st, error)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    SessionReader session;
    RecordingReader recording;
    enum { undecided, sessionFile, recordingFile } format = undecided;
    auto onLine = [&](std::string_view line, int number, std::string& lineError) {
        // Editors on some systems start a text file with a byte-order mark.
        if (number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        if (format == undecided) {
            const size_t first = line.find_first_not_of(kBlanks);
            if (first != std::string_view::npos) format = line[first] == '{' ? recordingFile : sessionFile;
        }
        if (format == recordingFile) {
            recording.readLine(line, number);
            return true;
        }
        std::string what;
        if (session.readLine(line, what)) return true;
        lineError = "line " + std::to_string(number) + ": " + what;
        return false;
    };
    const bool ok = (::fstat(fd, &st) == 0 && checkFile(st, error)) && readLines(fd, onLine, error);
    ::close(fd);
    if (!ok) return false;
    return format == recordingFile ? recording.finish(out, error, warning) : session.finish(out, error);
}

class ReplaySource : public Source {
public:
    ReplaySource(Session session, std::string path, double stepMs)
        : session_(std::move(session)), path_(std::move(path)), stepMs_(stepMs) {}

    bool isConnected() override {
        const bool connected = elapsedMs(true) <= session_.endMs;
        if (!connected && !ended_) printConsoleLine("the replay of " + path_ + " has ended");
        ended_ = ended_ || !connected;
        return connected;
    }

    Frame frame(int history) override {
        const std::vector<Frame>& frames = session_.frames;
        auto after = std::upper_bound(frames.begin(), frames.end(), elapsedMs(false),
                                      [](int64_t t, const Frame& f) { return t < f.timestamp(); });
        auto latest = after - frames.begin() - 1;  // -1 before the first frame
        if (history < 0 || latest < history) return Frame();
        return frames[static_cast<size_t>(latest - history)];
    }

private:
    // From the first call, not from construction: the program's start-up (window, shaders, a
    // large mesh) would otherwise eat the beginning of the session.
    int64_t elapsedMs(bool poll) {
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

    Session session_;
    const std::string path_;
    const double stepMs_;
    bool started_ = false;
    bool ended_ = false;
    int64_t polls_ = 0;  // isConnected() calls after the first
    std::chrono::steady_clock::time_point start_;
};

}  // namespace

std::shared_ptr<Source> makeReplaySource(const std::string& path, double stepMs) {
    Session session;
    std::string error, warning;
    if (!loadReplay(path, session, error, warning)) {
        printConsoleLine("replay file " + path + " " + error);
        return makeNoDevice();
    }
    if (!warning.empty()) printConsoleLine("replay file " + path + ": " + warning);
    return std::make_shared<ReplaySource>(std::move(session), path, stepMs);
}

}  // namespace Leap
