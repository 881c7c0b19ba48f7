// Steadies a hand over frames: its place, orientation and fingertips through One Euro filters; a
// finger's state changes once a few frames in a row agree.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "webcam/ControllerSpace.h"
#include "webcam/OneEuroFilter.h"

namespace webcam {

// From a sweep over photographs held still, panned and zoomed under fresh sensor noise
// (bench/hand_motion_bench --sweep): the median still palm jitters 0.5 mm and a pan of 100 mm/s is
// read less than half a frame late. A lower beta steadies a still palm a little more and makes a
// moving one later; the speed is smoothed harder than the filter's usual 1 Hz, as the readings' own
// noise would otherwise raise the cutoff of a still hand.
struct HandFilterSettings {
    float placeCutoffHz = 0.5f;  // palm and fingertips, millimetres
    float placeBeta = 0.1f;      // per mm/s
    float turnCutoffHz = 0.5f;   // palm normal and direction, unit vectors
    float turnBeta = 8.0f;       // per unit (about a radian) per second: half a frame behind 1 rad/s
    float speedCutoffHz = 0.5f;  // the speed's own smoothing
    // Two let a still hand's count flicker on side-on hands, and each one more costs a frame.
    int agreeingFrames = 3;
};

class HandFilter {
public:
    explicit HandFilter(const HandFilterSettings& settings = {});
    // This frame's reading (none: no hand), taken at timestampUs, to the hand to report.
    std::optional<ControllerHand> next(const std::optional<ControllerHand>& seen, int64_t timestampUs);
    // Changes whenever a hand appears after none.
    int64_t handId() const { return handId_; }

private:
    int agreeingFrames_;
    std::optional<ControllerHand> hand_;
    std::array<int, kFingers> differing_{};  // frames in a row whose reading differed from the state
    int64_t handId_ = 0;
    int64_t lastUs_ = 0;
    OneEuroFilter palm_, normal_, direction_;
    std::array<OneEuroFilter, kFingers> tips_;  // as the palm
};

}  // namespace webcam
