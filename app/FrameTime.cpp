// Frame-time global and its conversion from the timer's nanosecond wall reading.
#include "app/FrameTime.h"

double frameTime = 0.0;

double wallToSeconds(int64_t previousNs, int64_t nowNs) {
    constexpr double kNanosecondsPerSecond = 1000000000.0;
    return static_cast<double>(nowNs - previousNs) / kNanosecondsPerSecond;
}
