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

// Replays `session` against a clock the test moves through `nowMs`.
std::shared_ptr<Source> replayAt(const Session& session, int64_t& nowMs) {
    return makeReplaySource(session, [&nowMs] { return nowMs; });
}

}  // namespace

TEST(TrackerHandles, InvalidAndOutOfRangeHandlesReadAsZero) {
    Frame frame;
    EXPECT_FALSE(frame.isValid());
    EXPECT_EQ(frame.timestamp(), 0);
    Hand hand = frame.hands().frontmost();
    EXPECT_FALSE(hand.isValid());
    expectVector(hand.palmPosition(), 0, 0, 0);
    expectVector(hand.palmNormal(), 0, 0, 0);
    EXPECT_FALSE(hand.fingers().frontmost().isValid());
    expectVector(hand.fingers().frontmost().tipPosition(), 0, 0, 0);

    Frame empty = makeFrame({}, 7);
    EXPECT_TRUE(empty.isValid());
    EXPECT_EQ(empty.timestamp(), 7);
    EXPECT_FALSE(empty.hands().frontmost().isValid());

    Frame one = makeFrame({handAt(0, {Vector(1, 2, 3)}), handAt(5)});
    EXPECT_FALSE(one.hands()[-1].isValid());
    EXPECT_FALSE(one.hands()[2].isValid());
    FingerList fingers = one.hands()[0].fingers();
    EXPECT_FALSE(fingers[-1].isValid());
    expectVector(fingers[1].tipPosition(), 0, 0, 0);
    expectVector(fingers[0].tipPosition(), 1, 2, 3);
    EXPECT_FALSE(one.hands()[1].fingers().frontmost().isValid());
}

TEST(TrackerHandles, FrontmostHasSmallestZFirstOnTies) {
    Frame frame = makeFrame({handAt(30), handAt(-10, {Vector(1, 0, 5), Vector(2, 0, -3), Vector(3, 0, -3)}),
                             handAt(-10), handAt(0)});
    Hand front = frame.hands().frontmost();
    EXPECT_EQ(front.palmPosition().z, -10);
    ASSERT_EQ(front.fingers().count(), 3);  // the first of the two at -10
    expectVector(front.fingers().frontmost().tipPosition(), 2, 0, -3);
}

TEST(TrackerHandles, CopiesShareDataAndOutliveTheirSource) {
    Finger finger;
    Frame kept;
    {
        Controller controller;
        auto source = std::make_shared<ScriptedSource>();
        attachSource(controller, source);
        Controller copy = controller;  // copies poll the same source
        EXPECT_FALSE(copy.isConnected());
        EXPECT_FALSE(copy.frame(0).isValid());
        source->setConnected(true);
        source->setFrame(makeFrame({handAt(4, {Vector(7, 8, 9)})}, 40));
        source->setFrame(makeFrame({}, 41));
        EXPECT_TRUE(copy.isConnected());
        EXPECT_EQ(copy.frame().timestamp(), 41);
        EXPECT_FALSE(copy.frame(2).isValid());
        EXPECT_FALSE(copy.frame(-1).isValid());
        kept = copy.frame(1);
        finger = kept.hands().frontmost().fingers().frontmost();
    }
    Frame copy = kept;
    kept = Frame();
    EXPECT_EQ(copy.timestamp(), 40);
    EXPECT_EQ(copy.hands().count(), 1);
    copy = makeFrame({}, 50);
    EXPECT_EQ(copy.hands().count(), 0);
    EXPECT_TRUE(finger.isValid());  // the last handle keeps the frame's data alive
    expectVector(finger.tipPosition(), 7, 8, 9);
}

TEST(TrackerReplay, FrameFollowsTheClockUntilTheEnd) {
    Session session = parseOk("100 hand 0 200 0  0 -1 0\n200 none\n300 hand 5 200 0  0 -1 0  1 2 3\n");
    ASSERT_EQ(session.frames.size(), 3u);
    EXPECT_EQ(session.endMs, 300);
    int64_t now = 99;  // before the first frame: connected, but nothing seen yet
    auto replay = replayAt(session, now);
    EXPECT_TRUE(replay->isConnected());
    EXPECT_FALSE(replay->frame(0).isValid());
    now = 100;
    EXPECT_EQ(replay->frame(0).hands().count(), 1);
    EXPECT_FALSE(replay->frame(1).isValid());
    now = 299;
    EXPECT_EQ(replay->frame(0).timestamp(), 200);
    EXPECT_EQ(replay->frame(0).hands().count(), 0);
    EXPECT_EQ(replay->frame(1).timestamp(), 100);
    now = 300;  // the last frame is the end: still connected
    EXPECT_TRUE(replay->isConnected());
    EXPECT_EQ(replay->frame(0).hands().frontmost().fingers().count(), 1);
    EXPECT_FALSE(replay->frame(3).isValid());
    now = 301;
    EXPECT_FALSE(replay->isConnected());

    session = parseOk("10 none\n5000 end   # hold the last frame\n");
    EXPECT_EQ(session.endMs, 5000);
    now = 5000;
    replay = replayAt(session, now);
    EXPECT_TRUE(replay->isConnected());
    EXPECT_EQ(replay->frame(0).timestamp(), 10);
    now = 5001;
    EXPECT_FALSE(replay->isConnected());
}

