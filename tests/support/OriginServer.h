// A small HTTP origin server on a loopback address for relay and capture
// tests, a raw loopback client, and a runner for the real curl.
#pragma once

#include "support/LoopbackServer.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct OriginRequest {
    std::string head; // request line and fields, up to and including the empty line
    std::string method;
    std::string target;
    std::string body;   // as framed on the wire (Content-Length bytes, or chunked framing)
    int connection = 0; // 1 for the first connection accepted, and so on
};

// Accepts on an ephemeral port of 127.0.0.1 (or ::1). Each connection reads
// requests one after another (pipelined bytes kept); for each, the request is
// recorded and the handler writes whatever answer it likes. The handler's
// false closes the connection.
class OriginServer {
public:
    using Handler = std::function<bool(int socket, const OriginRequest& request)>;

    explicit OriginServer(Handler handler, const char* address = "127.0.0.1");
    ~OriginServer();
    OriginServer(const OriginServer&) = delete;
    OriginServer& operator=(const OriginServer&) = delete;

    int port() const { return server_.port(); }
    // "127.0.0.1:port" or "[::1]:port".
    std::string authority() const;
    std::string url(std::string_view path) const {
        return "http://" + authority() + std::string(path);
    }

    std::vector<OriginRequest> requests() const;
    // False: request bodies are left on the socket for the handler to read
    // (to answer before the body, as with "Expect: 100-continue").
    std::atomic<bool> readBodies{true};
    int connections() const { return server_.connections(); }
    // Blocks until `count` requests have arrived.
    void waitForRequests(std::size_t count) const;

    // A handler that answers every request with `bytes` and keeps the
    // connection (unless `keepOpen` is false).
    static Handler reply(std::string bytes, bool keepOpen = true);
    // "HTTP/1.1 200 OK" with Content-Length and the body.
    static std::string okResponse(std::string_view body, std::string_view extraFields = {});

private:
    void serve(int socket, int number);

    Handler handler_;
    std::string address_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<OriginRequest> requests_;
    // Last: it stops (and waits for) the threads that use the members above.
    LoopbackServer server_;
};

// Writes every byte; false when the peer went away.
bool sendAllBytes(int socket, std::string_view bytes);
// A TCP connection to 127.0.0.1:port (or ::1), -1 on failure.
int connectLoopback(int port, const char* address = "127.0.0.1");
// Connects, sends `request`, ends the sending side and returns everything
// received until the peer closed.
std::string rawExchange(int port, std::string_view request);
// Reads until `count` bytes arrived or the peer closed.
std::string receiveBytes(int socket, std::size_t count);

struct CurlResult {
    int exitCode = -1;
    std::string output; // stdout: with -i --raw, the response bytes as received
};
// Runs curl (no configuration file, silent) with the given arguments.
CurlResult runCurl(const std::vector<std::string>& arguments);
// The same, run through `runAs` (a program that runs curl as another user).
CurlResult runCurlAs(const std::vector<std::string>& runAs,
                     const std::vector<std::string>& arguments);
// setpriv's way to nobody (uid and gid 65534), and whether this process can
// take it (it is root, and setpriv is there).
const std::vector<std::string>& asNobody();
bool canRunAsNobody();
