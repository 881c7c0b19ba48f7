// Stand-in tracker: handle semantics, frontmost choice, session parsing and replay timing.
#include "Leap.h"
#include "LeapTesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace Leap;
using namespace Leap::testing;

namespace {

void expectVector(const Vector& v, float x, float y, float z) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

HandSpec handAt(float palmZ, std::vector<Vector> tips = {}) {
    return HandSpec{Vector(0, 200, palmZ), Vector(0, -1, 0), std::move(tips)};
}

Session parseOk(const std::string& text) {
    std::istringstream in(text);
    Session session;
    std::string error;
    EXPECT_TRUE(parseSession(in, session, error)) << error;
    return session;
}

// A clock the test moves by hand.
struct FakeClock {
    int64_t nowMs = 0;
    std::function<int64_t()> fn() {
        return [this] { return nowMs; };
    }
};

}  // namespace

TEST(TrackerHandles, InvalidFrameAndEmptyListsReadAsZero) {
    Frame frame;
    EXPECT_FALSE(frame.isValid());
    EXPECT_EQ(frame.timestamp(), 0);
    EXPECT_EQ(frame.hands().count(), 0);
    Hand hand = frame.hands().frontmost();
    EXPECT_FALSE(hand.isValid());
    expectVector(hand.palmPosition(), 0, 0, 0);
    expectVector(hand.palmNormal(), 0, 0, 0);
    EXPECT_EQ(hand.fingers().count(), 0);
    Finger finger = hand.fingers().frontmost();
    EXPECT_FALSE(finger.isValid());
    expectVector(finger.tipPosition(), 0, 0, 0);

    Frame empty = makeFrame({}, 7);
    EXPECT_TRUE(empty.isValid());
    EXPECT_EQ(empty.timestamp(), 7);
    EXPECT_EQ(empty.hands().count(), 0);
    EXPECT_FALSE(empty.hands().frontmost().isValid());

    Frame fingerless = makeFrame({handAt(5)});
    EXPECT_TRUE(fingerless.hands().frontmost().isValid());
    EXPECT_EQ(fingerless.hands().frontmost().fingers().count(), 0);
    EXPECT_FALSE(fingerless.hands().frontmost().fingers().frontmost().isValid());
}

TEST(TrackerHandles, OutOfRangeIndexGivesInvalidHandle) {
    Frame frame = makeFrame({handAt(0, {Vector(1, 2, 3)})});
    EXPECT_FALSE(frame.hands()[-1].isValid());
    EXPECT_FALSE(frame.hands()[1].isValid());
    FingerList fingers = frame.hands()[0].fingers();
    EXPECT_FALSE(fingers[-1].isValid());
    EXPECT_FALSE(fingers[1].isValid());
    expectVector(fingers[1].tipPosition(), 0, 0, 0);
    expectVector(fingers[0].tipPosition(), 1, 2, 3);
}

TEST(TrackerHandles, FrontmostHandHasSmallestPalmZFirstOnTies) {
    Frame frame = makeFrame({handAt(30), handAt(-10, {Vector(1, 0, 0)}), handAt(-10), handAt(0)});
    ASSERT_EQ(frame.hands().count(), 4);
    Hand front = frame.hands().frontmost();
    EXPECT_EQ(front.palmPosition().z, -10);
    EXPECT_EQ(front.fingers().count(), 1);  // the first of the two at -10

    Frame single = makeFrame({handAt(99)});
    EXPECT_EQ(single.hands().frontmost().palmPosition().z, 99);
}

TEST(TrackerHandles, FrontmostFingerHasSmallestTipZFirstOnTies) {
    Frame frame =
        makeFrame({handAt(0, {Vector(1, 0, 5), Vector(2, 0, -3), Vector(3, 0, -3), Vector(4, 0, 8)})});
    FingerList fingers = frame.hands().frontmost().fingers();
    ASSERT_EQ(fingers.count(), 4);
    expectVector(fingers.frontmost().tipPosition(), 2, 0, -3);
}

