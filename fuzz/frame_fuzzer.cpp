// libFuzzer target: arbitrary bytes as one message of the tracking service's stream. Whatever
// decodes must be safe to hand on: only frames carry hands, every value finite and in range.
#include <cmath>
#include <cstdlib>

#include "tracker/FrameDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Leap::Message m = Leap::decodeMessage(std::string_view(reinterpret_cast<const char*>(data), size));
    auto within = [](const Leap::Vector& v, float limit) {
        return std::fabs(v.x) <= limit && std::fabs(v.y) <= limit && std::fabs(v.z) <= limit;
    };
    bool safe = m.kind == Leap::Message::Kind::frame || m.hands.empty();
    for (const Leap::HandData& hand : m.hands) {
        safe = safe && within(hand.palmPosition, 10000) && within(hand.palmNormal, 2);
        for (const Leap::Vector& tip : hand.tips) safe = safe && within(tip, 10000);
    }
    if (!safe) std::abort();
    return 0;
}
