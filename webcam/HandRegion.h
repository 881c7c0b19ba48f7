// Where in the frame the landmark model looks: a square crop around the hand, turned so that the
// fingers point up, placed around a detected palm and then following the landmarks read in it.
#pragma once

#include <opencv2/core.hpp>

#include "webcam/Hand.h"

namespace webcam {

struct Palm;

// A square in the source image: centre and side in pixels; rotation in radians clockwise on screen,
// 0 with the fingers pointing up.
struct HandRegion {
    cv::Point2f centre;
    float side = 0;
    float rotation = 0;
};

HandRegion regionAroundPalm(const Palm& palm);
HandRegion regionAroundLandmarks(const Landmarks& landmarks);
// The crop for the next frame: `crop` moved, turned or resized only where the landmarks read in it
// say the hand has changed by more than the landmark model's tolerance.
HandRegion followHand(const HandRegion& crop, const Landmarks& landmarks);

}  // namespace webcam
