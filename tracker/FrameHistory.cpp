// History and staleness, shared by the live stream and replays.
#include "tracker/FrameHistory.h"

namespace Leap {

namespace {
constexpr size_t kHistoryFrames = 61;  // the newest and 60 behind it
constexpr int64_t kStaleAfterMs = 250;
}  // namespace

void FrameHistory::push(Frame frame, int64_t atMs) {
    frames_.push_back(std::move(frame));
    if (frames_.size() > kHistoryFrames) frames_.pop_front();
    newestAtMs_ = atMs;
}

Frame FrameHistory::frame(int history, int64_t nowMs) const {
    if (history < 0 || static_cast<size_t>(history) >= frames_.size()) return Frame();
    if (history == 0 && nowMs - newestAtMs_ > kStaleAfterMs) return Frame();
    return frames_[frames_.size() - 1 - static_cast<size_t>(history)];
}

}  // namespace Leap
