// Readers that pull what the hand control needs out of a tracker frame, and the per-frame hand step.
#pragma once

#include "Leap.h"
#include "camera/LeapCam.h"

class OglPointLight;

// "Nothing to report": the largest finite float in every component; only x is ever tested.
constexpr float kNoReadingValue = 3.4028235e38f;
constexpr Vec3 NoReading{kNoReadingValue, kNoReadingValue, kNoReadingValue};

Vec3 readFingerTip(const Leap::Frame& frame);
bool readHandOpen(const Leap::Frame& frame);
Vec3 readPalmAngles(const Leap::Frame& frame);
Vec3 readPalmPosition(const Leap::Frame& frame);

// One or two fingers place the light; three or more fly the camera; otherwise nothing.
void handStep(const Leap::Frame& frame, LeapCam& camera, OglPointLight& light);
