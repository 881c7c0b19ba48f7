// The tracker as the program meets it: frame handles, the service's messages decoded, session files
// and recordings replayed, and the live client against a local test server (tests/tracker/ws_server.py).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "FrameDecoding.h"
#include "support/FakeHands.h"

using namespace Leap;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
const std::string kSource = HANDVIEW_SOURCE_DIR;
const fs::path kTemp = fs::temp_directory_path() / ("tracker_test_" + std::to_string(getpid()));

std::string describe(const Frame& f) {
    if (!f.isValid()) return "invalid";
    std::ostringstream s;
    s.precision(9);
    auto put = [&s](const char* what, Vector v) { s << ' ' << what << v.x << ',' << v.y << ',' << v.z; };
    s << f.timestamp();
    for (int h = 0; h < f.hands().count(); ++h) {
        put("palm ", f.hands()[h].palmPosition());
        put("normal ", f.hands()[h].palmNormal());
        for (int i = 0; i < f.hands()[h].fingers().count(); ++i) put("", f.hands()[h].fingers()[i].tipPosition());
    }
    return s.str();
}

// What the controller should report for these frame messages, timed from the first.
std::vector<std::string> expectedFrames(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        Message m = decodeMessage(line);
        const int64_t origin = out.empty() ? m.timestampUs : decodeMessage(lines[0]).timestampUs;
        out.push_back(describe(Frame(FrameData{(m.timestampUs - origin) / 1000, m.hands})));
    }
    return out;
}

std::vector<std::string> readLines(const fs::path& path, size_t most = SIZE_MAX) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; lines.size() < most && std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A message with these hands and pointables; hand 1 is at rest, palm down.
std::string msg(const std::string& pointables, const std::string& hands = R"({"id":1,"palmPosition":[0,200,50],"palmNormal":[0,-1,0]})",
                const std::string& more = "", int64_t timestampUs = 1000) {
    return R"({"id":7,"timestamp":)" + std::to_string(timestampUs) + R"(,"hands":[)" + hands + R"(],"pointables":[)" +
           pointables + "]" + more + "}";
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
        port = probe(0);
        std::signal(SIGPIPE, SIG_IGN);  // writing to a server the test stopped
        for (const char* name : {"HANDVIEW_REPLAY", "HANDVIEW_TRACKER", "HANDVIEW_RECORD"}) unsetenv(name);
    }
    void TearDown() override {
        stop();
        fs::remove_all(kTemp);
    }

    // The default controller under these variables, and what it printed while being built.
    std::string construct(const std::map<std::string, std::string>& env) {
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        ::testing::internal::CaptureStderr();
        controller = Controller();
        return ::testing::internal::GetCapturedStderr();
    }
    std::string url() const { return "ws://localhost:" + std::to_string(port) + "/v6.json"; }

    // Returns once the server listens, so that the controller's first attempt finds it.
    void start(const std::string& options = "") {
        server = popen(("exec env -u LD_PRELOAD /usr/bin/python3 " + kSource + "/tests/tracker/ws_server.py --port " +
                        std::to_string(port) + " " + options + " >/dev/null")
                           .c_str(),
                       "w");
        ASSERT_TRUE(server && until([this] { return probe(port) != 0; }));
    }
    void stop() {
        if (server) pclose(server);
        server = nullptr;
    }
    void send(const std::string& line) {
        std::fputs((line + "\n").c_str(), server);
        std::fflush(server);
    }

    // Connects to `port`, or with 0 binds a free one; returns the port, 0 on failure.
    static int probe(int port) {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        socklen_t size = sizeof a;
        const bool ok = port ? connect(s, reinterpret_cast<sockaddr*>(&a), size) == 0
                             : bind(s, reinterpret_cast<sockaddr*>(&a), size) == 0 &&
                                   getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0;
        close(s);
        return ok ? ntohs(a.sin_port) : 0;
    }
    Controller controller{nullptr};
    int port = 0;
    std::FILE* server = nullptr;
};

