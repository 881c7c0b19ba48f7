// What a Controller polls, and the library's three sources of it: no device, a replayed file,
// the tracking service's live stream. Tests implement their own.
#pragma once

#include <array>
#include <memory>
#include <string>

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

// ws://HOST:PORT/PATH, HOST an IP address or localhost; anything else gets one console line and
// no device. `named`: the address came from the user, so failing to reach it is worth a line.
// `recordPath` (null or empty: none) receives every frame message.
std::shared_ptr<Source> makeLiveSource(const std::string& url, bool named, const char* recordPath);

// Prefixes "handview: " and ends the line.
void printConsoleLine(const std::string& text);

// Console lines on standard error, "handview: " first: one per kind of problem until a good
// frame re-arms them, and never more than kMaxPerKind of a kind, so a flapping stream cannot flood.
template <int Kinds>
class ConsoleLines {
public:
    // True when the line was printed.
    bool say(int kind, const std::string& text) {
        if (quiet_[kind] || said_[kind] >= kMaxPerKind) return false;
        quiet_[kind] = true;
        ++said_[kind];
        printConsoleLine(said_[kind] < kMaxPerKind ? text : text + " (no more lines of this kind)");
        return true;
    }
    void rearm() { quiet_.fill(false); }
    void rearm(int kind) { quiet_[kind] = false; }

private:
    static constexpr int kMaxPerKind = 5;
    std::array<bool, Kinds> quiet_{};
    std::array<int, Kinds> said_{};
};

}  // namespace Leap