TEST(TrackerHandles, CopiesShareDataAndOutliveTheirSource) {
    Finger finger;
    Frame kept;
    {
        Controller controller;
        auto source = std::make_shared<ScriptedSource>();
        attachSource(controller, source);
        source->setFrame(makeFrame({handAt(4, {Vector(7, 8, 9)})}, 40));
        kept = controller.frame();
        finger = kept.hands().frontmost().fingers().frontmost();
    }
    EXPECT_TRUE(kept.isValid());
    EXPECT_EQ(kept.timestamp(), 40);

    Frame copy = kept;
    kept = makeFrame({}, 50);  // assignment replaces, the copy still holds the old frame
    EXPECT_EQ(kept.timestamp(), 50);
    EXPECT_EQ(kept.hands().count(), 0);
    EXPECT_EQ(copy.timestamp(), 40);
    EXPECT_EQ(copy.hands().count(), 1);

    copy = Frame();
    EXPECT_FALSE(copy.isValid());
    EXPECT_TRUE(finger.isValid());  // the last handle keeps the frame's data alive
    expectVector(finger.tipPosition(), 7, 8, 9);
}

TEST(TrackerController, ScriptedSourceDrivesConnectionAndHistory) {
    Controller controller;
    auto source = std::make_shared<ScriptedSource>();
    attachSource(controller, source);
    EXPECT_FALSE(controller.isConnected());
    EXPECT_FALSE(controller.frame(0).isValid());

    source->setConnected(true);
    source->setFrame(makeFrame({}, 1));
    source->setFrame(makeFrame({}, 2));
    EXPECT_TRUE(controller.isConnected());
    EXPECT_EQ(controller.frame().timestamp(), 2);
    EXPECT_EQ(controller.frame(1).timestamp(), 1);
    EXPECT_FALSE(controller.frame(2).isValid());
    EXPECT_FALSE(controller.frame(-1).isValid());

    Controller shared = controller;  // copies poll the same source
    source->setConnected(false);
    EXPECT_FALSE(shared.isConnected());

    attachSource(controller, nullptr);
    EXPECT_FALSE(controller.isConnected());
    EXPECT_FALSE(controller.frame().isValid());
}

TEST(TrackerReplay, FrameFollowsTheClock) {
    Session session = parseOk(
        "100 hand 0 200 0  0 -1 0\n"
        "200 none\n"
        "300 hand 5 200 0  0 -1 0  1 2 3\n");
    ASSERT_EQ(session.frames.size(), 3u);
    EXPECT_EQ(session.endMs, 300);

    FakeClock clock;
    auto replay = makeReplaySource(session, clock.fn());

    clock.nowMs = 99;  // before the first frame: connected, but nothing seen yet
    EXPECT_TRUE(replay->isConnected());
    EXPECT_FALSE(replay->frame(0).isValid());

    clock.nowMs = 100;
    EXPECT_EQ(replay->frame(0).timestamp(), 100);
    EXPECT_EQ(replay->frame(0).hands().count(), 1);
    EXPECT_FALSE(replay->frame(1).isValid());

    clock.nowMs = 299;
    EXPECT_EQ(replay->frame(0).timestamp(), 200);
    EXPECT_TRUE(replay->frame(0).isValid());
    EXPECT_EQ(replay->frame(0).hands().count(), 0);
    EXPECT_EQ(replay->frame(1).timestamp(), 100);

    clock.nowMs = 300;  // the session's last frame is its end: still connected
    EXPECT_TRUE(replay->isConnected());
    EXPECT_EQ(replay->frame(0).hands().frontmost().fingers().count(), 1);
    EXPECT_EQ(replay->frame(2).timestamp(), 100);
    EXPECT_FALSE(replay->frame(3).isValid());

    clock.nowMs = 301;
    EXPECT_FALSE(replay->isConnected());
}

TEST(TrackerReplay, ExplicitEndOutlastsTheLastFrame) {
    Session session = parseOk("0 none\n0 end\n");
    EXPECT_EQ(session.endMs, 0);
    session = parseOk("10 none\n5000 end   # hold the last frame\n");
    EXPECT_EQ(session.endMs, 5000);
    FakeClock clock;
    auto replay = makeReplaySource(session, clock.fn());
    clock.nowMs = 5000;
    EXPECT_TRUE(replay->isConnected());
    EXPECT_EQ(replay->frame(0).timestamp(), 10);
    clock.nowMs = 5001;
    EXPECT_FALSE(replay->isConnected());
}

