// Two first-order low-passes: the speed's, then the value's at a cutoff the speed raises.
#include "webcam/OneEuroFilter.h"

#include "webcam/Vectors.h"

namespace webcam {

namespace {

constexpr float kTwoPi = 6.2831853f;

// The share of a change taken in a step of `seconds` by a first-order low-pass at `cutoffHz`.
float smoothing(float cutoffHz, float seconds) {
    const float r = kTwoPi * cutoffHz * seconds;
    return r / (r + 1);
}

}  // namespace

Vector OneEuroFilter::next(Vector value, float seconds) {
    if (!started_) {
        started_ = true;
        value_ = value;
        speed_ = {};
        return value;
    }
    speed_ = speed_ + ((value - value_) * (1 / seconds) - speed_) * smoothing(speedCutoffHz_, seconds);
    value_ = value_ + (value - value_) * smoothing(minCutoffHz_ + beta_ * length(speed_), seconds);
    return value_;
}

}  // namespace webcam
