// The mouse snapshot's edge rules, as a pure function of the previous snapshot and one poll.
#include "input/OisInput.h"

#include <gtest/gtest.h>

namespace {

constexpr int kLeft = 1 << 0;    // OIS::MB_Left
constexpr int kRight = 1 << 1;   // OIS::MB_Right
constexpr int kMiddle = 1 << 2;  // OIS::MB_Middle

struct Button {
    const char* name;
    int bit;
    bool MouseSnapshot::*down;
    bool MouseSnapshot::*pressed;
    bool MouseSnapshot::*released;
};

const Button kButtons[] = {
    {"left", kLeft, &MouseSnapshot::leftDown, &MouseSnapshot::leftPressed, &MouseSnapshot::leftReleased},
    {"middle", kMiddle, &MouseSnapshot::middleDown, &MouseSnapshot::middlePressed,
     &MouseSnapshot::middleReleased},
    {"right", kRight, &MouseSnapshot::rightDown, &MouseSnapshot::rightPressed, &MouseSnapshot::rightReleased},
};

}  // namespace

// Also pins the bit order: each button's bit sets its own flags and no other button's.
TEST(MouseEdges, HeldFromFirstCapturePressesOnceAndReleasesOnce) {
    for (const Button& b : kButtons) {
        SCOPED_TRACE(b.name);
        const int masks[] = {b.bit, b.bit, b.bit, 0, 0};
        const bool wantPressed[] = {true, false, false, false, false};
        const bool wantReleased[] = {false, false, false, true, false};
        MouseSnapshot s;
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            s = nextSnapshot(s, masks[i], 0, 0);
            EXPECT_EQ(s.*b.down, masks[i] != 0);
            EXPECT_EQ(s.*b.pressed, wantPressed[i]);
            EXPECT_EQ(s.*b.released, wantReleased[i]);
            EXPECT_EQ(s.leftDown + s.middleDown + s.rightDown, masks[i] != 0 ? 1 : 0);
        }
    }
    // Higher bits (buttons 3..7, the wheel) stay out of the snapshot.
    const MouseSnapshot others = nextSnapshot(MouseSnapshot{}, ~(kLeft | kRight | kMiddle), 0, 0);
    EXPECT_FALSE(others.leftDown || others.middleDown || others.rightDown);
}

TEST(MouseEdges, PressedAndReleasedNeverBoth) {
    for (int before = 0; before < 8; ++before) {
        for (int now = 0; now < 8; ++now) {
            const MouseSnapshot s = nextSnapshot(nextSnapshot(MouseSnapshot{}, before, 0, 0), now, 0, 0);
            for (const Button& b : kButtons)
                EXPECT_FALSE(s.*b.pressed && s.*b.released) << b.name << " " << before << "->" << now;
        }
    }
}

TEST(MouseEdges, EdgesComeFromDownFlagsBeforeTheUpdate) {
    // Left released while right is pressed in the same capture: each edge sees its own old flag.
    const MouseSnapshot s = nextSnapshot(nextSnapshot(MouseSnapshot{}, kLeft, 0, 0), kRight, 0, 0);
    EXPECT_TRUE(s.leftReleased && s.rightPressed);
    EXPECT_FALSE(s.leftPressed || s.rightReleased || s.middlePressed || s.middleReleased);
}

TEST(MouseEdges, MotionIsThisCapturesOwn) {
    MouseSnapshot s = nextSnapshot(MouseSnapshot{}, 0, 7, -3);
    EXPECT_EQ(s.dx, 7);
    EXPECT_EQ(s.dy, -3);
    s = nextSnapshot(s, 0, 0, 0);
    EXPECT_EQ(s.dx, 0);
    EXPECT_EQ(s.dy, 0);
}

TEST(MouseEdges, UnopenedInputCapturesTheUnchangedSnapshot) {
    OisInput input;
    EXPECT_EQ(input.keyboard, nullptr);
    EXPECT_EQ(input.mouse, nullptr);
    input.state.leftDown = true;
    input.state.dx = 5;
    const MouseSnapshot s = input.capture();
    EXPECT_TRUE(s.leftDown);
    EXPECT_FALSE(s.leftPressed);
    EXPECT_EQ(s.dx, 5);
}
