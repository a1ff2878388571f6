// What a capture keeps of a WebSocket connection: the frames of both
// directions as they pass, payloads unmasked and otherwise as they travelled
// (compressed when the message was), up to a bound; past it only counts.
#pragma once

#include "websocket/WebSocketFrameParser.h"

#include <cstdint>
#include <string>
#include <string_view>

// A stretch of one frame's payload, as far as it had arrived when the relay
// handed its bytes on: a frame comes in one piece or several, in order, and
// pieces of the two directions interleave.
struct WebSocketFramePiece {
    bool fromClient = false;
    WebSocketFrameBits bits;
    bool first = false;    // the frame starts here
    bool last = false;     // and ends here
    std::int64_t time = 0; // when the frame began, microseconds since 1970
};

struct WebSocketDirectionTotals {
    std::uint64_t messages = 0; // text and binary messages, and control frames
    std::uint64_t frames = 0;
    std::uint64_t payloadBytes = 0; // as they travelled
    WebSocketFrameParser::Error error = WebSocketFrameParser::Error::None;
};

struct WebSocketTotals {
    WebSocketDirectionTotals fromClient;
    WebSocketDirectionTotals fromServer;
    std::uint64_t storedMessages = 0;
    std::uint64_t storedBytes = 0;
    // Frames stopped being kept (the bound, or the store failed); the totals
    // still count everything.
    bool cut = false;
    // Who sent the first close frame: 0 nobody, 1 the client, 2 the server.
    std::uint8_t closedBy = 0;
};

class WebSocketCapture {
public:
    class Sink {
    public:
        virtual ~Sink() = default;
        // False when the piece could not be kept: nothing more is offered.
        virtual bool piece(const WebSocketFramePiece& piece, std::string_view payload) = 0;
    };

    static constexpr std::uint64_t kMaxMessages = 10000;
    static constexpr std::uint64_t kMaxBytes = std::uint64_t(64) << 20;

    explicit WebSocketCapture(Sink& sink, std::uint64_t maxMessages = kMaxMessages,
                              std::uint64_t maxBytes = kMaxBytes);

    // Bytes the relay carried one way, at `time` (microseconds since 1970).
    void data(bool fromClient, const char* bytes, std::size_t count, std::int64_t time);

    const WebSocketTotals& totals() const { return totals_; }

private:
    class Direction : public WebSocketFrameParser::Handler {
    public:
        Direction(WebSocketCapture& owner, bool fromClient) : owner_(owner) {
            piece_.fromClient = fromClient;
        }
        void feed(const char* bytes, std::size_t count, std::int64_t time);
        void frameBegin(const WebSocketFrameHead& head) override;
        void framePayload(const char* bytes, std::size_t count) override;
        void frameEnd() override;

        WebSocketFrameParser parser;
        WebSocketDirectionTotals* totals = nullptr;

    private:
        void flush();

        WebSocketCapture& owner_;
        WebSocketFramePiece piece_;
        std::string payload_;
        bool keeping_ = false; // the frame under way is kept
        std::int64_t now_ = 0;
        std::int64_t frameStart_ = 0; // when the first byte of the next frame came
    };

    Sink& sink_;
    const std::uint64_t maxMessages_;
    const std::uint64_t maxBytes_;
    WebSocketTotals totals_;
    Direction client_{*this, true};
    Direction server_{*this, false};
};
