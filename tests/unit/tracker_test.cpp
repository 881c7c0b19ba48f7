// The tracker as the program meets it: the service's messages decoded, files replayed, and the
// live client against a local test server (tests/tracker/ws_server.py).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "tracker/Console.h"
#include "tracker/FrameDecoding.h"
#include "tests/support/FakeHands.h"
#include "webcam/FrameMessage.h"

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
    const Hand h = f.hands()[0];  // the tests' frames have one
    for (Vector v : {h.palmPosition(), h.palmNormal()}) put(v);
    for (int i = 0; i < h.fingers().count(); ++i) put(h.fingers()[i].tipPosition());
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
// A frame message told from others by its palm's x.
std::string palmAt(float x, int64_t timestampUs = 1000) {
    return msg(tip(), R"({"id":1,"palmNormal":[0,1,0],"palmPosition":[)" + std::to_string(x) + ",0,0]}",
               timestampUs);
}

// Polls until `done` holds or `seconds` pass, as a frame loop would. The ceiling only bounds a
// failure: on a busy machine an event may take long to come.
template <typename Done>
bool until(Done done, double seconds = 30.0) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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

    // The default controller with `name`=`value` set, and what it printed while being built and `then`.
    std::string construct(
        const std::string& name, const std::string& value, std::function<void()> then = [] {}) {
        setenv(name.c_str(), value.c_str(), 1);
        CaptureStderr();
        controller = Controller();
        then();
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
        const std::string python = "exec env -u LD_PRELOAD /usr/bin/python3 '" + kSource + "/tests/tracker/";
        server = popen((python + "ws_server.py' " + options + " 2>/dev/null >'" + out + "'").c_str(), "w");
        ASSERT_TRUE(server && until([&] { return !readLines(out).empty(); })) << "needs python3-websockets";
        std::setvbuf(server, nullptr, _IONBF, 0);
        url = "ws://localhost:" + readLines(out)[0].substr(15);  // from ws://127.0.0.1:
        setenv("HANDVIEW_TRACKER", url.c_str(), 1);
    }
    void send(const std::string& line) { std::fputs((line + "\n").c_str(), server); }

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

