// Reads recorded hand sessions and replays them as a tracker source.
//
// Session file format (plain text, one line per hand per frame):
//   # comment: '#' starts a comment anywhere on a line; blank lines are ignored
//   <t_ms> hand <palm x y z> <normal x y z> [<tip x y z> ...]   0 to 10 fingertips
//   <t_ms> none                                                  a frame with no hand
//   <t_ms> end                                                   the session ends here
// t_ms: non-negative integer milliseconds since the session started, never
// decreasing. Lines with the same t_ms form one frame (several hands; "none"
// cannot share its frame). Numbers are finite decimals in millimetres, x right,
// y up, z towards the user. Nothing may follow "end"; without it the session
// ends at its last frame. Anything else is an error naming the line.
#include "LeapTesting.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace Leap::testing {

namespace {

constexpr size_t kMaxFingertips = 10;
constexpr size_t kPalmNumbers = 6;  // position and normal
constexpr size_t kTipNumbers = 3;

std::vector<std::string_view> splitTokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    constexpr std::string_view kBlanks = " \t\r\v\f";
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

bool parseHand(const std::vector<std::string_view>& tokens, HandSpec& hand, std::string& error) {
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
        HandSpec hand;
        if (!parseHand(tokens, hand, error)) return false;
        hands_.push_back(std::move(hand));
        pending_ = true;
        return true;
    }

    // False when the input held neither a frame nor an end line.
    bool finish(Session& out) {
        flushFrame();
        if (!haveTime_) return false;
        out.frames = std::move(frames_);
        out.endMs = time_;
        return true;
    }

private:
    void flushFrame() {
        if (pending_) frames_.push_back(makeFrame(hands_, time_));
        hands_.clear();
        pending_ = pendingNone_ = false;
    }

    std::vector<Frame> frames_;
    std::vector<HandSpec> hands_;  // of the frame at time_ still being read
    bool pending_ = false;         // a frame at time_ has started
    bool pendingNone_ = false;     // ... and it is a "none" frame
    bool haveTime_ = false;
    bool ended_ = false;
    int64_t time_ = 0;
};

class ReplaySource : public Source {
public:
    ReplaySource(Session session, std::function<int64_t()> clockMs)
        : session_(std::move(session)), clockMs_(std::move(clockMs)) {
        // Hand-built sessions may be unsorted; the binary search below needs order.
        std::stable_sort(session_.frames.begin(), session_.frames.end(),
                         [](const Frame& a, const Frame& b) { return a.timestamp() < b.timestamp(); });
    }

    bool isConnected() const override { return clockMs_() <= session_.endMs; }

    Frame frame(int history) const override {
        const std::vector<Frame>& frames = session_.frames;
        auto after = std::upper_bound(frames.begin(), frames.end(), clockMs_(),
                                      [](int64_t t, const Frame& f) { return t < f.timestamp(); });
        auto latest = after - frames.begin() - 1;  // -1 before the first frame
        if (history < 0 || latest < history) return Frame();
        return frames[static_cast<size_t>(latest - history)];
    }

private:
    Session session_;
    std::function<int64_t()> clockMs_;
};

std::function<int64_t()> steadyClockFromNow() {
    auto start = std::chrono::steady_clock::now();
    return [start] {
        auto elapsed = std::chrono::steady_clock::now() - start;
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    };
}

}  // namespace

bool parseSession(std::istream& in, Session& out, std::string& error) {
    SessionReader reader;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        std::string what;
        if (!reader.readLine(line, what)) {
            error = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        }
    }
    if (in.bad()) {
        error = "line " + std::to_string(lineNumber + 1) + ": read error";
        return false;
    }
    if (!reader.finish(out)) {
        error = "holds no frame and no 'end' line";
        return false;
    }
    return true;
}

bool loadSession(const std::string& path, Session& out, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "cannot be opened: it is a directory";
        return false;
    }
    std::ifstream in(path);
    if (!in) {
        error = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    return parseSession(in, out, error);
}

std::shared_ptr<Source> makeReplaySource(Session session, std::function<int64_t()> clockMs) {
    if (!clockMs) clockMs = steadyClockFromNow();
    return std::make_shared<ReplaySource>(std::move(session), std::move(clockMs));
}

}  // namespace Leap::testing
