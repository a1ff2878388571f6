// One end of a WebSocket connection for tests, over any stream: frames laid
// out as RFC 6455 has them, permessage-deflate (RFC 7692) with zlib, and an
// echo origin built on it.
#pragma once

#include "support/OriginServer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class Stream;
struct WebSocketMessage;

class WebSocketPeer {
public:
    // A client masks what it sends. With `deflate` messages go compressed
    // (each one alone without `contextTakeover`) and compressed ones that
    // arrive are inflated. `early`: bytes already read after the handshake.
    WebSocketPeer(Stream& stream, bool client, bool deflate, bool contextTakeover = true,
                  std::string early = {});
    ~WebSocketPeer();
    WebSocketPeer(const WebSocketPeer&) = delete;
    WebSocketPeer& operator=(const WebSocketPeer&) = delete;

    // One message in frames of `fragment` payload bytes (0: one frame);
    // compressed when deflate is on, `compress` is true and it is text or
    // binary.
    // A ping given in `pingBetween` goes between the first two frames.
    bool send(std::uint8_t opcode, std::string_view payload, std::size_t fragment = 0,
              bool compress = true, std::string_view pingBetween = {});
    // Bytes as they are, for sequences `send` does not make.
    bool sendRaw(std::string_view bytes);
    // The next message, control frames included, joined and inflated. False
    // at the end of the stream or on a malformed frame.
    bool receive(std::uint8_t& opcode, std::string& payload);

    // One frame; a mask of 0 leaves it unmasked.
    static std::string frame(std::uint8_t firstByte, std::string_view payload,
                             std::uint32_t mask = 0);
    // `payload` compressed the way permessage-deflate sends it, each call
    // one message (with the context of earlier calls of the same object).
    class Deflater {
    public:
        explicit Deflater(bool contextTakeover = true);
        ~Deflater();
        std::string operator()(std::string_view payload);

    private:
        struct State;
        std::unique_ptr<State> state_;
        bool contextTakeover_;
    };

private:
    bool fill();

    Stream& stream_;
    bool client_;
    bool deflate_;
    std::string buffer_;
    // A message whose frames are still arriving (a control frame between its
    // fragments is handed out first).
    std::string partial_;
    bool partialStarted_ = false;
    std::uint8_t partialOpcode_ = 0;
    bool partialCompressed_ = false;
    Deflater deflater_;
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    std::uint32_t nextMask_ = 0x1a2b3c4d;
};

// An upgrade request for `target`; offers permessage-deflate when asked.
std::string webSocketRequest(const std::string& target, const std::string& host, bool offerDeflate);
// The 101 answer to an upgrade request head, agreeing on permessage-deflate
// when `deflate` and the client offered it.
std::string webSocketAnswer(const std::string& requestHead, bool deflate);
// An origin handler that answers upgrades (on any path) and echoes each text
// and binary message, answers pings, and returns the close.
OriginServer::Handler webSocketEcho(bool deflate);

// Messages as a capture read them back, one line each: direction, kind, "z"
// when compressed, "cut" when incomplete, then the payload (its size when
// long) or a close's code and reason: "> text z {...}", "< close 1000 done".
std::vector<std::string> describeMessages(const std::vector<WebSocketMessage>& messages);

// What a client says to webSocketEcho, waiting for each answer: a JSON text,
// a binary message, a text in three frames with a ping between the first
// two, a text of 200 KB, then the close. False when an answer did not come
// back as sent. `expected` gets the messages a capture of it should show.
bool holdEchoConversation(WebSocketPeer& client, bool compressed,
                          std::vector<std::string>& expected);
