// Hooks into the stand-in tracker for tests and replay: build frames by hand,
// parse session files, and drive a controller from any frame source.
#pragma once

#include "Leap.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace Leap::testing {

struct HandSpec {
    Vector palmPosition;
    Vector palmNormal;
    std::vector<Vector> tips;
};

// A valid frame holding these hands, in this order.
Frame makeFrame(const std::vector<HandSpec>& hands, int64_t timestampMs = 0);

// What a controller polls. A controller without a source has no device.
class Source {
public:
    virtual ~Source();
    virtual bool isConnected() const = 0;
    virtual Frame frame(int history) const = 0;
};

void attachSource(Controller& controller, std::shared_ptr<Source> source);

// Starts disconnected with no frames. Each setFrame delivers a new latest
// frame; the earlier ones stay reachable as history.
class ScriptedSource : public Source {
public:
    void setConnected(bool connected);
    void setFrame(Frame frame);
    bool isConnected() const override;
    Frame frame(int history) const override;

private:
    bool connected_ = false;
    std::vector<Frame> frames_;
};

// Frames with strictly increasing timestamps; the session is connected up to
// and including endMs.
struct Session {
    std::vector<Frame> frames;
    int64_t endMs = 0;
};

// On failure `error` reads "line N: what is wrong" ("holds no frame and no
// 'end' line" for an empty session) and `out` is left untouched.
bool parseSession(std::istream& in, Session& out, std::string& error);
// Also fails, with "cannot be opened: reason", on a file it cannot read.
bool loadSession(const std::string& path, Session& out, std::string& error);

// Replays `session` against `clockMs` (milliseconds since the replay started;
// an empty function means a steady clock started now). frame(0) is the last
// frame at or before the clock; before the first one it is invalid.
std::shared_ptr<Source> makeReplaySource(Session session, std::function<int64_t()> clockMs);

}  // namespace Leap::testing
