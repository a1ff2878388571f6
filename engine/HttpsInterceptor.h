// What the relay asks about a CONNECT tunnel once the client has its 200:
// whether to decrypt it, and the two TLS ends when it does. The TLS side
// lives outside the engine (tls/), so the engine needs no TLS library.
#pragma once

#include "engine/Platform.h"
#include "engine/Stream.h"

#include <memory>
#include <string>
#include <string_view>

// The user's proxy would not open a tunnel for a decrypted connection.
constexpr std::uint32_t kErrorTunnelRefused = customError(612);

// A stream that decrypts: bytes may wait inside it where a poll() on its
// socket cannot see them.
class SecureStream : public Stream {
public:
    static constexpr std::int32_t kWouldBlock = -2;

    virtual bool hasBufferedInput() const = 0;
    // Tells the peer this side is done; best effort.
    virtual void closeNotify() = 0;
    // On a non-blocking socket: bytes read, 0 at the end of the stream,
    // kWouldBlock when nothing can be read yet, -1 on error.
    virtual std::int32_t readSome(void* buffer, std::int32_t count) = 0;
    // Bytes written (perhaps fewer than count), kWouldBlock, or -1. After
    // kWouldBlock the same bytes are offered again.
    virtual std::int32_t writeSome(const void* data, std::int32_t count) = 0;
};

// Called on connection threads, many at once.
class HttpsInterceptor {
public:
    virtual ~HttpsInterceptor() = default;

    // True when a tunnel to host:port is to be decrypted.
    virtual bool shouldDecrypt(const std::string& host, int port) = 0;
    // True when the server name `clientHello` asks for (the client's first
    // handshake message, without its record framing) is one never
    // decrypted, or when the hello cannot be read: what cannot be checked is
    // not decrypted either.
    virtual bool passesThrough(std::string_view clientHello) = 0;
    // Completes the client's handshake on `socket` with a certificate for
    // the name it asks for (`connectHost` when it names none); `early` are
    // bytes of the client's already read from the socket. Null with
    // lastError(); `serverName` receives the name asked for, `detail` why.
    virtual std::unique_ptr<SecureStream> acceptClient(int socket, const std::string& connectHost,
                                                       std::string_view early,
                                                       std::string& serverName,
                                                       std::string& detail) = 0;
    // Opens TLS to the origin on `socket`, verifying it is `host`; `early`
    // are bytes of the origin's already read. Null with lastError() and
    // `detail` saying why.
    virtual std::unique_ptr<SecureStream> connectOrigin(int socket, const std::string& host,
                                                        std::string_view early,
                                                        std::string& detail) = 0;
};
