// Everything but send(), waitForClient() and stop() runs on the server's one thread, so sessions
// need no locks; send() hands its message over to that thread.
#include "webcam/TrackingServer.h"

#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <nlohmann/json.hpp>

#include "tracker/Protocol.h"
#include "webcam/Console.h"
#include "webcam/FrameMessage.h"

namespace webcam {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Leap::kServicePath;

namespace {
constexpr size_t kMaxQueued = 4;  // frames; a client further behind skips the oldest
// The kernel's own queue for a client that does not read: about a second of frames, where it
// would otherwise grow to megabytes.
constexpr int kSendBufferBytes = 16 * 1024;
constexpr size_t kMaxRefusing = 4;  // clients being turned away at once; more wait unaccepted
constexpr auto kRequestLimit = std::chrono::seconds(10);
constexpr auto kAcceptPause = std::chrono::seconds(1);
}  // namespace

struct TrackingServer::Session : std::enable_shared_from_this<Session> {
    Session(TrackingServer& server, tcp::socket socket, bool refused)
        : server(server), ws(std::move(socket)), refused(refused) {}

    void start() {
        error_code ignored;
        beast::get_lowest_layer(ws).socket().set_option(asio::socket_base::send_buffer_size(kSendBufferBytes),
                                                        ignored);
        beast::get_lowest_layer(ws).expires_after(kRequestLimit);
        // No body and a small header: a request is a few hundred bytes.
        http::async_read(ws.next_layer(), buffer, parser, [self = shared_from_this()](error_code ec, size_t) {
            ec ? self->close() : self->upgrade();
        });
    }

    void upgrade() {
        const auto& request = parser.get();
        if (refused)
            return answer(http::status::service_unavailable,
                          "handview-camera serves " + std::to_string(kMaxClients) + " clients at most\n");
        if (!websocket::is_upgrade(request) || request.target() != kServicePath) {
            server.lines_.say(kNotAClient, "closed a connection that asked for " +
                                               Leap::printable(std::string(request.method_string()) + " " +
                                                               std::string(request.target())) +
                                               ", not for a WebSocket at " + kServicePath);
            return answer(http::status::not_found,
                          std::string("handview-camera serves WebSocket clients at ") + kServicePath + "\n");
        }
        beast::get_lowest_layer(ws).expires_never();
        ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        ws.read_message_max(Leap::kMaxMessageBytes);
        ws.async_accept(request, [self = shared_from_this()](error_code ec) {
            if (ec) return self->close();
            self->server.lines_.rearm(kNotAClient);
            self->server.lines_.rearm(kTooBig);
            self->queue.push_back({std::make_shared<const std::string>(greetingMessage()), false});
            self->queue.push_back({std::make_shared<const std::string>(deviceMessage()), false});
            self->write();
            self->read();
        });
    }

    void answer(http::status status, std::string text) {
        response = {status, parser.get().version()};
        response.set(http::field::content_type, "text/plain");
        response.body() = std::move(text);
        response.prepare_payload();
        http::async_write(ws.next_layer(), response,
                          [self = shared_from_this()](error_code, size_t) { self->close(); });
    }

    void read() {
        ws.async_read(buffer, [self = shared_from_this()](error_code ec, size_t) {
            if (ec == websocket::error::message_too_big)
                self->server.lines_.say(kTooBig, "closed a client that sent a message over " +
                                                     std::to_string(Leap::kMaxMessageBytes / 1024) + " KiB");
            if (ec) return self->close();
            self->heard(beast::buffers_to_string(self->buffer.data()));
            self->buffer.consume(self->buffer.size());
            self->read();
        });
    }

    // Clients say whether they want frames while their own window is not in front.
    void heard(const std::string& text) {
        const nlohmann::json m = nlohmann::json::parse(text, nullptr, false);
        if (!m.is_object()) return;
        for (auto [key, flag] : {std::pair{"background", &background}, std::pair{"focused", &focused}})
            if (auto it = m.find(key); it != m.end() && it->is_boolean()) *flag = it->get<bool>();
        const bool wants = background || focused;
        if (wants != counted) server.streaming(wants);
        counted = wants;
    }

    void sendFrame(const std::shared_ptr<const std::string>& message) {
        if (!counted || closed) return;
        if (queue.size() >= kMaxQueued) {
            auto oldest = queue.begin() + (writing ? 1 : 0);  // the one being written must stay
            while (oldest != queue.end() && !oldest->droppable) ++oldest;
            if (oldest != queue.end()) queue.erase(oldest);
        }
        queue.push_back({message, true});
        if (!writing) write();
    }

