// Hands built in memory and a source that delivers them, for tests that drive the hand control.
#pragma once

#include "tracker/Source.h"

namespace fake {

using HandSpec = Leap::HandData;  // palmPosition, palmNormal, tips

// A valid frame holding these hands, in this order.
inline Leap::Frame makeFrame(const std::vector<HandSpec>& hands, int64_t timestampMs = 0) {
    return Leap::Frame(Leap::FrameData{timestampMs, hands, {}});
}

// Starts disconnected; setConnected(bool); setFrame(Frame) makes the newest frame, older ones stay as
// history.
class ScriptedSource : public Leap::Source {
public:
    void setConnected(bool connected) { connected_ = connected; }
    void setFrame(Leap::Frame frame) { frames_.push_back(std::move(frame)); }
    bool isConnected() override { return connected_; }
    Leap::Frame frame(int h) override {
        return h >= 0 && h < int(frames_.size()) ? frames_[frames_.size() - 1 - size_t(h)] : Leap::Frame();
    }

private:
    bool connected_ = false;
    std::vector<Leap::Frame> frames_;
};

inline void attach(Leap::Controller& controller, std::shared_ptr<ScriptedSource> source) {
    controller = Leap::Controller(std::move(source));
}

}  // namespace fake
