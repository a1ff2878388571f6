// A raw TCP server on an ephemeral loopback port for tunnel tests: each
// connection gets `greeting`, then (unless it hangs up after the greeting)
// every byte back until the client ends its side, then the end.
#pragma once

#include "support/LoopbackServer.h"

#include <atomic>
#include <string>

class EchoServer {
public:
    explicit EchoServer(std::string greeting = {}, bool closeAfterGreeting = false);

    int port() const { return server_.port(); }
    std::string authority() const { return "127.0.0.1:" + std::to_string(port()); }
    // Bytes received over every connection so far.
    std::size_t received() const { return received_; }

private:
    void serve(int socket);

    std::string greeting_;
    bool closeAfterGreeting_;
    std::atomic<std::size_t> received_{0};
    LoopbackServer server_;
};
