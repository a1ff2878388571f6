// Carrying bytes the relay does not read: a CONNECT tunnel, or a connection
// after "101 Switching Protocols". The bytes are counted, never stored.
#pragma once

#include "engine/HttpFilter.h"

#include <cstdint>
#include <string>
#include <string_view>

class HttpProxy;

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
};

struct TunnelOutcome {
    std::uint32_t error = 0; // the exchange's result
    TunnelEnd end = TunnelEnd::Open;
};

// What the client's bytes become after the 2xx: the one place that chooses
// between carrying them as they are and decrypting them. Returns when the
// connection is over.
TunnelOutcome carryConnect(const ConnectedTunnel& tunnel);
