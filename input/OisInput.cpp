// Opening the OIS keyboard and mouse on the SDL window, and the per-frame mouse poll.
#include "input/OisInput.h"

#include "input/X11Glue.h"

#include <OIS.h>

#include <iostream>

namespace {

// OIS's mask bits (OIS::MB_Left, MB_Right, MB_Middle).
constexpr int kLeftBit = 1 << 0;
constexpr int kRightBit = 1 << 1;
constexpr int kMiddleBit = 1 << 2;

struct Edge {
    bool down;
    bool pressed;
    bool released;
};

Edge edge(bool before, bool now) {
    return {now, now && !before, !now && before};
}

// Standard error is kept for start-up failures; running without devices is not one.
void reportNoDevices(const std::string& reason) {
    std::cout << "Input devices not opened, running without keyboard and mouse: " << reason << std::endl;
}

}  // namespace

MouseSnapshot nextSnapshot(const MouseSnapshot& previous, int buttonMask, int relX, int relY) {
    const Edge left = edge(previous.leftDown, (buttonMask & kLeftBit) != 0);
    const Edge middle = edge(previous.middleDown, (buttonMask & kMiddleBit) != 0);
    const Edge right = edge(previous.rightDown, (buttonMask & kRightBit) != 0);

    MouseSnapshot next;
    next.dx = relX;
    next.dy = relY;
    next.leftDown = left.down;
    next.middleDown = middle.down;
    next.rightDown = right.down;
    next.leftPressed = left.pressed;
    next.middlePressed = middle.pressed;
    next.rightPressed = right.pressed;
    next.leftReleased = left.released;
    next.middleReleased = middle.released;
    next.rightReleased = right.released;
    return next;
}

OisInput::~OisInput() {
    OIS::Object* device = mouse ? static_cast<OIS::Object*>(mouse) : keyboard;
    if (device) {
        ignoringXErrors([device] { OIS::InputManager::destroyInputSystem(device->getCreator()); });
    }
}

void OisInput::open(SDL_Window* window) {
    OIS::ParamList params;
    const std::string notShared = shareWindowWithOis(window, params);
    if (!notShared.empty()) {
        reportNoDevices(notShared);
        return;
    }

    OIS::InputManager* manager = nullptr;
    try {
        const OisConnectionScope oisConnections;
        manager = OIS::InputManager::createInputSystem(params);
        mouse = static_cast<OIS::Mouse*>(manager->createInputObject(OIS::OISMouse, false, ""));
        keyboard = static_cast<OIS::Keyboard*>(manager->createInputObject(OIS::OISKeyboard, false, ""));
    } catch (const OIS::Exception& e) {
        // A half-opened pair is of no use; the manager takes its devices with it.
        mouse = nullptr;
        keyboard = nullptr;
        if (manager) {
            OIS::InputManager::destroyInputSystem(manager);
        }
        reportNoDevices(e.eText ? e.eText : "unknown OIS error");
    }
}

MouseSnapshot OisInput::capture() {
    if (!mouse) {
        return state;
    }
    mouse->capture();
    const OIS::MouseState& now = mouse->getMouseState();
    state = nextSnapshot(state, now.buttons, now.X.rel, now.Y.rel);
    return state;
}
