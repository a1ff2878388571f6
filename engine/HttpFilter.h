// The hook through which the engine reports every relayed exchange.
#pragma once

#include "engine/ExchangeTimings.h"
#include "engine/HttpMessageHeader.h"

#include <cstdint>

struct sockaddr;

// Which side of a tunnel closed first; Open while it runs, or when a failure
// or the end of capturing cut it.
enum class TunnelEnd : std::uint8_t { Open, ClientClosed, ServerClosed, Stopped };

// The base class accepts every connection and follows nothing, so an engine
// with it simply relays. Everything but acceptConnection runs on connection
// threads, many at once: a filter synchronises its own state and never waits
// for the user-interface thread (which may be waiting for those threads).
class HttpFilter {
public:
    virtual ~HttpFilter() = default;
    // A context for the new client connection, or -1 to refuse it.
    virtual int acceptConnection(const sockaddr* address, int addressLength);
    // The exchange handle, or -1 to follow nothing more of this exchange. The
    // request may be changed; the changes are forwarded.
    virtual int beginRequest(int context, HttpRequestHeader& request);
    // Each request body piece, after it was delivered to the origin.
    virtual void requestData(int handle, const char* bytes, int count);
    // False stops the reports for this exchange. The response may be changed.
    virtual bool beginResponse(int handle, HttpResponseHeader& response);
    // Each response body piece, after it was delivered to the client.
    virtual void responseData(int handle, const char* bytes, int count);
    // A tunnel (the exchange's head was a CONNECT answered 2xx, or an upgrade
    // answered 101): bytes delivered each way since the last call, after
    // beginResponse. They are counted, not shown. The last call, just before
    // endExchange, carries how the tunnel ended.
    virtual void tunnelData(int handle, std::int64_t toServer, std::int64_t toClient,
                            TunnelEnd end);
    // After an upgrade answered 101, asked once: true to be shown what the
    // connection carries (upgradeData) instead of only its counts.
    virtual bool followsUpgrade(int handle);
    // Bytes of a followed upgrade, one way, after they were delivered; the
    // pieces of each direction in order.
    virtual void upgradeData(int handle, bool fromClient, const char* bytes, int count);
    // The exchange's timings as far as they go: before beginResponse (up to
    // the first response byte), and before endExchange (with its end).
    virtual void exchangeTimings(int handle, const ExchangeTimings& timings);
    // 0, or the last-error code of the failure that ended the exchange.
    virtual void endExchange(int handle, std::uint32_t errorCode);
    virtual void connectionClosed(int context);
    // A program of the user `uid` (another user's) connected and was refused
    // before anything it sent was read; nothing of it is captured.
    virtual void userRefused(std::uint32_t uid);
};