// One protocol: handview-camera's messages, read by the viewer's decoder.
TEST(Protocol, TheViewerReadsWhatTheServiceSends) {
    webcam::ControllerHand hand{
        {-12.5, 230.25, 80}, {0.5, -0.75, 0.25}, {0, 0, -1}, {}, {true, true, false, true, false}};
    hand.tips = {{{-40, 300, 0}, {-20, 310, -5.5}, {0, 320, -10}, {20, 310, -5}, {40, 290, 0.25}}};
    const std::tuple<const webcam::ControllerHand*, std::string, const char*> cases[] = {
        {&hand, "",
         "5 -12.5,230.25,80 0.5,-0.75,0.25 -40,300,0 -20,310,-5.5 20,310,-5"},  // the extended fingers
        {nullptr, "too dark \"\n", "5 0,0,0 0,0,0"}};  // no hand, the service's warning
    for (const auto& [sent, warning, read] : cases) {
        const Frame frame = toFrame(decodeMessage(webcam::frameMessage(9, 5000, sent, 3, warning)), 0);
        EXPECT_EQ(describe(frame) + frame.warning(), read + warning);
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
        {replay, "0 hand 0 3e38 0 0 -1 0\n", "line 1: a palm position is out of range", 0},
        {replay, "0 \x1b]0;owned\a\n", R"(line 1: unknown keyword '\x1B]0;owned\x07')", 0},
        {replay, "\n " + msg("") + "\nnot json\n" + msg("", kHand, 1500) + "\n" + msg("") + "\n",
         "/replay: skipped 2 lines, the first line 3: not JSON", 1},
        {replay, kSource + "/tracker/recordings/pinch.jsonl", "", 1},
        {replay, "/dev/zero", "replay file /dev/zero cannot be opened: it is not a regular file", 0},
        {replay, temp + "/huge", "huge cannot be opened: it is larger than 1 GiB", 0},
        {"HANDVIEW_TRACKER", "ws://host.example:1/", "TRACKER=ws://host.example:1/ is neither none nor", 0},
        {"HANDVIEW_TRACKER", "none", "", 0},
        {"HANDVIEW_RECORD", temp + "/rec", "HANDVIEW_RECORD applies to a live stream only",
         0}};                                             // none still
    std::ofstream(kTemp / "huge").seekp(1 << 30) << '!';  // sparse: takes no room
    for (auto [name, value, says, plays] : cases) {
        if (value.find('\n') != std::string::npos)
            std::ofstream(kTemp / "replay") << std::exchange(value, temp + "/replay");
        unsetenv("HANDVIEW_REPLAY");
        bool played = false;  // at the first poll, where a replay reads its start
        const std::string said = construct(
            name, value, [&] { played = controller.isConnected() && controller.frame(0).isValid(); });
        EXPECT_EQ(said.find(says) != std::string::npos && std::count(said.begin(), said.end(), '\n') == 1,
                  !says.empty())
            << value << said;
        EXPECT_EQ(played, plays) << value;
    }
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
    Clock::time_point lastSent;         // the last frame arrives after it, however busy the machine
    for (const std::string& line : sent) {
        const Message m = decodeMessage(line);
        expected.insert(expected.begin(),
                        describe(Frame(FrameData{(m.timestampUs - origin) / 1000, m.hands, {}})));
        lastSent = Clock::now();
        send(line);
    }
    ASSERT_TRUE(until([&] { return describe(controller.frame(0)) == expected[0]; }));
    EXPECT_EQ(history(expected.size()), expected);
    EXPECT_TRUE(until([&] { return !controller.frame(0).isValid(); }));  // the stream went quiet
    EXPECT_GE(Clock::now() - lastSent, std::chrono::milliseconds(240));
    EXPECT_TRUE(controller.isConnected());
    EXPECT_EQ(GetCapturedStderr(),
              "handview: connected to the tracking service at " + url + " (service test, protocol 6)\n");
    EXPECT_EQ(readLines(log),
              (std::vector<std::string>{"open", R"({"background": true})", R"({"focused": true})"}));
    sent.insert(sent.begin(), R"({"serviceVersion": "test", "version": 6})");
    EXPECT_EQ(readLines(record), sent);

    construct("HANDVIEW_REPLAY", record.string());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a slow start-up loses nothing:
    EXPECT_EQ(describe(controller.frame(0)), expected.back());    // the clock starts at the first call
    controller = Controller(makeReplaySource(record.string(), 10));
    ASSERT_TRUE(until([&] { return !controller.isConnected(); }));
    EXPECT_EQ(history(expected.size()), expected);
}

TEST_F(Tracker, HostileStreamsAreDroppedAndTheRunGoesOn) {
    const std::string device = R"({"event":{"type":"deviceEvent","state":{"attached":)";
    const std::vector<std::string> cases[] = {
        {"not json", msg("", "7"), "!binary " + msg(tip())},            // frame(0) turns invalid
        {device + "false}}}", device + "true,\"streaming\":false}}}"},  // the device is gone a while
        {"!big", "!partial", "!away 1.5", "!freeze"}};                  // the connection is dropped
    start();
    construct("HANDVIEW_TRACKER", url);
    CaptureStderr();
    float x = 0;
    auto goodFrame = [&] {  // told from the one before by its palm
        until([&] { return controller.isConnected(); });
        send(palmAt(++x));
        return until([&] { return controller.frame(0).hands()[0].palmPosition().x == x; });
    };
    for (size_t effect = 0; effect < 3; ++effect)
        for (const std::string& message : cases[effect]) {
            ASSERT_TRUE(goodFrame()) << message;
            send(message);
            EXPECT_TRUE(until([&] {
                return effect > 0 ? !controller.isConnected()
                                  : !controller.frame(0).isValid() && controller.frame(1).isValid();
            })) << message;
            if (effect == 1) send(device + "true,\"streaming\":true}}}");
        }
    EXPECT_TRUE(goodFrame());
    const std::string said = GetCapturedStderr();
    for (const char* piece :
         {"not JSON", "binary", "detached or not streaming", "over 64 KiB", "lost", "cannot reach"})
        EXPECT_NE(said.find(piece), std::string::npos) << piece;
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 18) << said;  // 9 cases
}