TEST_F(Tracker, FrontmostHasSmallestZFirstOnTiesAndMissingHandlesReadZero) {
    auto hand = [](float z, std::vector<Vector> tips = {}) { return fake::HandSpec{{0, 200, z}, {0, -1, 0}, tips}; };
    Frame frame = fake::makeFrame({hand(30), hand(-10, {{1, 0, 5}, {2, 0, -3}, {3, 0, -3}}), hand(-10), hand(0)});
    EXPECT_EQ(frame.hands().frontmost().fingers().count(), 3);  // the first of the two at -10
    EXPECT_EQ(frame.hands().frontmost().fingers().frontmost().tipPosition().x, 2);
    for (const Hand& none : {Frame().hands().frontmost(), frame.hands()[4], fake::makeFrame({}).hands().frontmost()}) {
        EXPECT_FALSE(none.isValid() || none.fingers().frontmost().isValid());
        EXPECT_EQ(none.palmPosition().z + none.fingers().frontmost().tipPosition().z, 0);
    }
}

TEST_F(Tracker, MessagesDecodeToTheFingersAHandShows) {
    const struct {
        std::string text;
        int fingers;  // of the first hand; -1: the frame is dropped
    } cases[] = {
        {msg(tip(R"(,"extended":true)") + "," + tip(R"(,"extended":false)")), 1},
        {msg(tip(R"(,"tool":true)") + "," + tip(R"(,"tool":false)")), 1},
        {msg(tip() + "," + tip()), 2},                       // older versions: no "extended"
        {msg(tip("", 9) + "," + tip("", -1) + "," + tip()), 1},  // orphans are ignored
        {msg(""), 0},
        {msg(tip(R"(,"extended":"yes")")), -1},
        {msg(R"({"handId":1,"tipPosition":[1,2]})"), -1},
        {msg("", R"({"id":1,"palmPosition":[0,200,50]})"), -1},
        {msg("", R"({"id":1,"palmPosition":[0,10001,0],"palmNormal":[0,-1,0]})"), -1},
        {msg("", R"({"id":1,"palmPosition":[0,200,0],"palmNormal":[0,-2.5,0]})"), -1},
        {msg("", R"({"id":1,"palmPosition":[0,1e400,0],"palmNormal":[0,-1,0]})"), -1},
        {msg("", R"({"id":1,"palmPosition":"here","palmNormal":[0,-1,0]})"), -1},
        {msg("", R"({"id":"one","palmPosition":[0,200,0],"palmNormal":[0,-1,0]})"), -1},
        {msg("", "7"), -1},
        {R"({"id":7,"hands":[],"pointables":[]})", -1},
        {R"({"timestamp":"now","hands":[],"pointables":[]})", -1},
        {R"({"timestamp":1,"hands":{},"pointables":[]})", -1},
        {msg("", "", ",\"pad\":\"" + std::string(kMaxMessageBytes, 'x') + "\""), -1},
        {"", -1}, {"[1,2]", -1}, {"{\"timestamp\":1,\"hands\":[", -1}, {std::string("{\0}", 3), -1}};
    for (const auto& c : cases) {
        Message m = decodeMessage(c.text);
        SCOPED_TRACE(c.text.substr(0, 200) + " " + m.problem);
        const size_t fingers = m.hands.empty() ? 0 : m.hands[0].tips.size();
        EXPECT_EQ(m.kind == Message::Kind::frame ? int(fingers) : -1, c.fingers);
    }
    // The real recordings: one hand, all five fingers listed, only the stretched ones counted.
    for (auto [file, least, most] : {std::tuple{"hand-splay", 4u, 5u}, std::tuple{"pinch", 3u, 5u}}) {
        size_t seenLeast = 5, seenMost = 0;
        for (const std::string& line : readLines(kSource + "/tracker/recordings/" + file + ".jsonl")) {
            Message m = decodeMessage(line);
            ASSERT_EQ(m.hands.size(), 1u) << file << ": " << m.problem;
            seenLeast = std::min(seenLeast, m.hands[0].tips.size());
            seenMost = std::max(seenMost, m.hands[0].tips.size());
        }
        EXPECT_EQ(seenLeast, least) << file;
        EXPECT_EQ(seenMost, most) << file;
    }
}

