// Stand-in hand-tracking library: the Leap calls handview polls, backed by no
// device or by a recorded session (see README-format.md and LeapTesting.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace Leap {

// Millimetres from the device centre: x to the user's right, y up, z towards the user.
struct Vector {
    float x = 0, y = 0, z = 0;
    Vector();
    Vector(float x, float y, float z);
};

class Frame;
class Controller;

namespace detail {
struct FrameData;
}

namespace testing {
struct HandSpec;
class Source;
Frame makeFrame(const std::vector<HandSpec>& hands, int64_t timestampMs);
void attachSource(Controller& controller, std::shared_ptr<Source> source);
}  // namespace testing

// Every object read from a frame is a cheap handle on that frame's immutable
// data: copies share it, and it lives as long as the last handle does.
class Interface {
public:
    virtual ~Interface();

protected:
    Interface();
    explicit Interface(std::shared_ptr<const detail::FrameData> data);
    Interface(const Interface&);
    Interface(Interface&&) noexcept;
    Interface& operator=(const Interface&);
    Interface& operator=(Interface&&) noexcept;

    std::shared_ptr<const detail::FrameData> data_;
};

// Handles that point at nothing (out-of-range index, empty list, invalid
// frame) are invalid and read as zero vectors.
class Pointable : public Interface {
public:
    Pointable();
    Vector tipPosition() const;
    bool isValid() const;

protected:
    Pointable(std::shared_ptr<const detail::FrameData> data, int hand, int finger);

private:
    int hand_ = -1;
    int finger_ = -1;
};

class Finger : public Pointable {
public:
    Finger();

private:
    friend class FingerList;
    Finger(std::shared_ptr<const detail::FrameData> data, int hand, int finger);
};

class FingerList : public Interface {
public:
    FingerList();
    int count() const;
    Finger frontmost() const;  // smallest tip z; the first on ties
    Finger operator[](int i) const;

private:
    friend class Hand;
    FingerList(std::shared_ptr<const detail::FrameData> data, int hand);
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
    Hand(std::shared_ptr<const detail::FrameData> data, int hand);
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
    explicit HandList(std::shared_ptr<const detail::FrameData> data);
};

class Frame : public Interface {
public:
    Frame();  // empty and invalid
    bool isValid() const;
    HandList hands() const;
    int64_t timestamp() const;  // milliseconds since the session started

private:
    friend Frame testing::makeFrame(const std::vector<testing::HandSpec>& hands, int64_t timestampMs);
    explicit Frame(std::shared_ptr<const detail::FrameData> data);
};

// Without HANDVIEW_REPLAY there is no device: never connected, invalid frames.
// HANDVIEW_REPLAY=<session file> replays that session against a steady clock
// started at construction. Copies share the same source.
class Controller : public Interface {
public:
    Controller();
    ~Controller() override;
    bool isConnected() const;
    Frame frame(int history = 0) const;  // 0 is the latest, h > 0 the one h frames earlier

private:
    friend void testing::attachSource(Controller& controller, std::shared_ptr<testing::Source> source);
    std::shared_ptr<testing::Source> source_;  // null: no device
};

}  // namespace Leap
