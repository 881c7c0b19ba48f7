// What a Controller polls, and the library's three sources of it: no device, a replayed file,
// the tracking service's live stream. Tests implement their own.
#pragma once

#include <memory>
#include <string>

#include "tracker/Address.h"
#include "Leap.h"

namespace Leap {

class Source {
public:
    virtual ~Source();
    // Advances the source (connects, reads what has arrived); true while a device delivers frames.
    virtual bool isConnected() = 0;
    // Also advances. 0 the newest frame, h > 0 the one h frames earlier; invalid when there is none.
    virtual Frame frame(int history) = 0;
};

std::shared_ptr<Source> makeNoDevice();

// A session file or a JSON-lines recording, replayed from the first call on, on the wall clock or,
// with `stepMs` > 0, advanced by exactly that at every isConnected() after the first (the viewer
// makes one a frame). An unusable file gets one console line and no device; the end gets one too.
std::shared_ptr<Source> makeReplaySource(const std::string& path, double stepMs = 0);

// `named`: the address came from the user, so failing to reach it is worth a line. `recordPath`
// (null or empty: none) receives what the service says that a replay needs.
std::shared_ptr<Source> makeLiveSource(const std::string& url, const Address& address, bool named,
                                       const char* recordPath);

}  // namespace Leap
