// The tracker as the program meets it: the service's messages decoded, files replayed, and the
// live client against a local test server (tests/tracker/ws_server.py).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "FrameDecoding.h"
#include "support/FakeHands.h"

using namespace Leap;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
const std::string kSource = HANDVIEW_SOURCE_DIR;
const fs::path kTemp = fs::temp_directory_path() / ("tracker_test_" + std::to_string(getpid()));
const std::string kHand = R"({"id":1,"palmPosition":[0,200,50],"palmNormal":[0,-1,0]})";

std::string describe(const Frame& f) {
    std::ostringstream s;
    s.precision(9);
    auto put = [&s](Vector v) { s << ' ' << v.x << ',' << v.y << ',' << v.z; };
    s << (f.isValid() ? std::to_string(f.timestamp()) : "invalid");
    for (Hand h : {f.hands()[0], f.hands()[1]}) {
        for (Vector v : {h.palmPosition(), h.palmNormal()}) put(v);
        for (int i = 0; i < h.fingers().count(); ++i) put(h.fingers()[i].tipPosition());
    }
    return s.str();
}

std::vector<std::string> readLines(const fs::path& path, size_t most = SIZE_MAX) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; lines.size() < most && std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A frame message with these pointables and hands.
std::string msg(const std::string& pointables, const std::string& hands = kHand, int64_t timestampUs = 1000) {
    return R"({"id":7,"timestamp":)" + std::to_string(timestampUs) + R"(,"hands":[)" + hands +
           R"(],"pointables":[)" + pointables + "]}";
}
std::string tip(const std::string& fields = "", int hand = 1) {
    return R"({"handId":)" + std::to_string(hand) + R"(,"tipPosition":[1,2,3])" + fields + "}";
}

// Polls until `done` holds or `seconds` pass, as a frame loop would.
template <typename Done>
bool until(Done done, double seconds = 3.0) {
    for (auto end = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

class Tracker : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(kTemp);
        for (const char* name : {"HANDVIEW_REPLAY", "HANDVIEW_TRACKER", "HANDVIEW_RECORD"}) unsetenv(name);
    }
    void TearDown() override {
        if (server) pclose(server);
        fs::remove_all(kTemp);
    }

    // The default controller with `name`=`value` set, and what it printed while being built.
    std::string construct(const std::string& name, const std::string& value) {
        setenv(name.c_str(), value.c_str(), 1);
        CaptureStderr();
        controller = Controller();
        return GetCapturedStderr();
    }
    std::vector<std::string> history(size_t frames) const {
        std::vector<std::string> out;
        for (size_t h = 0; h < frames; ++h) out.push_back(describe(controller.frame(int(h))));
        return out;
    }

    // Returns once the server listens, with HANDVIEW_TRACKER naming it.
    void start(const std::string& options = "") {
        const std::string out = (kTemp / "address").string();
        fs::remove(out);
        server = popen(("exec env -u LD_PRELOAD /usr/bin/python3 " + kSource +
                        "/tests/tracker/ws_server.py " + options + " >" + out)
                           .c_str(),
                       "w");
        ASSERT_TRUE(server && until([&] { return !readLines(out).empty(); }));
        url = "ws://localhost:" + readLines(out)[0].substr(15);  // from ws://127.0.0.1:
        setenv("HANDVIEW_TRACKER", url.c_str(), 1);
    }
    void send(const std::string& line) {
        std::fputs((line + "\n").c_str(), server);
        std::fflush(server);
    }

    Controller controller{nullptr};
    std::FILE* server = nullptr;
    std::string url;
};

TEST_F(Tracker, MessagesDecodeToTheFingersAHandShows) {
    const std::pair<std::string, int> cases[] = {
        // message, fingers of its first hand (-1: dropped)
        {msg(tip(R"(,"extended":true)") + "," + tip(R"(,"extended":false)") + "," + tip(R"(,"tool":true)")),
         1},
        {msg(tip() + "," + tip()), 2},                           // older versions: no "extended"
        {msg(tip("", 9) + "," + tip("", -1) + "," + tip()), 1},  // orphans are ignored
        {msg(""), 0},
        {msg(tip(R"(,"extended":"yes")")), -1},
        {msg("", R"({"id":1,"palmPosition":[0,200,50]})"), -1},
        {msg("", R"({"id":1,"palmPosition":[0,10001,0],"palmNormal":[0,-1,0]})"), -1},
        {msg("", R"({"id":1,"palmPosition":[0,200,0],"palmNormal":[0,-2.5,0]})"), -1},
        {msg("", R"({"id":1,"palmPosition":[0,1e400,0],"palmNormal":[0,-1,0]})"), -1},
        {msg("", R"({"id":"one","palmPosition":"here","palmNormal":[0,-1,0]})"), -1},
        {R"({"timestamp":"now","hands":{},"pointables":[]})", -1},
        {msg(std::string(kMaxMessageBytes, ' ')), -1},
        {std::string("{\0}", 3), -1}};
    for (const auto& [text, fingers] : cases) {
        const Message m = decodeMessage(text);
        const int tips = m.hands.empty() ? 0 : int(m.hands[0].tips.size());
        EXPECT_EQ(m.kind == Message::Kind::frame ? tips : -1, fingers) << text.substr(0, 99) << m.problem;
    }
    // The real recordings: one hand, all five fingers listed, only the stretched ones counted.
    for (auto [file, counts] : {std::pair{"hand-splay", "45"}, {"pinch", "345"}}) {
        std::set<char> seen;
        for (const std::string& line : readLines(kSource + "/tracker/recordings/" + file + ".jsonl"))
            seen.insert(char('0' + decodeMessage(line).hands.at(0).tips.size()));
        EXPECT_EQ(std::string(seen.begin(), seen.end()), counts) << file;
    }
}