TEST(TrackerReplay, SameTimestampGroupsHandsCommentsAndBlanksIgnored) {
    Session session = parseOk(
        "# two hands, then one\r\n"
        "\n"
        "  0 hand 0 0 50 0 -1 0   # the back hand\r\n"
        "\t0 hand 1e1 0 -2.5 0 -1 0 1 1 1 2 2 2\n"
        "16 hand 0 0 0 0 -1 0 1 1 1 2 2 2 3 3 3 4 4 4 5 5 5 6 6 6 7 7 7 8 8 8 9 9 9 10 10 10\n");
    ASSERT_EQ(session.frames.size(), 2u);
    HandList hands = session.frames[0].hands();
    ASSERT_EQ(hands.count(), 2);
    expectVector(hands.frontmost().palmPosition(), 10, 0, -2.5f);
    EXPECT_EQ(hands.frontmost().fingers().count(), 2);
    EXPECT_EQ(session.frames[1].hands()[0].fingers().count(), 10);
}

TEST(TrackerReplay, LongSessionParsesAndLooksUp) {
    constexpr int kFrames = 20000;
    constexpr int kStepMs = 16;
    std::string text;
    for (int i = 0; i < kFrames; ++i) {
        text += std::to_string(i * kStepMs) + " hand " + std::to_string(i) + " 200 0 0 -1 0 0 0 0\n";
    }
    Session session = parseOk(text);
    ASSERT_EQ(session.frames.size(), static_cast<size_t>(kFrames));
    FakeClock clock;
    auto replay = makeReplaySource(session, clock.fn());
    for (int i : {0, 1, 777, kFrames - 1}) {
        clock.nowMs = i * kStepMs + kStepMs / 2;
        EXPECT_EQ(replay->frame(0).hands().frontmost().palmPosition().x, static_cast<float>(i));
    }
}

struct BadSession {
    const char* family;
    const char* text;
    int line;             // 0: a complaint about the whole input, without a line
    const char* message;  // a piece of the expected error
};

void PrintTo(const BadSession& bad, std::ostream* os) {
    *os << bad.family;
}

class TrackerMalformedSession : public ::testing::TestWithParam<BadSession> {};

