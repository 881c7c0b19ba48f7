// Hands built in memory and a source that delivers them, for tests that drive the hand control.
#pragma once

#include "LeapTesting.h"

#include <memory>
#include <vector>

namespace fake {

using HandSpec = Leap::testing::HandSpec;  // palmPosition, palmNormal, tips

// A valid frame holding these hands, in this order.
inline Leap::Frame makeFrame(const std::vector<HandSpec>& hands, int64_t timestampMs = 0) {
    return Leap::testing::makeFrame(hands, timestampMs);
}

// Starts disconnected; setConnected(bool), setFrame(Frame) make the newest frame.
using ScriptedSource = Leap::testing::ScriptedSource;

inline void attach(Leap::Controller& controller, std::shared_ptr<ScriptedSource> source) {
    Leap::testing::attachSource(controller, std::move(source));
}

}  // namespace fake
