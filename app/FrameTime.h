// The wall-clock duration of the previous main-loop pass, read by the hand control.
#pragma once

#include <cstdint>

// Seconds; 0.0 until the first pass ends. Written only by the main loop.
extern double frameTime;

// Converts two wall readings of the frame timer (nanoseconds) into seconds.
double wallToSeconds(int64_t previousNs, int64_t nowNs);
