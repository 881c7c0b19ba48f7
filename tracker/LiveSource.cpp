// The live source: a WebSocket client of the tracking service (protocol 6), advanced only inside
// the controller's calls by polling its I/O context, so the program stays single-threaded and no
// call ever waits for the network.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>

#include "tracker/Console.h"
#include "tracker/FrameDecoding.h"
#include "tracker/FrameHistory.h"
#include "tracker/Protocol.h"
#include "tracker/Recording.h"
#include "tracker/Source.h"

namespace Leap {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

constexpr auto kHandshakeLimit = std::chrono::seconds(2);  // also for the closing handshake
constexpr auto kIdleLimit = std::chrono::seconds(4);       // pinged at half of it
constexpr auto kRetryDelay = std::chrono::seconds(1);
// A flooding service still lets the frame go on.
constexpr int kMaxHandlersPerPoll = 1000;
constexpr auto kPollBudget = std::chrono::milliseconds(4);
constexpr std::string_view kBackground = R"({"background": true})";
constexpr std::string_view kFocused = R"({"focused": true})";

enum Line { kOpened, kLost, kUnreachable, kNotWebSocket, kWrongVersion, kBadMessage, kDevice, kLineKinds };

// One attempt: connect, handshake, then the open stream until anything fails. It is dropped
// whole, its own I/O context with it, so nothing of a dead connection can reach the next.
struct Connection {
    asio::io_context io;  // first: destroyed last, after the stream its operations refer to
    websocket::stream<tcp::socket> ws{io};
    beast::flat_buffer buffer;
    Clock::time_point started = Clock::now();  // of the connect, then of the handshake
    bool answered = false;                     // the TCP connection was accepted
    bool open = false;                         // the WebSocket handshake is done
    bool failed = false;
};

class LiveSource : public Source {
public:
    LiveSource(std::string url, const Address& address, bool named, const char* recordPath)
        : url_(std::move(url)),
          address_(address),
          endpoint_(asio::ip::make_address(address.ip), address.port),
          named_(named),
          recorder_(recordPath) {}

    ~LiveSource() override { drop(); }

    bool isConnected() override {
        advance();
        return connection_ && connection_->open && deviceReady_;
    }

    Frame frame(int history) override {
        advance();
        return history_.frame(history, nowMs());
    }

private:
    static int64_t nowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
    }

    void advance() {
        const Clock::time_point now = Clock::now();
        if (!connection_) {
            if (now < nextAttempt_) return;
            connect();
        }
        Connection& c = *connection_;
        bool drained = false;  // everything that had arrived was handled
        // An error escaping a handler ends the connection: none is left half-open.
        try {
            c.io.restart();
            const Clock::time_point budgetEnd = now + kPollBudget;
            for (int i = 0; i < kMaxHandlersPerPoll && !c.failed && Clock::now() < budgetEnd; ++i) {
                if (!c.io.poll_one()) {
                    drained = true;
                    break;
                }
            }
        } catch (...) {
            lost(c, "an error while reading it");
        }
        // Judged once what has arrived is read: a slow frame, or a slow machine whose poll budget
        // ran out halfway through the answer, must not cost a connection whose handshake came
        // meanwhile. Twice the limit bounds a peer that keeps the context busy.
        const auto waited = now - c.started;
        if (!c.open && !c.failed && waited > kHandshakeLimit && (drained || waited > 2 * kHandshakeLimit))
            fail(c, c.answered ? kNotWebSocket : kUnreachable,
                 url_ + (c.answered ? " accepted but gave no WebSocket handshake within 2 s"
                                    : " did not answer within 2 s"));
        if (c.failed) drop();
    }

