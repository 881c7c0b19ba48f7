// The live source: a WebSocket client of the tracking service (protocol 6), advanced only inside
// the controller's calls by polling its I/O context, so the program stays single-threaded and no
// call ever waits for the network.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <charconv>
#include <chrono>
#include <deque>

#include "FrameDecoding.h"
#include "Recorder.h"
#include "Source.h"

namespace Leap {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

constexpr auto kHandshakeLimit = std::chrono::seconds(2);
constexpr auto kRetryDelay = std::chrono::seconds(1);
constexpr auto kStaleAfter = std::chrono::milliseconds(250);
constexpr int64_t kProtocolVersion = 6;
constexpr size_t kHistoryFrames = 61;      // the newest and 60 behind it
constexpr int kMaxHandlersPerPoll = 1000;  // a flooding service still lets the frame go on
constexpr std::string_view kBackground = R"({"background": true})";
constexpr std::string_view kFocused = R"({"focused": true})";

struct Address {
    tcp::endpoint endpoint;
    std::string host;    // for the Host header, as the user wrote it
    std::string target;  // path
};

// ws://HOST:PORT/PATH with HOST an IP address ([v6] in brackets) or localhost: a name lookup
// would block or need a thread.
bool parseUrl(const std::string& url, Address& out) {
    constexpr std::string_view kScheme = "ws://";
    if (url.compare(0, kScheme.size(), kScheme) != 0) return false;
    const std::string rest = url.substr(kScheme.size());
    const size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    out.target = slash == std::string::npos ? "/" : rest.substr(slash);
    for (char c : out.target)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return false;
    const bool bracketed = !authority.empty() && authority[0] == '[';
    const size_t colon = bracketed ? authority.find("]:") + 1 : authority.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = authority.substr(bracketed ? 1 : 0, bracketed ? colon - 2 : colon);
    const std::string port = authority.substr(colon + 1);
    unsigned number = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || number == 0 ||
        number > 65535)
        return false;
    if (host == "localhost") host = "127.0.0.1";
    error_code bad;
    const asio::ip::address ip = asio::ip::make_address(host, bad);
    if (bad) return false;
    out.endpoint = tcp::endpoint(ip, static_cast<unsigned short>(number));
    out.host = authority;
    return true;
}

enum Line { kOpened, kLost, kUnreachable, kNotWebSocket, kWrongVersion, kBadMessage, kDevice, kLineKinds };

// One attempt: connect, handshake, then the open stream until anything fails. It is dropped
// whole, its own I/O context with it, so nothing of a dead connection can reach the next.
struct Connection {
    asio::io_context io;  // first: destroyed last, after the stream its operations refer to
    websocket::stream<tcp::socket> ws{io};
    beast::flat_buffer buffer;
    Clock::time_point started = Clock::now();
    bool answered = false;  // the TCP connection was accepted
    bool open = false;      // the WebSocket handshake is done
    bool failed = false;
};

class LiveSource : public Source {
public:
    LiveSource(std::string url, Address address, bool named, const char* recordPath)
        : url_(std::move(url)), address_(std::move(address)), named_(named), recorder_(recordPath) {}

    ~LiveSource() override { drop(); }

    bool isConnected() override {
        advance();
        return connection_ && connection_->open && deviceReady_;
    }

    Frame frame(int history) override {
        advance();
        if (history < 0 || static_cast<size_t>(history) >= frames_.size()) return Frame();
        // A stream that stays open but stops sending must not keep flying the camera.
        if (history == 0 && Clock::now() - lastFrameAt_ > kStaleAfter) return Frame();
        return frames_[frames_.size() - 1 - static_cast<size_t>(history)];
    }

private:
    void advance() {
        const Clock::time_point now = Clock::now();
        if (!connection_) {
            if (now < nextAttempt_) return;
            connect();
        }
        Connection& c = *connection_;
        if (!c.open && now - c.started > kHandshakeLimit) {
            fail(c, c.answered ? kNotWebSocket : kUnreachable,
                 url_ + (c.answered ? " accepted but gave no WebSocket handshake within 2 s"
                                    : " did not answer within 2 s"));
        } else {
            c.io.restart();
            for (int i = 0; i < kMaxHandlersPerPoll && !c.failed && c.io.poll_one(); ++i) {
            }
        }
        if (c.failed) drop();
    }

    void connect() {
        connection_ = std::make_unique<Connection>();
        Connection& c = *connection_;
        c.ws.read_message_max(kMaxMessageBytes);
        c.ws.text(true);
        // Also bounds the closing handshake, which a vanished service would never answer.
        c.ws.set_option(
            websocket::stream_base::timeout{kHandshakeLimit, websocket::stream_base::none(), false});
        c.ws.next_layer().async_connect(address_.endpoint, [this, &c](error_code ec) {
            if (c.failed) return;
            if (ec) return fail(c, kUnreachable, "cannot reach " + url_ + ": " + ec.message());
            c.answered = answeredEver_ = true;
            c.ws.async_handshake(address_.host, address_.target,
                                 [this, &c](error_code ec2) { opened(c, ec2); });
        });
    }

