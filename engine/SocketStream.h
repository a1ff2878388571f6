// Streams over a connected socket, and the two that report relayed body bytes.
#pragma once

#include "engine/Platform.h"
#include "engine/Stream.h"

class HttpFilter;

// The origin answered while the request body was still going out to it.
constexpr std::uint32_t kErrorAnsweredEarly = customError(521);

// Does not own the socket: its owner shuts it down and closes it, which makes a
// call blocked on another thread fail.
class SocketStream : public Stream {
public:
    explicit SocketStream(int socket) : socket_(socket) {}

    // One receive: bytes received, 0 when the peer has closed, -1 on error.
    std::int32_t read(void* buffer, std::int32_t count) override;
    // Sends until every byte is gone or the socket fails.
    bool write(const void* data, std::int32_t count) override;

    int socketHandle() const { return socket_; }
    void setSocketHandle(int socket) { socket_ = socket; }

private:
    int socket_;
};

// Writes a request body to the origin and reports each delivered piece to the
// filter, so the captured copy is exactly what the peer received.
class HttpRequestDataOutputStream : public SocketStream {
public:
    HttpRequestDataOutputStream(int socket, HttpFilter* filter, int handle)
        : SocketStream(socket), filter(filter), handle(handle) {}
    // Through another stream to the origin (TLS), not owned.
    HttpRequestDataOutputStream(OutputStream& through, HttpFilter* filter, int handle)
        : SocketStream(-1), filter(filter), handle(handle), through(&through) {}

    bool write(const void* data, std::int32_t count) override;

    HttpFilter* filter; // not owned
    int handle;         // -1: the exchange is not followed
    OutputStream* through = nullptr;
    // On a plain socket, 0 or more: a send the origin does not take waits at
    // most this long, and fails with kErrorAnsweredEarly as soon as the origin
    // has begun a final answer instead of reading on. An origin that refuses
    // an upload (413, 401) may answer and then neither read nor close: the
    // upload would wait for it, and the client for the upload, until both
    // time out.
    int watchForAnswerMs = -1;
    // True once a write to the origin failed (not a read from the client):
    // the origin, not the client, broke the upload.
    bool failed() const { return failed_; }

private:
    bool sendWatching(const char* data, std::int32_t count, std::int32_t& sent);
    bool interimAnswerSeen_ = false;
    bool failed_ = false;
};

// The same for a response body going to the client.
class HttpResponseDataOutputStream : public SocketStream {
public:
    HttpResponseDataOutputStream(int socket, HttpFilter* filter, int handle)
        : SocketStream(socket), filter(filter), handle(handle) {}
    HttpResponseDataOutputStream(OutputStream& through, HttpFilter* filter, int handle)
        : SocketStream(-1), filter(filter), handle(handle), through(&through) {}

    bool write(const void* data, std::int32_t count) override;

    HttpFilter* filter;
    int handle;
    OutputStream* through = nullptr;
};
