// Carrying bytes the relay does not read: a CONNECT tunnel, or a connection
// after "101 Switching Protocols". The bytes are counted; a filter that
// follows an upgrade is also shown them.
#pragma once

#include "engine/HttpFilter.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class HttpProxy;
class SecureStream;

// Passes a tunnel's growing counts on to the filter in batches: at most
// every 100 ms or per MiB while bytes flow, and whatever is left at the end.
class TunnelProgress {
public:
    TunnelProgress(HttpFilter* filter, int handle) : filter_(filter), handle_(handle) {}

    void update(std::int64_t up, std::int64_t down, bool always);

private:
    HttpFilter* filter_;
    int handle_;
    std::int64_t reportedUp_ = 0;
    std::int64_t reportedDown_ = 0;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// Copies both ways between two connected sockets it does not own, until both
// sides have closed: an end of stream from one side is passed on to the
// other as a half close. The connection stops it by shutting both sockets
// down. Leaves both sockets non-blocking.
class Tunnel {
public:
    Tunnel(int client, int server, HttpFilter* filter, int handle)
        : client_(client), server_(server), filter_(filter), handle_(handle) {}

    // Bytes already read from either side go out first. 0 when both sides
    // closed (or one closed and the other stayed silent for kIdleLimitMs), else
    // the error that ended it. Counts reach the filter as they grow.
    std::uint32_t run(std::string_view fromClient, std::string_view fromServer);

    // Show the filter every byte carried (upgradeData); the bytes then pass
    // through this process instead of being spliced.
    bool follow = false;
    TunnelEnd closedFirst = TunnelEnd::Open;
    std::int64_t toServer = 0;
    std::int64_t toClient = 0;

    // With one side closed, how long the other may stay silent.
    static constexpr int kIdleLimitMs = 180000;

private:
    int client_;
    int server_;
    HttpFilter* filter_;
    int handle_;
};

struct TunnelOutcome {
    std::uint32_t error = 0; // the exchange's result
    TunnelEnd end = TunnelEnd::Open;
};

// Relays the HTTP exchanges inside a decrypted tunnel: the client's TLS end
// and the server name it asked for (empty when none). Returns when the
// connection is over.
using DecryptedRelay =
    std::function<TunnelOutcome(std::unique_ptr<SecureStream> client, const std::string& name)>;
// Relays the plain HTTP exchanges inside a tunnel whose client opened with a
// WebSocket handshake (`fromClient`: what it sent that was already read).
using PlainRelay = std::function<TunnelOutcome(std::string_view fromClient)>;

// A CONNECT whose target is connected and whose client has had its 2xx.
struct ConnectedTunnel {
    int clientSocket; // both owned by the connection, which shuts them down to stop
    int serverSocket;
    std::string host; // the CONNECT target
    int port;
    std::string_view fromClient; // sent by the client after its CONNECT head
    std::string_view fromServer; // sent by an upstream proxy after its 2xx
    HttpFilter* filter;
    int context;
    int handle; // -1: not followed
    HttpProxy* proxy;
    DecryptedRelay decrypted; // empty: the tunnel is only carried
    PlainRelay plain;         // empty: a WebSocket handshake inside is carried unread
};

// What the client's bytes become after the 2xx: the one place that chooses
// between carrying them as they are, decrypting them (the proxy's HTTPS
// interceptor wants the host, and the client opens with a TLS hello), and
// relaying the HTTP inside (a followed tunnel whose client opens with a
// WebSocket handshake, as a browser's ws:// through a proxy does). A client
// refusing our certificate ends it with the handshake's error. Returns when
// the connection is over.
TunnelOutcome carryConnect(const ConnectedTunnel& tunnel);