// A file to replay, and what the controller built on it says and does.
TEST_F(Tracker, ReplayFilesAreCheckedAndReportedOnOneLine) {
    const std::string frame = msg(tip());
    std::string later = frame;
    later.replace(later.find("1000"), 4, "901000");
    const struct {
        std::string content;  // of the file; "@path" replays that path instead
        std::string says;     // after "handview: replay file PATH"; "" nothing
        bool connected;
    } cases[] = {
        {"0 hand 0 200 0 0 -1 0\n# ok so far\n16 hand 0 200 0 0 -1 0 1 2\n", " line 3: expected 3 numbers per fingertip", false},
        {"0 hand 0 200 nan 0 -1 0\n", " line 1: 'nan' is not a finite number", false},
        {"10 none\n20 none\n15 none\n", " line 3: timestamp 15 is earlier than the previous 20", false},
        {"0 none\n5 end\n6 none\n", " line 3: nothing may follow the 'end' line", false},
        {"# nothing\n", " holds no frame and no 'end' line", false},
        {"0 none\n" + std::string(70000, '#') + "\n", " line 2: longer than 64 KiB", false},
        {"\n " + frame + "\nnot json\n" + later + "\n" + frame + "\n", ": skipped 2 lines, the first line 3: not JSON", true},
        {"{\"hands\": 3}\n", " holds no frame (skipped 1 line, the first line 1: no timestamp)", false},
        {"@" + kSource + "/tracker/recordings/pinch.jsonl", "", true},
        {"@" + kSource + "/tracker/sessions/fly.txt", "", true},
        {"@/dev/zero", " cannot be opened: it is not a regular file", false},
        {"@fifo", " cannot be opened: it is not a regular file", false},
        {"@" + kTemp.string(), " cannot be opened: it is a directory", false},
        {"@huge", " cannot be opened: it is larger than 1 GiB", false},
        {"@missing", " cannot be opened: No such file or directory", false}};
    mkfifo((kTemp / "fifo").c_str(), 0600);
    std::ofstream(kTemp / "huge").close();
    fs::resize_file(kTemp / "huge", (uintmax_t(1) << 30) + 1);  // sparse: takes no room
    for (const auto& c : cases) {
        std::string path = c.content[0] == '@' ? c.content.substr(1) : (kTemp / "replay").string();
        if (c.content[0] != '@') std::ofstream(path) << c.content;
        if (path.find('/') == std::string::npos) path = (kTemp / path).string();
        SCOPED_TRACE(path);
        EXPECT_EQ(construct({{"HANDVIEW_REPLAY", path}, {"HANDVIEW_TRACKER", url()}}),
                  c.says.empty() ? "" : "handview: replay file " + path + c.says + "\n");
        EXPECT_EQ(controller.isConnected(), c.connected);
        EXPECT_EQ(controller.frame(0).isValid(), c.connected);
    }
}

// The clock starts at the first call, not at construction: a slow start-up loses nothing.
TEST_F(Tracker, ReplayStartsAtTheFirstCallAndEndsDisconnected) {
    std::ofstream(kTemp / "s.txt") << "0 hand 1 200 0 0 -1 0\n150 hand 2 200 0 0 -1 0\n300 end\n";
    construct({{"HANDVIEW_REPLAY", (kTemp / "s.txt").string()}});
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
    construct({{"HANDVIEW_TRACKER", url()}, {"HANDVIEW_RECORD", record.string()}});
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(until([&] { return controller.isConnected(); }));
    std::vector<std::string> sent = readLines(kSource + "/tracker/recordings/pinch.jsonl", 40);
    const int64_t lastUs = decodeMessage(sent.back()).timestampUs;  // then one pointing finger
    sent.push_back(msg(tip(R"(,"extended":true)") + "," + tip(R"(,"extended":false)"), R"({"id":1,"palmPosition":[0,200,50],"palmNormal":[0,-1,0]})", "", lastUs + 9000));
    for (const std::string& line : sent) send(line);
    const std::vector<std::string> expected = expectedFrames(sent);
    ASSERT_TRUE(until([&] { return describe(controller.frame(0)) == expected.back(); }));
    const auto seen = Clock::now();
    for (size_t h = 0; h < expected.size(); ++h) EXPECT_EQ(describe(controller.frame(int(h))), expected[expected.size() - 1 - h]);
    EXPECT_TRUE(until([&] { return !controller.frame(0).isValid(); }, 0.5));  // the stream went quiet
    EXPECT_GE(Clock::now() - seen, std::chrono::milliseconds(240));
    EXPECT_TRUE(controller.isConnected());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "handview: connected to the tracking service at " + url() + " (service test, protocol 6)\n");
    EXPECT_EQ(readLines(log), (std::vector<std::string>{R"({"background": true})", R"({"focused": true})"}));
    EXPECT_EQ(readLines(record), sent);

    construct({{"HANDVIEW_REPLAY", record.string()}});
    ASSERT_TRUE(until([&] { return !controller.isConnected(); }));
    for (size_t h = 0; h < expected.size(); ++h) EXPECT_EQ(describe(controller.frame(int(h))), expected[expected.size() - 1 - h]);
}