TEST_F(Tracker, OddServersGetOneLineEach) {
    std::string breaks;
    for (int i = 0; i < 2000; ++i) breaks += R"(\n)";
    const std::pair<std::string, std::string> cases[] = {
        {"--mode not-websocket", " is not a WebSocket tracking service"},
        {"--mode silent", " accepted but gave no WebSocket handshake within 2 s"},
        {"--protocol 7", " speaks protocol version 7, not 6; closing"},
        {R"(--greeting '{"serviceVersion": ")" + breaks + R"(\u001b[2J", "version": 6}')",
         R"( (service \x0A\x0A)"}};
    for (auto [options, line] : cases) {
        start(options);
        construct("HANDVIEW_TRACKER", url);
        std::fflush(stderr);
        const int saved = dup(2), file = ::open((kTemp / "said").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, 2);
        EXPECT_TRUE(
            until([&] { return controller.frame(0).isValid() || !readLines(kTemp / "said").empty(); }));
        until([&] { return controller.frame(0).isValid(); }, 2.5);  // more attempts, which must stay quiet
        std::fflush(stderr);
        dup2(saved, 2);
        for (int fd : {saved, file}) ::close(fd);
        std::ifstream in(kTemp / "said");
        const std::string said(std::istreambuf_iterator<char>(in), {});
        EXPECT_TRUE(said.find(url + line) != std::string::npos && said.size() < 200 &&
                    std::count(said.begin(), said.end(), '\n') == 1)
            << said.substr(0, 300);
        pclose(std::exchange(server, nullptr));
    }
}

TEST(TrackerText, AddressesParseAndOutsideTextPrintsOnOneLine) {
    const std::pair<std::string, std::string> addresses[] = {
        {"ws://127.0.0.1:6437/v6.json", "127.0.0.1 6437 /v6.json"},
        {"WS://LocalHost:80", "127.0.0.1 80 /"},
        {"ws://[::1]:6437/v6.json", "::1 6437 /v6.json"}};
    Address a;
    for (const auto& [url, parsed] : addresses)
        EXPECT_TRUE(parseAddress(url, a) && a.ip + " " + std::to_string(a.port) + " " + a.target == parsed)
            << url;
    for (const char* url :
         {"ws://[::1]/", "ws://host.example:1/", "ws://127.0.0.1:0/", "ws://127.0.0.1:65536/",
          "http://127.0.0.1:1/", "ws://127.0.0.1:1/a b", "ws://:1/"})
        EXPECT_FALSE(parseAddress(url, a)) << url;
    const std::pair<std::string, std::string> texts[] = {
        {"2.3.1+6 caf\xC3\xA9", "2.3.1+6 caf\xC3\xA9"},
        {"a\nb\r\x1b[2J\x7f", R"(a\x0Ab\x0D\x1B[2J\x7F)"},
        {"\xC2\x9B[1m \xFF \xE2\x82", R"(\xC2\x9B[1m \xFF \xE2\x82)"},  // a C1 control, broken UTF-8
        // overlong forms, a surrogate, past U+10FFFF; the last of each length passes
        {"\xE0\x80\x80 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80",
         R"(\xE0\x80\x80 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80)"},
        {"\xDF\xBF \xEF\xBF\xBF \xF4\x8F\xBF\xBF a\xE2\x80\xAE"
         "b\xE2\x81\xA6 \xE2\x80\x8F",
         "\xDF\xBF \xEF\xBF\xBF \xF4\x8F\xBF\xBF "
         R"(a\u{202E}b\u{2066} \u{200F})"},  // and the bidirectional controls
        {std::string(81, 'x'), std::string(80, 'x') + "..."}};
    for (const auto& [text, shown] : texts) EXPECT_EQ(printable(text), shown);
}

// A recording's replay, a poll every 100 ms: the frame's palm x, '-' no frame, '_' not connected.
TEST_F(Tracker, RecordingsReplayEveryConnectionAndPauseInTheirGaps) {
    const std::string greeting = "{\"serviceVersion\": \"2.3.1\", \"version\": 6}\n",
                      device = R"({"event":{"type":"deviceEvent","state":{"attached":)";
    auto at = [](int64_t ms, float x) { return palmAt(x, ms * 1000) + "\n"; };
    const std::pair<std::string, std::string> cases[] = {
        {at(5000, 1) + at(5100, 2) + greeting + at(40, 3) + at(140, 4), "1234"},  // a reconnection
        {at(0, 1) + at(100, 2) + at(600, 3), "1222--3"},                          // a stall
        {at(0, 1) + at(100, 2) + at(99999999, 3), "123"},                         // the clock leaps
        {at(0, 1) + at(5, 2), "12"},                                              // the last is shown
        {at(0, 1) + at(100, 2) + device + "false}}}\n" + device + "true}}}\n" + at(600, 3), "12____3"}};
    for (const auto& [file, shown] : cases) {
        std::ofstream(kTemp / "replay") << file;
        controller = Controller(makeReplaySource((kTemp / "replay").string(), 100));
        std::string seen;
        for (int poll = 0; poll < 10; ++poll) {
            const bool connected = controller.isConnected();
            const Frame f = controller.frame(0);
            seen += !connected ? '_' : f.isValid() ? char('0' + int(f.hands()[0].palmPosition().x)) : '-';
        }
        EXPECT_EQ(seen, shown + std::string(10 - shown.size(), '_')) << file;
    }
}

TEST_F(Tracker, AFrameSlowerThanTheHandshakeDeadlineKeepsTheConnection) {
    const fs::path log = kTemp / "client.log";
    start("--mode late-handshake --log '" + log.string() + "'");
    const std::string said = construct("HANDVIEW_TRACKER", url, [&] {
        ASSERT_TRUE(until([&] { return controller.isConnected() || !readLines(log).empty(); }));  // asked
        send("!answer");
        ASSERT_TRUE(until([&] { return readLines(log).size() == 2; }));  // answered, unread: not polled since
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));    // the slow frame itself
        EXPECT_TRUE(until([&] { return controller.isConnected(); }));
        send(palmAt(1));  // after the greeting, so its line is out when this comes
        EXPECT_TRUE(until([&] { return controller.frame(0).isValid(); }));
    });
    EXPECT_EQ(said,
              "handview: connected to the tracking service at " + url + " (service test, protocol 6)\n");
}