    void connect() {
        connection_ = std::make_unique<Connection>();
        Connection& c = *connection_;
        c.ws.read_message_max(kMaxMessageBytes);
        c.ws.text(true);
        c.ws.next_layer().async_connect(endpoint_, [this, &c](error_code ec) {
            if (c.failed) return;
            if (ec) return fail(c, kUnreachable, "cannot reach " + url_ + ": " + ec.message());
            c.answered = answeredEver_ = true;
            c.started = Clock::now();
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
        // Pings find a peer that hangs or vanished without closing; a close handshake is bounded
        // too. The opening handshake has the deadline in advance() instead.
        c.ws.set_option(websocket::stream_base::timeout{kHandshakeLimit, kIdleLimit, true});
        // Without these the service streams only while its own window has the focus.
        c.ws.async_write(asio::buffer(kBackground.data(), kBackground.size()),
                         [this, &c](error_code e, size_t) {
                             if (c.failed) return;
                             if (e) return lost(c, e.message());
                             c.ws.async_write(asio::buffer(kFocused.data(), kFocused.size()),
                                              [this, &c](error_code e2, size_t) {
                                                  if (e2 && !c.failed) lost(c, e2.message());
                                              });
                         });
        read(c);
    }

    void read(Connection& c) {
        c.ws.async_read(c.buffer, [this, &c](error_code ec, size_t) {
            if (c.failed) return;
            if (ec == websocket::error::message_too_big)
                return fail(c, kBadMessage,
                            "dropped a message over " + std::to_string(kMaxMessageBytes / 1024) +
                                " KiB from " + url_ + " and the connection");
            if (ec) return lost(c, ec.message());
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
                history_.push(toFrame(std::move(m), originUs_), nowMs());
                console_.rearm();
                recorder_.write(text);
                break;
            case Message::Kind::version:
                if (m.version != kProtocolVersion)
                    return fail(c, kWrongVersion,
                                url_ + " speaks protocol version " +
                                    (m.version < 0 ? std::string("unknown") : std::to_string(m.version)) +
                                    ", not " + std::to_string(kProtocolVersion) + "; closing");
                recorder_.write(text);
                console_.say(kOpened, "connected to the tracking service at " + url_ + " (service " +
                                          printable(m.serviceVersion, 40) + ", protocol " +
                                          std::to_string(kProtocolVersion) + ")");
                break;
            case Message::Kind::deviceEvent:
                recorder_.write(text);
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
        history_.push(Frame(), nowMs());
        console_.say(kBadMessage, "dropped a message from the tracking service: " + problem);
    }

    void fail(Connection& c, Line kind, const std::string& text) {
        c.failed = true;
        // Silence while the default address has never answered: no service is the usual case.
        const bool worthALine = kind != kUnreachable || named_ || answeredEver_;
        // A service that comes back after a lost line is announced again.
        if (worthALine && console_.say(kind, text) && kind == kLost) console_.rearm(kOpened);
    }

    void lost(Connection& c, const std::string& why) {
        fail(c, kLost, "lost the tracking service at " + url_ + ": " + why);
    }

    // Cancels what is pending and lets the cancelled handlers run before the stream goes.
    void drop() {
        if (!connection_) return;
        Connection& c = *connection_;
        c.failed = true;
        error_code ignored;
        c.ws.next_layer().close(ignored);
        try {
            c.io.restart();
            for (int i = 0; i < kMaxHandlersPerPoll && c.io.poll(ignored) > 0; ++i) {
            }
        } catch (...) {  // the connection goes all the same
        }
        connection_.reset();
        history_.clear();
        nextAttempt_ = Clock::now() + kRetryDelay;
    }

    const std::string url_;
    const Address address_;
    const tcp::endpoint endpoint_;
    const bool named_;
    Recorder recorder_;
    ConsoleLines<kLineKinds> console_;
    std::unique_ptr<Connection> connection_;
    Clock::time_point nextAttempt_;
    bool answeredEver_ = false;
    bool deviceReady_ = true;
    FrameHistory history_;
    bool haveOrigin_ = false;
    int64_t originUs_ = 0;
};

}  // namespace

std::shared_ptr<Source> makeLiveSource(const std::string& url, const Address& address, bool named,
                                       const char* recordPath) {
    return std::make_shared<LiveSource>(url, address, named, recordPath);
}

}  // namespace Leap
