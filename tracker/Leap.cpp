// Frame handles, the controller, and the choice of its source from the environment.
#include "Leap.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tracker/Console.h"
#include "tracker/Protocol.h"
#include "tracker/Source.h"

namespace Leap {

namespace {

using DataPtr = std::shared_ptr<const FrameData>;

const HandData* findHand(const DataPtr& data, int hand) {
    if (!data || hand < 0 || hand >= static_cast<int>(data->hands.size())) return nullptr;
    return &data->hands[static_cast<size_t>(hand)];
}

const Vector* findTip(const DataPtr& data, int hand, int finger) {
    const HandData* handData = findHand(data, hand);
    if (!handData || finger < 0 || finger >= static_cast<int>(handData->tips.size())) return nullptr;
    return &handData->tips[static_cast<size_t>(finger)];
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

std::shared_ptr<Source> sourceFromEnvironment() {
    std::string complaint;
    const double stepMs = fixedStepMs(&complaint);
    if (!complaint.empty()) printConsoleLine(complaint);
    const char* record = std::getenv("HANDVIEW_RECORD");
    const auto unrecorded = [record](std::shared_ptr<Source> source) {
        if (record && *record)
            printConsoleLine("HANDVIEW_RECORD applies to a live stream only; nothing is recorded");
        return source;
    };
    const char* replay = std::getenv("HANDVIEW_REPLAY");
    if (replay && *replay) return unrecorded(makeReplaySource(replay, stepMs));
    const char* tracker = std::getenv("HANDVIEW_TRACKER");
    const bool named = tracker && *tracker;
    const std::string url = named ? tracker : localServiceUrl();
    if (url == "none") return unrecorded(makeNoDevice());
    Address address;
    if (!parseAddress(url, address)) {
        printConsoleLine("HANDVIEW_TRACKER=" + printable(url) +
                         " is neither none nor ws://HOST:PORT/PATH with HOST an IP address or localhost;"
                         " running without a hand device");
        return unrecorded(makeNoDevice());
    }
    return makeLiveSource(url, address, named, record);
}

}  // namespace

double fixedStepMs(std::string* complaint) {
    const char* value = std::getenv("HANDVIEW_FIXED_STEP_MS");
    if (!value || !*value) return 0;
    const char* end = value + std::strlen(value);
    double ms = 0;
    auto [ptr, ec] = std::from_chars(value, end, ms);
    std::string why;
    if (ec != std::errc() || ptr != end || !(ms > 0 && ms <= 1000))
        why = "HANDVIEW_FIXED_STEP_MS=" + std::string(value).substr(0, 40) +
              " is not a number of milliseconds above 0 and at most 1000; frames take the wall clock";
    else if (!std::getenv("HANDVIEW_REPLAY") || !*std::getenv("HANDVIEW_REPLAY"))
        why =
            "HANDVIEW_FIXED_STEP_MS applies to a replay (HANDVIEW_REPLAY) only; a live run takes the wall "
            "clock";
    if (complaint) *complaint = why;
    return why.empty() ? ms : 0;
}

Source::~Source() = default;

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

Finger::Finger() = default;
Finger::Finger(DataPtr data, int hand, int finger) : Pointable(std::move(data), hand, finger) {}

FingerList::FingerList() = default;
FingerList::FingerList(DataPtr data, int hand) : Interface(std::move(data)), hand_(hand) {}

int FingerList::count() const {
    const HandData* handData = findHand(data_, hand_);
    return handData ? static_cast<int>(handData->tips.size()) : 0;
}

Finger FingerList::frontmost() const {
    const HandData* handData = findHand(data_, hand_);
    if (!handData) return Finger();
    return (*this)[indexOfSmallestZ(handData->tips, [](const Vector& tip) { return tip.z; })];
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
    const HandData* handData = findHand(data_, hand_);
    return handData ? handData->palmPosition : Vector();
}

Vector Hand::palmNormal() const {
    const HandData* handData = findHand(data_, hand_);
    return handData ? handData->palmNormal : Vector();
}

HandList::HandList() = default;
HandList::HandList(DataPtr data) : Interface(std::move(data)) {}

int HandList::count() const {
    return data_ ? static_cast<int>(data_->hands.size()) : 0;
}

Hand HandList::frontmost() const {
    if (!data_) return Hand();
    return (*this)[indexOfSmallestZ(data_->hands, [](const HandData& h) { return h.palmPosition.z; })];
}

Hand HandList::operator[](int i) const {
    if (!findHand(data_, i)) return Hand();
    return Hand(data_, i);
}

Frame::Frame() = default;
Frame::Frame(FrameData data) : Interface(std::make_shared<const FrameData>(std::move(data))) {}

bool Frame::isValid() const {
    return data_ != nullptr;
}
HandList Frame::hands() const {
    return data_ ? HandList(data_) : HandList();
}
int64_t Frame::timestamp() const {
    return data_ ? data_->timestampMs : 0;
}
const std::string& Frame::warning() const {
    static const std::string none;
    return data_ ? data_->warning : none;
}

// Nothing may escape the controller's calls: a source that throws (out of memory, say) is
// replaced by no device rather than ending the program.
Controller::Controller() {
    try {
        source_ = sourceFromEnvironment();
    } catch (...) {
        printConsoleLine("the hand tracker could not start; running without a hand device");
        source_ = makeNoDevice();
    }
}

Controller::Controller(std::shared_ptr<Source> source)
    : source_(source ? std::move(source) : makeNoDevice()) {}

Controller::Controller(const Controller&) = default;
Controller::Controller(Controller&&) noexcept = default;
Controller& Controller::operator=(const Controller&) = default;
Controller& Controller::operator=(Controller&&) noexcept = default;
Controller::~Controller() = default;

bool Controller::isConnected() const {
    try {
        return source_ && source_->isConnected();
    } catch (...) {
        return false;
    }
}

Frame Controller::frame(int history) const {
    try {
        if (!source_ || history < 0) return Frame();
        return source_->frame(history);
    } catch (...) {
        return Frame();
    }
}

}  // namespace Leap
