// Session lines to frames: lines with the same time make one frame, which is complete when a
// line with a later time, the end line or the end of the file comes.
#include "tracker/SessionFormat.h"

#include <charconv>
#include <cmath>

#include "tracker/Console.h"
#include "tracker/Validation.h"

namespace Leap {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
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

std::string quote(std::string_view token) {
    return "'" + printable(token, 40) + "'";
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
    if ((numbers.size() - kPalmNumbers) % kTipNumbers != 0) {
        error = "expected 3 numbers per fingertip";
        return false;
    }
    hand.palmPosition = Vector(numbers[0], numbers[1], numbers[2]);
    hand.palmNormal = Vector(numbers[3], numbers[4], numbers[5]);
    for (size_t i = kPalmNumbers; i < numbers.size(); i += kTipNumbers)
        hand.tips.emplace_back(numbers[i], numbers[i + 1], numbers[i + 2]);
    const char* problem = handProblem(hand);
    if (problem) error = problem;
    return !problem;
}

class SessionReader : public ReplayFormat {
public:
    bool readLine(std::string_view line, int, std::vector<ReplayStep>& out, std::string& error) override {
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
        if (haveTime_ && t != time_) flushFrame(out);
        haveTime_ = true;
        time_ = t;
        if (keyword == "end") {
            flushFrame(out);
            ended_ = true;
            return true;
        }
        if (pendingNone_ || (keyword == "none" && pending_)) {
            error = "a frame with 'none' cannot hold anything else";
            return false;
        }
        pending_ = true;
        if (keyword == "none") {
            pendingNone_ = true;
            return true;
        }
        if (hands_.size() == kMaxHands) {
            error = "more than 10 hands in one frame";
            return false;
        }
        HandData hand;
        if (!parseHand(tokens, hand, error)) return false;
        hands_.push_back(std::move(hand));
        return true;
    }

    bool finish(std::vector<ReplayStep>& out, int64_t& endMs, std::string& error, std::string&) override {
        flushFrame(out);
        if (!haveTime_) error = "holds no frame and no 'end' line";
        endMs = time_;
        return haveTime_;
    }

private:
    void flushFrame(std::vector<ReplayStep>& out) {
        if (pending_) out.push_back({time_, Frame(FrameData{time_, std::move(hands_), {}})});
        hands_.clear();
        pending_ = pendingNone_ = false;
    }

    std::vector<HandData> hands_;  // of the frame at time_ still being read
    bool pending_ = false;         // a frame at time_ has started
    bool pendingNone_ = false;     // ... and it is a "none" frame
    bool haveTime_ = false;
    bool ended_ = false;
    int64_t time_ = 0;
};

}  // namespace

std::unique_ptr<ReplayFormat> makeSessionReader() {
    return std::make_unique<SessionReader>();
}

}  // namespace Leap