// What the environment names, what the controller built on it says (one line) and whether it plays.
TEST_F(Tracker, TheEnvironmentPicksTheSourceAndBadOnesGetOneLine) {
    const std::string temp = kTemp.string(), replay = "HANDVIEW_REPLAY";
    const std::tuple<std::string, std::string, std::string, bool> cases[] = {
        // variable, value (with "\n": the content of a file to replay), a piece of what it says, plays
        {replay, "0 hand 0 200 0 0 -1 0\n16 hand 0 200 0 0 -1 0 1 2\n",
         "line 2: expected 3 numbers per fingertip", 0},
        {replay, "0 none\n" + std::string(70000, '#') + "\n", temp + "/replay line 2: longer than 64 KiB", 0},
        {replay, "\n " + msg("") + "\nnot json\n" + msg("", kHand, 901000) + "\n" + msg("") + "\n",
         "/replay: skipped 2 lines, the first line 3: not JSON", 1},
        {replay, "{\"hands\": 3}\n", "holds no frame (skipped 1 line, the first line 1: no timestamp)", 0},
        {replay, kSource + "/tracker/recordings/pinch.jsonl", "", 1},
        {replay, "/dev/zero", "replay file /dev/zero cannot be opened: it is not a regular file", 0},
        {replay, temp + "/fifo", "fifo cannot be opened: it is not a regular file", 0},
        {replay, temp, "cannot be opened: it is a directory", 0},
        {replay, temp + "/huge", "huge cannot be opened: it is larger than 1 GiB", 0},
        {replay, temp + "/missing", "cannot be opened: No such file or directory", 0},
        {"HANDVIEW_TRACKER", "none", "", 0},
        {"HANDVIEW_TRACKER", "ws://[::1]:1/v6.json", "", 0},
        {"HANDVIEW_TRACKER", "ws://host.example:1/", "TRACKER=ws://host.example:1/ is neither none nor ws://",
         0},
        {"HANDVIEW_TRACKER", "http://127.0.0.1:6437/", "is neither", 0},
        {"HANDVIEW_TRACKER", "ws://127.0.0.1:0/", "is neither", 0}};
    mkfifo((kTemp / "fifo").c_str(), 0600);
    std::ofstream(kTemp / "huge").close();
    fs::resize_file(kTemp / "huge", (uintmax_t(1) << 30) + 1);  // sparse: takes no room
    for (auto [name, value, says, plays] : cases) {
        if (value.find('\n') != std::string::npos) std::ofstream(kTemp / "replay") << value;
        if (value.find('\n') != std::string::npos) value = temp + "/replay";
        unsetenv("HANDVIEW_REPLAY");
        const std::string said = construct(name, value);
        EXPECT_EQ(said.rfind("handview: ", 0) == 0 && said.find(says) != std::string::npos &&
                      std::count(said.begin(), said.end(), '\n') == 1,
                  !says.empty())
            << value << said;
        EXPECT_EQ(controller.isConnected() && controller.frame(0).isValid(), plays) << value;
    }
}

// The clock starts at the first call, not at construction: a slow start-up loses nothing.
TEST_F(Tracker, ReplayStartsAtTheFirstCallAndEndsDisconnected) {
    std::ofstream(kTemp / "s.txt") << "0 hand 1 200 0 0 -1 0\n150 hand 2 200 0 0 -1 0\n300 end\n";
    construct("HANDVIEW_REPLAY", (kTemp / "s.txt").string());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto first = Clock::now();
    EXPECT_EQ(controller.frame(0).hands()[0].palmPosition().x, 1);
    EXPECT_TRUE(until([&] { return controller.frame(0).hands()[0].palmPosition().x == 2; }));
    EXPECT_TRUE(until([&] { return !controller.isConnected(); }));
    EXPECT_GE(Clock::now() - first, std::chrono::milliseconds(300));
}

