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

TEST(MouseEdges, ButtonHeldAtFirstCaptureIsPressed) {
    for (const Button& b : kButtons) {
        SCOPED_TRACE(b.name);
        const MouseSnapshot s = nextSnapshot(MouseSnapshot{}, b.bit, 0, 0);
        EXPECT_TRUE(s.*b.down);
        EXPECT_TRUE(s.*b.pressed);
        EXPECT_FALSE(s.*b.released);
    }
}

TEST(MouseEdges, HoldPressesOnceAndReleasesOnce) {
    for (const Button& b : kButtons) {
        SCOPED_TRACE(b.name);
        const int masks[] = {0, b.bit, b.bit, b.bit, 0, 0};
        const bool wantDown[] = {false, true, true, true, false, false};
        const bool wantPressed[] = {false, true, false, false, false, false};
        const bool wantReleased[] = {false, false, false, false, true, false};
        MouseSnapshot s;
        for (int i = 0; i < 6; ++i) {
            SCOPED_TRACE(i);
            s = nextSnapshot(s, masks[i], 0, 0);
            EXPECT_EQ(s.*b.down, wantDown[i]);
            EXPECT_EQ(s.*b.pressed, wantPressed[i]);
            EXPECT_EQ(s.*b.released, wantReleased[i]);
        }
    }
}

TEST(MouseEdges, PressedAndReleasedNeverBoth) {
    // Every pair of consecutive masks over the three buttons.
    for (int before = 0; before < 8; ++before) {
        for (int now = 0; now < 8; ++now) {
            const MouseSnapshot prev = nextSnapshot(MouseSnapshot{}, before, 0, 0);
            const MouseSnapshot s = nextSnapshot(prev, now, 0, 0);
            for (const Button& b : kButtons) {
                EXPECT_FALSE(s.*b.pressed && s.*b.released) << b.name << " " << before << "->" << now;
            }
        }
    }
}

TEST(MouseEdges, MiddleIsBitTwoAndRightIsBitOne) {
    const MouseSnapshot middle = nextSnapshot(MouseSnapshot{}, kMiddle, 0, 0);
    EXPECT_TRUE(middle.middleDown);
    EXPECT_FALSE(middle.rightDown);
    EXPECT_FALSE(middle.leftDown);

    const MouseSnapshot right = nextSnapshot(MouseSnapshot{}, kRight, 0, 0);
    EXPECT_TRUE(right.rightDown);
    EXPECT_FALSE(right.middleDown);
    EXPECT_FALSE(right.leftDown);

    // Higher bits (buttons 3..7, the wheel) stay out of the snapshot.
    const MouseSnapshot others = nextSnapshot(MouseSnapshot{}, ~(kLeft | kRight | kMiddle), 0, 0);
    EXPECT_FALSE(others.leftDown || others.middleDown || others.rightDown);
}

TEST(MouseEdges, EdgesComeFromDownFlagsBeforeTheUpdate) {
    // Left released while right is pressed in the same capture: each edge sees its own old flag.
    const MouseSnapshot held = nextSnapshot(MouseSnapshot{}, kLeft, 0, 0);
    const MouseSnapshot s = nextSnapshot(held, kRight, 0, 0);
    EXPECT_TRUE(s.leftReleased);
    EXPECT_FALSE(s.leftPressed);
    EXPECT_TRUE(s.rightPressed);
    EXPECT_FALSE(s.rightReleased);
    EXPECT_FALSE(s.middlePressed || s.middleReleased);
}

TEST(MouseEdges, MotionIsThisCapturesOwn) {
    MouseSnapshot s = nextSnapshot(MouseSnapshot{}, 0, 7, -3);
    EXPECT_EQ(s.dx, 7);
    EXPECT_EQ(s.dy, -3);
    s = nextSnapshot(s, 0, 0, 0);  // still mouse: no carry-over
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
