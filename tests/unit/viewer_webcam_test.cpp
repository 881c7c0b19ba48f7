// The viewer's side of the webcam: the child it starts and what it says, and the hand's state as the
// overlay shows it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "app/CameraChild.h"
#include "camera/HandState.h"
#include "tests/support/FakeHands.h"

namespace {
namespace fs = std::filesystem;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
}  // namespace

TEST(WebcamChild, ArgumentsAnnouncementAndProgramFound) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(webcamArguments("0"), (Args{"--port", "0", "--camera", "0"}));
    EXPECT_EQ(webcamArguments("12"), (Args{"--port", "0", "--camera", "12"}));
    EXPECT_EQ(webcamArguments("12345"), (Args{"--port", "0", "--video", "12345"}));
    EXPECT_EQ(webcamArguments("clip 1.mp4"), (Args{"--port", "0", "--video", "clip 1.mp4"}));
    for (const auto& [line, url] :
         {std::pair{"handview-camera: serving ws://127.0.0.1:41234/v6.json", "ws://127.0.0.1:41234/v6.json"},
          {"handview-camera: serving ws://evil.example:1/", ""},
          {"handview-camera: lost the camera /dev/video0", ""},
          {"x handview-camera: serving ws://127.0.0.1:1/", ""}})
        EXPECT_EQ(announcedUrl(line), url) << line;
    const fs::path dir = fs::temp_directory_path() / ("viewer_webcam_" + std::to_string(getpid()));
    for (const char* sub : {"a", "b", "c/prog"}) fs::create_directories(dir / sub);
    std::ofstream(dir / "a/prog") << "#!/bin/sh\n";  // not executable
    std::ofstream(dir / "b/prog") << "#!/bin/sh\n";
    fs::permissions(dir / "b/prog", fs::perms::owner_all);
    const std::string a = (dir / "a").string(), b = (dir / "b").string(), c = (dir / "c").string();
    const std::tuple<std::string, std::string, std::string> cases[] = {
        // beside, PATH, found
        {b + "/", "", b + "/prog"},
        {a + "/", c + "::" + a + ":" + b, b + "/prog"},
        {"", c + ":" + a, ""}};
    for (const auto& [beside, path, found] : cases)
        EXPECT_EQ(findProgram("prog", beside, path.c_str()), found) << path;
    fs::remove_all(dir);
}

// Its lines are passed on as outside text; an end says why once, and the viewer runs on.
TEST(WebcamChild, WhatItSaysIsPassedOnPrintableAndItsEndExplained) {
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        // script, url, status, console
        {"echo 'handview-camera: serving ws://127.0.0.1:5/v6.json'; exec sleep 60",
         "ws://127.0.0.1:5/v6.json", "connecting to the webcam",
         "handview-camera: serving ws://127.0.0.1:5/v6.json\nhandview: handview-camera did not end cleanly: killed by signal 15\n"},
        {"printf 'handview-camera: cannot \\033]0;owned\\a\\n'; exit 1", "", R"(cannot \x1B]0;owned\x07)",
         "handview-camera: cannot \\x1B]0;owned\\x07\n"},
        {"printf 'no line end'", "", "no line end", "no line end\n"},
        {"exit 3", "", "handview-camera ended (exit code 3)",
         "handview: handview-camera ended (exit code 3); running without hands\n"},
        {"", "", "handview-camera is not installed: not beside handview, nor on PATH",
         "handview: cannot start the webcam: handview-camera is not installed: not beside handview, nor on PATH; running without hands\n"}};
    for (const auto& [script, url, status, console] : cases) {
        CaptureStderr();
        std::string seen;
        {
            CameraChild child(script.empty() ? "" : "/bin/sh", {"-c", "exec >&2; " + script});
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while ((url.empty() ? child.running() : child.url().empty()) &&
                   std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                child.poll();
            }
            seen = child.url() + "|" + child.status();
        }
        EXPECT_EQ(seen, url + "|" + status) << script;
        EXPECT_EQ(GetCapturedStderr(), console) << script;
    }
}

TEST(HandState, TheOverlaySaysWhatTheHandControlDoes) {
    const auto hand = [](int fingers, Leap::Vector palm = {0, 200, 100}) {
        return fake::HandSpec{palm, {0, -1, 0}, std::vector<Leap::Vector>(size_t(fingers), {0, 250, 50})};
    };
    Leap::FrameData dark{0, {}, "too dark\x1b[2J"};
    const std::tuple<bool, Leap::Frame, std::string> cases[] = {
        {false, fake::makeFrame({hand(5)}), "no hand tracker|start one|-"},
        {true, Leap::Frame(), "no hand||-"},
        {true, Leap::Frame(dark), R"(no hand||-|too dark\x1B[2J)"},
        {true, fake::makeFrame({hand(0)}), "fist: paused|0 fingers|0 0 0"},
        {true, fake::makeFrame({hand(2, {-75, 125, 150})}), "point|2 fingers|-0.5 -0.5 -0.5"},
        {true, fake::makeFrame({hand(1, {0, 200, 300}), hand(5, {600, 900, -300})}), "fly|5 fingers|1 1 1"}};
    for (const auto& [connected, frame, says] : cases) {
        const HudContent c = readHandState(connected, frame, "start one");
        std::ostringstream shown;
        shown << c.state << '|' << c.detail << '|';
        c.palm ? shown << c.right << ' ' << c.forward << ' ' << c.up : shown << '-';
        if (!c.warning.empty()) shown << '|' << c.warning;
        EXPECT_EQ(shown.str(), says);
    }
}
