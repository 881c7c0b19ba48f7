// The tracking service's WebSocket protocol as both sides speak it: the viewer's client and
// handview-camera's server take these from here, so they cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Leap {

constexpr int64_t kProtocolVersion = 6;
constexpr unsigned short kServicePort = 6437;
constexpr const char* kServicePath = "/v6.json";  // the version is in the path too
// Any one message, either way; a peer that sends a larger one is dropped.
constexpr size_t kMaxMessageBytes = 64 * 1024;
// A frame's field, from handview-camera only: why no hand can be read now ("too dark ..."), absent
// while all is well. A client that does not know it ignores it, as it does the other fields it skips.
constexpr const char* kWarningField = "handviewWarning";

// A service on this machine.
inline std::string localServiceUrl(unsigned short port = kServicePort) {
    return "ws://127.0.0.1:" + std::to_string(port) + kServicePath;
}

}  // namespace Leap
