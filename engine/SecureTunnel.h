// A decrypted connection after "101 Switching Protocols": bytes carried both
// ways between the client's and the origin's TLS, counted, and shown to a
// filter that follows the upgrade.
#pragma once

#include "engine/HttpFilter.h"

#include <cstdint>
#include <string_view>

class SecureStream;

// The TLS twin of Tunnel: copies both ways until both sides have closed, an
// end from one side going on to the other as close_notify and a half close.
// The connection stops it by shutting both sockets down. Leaves both
// sockets non-blocking.
class SecureTunnel {
public:
    SecureTunnel(SecureStream& client, int clientSocket, SecureStream& server, int serverSocket,
                 HttpFilter* filter, int handle)
        : client_(client), server_(server), clientSocket_(clientSocket),
          serverSocket_(serverSocket), filter_(filter), handle_(handle) {}

    // Decrypted bytes already read from either side go out first. 0 when
    // both sides closed (or one closed and the other stayed silent for
    // kIdleLimitMs), else the error that ended it. Counts reach the filter
    // as they grow.
    std::uint32_t run(std::string_view fromClient, std::string_view fromServer);

    // Show the filter every byte carried (upgradeData).
    bool follow = false;
    TunnelEnd closedFirst = TunnelEnd::Open;
    std::int64_t toServer = 0;
    std::int64_t toClient = 0;

    static constexpr int kIdleLimitMs = 180000;

private:
    SecureStream& client_;
    SecureStream& server_;
    int clientSocket_;
    int serverSocket_;
    HttpFilter* filter_;
    int handle_;
};
