// Stand-in hand-tracking library: the Leap calls handview polls, fed by one source: no device,
// a replayed file, or the tracking service's live WebSocket stream (see Source.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Leap {

// Millimetres from the device centre: x to the user's right, y up, z towards the user.
struct Vector {
    float x = 0, y = 0, z = 0;
    Vector() = default;
    Vector(float x, float y, float z) : x(x), y(y), z(z) {}
};

// What a source knows of one frame: the hands in the order seen, each with the tips of the
// fingers it shows (extended, not tools).
struct HandData {
    Vector palmPosition;
    Vector palmNormal;  // unit vector out of the palm
    std::vector<Vector> tips;
};

struct FrameData {
    int64_t timestampMs = 0;  // since the first frame of the connection or recording
    std::vector<HandData> hands;
    std::string warning;  // the service's word on why no hand can be read; usually empty
};

class Source;

// Every object read from a frame is a cheap handle on that frame's immutable
// data: copies share it, and it lives as long as the last handle does.
class Interface {
public:
    virtual ~Interface();

protected:
    Interface();
    explicit Interface(std::shared_ptr<const FrameData> data);
    Interface(const Interface&);
    Interface(Interface&&) noexcept;
    Interface& operator=(const Interface&);
    Interface& operator=(Interface&&) noexcept;

    std::shared_ptr<const FrameData> data_;
};

// Handles that point at nothing (out-of-range index, empty list, invalid
// frame) are invalid and read as zero vectors.
class Pointable : public Interface {
public:
    Pointable();
    Vector tipPosition() const;

protected:
    Pointable(std::shared_ptr<const FrameData> data, int hand, int finger);

private:
    int hand_ = -1;
    int finger_ = -1;
};

class Finger : public Pointable {
public:
    Finger();

private:
    friend class FingerList;
    Finger(std::shared_ptr<const FrameData> data, int hand, int finger);
};

class FingerList : public Interface {
public:
    FingerList();
    int count() const;
    Finger frontmost() const;  // smallest tip z; the first on ties
    Finger operator[](int i) const;

private:
    friend class Hand;
    FingerList(std::shared_ptr<const FrameData> data, int hand);
    int hand_ = -1;
};

class Hand : public Interface {
public:
    Hand();
    bool isValid() const;
    FingerList fingers() const;
    Vector palmPosition() const;
    Vector palmNormal() const;

private:
    friend class HandList;
    Hand(std::shared_ptr<const FrameData> data, int hand);
    int hand_ = -1;
};

class HandList : public Interface {
public:
    HandList();
    int count() const;
    Hand frontmost() const;  // smallest palm z; the first on ties
    Hand operator[](int i) const;

private:
    friend class Frame;
    explicit HandList(std::shared_ptr<const FrameData> data);
};

class Frame : public Interface {
public:
    Frame();                         // empty and invalid
    explicit Frame(FrameData data);  // valid, holding these hands in this order
    bool isValid() const;
    HandList hands() const;
    int64_t timestamp() const;  // milliseconds since the first frame of the connection or recording
    // Not a vendor call: what the service says keeps it from reading a hand; empty while all is well.
    const std::string& warning() const;
};

// Polls its source; copies share it. The default constructor picks the source from the
// environment: HANDVIEW_REPLAY=FILE replays that file; otherwise HANDVIEW_TRACKER names the
// service (unset or empty: ws://127.0.0.1:6437/v6.json; "none": no device), and
// HANDVIEW_RECORD=FILE records its stream. No call ever throws or blocks.
class Controller : public Interface {
public:
    Controller();
    explicit Controller(std::shared_ptr<Source> source);  // null: no device
    Controller(const Controller&);
    Controller(Controller&&) noexcept;
    Controller& operator=(const Controller&);
    Controller& operator=(Controller&&) noexcept;
    ~Controller() override;

    bool isConnected() const;            // reads what has arrived; true while a device delivers frames
    Frame frame(int history = 0) const;  // 0 the newest, h > 0 the one h frames earlier (up to 60)

private:
    std::shared_ptr<Source> source_;
};

// Not a vendor call. HANDVIEW_FIXED_STEP_MS=N (0 < N <= 1000) while HANDVIEW_REPLAY is set: every
// frame counts as exactly N ms, for the replay clock and the viewer's frame time alike, so a replay
// ends in the same pose on any machine at any speed. 0 otherwise: the wall clock. `complaint`, when
// given, receives why a value that is set is not used.
double fixedStepMs(std::string* complaint = nullptr);

}  // namespace Leap
