// Relays one accepted client connection: requests to the origin (or the
// user's upstream proxy), responses back, every exchange reported to the
// filter; pooled by HttpProxy and reused after each client.
#pragma once

#include "engine/Platform.h"
#include "engine/Thread.h"

#include <atomic>
#include <cstdint>
#include <mutex>

class HttpFilter;
class HttpProxy;
class HttpResponseHeader;

// The client spoke HTTP/2 (or later) where HTTP/1.1 was expected.
constexpr std::uint32_t kErrorHttpVersion = customError(486);
// Why an origin gave no answer; each names the failure in the user's terms.
constexpr std::uint32_t kErrorNameLookup = customError(522);
constexpr std::uint32_t kErrorConnectionRefused = customError(523);
constexpr std::uint32_t kErrorConnectTimeout = customError(524);
constexpr std::uint32_t kErrorNoAnswer = customError(525);     // a wait for its answer ran out
constexpr std::uint32_t kErrorOriginClosed = customError(526); // closed without answering
constexpr std::uint32_t kErrorHandshakeTimeout = customError(527);

// Whether `response` is a page of the proxy's own, given in place of an
// origin's answer.
bool isProxyPage(const HttpResponseHeader& response);

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
    // Since when (steady clock, nanoseconds) the relay has been waiting for
    // its client's next request; 0 while a request is under way.
    std::atomic<std::int64_t> waitingSince{0};
    // Ends the relay when it is still waiting since `since`, which frees its
    // descriptors for another client. Accept thread.
    bool dropIfWaiting(std::int64_t since);

private:
    friend class Relay;
    // Set by close(): a relay must not open another server socket, and a
    // tunnel that ends now was cut by it.
    bool closing_ = false;
};