TEST_F(Tracker, HostileMessagesAreDroppedAndTheStreamGoesOn) {
    enum Effect { invalidFrame, deviceGone, dropped };
    const std::pair<std::string, Effect> cases[] = {
        {"not json", invalidFrame}, {"[1,2]", invalidFrame}, {msg("", "7"), invalidFrame},
        {"!binary " + msg(tip()), invalidFrame},
        {R"({"event":{"type":"deviceEvent","state":{"attached":false,"streaming":true}}})", deviceGone},
        {R"({"event":{"type":"deviceEvent","state":{"attached":true,"streaming":false}}})", deviceGone},
        {"!big", dropped}, {"!partial", dropped}, {"!close", dropped}};
    start();
    construct({{"HANDVIEW_TRACKER", url()}});
    ::testing::internal::CaptureStderr();
    float x = 0;  // tells this case's good frame from the one before
    auto goodFrame = [&] { return controller.frame(0).hands()[0].palmPosition().x == x; };
    for (const auto& [message, effect] : cases) {
        SCOPED_TRACE(message.substr(0, 60));
        ASSERT_TRUE(until([&] { return controller.isConnected(); }));
        const std::string good = msg(tip(), R"({"id":1,"palmNormal":[0,-1,0],"palmPosition":[)" + std::to_string(++x) + ",200,0]}");
        send(good);
        ASSERT_TRUE(until(goodFrame));
        send(message);
        if (effect == invalidFrame)
            EXPECT_TRUE(until([&] { return !controller.frame(0).isValid() && controller.frame(1).hands()[0].palmPosition().x == x; }));
        else
            EXPECT_TRUE(until([&] { return !controller.isConnected(); }));
        if (effect == deviceGone) send(R"({"event":{"type":"deviceEvent","state":{"attached":true,"streaming":true}}})");
        ASSERT_TRUE(until([&] { return controller.isConnected(); }));
        send(good);
        EXPECT_TRUE(until(goodFrame));
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    for (const char* piece : {"not JSON", "a binary message", "detached or not streaming", "over 64 KiB", "lost the tracking service"})
        EXPECT_NE(said.find(piece), std::string::npos) << piece;
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 2 * std::size(cases)) << said;
}

TEST_F(Tracker, AServiceThatGoesAwayIsRetriedAndOddServersGetOneLineEach) {
    start();
    construct({{"HANDVIEW_TRACKER", url()}});
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(until([&] { return controller.isConnected(); }));
    stop();
    EXPECT_TRUE(until([&] { return !controller.isConnected(); }));
    EXPECT_FALSE(until([&] { return controller.isConnected(); }, 2.2));  // two more attempts
    start();
    EXPECT_TRUE(until([&] { return controller.isConnected(); }));
    send(msg(tip()));
    EXPECT_TRUE(until([&] { return controller.frame(0).isValid(); }));
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.substr(said.find('\n') + 1), "handview: lost the tracking service at " + url() +
              ": End of file\nhandview: cannot reach " + url() + ": Connection refused\n"
              "handview: connected to the tracking service at " + url() + " (service test, protocol 6)\n");
    stop();
    for (auto [options, line] : {std::pair{"--mode not-websocket", " is not a WebSocket tracking service"},
                                {"--mode silent", " accepted but gave no WebSocket handshake within 2 s"},
                                {"--protocol 7", " speaks protocol version 7, not 6; closing"}}) {
        start(options);
        construct({{"HANDVIEW_TRACKER", url()}});
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(until([&] { return controller.frame(0).isValid(); }, 2.5));
        said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.rfind("handview: " + url() + line, 0), 0u) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        stop();
    }
}

TEST_F(Tracker, TrackerVariableNamesAnAddressOrNone) {
    for (auto [value, complains] : {std::pair{"none", false}, {"ws://[::1]:1/v6.json", false}, {"ws://localhost.localdomain:6437/v6.json", true},
                                    {"http://127.0.0.1:6437/v6.json", true}, {"ws://127.0.0.1:0/v6.json", true}, {"ws://127.0.0.1/v6.json", true}}) {
        EXPECT_EQ(construct({{"HANDVIEW_TRACKER", value}}).empty(), !complains) << value;
        EXPECT_FALSE(controller.isConnected());
    }
}

}  // namespace
