// Frame-time global and its conversion from the timer's nanosecond wall readings.
#include "app/FrameTime.h"

#include <utility>

double frameTime = 0.0;

double FrameClock::passEnded(int64_t wallNs) {
    constexpr double kNanosecondsPerSecond = 1000000000.0;
    const int64_t previousNs = std::exchange(previousWallNs_, wallNs);
    if (fixedStepSeconds_ > 0) return fixedStepSeconds_;
    return static_cast<double>(wallNs - previousNs) / kNanosecondsPerSecond;
}
