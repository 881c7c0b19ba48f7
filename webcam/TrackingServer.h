// The tracking service's WebSocket server (protocol 6) on 127.0.0.1: any number of clients, each
// greeted with the versions and the device, then sent every frame once it has asked for them.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace webcam {

class TrackingServer {
public:
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

    // Drops every client and the listener; the thread is gone when it returns.
    void stop();

private:
    struct Session;
    void accept();
    void streaming(bool more);

    boost::asio::io_context io_;  // first: outlives what refers to it
    boost::asio::ip::tcp::acceptor acceptor_{io_};
    std::set<std::shared_ptr<Session>> sessions_;  // only on the server's thread
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable clientsChanged_;
    int streamingClients_ = 0;
};

}  // namespace webcam
