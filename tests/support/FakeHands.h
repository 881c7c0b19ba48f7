// Hands built in memory and a source that delivers them, for tests that drive the hand control.
#pragma once

#include <memory>
#include <vector>

#include "Leap.h"
#include "Source.h"

namespace fake {

using HandSpec = Leap::HandData;  // palmPosition, palmNormal, tips

// A valid frame holding these hands, in this order.
inline Leap::Frame makeFrame(const std::vector<HandSpec>& hands, int64_t timestampMs = 0) {
    return Leap::Frame(Leap::FrameData{timestampMs, hands});
}

// Starts disconnected; setConnected(bool), setFrame(Frame) make the newest frame, older ones stay as history.
class ScriptedSource : public Leap::Source {
public:
    void setConnected(bool connected) { connected_ = connected; }
    void setFrame(Leap::Frame frame) { frames_.push_back(std::move(frame)); }
    bool isConnected() override { return connected_; }
    Leap::Frame frame(int history) override {
        if (history < 0 || history >= static_cast<int>(frames_.size())) return Leap::Frame();
        return frames_[frames_.size() - 1 - static_cast<size_t>(history)];
    }

private:
    bool connected_ = false;
    std::vector<Leap::Frame> frames_;
};

inline void attach(Leap::Controller& controller, std::shared_ptr<ScriptedSource> source) {
    controller = Leap::Controller(std::move(source));
}

}  // namespace fake
