// The One Euro filter (Casiez, Roussel and Vogel, CHI 2012) of a point or a direction: a low-pass
// whose cutoff rises with the speed, so a still value is smoothed hard and a moving one followed
// closely. The speed is the vector's, so all three axes are smoothed alike.
#pragma once

#include "Leap.h"

namespace webcam {

class OneEuroFilter {
public:
    // minCutoffHz: the cutoff at rest; beta: how much it rises per unit of speed (per second);
    // speedCutoffHz: the cutoff of the speed's own smoothing.
    OneEuroFilter(float minCutoffHz, float beta, float speedCutoffHz = 1)
        : minCutoffHz_(minCutoffHz), beta_(beta), speedCutoffHz_(speedCutoffHz) {}
    Leap::Vector next(Leap::Vector value, float seconds);  // seconds since the last value
    void reset() { started_ = false; }

private:
    float minCutoffHz_, beta_, speedCutoffHz_;
    bool started_ = false;
    Leap::Vector value_, speed_;
};

}  // namespace webcam
