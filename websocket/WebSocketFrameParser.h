// The frames of one direction of a WebSocket connection (RFC 6455, 5.2), read
// as the bytes come in whatever pieces, payloads handed on unmasked.
#pragma once

#include <cstddef>
#include <cstdint>

enum class WebSocketOpcode : std::uint8_t {
    Continuation = 0x0,
    Text = 0x1,
    Binary = 0x2,
    Close = 0x8,
    Ping = 0x9,
    Pong = 0xA,
};

// The first byte of a frame: FIN, the three reserved bits, the opcode.
struct WebSocketFrameBits {
    std::uint8_t byte = 0;

    bool fin() const { return byte & 0x80; }
    bool rsv1() const { return byte & 0x40; } // permessage-deflate: the message is compressed
    std::uint8_t opcode() const { return byte & 0x0F; }
    bool isControl() const { return byte & 0x08; }
};

struct WebSocketFrameHead {
    WebSocketFrameBits bits;
    bool masked = false;
    std::uint8_t mask[4] = {0, 0, 0, 0};
    std::uint64_t length = 0;
};

class WebSocketFrameParser {
public:
    // Why a direction could not be followed further. The connection itself is
    // carried on untouched; only reading its frames stops.
    enum class Error : std::uint8_t {
        None,
        ReservedOpcode,         // opcode 3-7 or 0xB-0xF
        LengthTooLarge,         // a 64-bit length with its top bit set
        ControlTooLong,         // a control frame with more than 125 payload bytes
        ControlFragmented,      // a control frame without FIN
        UnexpectedContinuation, // a continuation frame with no message to continue
        UnfinishedMessage,      // a new text or binary frame inside a fragmented message
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void frameBegin(const WebSocketFrameHead& head) = 0;
        // The payload, unmasked, in pieces as they arrive.
        virtual void framePayload(const char* bytes, std::size_t count) = 0;
        virtual void frameEnd() = 0;
    };

    // Reads what it can of `bytes`; after an error the rest of the stream is
    // ignored.
    void feed(const char* bytes, std::size_t count, Handler& handler);

    Error error() const { return error_; }
    // Inside a frame (its head or its payload) at the end of the last feed.
    bool inFrame() const { return error_ == Error::None && (headHave_ > 0 || payloadLeft_ > 0); }

private:
    // The head's size once its first two bytes are known.
    std::size_t headSize() const;
    bool startFrame(Handler& handler);

    std::uint8_t head_[14] = {};
    std::size_t headHave_ = 0;
    WebSocketFrameHead frame_;
    std::uint64_t payloadLeft_ = 0;
    std::uint64_t maskOffset_ = 0;
    bool messageOpen_ = false; // a fragmented text or binary message awaits its last frame
    Error error_ = Error::None;
};

// Short English name of an error, for tests and logs; "" for None.
const char* webSocketErrorName(WebSocketFrameParser::Error error);
