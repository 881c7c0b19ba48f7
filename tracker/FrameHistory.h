// The newest frames of a source, and the one rule for a stream that stops sending: its newest frame
// is stale 0.25 s after it arrived, so a stall, live or recorded, never keeps the camera flying.
#pragma once

#include <cstdint>
#include <deque>

#include "Leap.h"

namespace Leap {

class FrameHistory {
public:
    // `atMs`: when it arrived, on the source's own clock.
    void push(Frame frame, int64_t atMs);
    // 0 the newest (invalid once stale at `nowMs`), h > 0 the one h frames earlier, up to 60.
    Frame frame(int history, int64_t nowMs) const;
    void clear() { frames_.clear(); }

private:
    std::deque<Frame> frames_;
    int64_t newestAtMs_ = 0;
};

}  // namespace Leap