// A named pipe as the target: a reader that lags loses whole frames, one that goes ends the recording.
TEST_F(Tracker, RecordingToAPipeKeepsWholeLinesAndOutlivesItsReader) {
    const fs::path fifo = kTemp / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // the server's not
    start();
    std::vector<std::string> sent = readLines(kSource + "/tracker/recordings/pinch.jsonl", 51);
    std::string got;
    const std::string said = construct("HANDVIEW_RECORD", fifo.string(), [&] {
        auto stream = [&](size_t from, size_t to) {  // returns once the controller has them
            for (size_t i = from; i < to; ++i) send(sent[i]);
            const int64_t ms =
                (decodeMessage(sent[to - 1]).timestampUs - decodeMessage(sent[0]).timestampUs) / 1000;
            ASSERT_TRUE(
                until([&] { return controller.isConnected() && controller.frame(0).timestamp() == ms; }));
        };
        auto drain = [&] {
            char chunk[4096];
            for (ssize_t n; (n = ::read(reader, chunk, sizeof chunk)) > 0;) got.append(chunk, size_t(n));
        };
        ASSERT_TRUE(until([&] { return controller.isConnected(); }));
        stream(0, 40);  // about 120 KB, more than the pipe holds
        drain();
        stream(40, 50);
        drain();
        ::close(reader);
        stream(50, 51);  // into the closed pipe
        controller = Controller(nullptr);
    });
    sent.insert(sent.begin(), R"({"serviceVersion": "test", "version": 6})");
    std::istringstream lines(got);
    size_t next = 0, recorded = 0;  // whole lines, in order
    for (std::string line; std::getline(lines, line); ++recorded, ++next)
        while (next < sent.size() && sent[next] != line) ++next;
    const size_t at = said.find("skipped "),
                 skipped = at == std::string::npos ? 0 : std::stoul(said.substr(at + 8));
    EXPECT_TRUE(skipped > 0 && next <= sent.size() && recorded + skipped + 1 == sent.size() &&
                got.back() == '\n')
        << skipped << " " << recorded << said;
    EXPECT_NE(said.find(fifo.string() + ": Broken pipe; recording stopped"), std::string::npos) << said;
}

}  // namespace
