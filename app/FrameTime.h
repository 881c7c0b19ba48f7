// The wall-clock duration of the previous main-loop pass, read by the hand control, and the clock
// the main loop measures it with.
#pragma once

#include <cstdint>

// Seconds; 0.0 until the first pass ends. Written only by the main loop.
extern double frameTime;

// Each pass's frame time from the frame timer's wall readings (nanoseconds since it started), or a
// replay's fixed step when there is one.
class FrameClock {
public:
    explicit FrameClock(double fixedStepSeconds = 0) : fixedStepSeconds_(fixedStepSeconds) {}
    // The frame time of the pass that ended at `wallNs`: the time since the previous one ended.
    double passEnded(int64_t wallNs);

private:
    double fixedStepSeconds_;
    int64_t previousWallNs_ = 0;
};
