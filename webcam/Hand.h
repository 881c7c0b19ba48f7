// What the camera sees of one hand, in the source image's pixels: the one thing the hand reader
// hands to the tracking service.
#pragma once

#include <array>

namespace webcam {

// Landmark order: 0 wrist; thumb 1-4; index 5-8; middle 9-12; ring 13-16; little 17-20
// (each finger from its base joint to its tip).
constexpr int kLandmarks = 21;
constexpr int kFingers = 5;  // thumb, index, middle, ring, little

// x right and y down in source-image pixels; z depth relative to the wrist on the same scale,
// negative towards the camera.
struct Point3 {
    float x = 0, y = 0, z = 0;
};

using Landmarks = std::array<Point3, kLandmarks>;

struct HandSighting {
    Landmarks landmarks{};
    std::array<bool, kFingers> extended{};  // thumb first
    float score = 0;                        // the landmark model's hand presence, 0 to 1
};

}  // namespace webcam
