// Numbers go out rounded to hundredths: a camera measures nothing finer, and lines stay short.
#include "webcam/FrameMessage.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "tracker/Protocol.h"

namespace webcam {

namespace {

using json = nlohmann::json;

double rounded(float v) {
    return std::round(static_cast<double>(v) * 100.0) / 100.0;
}

json triple(const Leap::Vector& v) {
    return json::array({rounded(v.x), rounded(v.y), rounded(v.z)});
}

}  // namespace

std::string greetingMessage() {
    return json{{"serviceVersion", "handview-camera"}, {"version", Leap::kProtocolVersion}}.dump();
}

std::string deviceMessage() {
    return json{
        {"event",
         {{"type", "deviceEvent"}, {"state", {{"attached", true}, {"streaming", true}, {"id", "camera"}}}}}}
        .dump();
}

std::string frameMessage(int64_t id, int64_t timestampUs, const ControllerHand* hand, int64_t handId,
                         const std::string& warning) {
    json hands = json::array(), pointables = json::array();
    if (hand) {
        hands.push_back({{"id", handId},
                         {"palmPosition", triple(hand->palmPosition)},
                         {"palmNormal", triple(hand->palmNormal)},
                         {"direction", triple(hand->direction)},
                         {"confidence", rounded(hand->score)}});
        for (int f = 0; f < kFingers; ++f)
            pointables.push_back({{"id", handId * 10 + f},
                                  {"handId", handId},
                                  {"type", f},
                                  {"tipPosition", triple(hand->tips[f])},
                                  {"extended", hand->extended[f]},
                                  {"tool", false}});
    }
    json message{{"id", id}, {"timestamp", timestampUs}, {"hands", hands}, {"pointables", pointables}};
    if (!warning.empty()) message[Leap::kWarningField] = warning;
    return message.dump();
}

}  // namespace webcam
