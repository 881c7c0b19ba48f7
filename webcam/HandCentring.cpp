// The rest is an offset added to the palm and the fingertips; the orientation needs none.
#include "webcam/HandCentring.h"

#include <algorithm>

#include "webcam/Vectors.h"

namespace webcam {

namespace {

// A hand back within this time is the same hand at the same rest: the reader lost it for a moment.
constexpr int64_t kSameHandUs = 500000;
constexpr int kCentringFrames = 10;  // a new hand's first readings settle within 6 to 8 (the bench)

}  // namespace

std::optional<ControllerHand> HandCentring::next(std::optional<ControllerHand> hand, int64_t timestampUs) {
    if (!hand) return hand;
    if (timestampUs - lastSeenUs_ > kSameHandUs) armed_ = true;
    lastSeenUs_ = timestampUs;
    if (std::none_of(hand->extended.begin(), hand->extended.end(), [](bool e) { return e; })) {
        armed_ = true;
        centring_ = 0;
    } else if (armed_) {
        armed_ = false;
        centring_ = kCentringFrames;
    }
    if (centring_ > 0) {
        --centring_;
        offset_ = Vector{0, kRestHeightMm, kRestDepthMm} - hand->palmPosition;
    }
    hand->palmPosition = hand->palmPosition + offset_;
    for (Vector& tip : hand->tips) tip = tip + offset_;
    return hand;
}

}  // namespace webcam
