// The source when there is nothing to track: never connected, every frame invalid.
#include "tracker/Source.h"

namespace Leap {

namespace {
class NoDevice : public Source {
public:
    bool isConnected() override { return false; }
    Frame frame(int) override { return Frame(); }
};
}  // namespace

std::shared_ptr<Source> makeNoDevice() {
    return std::make_shared<NoDevice>();
}

}  // namespace Leap
