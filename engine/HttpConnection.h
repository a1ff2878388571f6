// Relays one accepted client connection: requests to the origin (or the
// user's upstream proxy), responses back, every exchange reported to the
// filter; pooled by HttpProxy and reused after each client.
#pragma once

#include "engine/Platform.h"
#include "engine/Thread.h"

#include <atomic>
#include <mutex>

class HttpFilter;
class HttpProxy;

// The client spoke HTTP/2 (or later) where HTTP/1.1 was expected.
constexpr std::uint32_t kErrorHttpVersion = customError(486);

class HttpConnection {
public:
    explicit HttpConnection(HttpProxy* proxy);
    virtual ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Ends a relay in progress (its sockets are shut down, which wakes any
    // blocked call), waits for its thread, then closes what is left. Never
    // from the connection's own thread.
    void close();
    // The relay (connection thread).
    void run();

    int clientSocket = -1; // owned
    int serverSocket = -1; // owned; kept between exchanges while reusable
    std::mutex lock;       // guards the two sockets and closing_
    Thread thread;
    std::atomic<bool> idle{true};
    int context = -1;
    HttpFilter* filter = nullptr;
    HttpProxy* proxy;

private:
    friend class Relay;
    // Set by close(): a relay must not open another server socket, and a
    // tunnel that ends now was cut by it.
    bool closing_ = false;
};
