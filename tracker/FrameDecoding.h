// The tracking service's JSON messages (protocol 6), decoded for the live stream and for replayed
// recordings alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Leap.h"
#include "tracker/Protocol.h"

namespace Leap {

struct Message {
    // frame: anything that is not one of the others. other: an event the controller ignores.
    enum class Kind { frame, version, deviceEvent, other, bad };
    Kind kind = Kind::bad;
    std::string problem;          // bad: what is wrong, a short phrase
    int64_t timestampUs = 0;      // frame: device clock
    std::vector<HandData> hands;  // frame
    std::string warning;          // frame: the service's, when it has one
    int64_t version = 0;          // version: the protocol (-1 when not an integer)
    std::string serviceVersion;   // version
    bool deviceReady = true;      // deviceEvent: attached and streaming
};

// Never throws but for lack of memory. A frame that breaks any rule is `bad`, never half-read.
Message decodeMessage(std::string_view text);

// A decoded frame message, timed in milliseconds since the device time `originUs`.
Frame toFrame(Message&& frame, int64_t originUs);

}  // namespace Leap