    void opened(Connection& c, error_code ec) {
        if (c.failed) return;
        if (ec) return fail(c, kNotWebSocket, url_ + " is not a WebSocket tracking service: " + ec.message());
        c.open = true;
        deviceReady_ = true;
        haveOrigin_ = false;
        // Without these the service streams only while its own window has the focus.
        c.ws.async_write(asio::buffer(kBackground.data(), kBackground.size()), [&c](error_code e, size_t) {
            if (!e && !c.failed)
                c.ws.async_write(asio::buffer(kFocused.data(), kFocused.size()), [](error_code, size_t) {});
        });
        read(c);
    }

    void read(Connection& c) {
        c.ws.async_read(c.buffer, [this, &c](error_code ec, size_t) {
            if (c.failed) return;
            if (ec == websocket::error::message_too_big)
                return fail(c, kBadMessage,
                            "dropped a message over 64 KiB from " + url_ + " and the connection");
            if (ec) return fail(c, kLost, "lost the tracking service at " + url_ + ": " + ec.message());
            const auto bytes = c.buffer.data();
            const std::string_view text(static_cast<const char*>(bytes.data()), bytes.size());
            if (c.ws.got_binary())
                badFrame("a binary message");
            else
                handle(c, text);
            c.buffer.consume(c.buffer.size());
            if (!c.failed) read(c);
        });
    }

    void handle(Connection& c, std::string_view text) {
        Message m = decodeMessage(text);
        switch (m.kind) {
            case Message::Kind::frame:
                if (!haveOrigin_) originUs_ = m.timestampUs;
                haveOrigin_ = true;
                push(toFrame(std::move(m), originUs_));
                console_.rearm();
                recorder_.write(text);
                break;
            case Message::Kind::version:
                if (m.version != kProtocolVersion)
                    return fail(c, kWrongVersion,
                                url_ + " speaks protocol version " +
                                    (m.version < 0 ? std::string("unknown") : std::to_string(m.version)) +
                                    ", not 6; closing");
                console_.say(kOpened, "connected to the tracking service at " + url_ + " (service " +
                                          m.serviceVersion + ", protocol 6)");
                break;
            case Message::Kind::deviceEvent:
                deviceReady_ = m.deviceReady;
                if (!deviceReady_) console_.say(kDevice, "the tracking device is detached or not streaming");
                break;
            case Message::Kind::other:
                break;
            case Message::Kind::bad:
                badFrame(m.problem);
                break;
        }
    }

    // Dropped, and frame(0) invalid until a good one: never the last good frame left in place.
    void badFrame(const std::string& problem) {
        push(Frame());
        console_.say(kBadMessage, "dropped a message from the tracking service: " + problem);
    }

    void push(Frame frame) {
        frames_.push_back(std::move(frame));
        if (frames_.size() > kHistoryFrames) frames_.pop_front();
        lastFrameAt_ = Clock::now();
    }

    void fail(Connection& c, Line kind, const std::string& text) {
        c.failed = true;
        // Silence while the default address has never answered: no service is the usual case.
        const bool worthALine = kind != kUnreachable || named_ || answeredEver_;
        // A service that comes back after a lost line is announced again.
        if (worthALine && console_.say(kind, text) && kind == kLost) console_.rearm(kOpened);
    }

    // Cancels what is pending and lets the cancelled handlers run before the stream goes.
    void drop() {
        if (!connection_) return;
        Connection& c = *connection_;
        c.failed = true;
        error_code ignored;
        c.ws.next_layer().close(ignored);
        c.io.restart();
        for (int i = 0; i < kMaxHandlersPerPoll && c.io.poll(ignored) > 0; ++i) {
        }
        connection_.reset();
        frames_.clear();
        nextAttempt_ = Clock::now() + kRetryDelay;
    }

    const std::string url_;
    const Address address_;
    const bool named_;
    Recorder recorder_;
    ConsoleLines<kLineKinds> console_;
    std::unique_ptr<Connection> connection_;
    Clock::time_point nextAttempt_;
    bool answeredEver_ = false;
    bool deviceReady_ = true;
    std::deque<Frame> frames_;
    Clock::time_point lastFrameAt_;
    bool haveOrigin_ = false;
    int64_t originUs_ = 0;
};

}  // namespace

std::shared_ptr<Source> makeLiveSource(const std::string& url, bool named, const char* recordPath) {
    Address address;
    if (!parseUrl(url, address)) {
        printConsoleLine("HANDVIEW_TRACKER=" + url +
                         " is neither none nor ws://HOST:PORT/PATH with HOST an IP address or localhost;"
                         " running without a hand device");
        return makeNoDevice();
    }
    return std::make_shared<LiveSource>(url, std::move(address), named, recordPath);
}

}  // namespace Leap
