// Each part of the hand has its own filter, reset when a hand appears after none.
#include "webcam/HandFilter.h"

#include <cmath>

#include "webcam/Vectors.h"

namespace webcam {

namespace {

constexpr float kFrameSeconds = 1 / 30.0f;  // taken for a frame with no time of its own
constexpr float kEdgeOn = 0.5f;             // a palm turned further than 60° from the screen is edge-on

}  // namespace

HandFilter::HandFilter(const HandFilterSettings& s)
    : agreeingFrames_(s.agreeingFrames),
      palm_(s.placeCutoffHz, s.placeBeta, s.speedCutoffHz),
      normal_(s.turnCutoffHz, s.turnBeta, s.speedCutoffHz),
      direction_(s.turnCutoffHz, s.turnBeta, s.speedCutoffHz),
      tips_{{palm_, palm_, palm_, palm_, palm_}} {}

std::optional<ControllerHand> HandFilter::next(const std::optional<ControllerHand>& seen,
                                               int64_t timestampUs) {
    float seconds = static_cast<float>(timestampUs - lastUs_) * 1e-6f;
    lastUs_ = timestampUs;
    // A clock that stood still or stepped back: take a usual frame rather than divide by it.
    if (!(seconds > 0) || !std::isfinite(seconds)) seconds = kFrameSeconds;
    if (!seen) {
        hand_.reset();
        return hand_;
    }
    if (!hand_) {
        ++handId_;
        hand_ = seen;
        differing_.fill(0);
        for (OneEuroFilter* f : {&palm_, &normal_, &direction_}) f->reset();
        for (OneEuroFilter& f : tips_) f.reset();
    }
    ControllerHand& h = *hand_;
    Vector normal = seen->palmNormal;
    // Edge-on, the side facing the camera is a guess: keep the side the palm was on.
    if (std::fabs(normal.y) < kEdgeOn && dot(normal, h.palmNormal) < 0) normal = normal * -1.0f;
    h.palmPosition = palm_.next(seen->palmPosition, seconds);
    h.palmNormal = unit(normal_.next(normal, seconds));
    h.direction = unit(direction_.next(seen->direction, seconds));
    for (int f = 0; f < kFingers; ++f) {
        h.tips[f] = tips_[f].next(seen->tips[f], seconds);
        differing_[f] = seen->extended[f] != h.extended[f] ? differing_[f] + 1 : 0;
        if (differing_[f] >= agreeingFrames_) h.extended[f] = seen->extended[f], differing_[f] = 0;
    }
    h.score = seen->score;
    return hand_;
}

}  // namespace webcam