TEST_P(TrackerMalformedSession, RejectedWithItsLineNumber) {
    const BadSession& bad = GetParam();
    std::istringstream in(bad.text);
    Session session;
    session.endMs = -1;
    std::string error;
    EXPECT_FALSE(parseSession(in, session, error));
    if (bad.line > 0) {
        EXPECT_EQ(error.rfind("line " + std::to_string(bad.line) + ": ", 0), 0u) << error;
    } else {
        EXPECT_EQ(error.find("line "), std::string::npos) << error;
    }
    EXPECT_NE(error.find(bad.message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(session.endMs, -1);  // untouched
}

constexpr const char* kOk = "0 hand 0 200 0 0 -1 0\n";

INSTANTIATE_TEST_SUITE_P(
    Families, TrackerMalformedSession,
    ::testing::Values(
        BadSession{"NotANumber", "# x\n0 hand 0 200 abc 0 -1 0\n", 2, "'abc' is not a number"},
        BadSession{"TrailingJunk", "0 hand 0 200 1.5x 0 -1 0\n", 1, "not a number"},
        BadSession{"NaN", "0 hand 0 200 nan 0 -1 0\n", 1, "'nan' is not a finite number"},
        BadSession{"Inf", "0 hand 0 200 0 0 -1 0 1 inf 1\n", 1, "not a finite number"},
        BadSession{"Overflow", "0 hand 0 200 1e39 0 -1 0\n", 1, "not a finite number"},
        BadSession{"PalmTooShort", "0 hand 0 200 0 0 -1\n", 1, "6 numbers"},
        BadSession{"PartialTip", "0 hand 0 200 0 0 -1 0 1 2\n", 1, "3 numbers per fingertip"},
        BadSession{"ElevenFingers",
                   "0 hand 0 0 0 0 -1 0 1 1 1 2 2 2 3 3 3 4 4 4 5 5 5 6 6 6 7 7 7 8 8 8 9 9 9 1 1 1 2 2 2\n",
                   1, "more than 10 fingertips"},
        BadSession{"UnknownKeyword", "0 hands 0 200 0 0 -1 0\n", 1, "unknown keyword 'hands'"},
        BadSession{"MissingKeyword", "0\n", 1, "after the timestamp"},
        BadSession{"NegativeTime", "-5 none\n", 1, "timestamp, got '-5'"},
        BadSession{"FractionalTime", "1.5 none\n", 1, "timestamp, got '1.5'"},
        BadSession{"HugeTime", "99999999999999999999 none\n", 1, "timestamp"},
        BadSession{"DecreasingTime", "10 none\n20 none\n15 none\n", 3, "15 is earlier than the previous 20"},
        BadSession{"EndBeforeLastFrame", "10 none\n5 end\n", 2, "earlier"},
        BadSession{"LineAfterEnd", "0 none\n5 end\n\n# fine\n6 none\n", 5, "follow the 'end'"},
        BadSession{"WordsAfterNone", "0 none 1\n", 1, "unexpected '1' after 'none'"},
        BadSession{"WordsAfterEnd", "0 end now\n", 1, "after 'end'"},
        BadSession{"NoneWithHand", "0 none\n0 hand 0 0 0 0 -1 0\n", 2, "'none'"},
        BadSession{"HandWithNone", "0 hand 0 0 0 0 -1 0\n0 none\n", 2, "'none'"},
        BadSession{"LongTokenCutShort",
                   "0 hand 0 200 0 0 -1 0 1 2 xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n", 1,
                   "'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...' is not a number"},
        BadSession{"OnlyComments", "# nothing here\n\n", 0, "no frame"},
        BadSession{"EmptyInput", "", 0, "no frame"}),
    [](const ::testing::TestParamInfo<BadSession>& info) { return std::string(info.param.family); });

// Drives the HANDVIEW_REPLAY path through Controller() with real files.
class TrackerReplayFile : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv("HANDVIEW_REPLAY");
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

    std::string writeSession(const std::string& text) {
        path_ =
            std::filesystem::temp_directory_path() / ("tracker_test_" + std::to_string(getpid()) + ".txt");
        std::ofstream(path_) << text;
        return path_.string();
    }

    // Constructs a controller under HANDVIEW_REPLAY=value and returns what it printed.
    std::string construct(const std::string& value, std::unique_ptr<Controller>& controller) {
        setenv("HANDVIEW_REPLAY", value.c_str(), 1);
        ::testing::internal::CaptureStderr();
        controller = std::make_unique<Controller>();
        return ::testing::internal::GetCapturedStderr();
    }

    std::filesystem::path path_;
};

TEST_F(TrackerReplayFile, NoVariableMeansNoDevice) {
    unsetenv("HANDVIEW_REPLAY");
    Controller controller;
    EXPECT_FALSE(controller.isConnected());
    EXPECT_FALSE(controller.frame(0).isValid());

    std::unique_ptr<Controller> silent;
    EXPECT_EQ(construct("", silent), "");
    EXPECT_FALSE(silent->isConnected());
}

TEST_F(TrackerReplayFile, ValidFileReplaysFromConstruction) {
    std::string path = writeSession(kOk + std::string("600000 end\n"));
    std::unique_ptr<Controller> controller;
    EXPECT_EQ(construct(path, controller), "");
    EXPECT_TRUE(controller->isConnected());
    Frame frame = controller->frame(0);
    ASSERT_TRUE(frame.isValid());
    EXPECT_EQ(frame.hands().frontmost().palmPosition().y, 200);
}

TEST_F(TrackerReplayFile, MalformedFilePrintsOneLineAndHasNoDevice) {
    std::string path = writeSession(std::string(kOk) + "# ok so far\n16 hand 0 200 0 0 -1 0 1 2\n");
    std::unique_ptr<Controller> controller;
    std::string printed = construct(path, controller);
    EXPECT_EQ(printed, "handview: replay file " + path + " line 3: expected 3 numbers per fingertip\n");
    EXPECT_FALSE(controller->isConnected());
    EXPECT_FALSE(controller->frame(0).isValid());
}

TEST_F(TrackerReplayFile, UnreadableFilePrintsOneLineAndHasNoDevice) {
    std::string missing = (std::filesystem::temp_directory_path() / "tracker_test_no_such_file.txt").string();
    std::string directory = std::filesystem::temp_directory_path().string();
    for (const std::string& path : {missing, directory}) {
        std::unique_ptr<Controller> controller;
        std::string printed = construct(path, controller);
        EXPECT_EQ(printed.rfind("handview: replay file " + path + " cannot be opened: ", 0), 0u) << printed;
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
        EXPECT_FALSE(controller->isConnected());
    }
}
