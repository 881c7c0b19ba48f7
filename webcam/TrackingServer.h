// The tracking service's WebSocket server on 127.0.0.1: at most kMaxClients clients, each greeted
// with the versions and the device, then sent every frame once it has asked for them. It is left
// running among programs it does not know, so whatever a client does costs only that client.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "tracker/Console.h"

namespace webcam {

class TrackingServer {
public:
    // One more is answered "503 Service Unavailable" and closed.
    static constexpr size_t kMaxClients = 32;

    TrackingServer();
    ~TrackingServer();

    // Listens on `port` (0: a free one); false with a one-line reason when it cannot.
    bool listen(unsigned short port, std::string& error);
    unsigned short port() const;

    // Serves on a thread of its own until stop().
    void start();

    // To every client that has asked for frames ({"background": true} or {"focused": true}). Never
    // waits: a client that falls behind loses its oldest frames, one that goes away is dropped.
    void send(std::string message);

    // Until a client asks for frames (true) or `stop` is set (false).
    bool waitForClient(const std::atomic<bool>& stop);
    // A client asks for frames now.
    bool watched();

    // Drops every client and the listener; the thread is gone when it returns.
    void stop();

private:
    struct Session;
    enum Line { kNoDescriptors, kFull, kNotAClient, kTooBig, kLineKinds };

    void accept();
    void resumeAccepting();
    void gone(const std::shared_ptr<Session>& session);
    void streaming(bool more);

    boost::asio::io_context io_;  // first: outlives what refers to it
    boost::asio::ip::tcp::acceptor acceptor_{io_};
    boost::asio::steady_timer acceptPause_{io_};
    // Only on the server's thread:
    bool accepting_ = false;
    std::set<std::shared_ptr<Session>> sessions_;
    size_t refusing_ = 0;  // of the sessions, those being turned away
    Leap::ConsoleLines<kLineKinds> lines_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable clientsChanged_;
    int streamingClients_ = 0;
};

}  // namespace webcam
