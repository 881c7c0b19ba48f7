// Frame handles, the controller and the scripted source of the stand-in tracker.
#include "Leap.h"
#include "LeapTesting.h"

#include <cstdlib>
#include <iostream>

namespace Leap {

namespace detail {
struct FrameData {
    int64_t timestampMs = 0;
    std::vector<testing::HandSpec> hands;
};
}  // namespace detail

namespace {

using DataPtr = std::shared_ptr<const detail::FrameData>;

const testing::HandSpec* findHand(const DataPtr& data, int hand) {
    if (!data || hand < 0 || hand >= static_cast<int>(data->hands.size())) return nullptr;
    return &data->hands[static_cast<size_t>(hand)];
}

const Vector* findTip(const DataPtr& data, int hand, int finger) {
    const testing::HandSpec* handSpec = findHand(data, hand);
    if (!handSpec || finger < 0 || finger >= static_cast<int>(handSpec->tips.size())) return nullptr;
    return &handSpec->tips[static_cast<size_t>(finger)];
}

// Index of the element with the smallest z, -1 for none; strict < keeps the first on ties.
template <typename T, typename ZOf>
int indexOfSmallestZ(const std::vector<T>& items, ZOf zOf) {
    int best = -1;
    for (size_t i = 0; i < items.size(); ++i) {
        if (best < 0 || zOf(items[i]) < zOf(items[static_cast<size_t>(best)])) best = static_cast<int>(i);
    }
    return best;
}

}  // namespace

Vector::Vector() = default;
Vector::Vector(float x, float y, float z) : x(x), y(y), z(z) {}

Interface::Interface() = default;
Interface::Interface(DataPtr data) : data_(std::move(data)) {}
Interface::Interface(const Interface&) = default;
Interface::Interface(Interface&&) noexcept = default;
Interface& Interface::operator=(const Interface&) = default;
Interface& Interface::operator=(Interface&&) noexcept = default;
Interface::~Interface() = default;

Pointable::Pointable() = default;
Pointable::Pointable(DataPtr data, int hand, int finger)
    : Interface(std::move(data)), hand_(hand), finger_(finger) {}

Vector Pointable::tipPosition() const {
    const Vector* tip = findTip(data_, hand_, finger_);
    return tip ? *tip : Vector();
}

bool Pointable::isValid() const {
    return findTip(data_, hand_, finger_) != nullptr;
}

Finger::Finger() = default;
Finger::Finger(DataPtr data, int hand, int finger) : Pointable(std::move(data), hand, finger) {}

FingerList::FingerList() = default;
FingerList::FingerList(DataPtr data, int hand) : Interface(std::move(data)), hand_(hand) {}

int FingerList::count() const {
    const testing::HandSpec* handSpec = findHand(data_, hand_);
    return handSpec ? static_cast<int>(handSpec->tips.size()) : 0;
}

Finger FingerList::frontmost() const {
    const testing::HandSpec* handSpec = findHand(data_, hand_);
    if (!handSpec) return Finger();
    return (*this)[indexOfSmallestZ(handSpec->tips, [](const Vector& tip) { return tip.z; })];
}

Finger FingerList::operator[](int i) const {
    if (!findTip(data_, hand_, i)) return Finger();
    return Finger(data_, hand_, i);
}

Hand::Hand() = default;
Hand::Hand(DataPtr data, int hand) : Interface(std::move(data)), hand_(hand) {}

bool Hand::isValid() const {
    return findHand(data_, hand_) != nullptr;
}

FingerList Hand::fingers() const {
    if (!isValid()) return FingerList();
    return FingerList(data_, hand_);
}

Vector Hand::palmPosition() const {
    const testing::HandSpec* handSpec = findHand(data_, hand_);
    return handSpec ? handSpec->palmPosition : Vector();
}

Vector Hand::palmNormal() const {
    const testing::HandSpec* handSpec = findHand(data_, hand_);
    return handSpec ? handSpec->palmNormal : Vector();
}

HandList::HandList() = default;
HandList::HandList(DataPtr data) : Interface(std::move(data)) {}

int HandList::count() const {
    return data_ ? static_cast<int>(data_->hands.size()) : 0;
}

Hand HandList::frontmost() const {
    if (!data_) return Hand();
    return (
        *this)[indexOfSmallestZ(data_->hands, [](const testing::HandSpec& h) { return h.palmPosition.z; })];
}

Hand HandList::operator[](int i) const {
    if (!findHand(data_, i)) return Hand();
    return Hand(data_, i);
}

Frame::Frame() = default;
Frame::Frame(DataPtr data) : Interface(std::move(data)) {}

bool Frame::isValid() const {
    return data_ != nullptr;
}
HandList Frame::hands() const {
    return data_ ? HandList(data_) : HandList();
}
int64_t Frame::timestamp() const {
    return data_ ? data_->timestampMs : 0;
}

Controller::Controller() {
    const char* path = std::getenv("HANDVIEW_REPLAY");
    if (!path || !*path) return;
    testing::Session session;
    std::string error;
    if (!testing::loadSession(path, session, error)) {
        std::cerr << "handview: replay file " << path << ' ' << error << '\n';
        return;
    }
    source_ = testing::makeReplaySource(std::move(session), nullptr);
}

Controller::~Controller() = default;

bool Controller::isConnected() const {
    return source_ && source_->isConnected();
}

Frame Controller::frame(int history) const {
    if (!source_ || history < 0) return Frame();
    return source_->frame(history);
}

namespace testing {

Frame makeFrame(const std::vector<HandSpec>& hands, int64_t timestampMs) {
    auto data = std::make_shared<detail::FrameData>();
    data->timestampMs = timestampMs;
    data->hands = hands;
    return Frame(std::move(data));
}

Source::~Source() = default;

void attachSource(Controller& controller, std::shared_ptr<Source> source) {
    controller.source_ = std::move(source);
}

void ScriptedSource::setConnected(bool connected) {
    connected_ = connected;
}
void ScriptedSource::setFrame(Frame frame) {
    frames_.push_back(std::move(frame));
}
bool ScriptedSource::isConnected() const {
    return connected_;
}

Frame ScriptedSource::frame(int history) const {
    if (history < 0 || history >= static_cast<int>(frames_.size())) return Frame();
    return frames_[frames_.size() - 1 - static_cast<size_t>(history)];
}

}  // namespace testing

}  // namespace Leap
