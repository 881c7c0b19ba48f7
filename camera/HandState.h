// The hand as the overlay shows it: the tracker's state as the hand control takes it, the finger
// count, and where the palm is against its rest.
#pragma once

#include <string>

#include "Leap.h"
#include "render/OglHud.h"

// `connected`: the controller delivers frames; otherwise the state is "no hand tracker" and
// `advice` says what to do.
HudContent readHandState(bool connected, const Leap::Frame& frame, const std::string& advice);