    void write() {
        writing = !queue.empty();
        if (!writing) return;
        ws.async_write(asio::buffer(*queue.front().text), [self = shared_from_this()](error_code ec, size_t) {
            self->queue.pop_front();
            ec ? self->close() : self->write();
        });
    }

    void close() {
        if (closed) return;
        closed = true;
        if (counted) server.streaming(false);
        counted = false;
        error_code ignored;
        beast::get_lowest_layer(ws).socket().close(ignored);
        server.gone(shared_from_this());
    }

    TrackingServer& server;
    websocket::stream<beast::tcp_stream> ws;
    const bool refused;
    beast::flat_buffer buffer;
    http::request_parser<http::empty_body> parser;
    http::response<http::string_body> response;
    struct Queued {
        std::shared_ptr<const std::string> text;
        bool droppable;  // a frame may be skipped; the greeting and the device may not
    };
    std::deque<Queued> queue;
    bool writing = false, background = false, focused = false, counted = false, closed = false;
};

TrackingServer::TrackingServer() : lines_(consoleLine) {}

TrackingServer::~TrackingServer() {
    stop();
}

bool TrackingServer::listen(unsigned short port, std::string& error) {
    const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
    error_code ec;
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (!ec) return true;
    error = "cannot serve on 127.0.0.1:" + std::to_string(port) + ": " + ec.message() +
            (ec == asio::error::address_in_use ? " (another tracking service runs there?)" : "");
    return false;
}

unsigned short TrackingServer::port() const {
    error_code ignored;
    return acceptor_.local_endpoint(ignored).port();
}

void TrackingServer::start() {
    accept();
    thread_ = std::thread([this] { io_.run(); });
}

// Connections that cannot be taken now wait in the kernel's queue, costing the service nothing,
// until one goes.
void TrackingServer::accept() {
    if (sessions_.size() >= kMaxClients + kMaxRefusing) return;
    accepting_ = true;
    acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
        accepting_ = false;
        if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (ec) {
            // Out of descriptors, as a rule: trying again at once would spin until one is freed.
            lines_.say(kNoDescriptors, "cannot accept a client: " + ec.message() + " (" +
                                           std::to_string(sessions_.size()) +
                                           " connected); accepting again when one goes");
            acceptPause_.expires_after(kAcceptPause);
            acceptPause_.async_wait([this](error_code e) {
                if (!e) resumeAccepting();
            });
            return;
        }
        lines_.rearm(kNoDescriptors);
        const bool refused = sessions_.size() - refusing_ >= kMaxClients;
        if (refused)
            lines_.say(kFull, "serving " + std::to_string(kMaxClients) +
                                  " clients, the most it takes; turning more away");
        else
            lines_.rearm(kFull);
        refusing_ += refused;
        auto session = std::make_shared<Session>(*this, std::move(socket), refused);
        sessions_.insert(session);
        session->start();
        accept();
    });
}

void TrackingServer::resumeAccepting() {
    if (accepting_ || !acceptor_.is_open()) return;
    acceptPause_.cancel();
    accept();
}

void TrackingServer::gone(const std::shared_ptr<Session>& session) {
    refusing_ -= session->refused;
    sessions_.erase(session);
    resumeAccepting();
}

void TrackingServer::send(std::string message) {
    asio::post(io_, [this, m = std::make_shared<const std::string>(std::move(message))] {
        for (auto session : std::set(sessions_)) session->sendFrame(m);
    });
}

void TrackingServer::streaming(bool more) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        streamingClients_ += more ? 1 : -1;
    }
    clientsChanged_.notify_all();
}

bool TrackingServer::waitForClient(const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A signal cannot wake a condition variable: look at `stop` now and then.
    while (streamingClients_ == 0 && !stop) clientsChanged_.wait_for(lock, std::chrono::milliseconds(50));
    return streamingClients_ > 0;
}

bool TrackingServer::watched() {
    std::lock_guard<std::mutex> lock(mutex_);
    return streamingClients_ > 0;
}

void TrackingServer::stop() {
    io_.stop();
    if (thread_.joinable()) thread_.join();
    error_code ignored;
    acceptor_.close(ignored);
    for (const auto& session : sessions_) beast::get_lowest_layer(session->ws).socket().close(ignored);
    sessions_.clear();
}

}  // namespace webcam
