// Keyboard and mouse through the OIS input library on the application's window,
// polled once per frame; the mouse poll yields a snapshot with button edges.
#pragma once

#include <cstdint>

struct SDL_Window;
namespace OIS {
class Keyboard;
class Mouse;
}  // namespace OIS

// Buttons are listed left, middle, right (OIS's mask orders them left, right, middle).
struct MouseSnapshot {
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    bool leftDown = false;
    bool middleDown = false;
    bool rightDown = false;
    bool leftPressed = false;
    bool middlePressed = false;
    bool rightPressed = false;
    bool leftReleased = false;
    bool middleReleased = false;
    bool rightReleased = false;
};

// The snapshot after one capture: edges come from the previous Down flags and
// the button mask read now; motion is this capture's own, never summed.
MouseSnapshot nextSnapshot(const MouseSnapshot& previous, int buttonMask, int relX, int relY);

// The devices belong to the input manager that made them; the destructor hands
// that manager back to OIS, which closes both devices. Not copyable for that reason.
// When opening fails, both devices stay null and the run goes on without them.
class OisInput {
public:
    OIS::Keyboard* keyboard = nullptr;
    OIS::Mouse* mouse = nullptr;
    MouseSnapshot state;

    OisInput() = default;
    ~OisInput();
    OisInput(const OisInput&) = delete;
    OisInput& operator=(const OisInput&) = delete;

    void open(SDL_Window* window);
    MouseSnapshot capture();
};