TEST_F(Tracker, LiveFramesArriveGoStaleAndAreRecordedAsSent) {
    const fs::path record = kTemp / "rec.jsonl", log = kTemp / "client.log";
    start("--log " + log.string());
    construct("HANDVIEW_RECORD", record.string());
    CaptureStderr();
    ASSERT_TRUE(until([&] { return controller.isConnected(); }));
    std::vector<std::string> sent = readLines(kSource + "/tracker/recordings/pinch.jsonl", 40);
    const int64_t origin = decodeMessage(sent[0]).timestampUs, last = decodeMessage(sent.back()).timestampUs;
    sent.push_back(msg(tip(R"(,"extended":true)") + "," + tip(R"(,"extended":false)"), kHand, last + 9000));
    std::vector<std::string> expected;  // newest first
    for (const std::string& line : sent) {
        const Message m = decodeMessage(line);
        expected.insert(expected.begin(),
                        describe(Frame(FrameData{(m.timestampUs - origin) / 1000, m.hands})));
        send(line);
    }
    ASSERT_TRUE(until([&] { return describe(controller.frame(0)) == expected[0]; }));
    const auto seen = Clock::now();
    EXPECT_EQ(history(expected.size()), expected);
    EXPECT_TRUE(until([&] { return !controller.frame(0).isValid(); }, 0.5));  // the stream went quiet
    EXPECT_GE(Clock::now() - seen, std::chrono::milliseconds(240));
    EXPECT_TRUE(controller.isConnected());
    EXPECT_EQ(GetCapturedStderr(),
              "handview: connected to the tracking service at " + url + " (service test, protocol 6)\n");
    EXPECT_EQ(readLines(log), (std::vector<std::string>{R"({"background": true})", R"({"focused": true})"}));
    EXPECT_EQ(readLines(record), sent);

    construct("HANDVIEW_REPLAY", record.string());
    ASSERT_TRUE(until([&] { return !controller.isConnected(); }));
    EXPECT_EQ(history(expected.size()), expected);
}

TEST_F(Tracker, HostileStreamsAreDroppedAndTheRunGoesOn) {
    enum Effect { invalidFrame, deviceGone, dropped };
    const std::string device = R"({"event":{"type":"deviceEvent","state":{"attached":)";
    const std::pair<std::string, Effect> cases[] = {{"not json", invalidFrame},
                                                    {msg("", "7"), invalidFrame},
                                                    {"!binary " + msg(tip()), invalidFrame},
                                                    {device + "false}}}", deviceGone},
                                                    {device + "true,\"streaming\":false}}}", deviceGone},
                                                    {"!big", dropped},
                                                    {"!partial", dropped},
                                                    {"!close", dropped},
                                                    {"!away 1.5", dropped}};
    start();
    construct("HANDVIEW_TRACKER", url);
    CaptureStderr();
    for (size_t i = 0; i <= std::size(cases); ++i) {  // a good frame before each case and after the last
        ASSERT_TRUE(until([&] { return controller.isConnected(); })) << i;
        const float x = float(i + 1);  // tells this good frame from the one before
        send(msg(tip(), R"({"id":1,"palmNormal":[0,-1,0],"palmPosition":[)" + std::to_string(x) + ",0,0]}"));
        ASSERT_TRUE(until([&] { return controller.frame(0).hands()[0].palmPosition().x == x; })) << i;
        if (i == std::size(cases)) break;
        const auto& [message, effect] = cases[i];
        send(message);
        EXPECT_TRUE(until([&, effect = effect] {
            return effect == invalidFrame ? !controller.frame(0).isValid() && controller.frame(1).isValid()
                                          : !controller.isConnected();
        })) << message;
        if (effect == deviceGone) send(device + "true,\"streaming\":true}}}");
    }
    const std::string said = GetCapturedStderr();
    for (const char* piece :
         {"not JSON", "binary", "detached or not streaming", "over 64 KiB", "lost", "cannot reach"})
        EXPECT_NE(said.find(piece), std::string::npos) << piece;
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 2 * std::size(cases)) << said;
}

TEST_F(Tracker, OddServersGetOneLineEach) {
    for (auto [options, line] : {std::pair{"--mode not-websocket", " is not a WebSocket tracking service"},
                                 {"--mode silent", " accepted but gave no WebSocket handshake within 2 s"},
                                 {"--protocol 7", " speaks protocol version 7, not 6; closing"}}) {
        start(options);
        construct("HANDVIEW_TRACKER", url);
        CaptureStderr();
        EXPECT_FALSE(until([&] { return controller.frame(0).isValid(); }, 2.5));  // two attempts or more
        const std::string said = GetCapturedStderr();
        EXPECT_EQ(said.rfind("handview: " + url + line, 0), 0u) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        pclose(std::exchange(server, nullptr));
    }
}

}  // namespace
