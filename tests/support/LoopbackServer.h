// The listening half of the tests' servers: accepts on an ephemeral port of
// 127.0.0.1 (or ::1) and serves each connection on a thread of its own.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    // `serve` gets the socket (closed by the server) and the connection's
    // number, from 1. It must return once the socket is shut down.
    using Serve = std::function<void(int socket, int number)>;

    explicit LoopbackServer(Serve serve, const char* address = "127.0.0.1");
    // Shuts every connection down and waits for their threads.
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    int connections() const { return connections_; }

private:
    Serve serve_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> sockets_;
    std::vector<std::thread> workers_;
};