TEST(TrackerReplay, SameTimestampGroupsHandsCommentsAndBlanksIgnored) {
    Session session = parseOk(
        "# two hands, then one\r\n\n"
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
    for (int i = 0; i < kFrames; ++i)
        text += std::to_string(i * kStepMs) + " hand " + std::to_string(i) + " 200 0 0 -1 0 0 0 0\n";
    int64_t now = 0;
    auto replay = replayAt(parseOk(text), now);
    for (int i : {0, 1, 777, kFrames - 1}) {
        now = i * kStepMs + kStepMs / 2;
        EXPECT_EQ(replay->frame(0).hands().frontmost().palmPosition().x, static_cast<float>(i));
    }
}

TEST(TrackerReplay, MalformedSessionIsRejectedWithItsLineNumber) {
    struct Bad {
        const char* text;
        int line;             // 0: a complaint about the whole input, without a line
        const char* message;  // a piece of the expected error
    };
    const Bad cases[] = {
        {"# x\n0 hand 0 200 abc 0 -1 0\n", 2, "'abc' is not a number"},
        {"0 hand 0 200 1.5x 0 -1 0\n", 1, "not a number"},
        {"0 hand 0 200 nan 0 -1 0\n", 1, "'nan' is not a finite number"},
        {"0 hand 0 200 0 0 -1 0 1 inf 1\n", 1, "not a finite number"},
        {"0 hand 0 200 1e39 0 -1 0\n", 1, "not a finite number"},
        {"0 hand 0 200 0 0 -1\n", 1, "6 numbers"},
        {"0 hand 0 200 0 0 -1 0 1 2\n", 1, "3 numbers per fingertip"},
        {"0 hand 0 0 0 0 -1 0 1 1 1 2 2 2 3 3 3 4 4 4 5 5 5 6 6 6 7 7 7 8 8 8 9 9 9 1 1 1 2 2 2\n", 1,
         "more than 10 fingertips"},
        {"0 hands 0 200 0 0 -1 0\n", 1, "unknown keyword 'hands'"},
        {"0\n", 1, "after the timestamp"},
        {"-5 none\n", 1, "timestamp, got '-5'"},
        {"1.5 none\n", 1, "timestamp, got '1.5'"},
        {"99999999999999999999 none\n", 1, "timestamp"},
        {"10 none\n20 none\n15 none\n", 3, "15 is earlier than the previous 20"},
        {"10 none\n5 end\n", 2, "earlier"},
        {"0 none\n5 end\n\n# fine\n6 none\n", 5, "follow the 'end'"},
        {"0 none 1\n", 1, "unexpected '1' after 'none'"},
        {"0 end now\n", 1, "after 'end'"},
        {"0 none\n0 hand 0 0 0 0 -1 0\n", 2, "'none'"},
        {"0 hand 0 0 0 0 -1 0\n0 none\n", 2, "'none'"},
        {"0 hand 0 200 0 0 -1 0 1 2 xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n", 1,
         "'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...' is not a number"},
        {"# nothing here\n\n", 0, "no frame"},
        {"", 0, "no frame"}};
    for (const Bad& bad : cases) {
        SCOPED_TRACE(bad.text);
        std::istringstream in(bad.text);
        Session session;
        session.endMs = -1;
        std::string error;
        EXPECT_FALSE(parseSession(in, session, error));
        const std::string prefix = bad.line > 0 ? "line " + std::to_string(bad.line) + ": " : "";
        EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
        EXPECT_TRUE(bad.line > 0 || error.find("line ") == std::string::npos) << error;
        EXPECT_NE(error.find(bad.message), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(session.endMs, -1);  // untouched
    }
}

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

    // Constructs `controller` under HANDVIEW_REPLAY=value and returns what it printed.
    std::string construct(const std::string& value) {
        setenv("HANDVIEW_REPLAY", value.c_str(), 1);
        ::testing::internal::CaptureStderr();
        controller = std::make_unique<Controller>();
        return ::testing::internal::GetCapturedStderr();
    }

    std::filesystem::path path_;
    std::unique_ptr<Controller> controller;
};

TEST_F(TrackerReplayFile, OnlyAReadableValidFileConnects) {
    unsetenv("HANDVIEW_REPLAY");
    EXPECT_FALSE(Controller().isConnected());
    EXPECT_FALSE(Controller().frame(0).isValid());
    EXPECT_EQ(construct(""), "");
    EXPECT_FALSE(controller->isConnected());
    EXPECT_EQ(construct(writeSession("0 hand 0 200 0 0 -1 0\n600000 end\n")), "");
    EXPECT_TRUE(controller->isConnected());
    EXPECT_EQ(controller->frame(0).hands().frontmost().palmPosition().y, 200);
}

TEST_F(TrackerReplayFile, BadFilePrintsOneLineAndHasNoDevice) {
    const std::string path = writeSession("0 hand 0 200 0 0 -1 0\n# ok so far\n16 hand 0 200 0 0 -1 0 1 2\n");
    EXPECT_EQ(construct(path),
              "handview: replay file " + path + " line 3: expected 3 numbers per fingertip\n");
    EXPECT_FALSE(controller->isConnected());
    EXPECT_FALSE(controller->frame(0).isValid());

    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    for (const std::string& unreadable : {(temp / "tracker_test_no_such_file.txt").string(), temp.string()}) {
        const std::string printed = construct(unreadable);
        EXPECT_EQ(printed.rfind("handview: replay file " + unreadable + " cannot be opened: ", 0), 0u)
            << printed;
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
        EXPECT_FALSE(controller->isConnected());
    }
}
