// The messages of the tracking protocol (version 6) that the service sends: what the viewer's
// live client and its recordings read.
#pragma once

#include <cstdint>
#include <string>

#include "webcam/ControllerSpace.h"

namespace webcam {

// The first message to every client: the service and protocol versions.
std::string greetingMessage();

// The camera is attached and streaming.
std::string deviceMessage();

// One camera frame, one JSON line without its line end. No hand: "hands": []. A hand lists all
// five fingers, each extended or not, as the controller does. A warning (the preview's line) goes
// along for the viewer's overlay.
std::string frameMessage(int64_t id, int64_t timestampUs, const ControllerHand* hand, int64_t handId,
                         const std::string& warning = "");

}  // namespace webcam
