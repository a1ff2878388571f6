// The messages of a WebSocket conversation put back together from the frame
// pieces a capture kept: fragments joined, permessage-deflate undone (RFC
// 7692, with the compression context carried from message to message), close
// frames read for their code and reason.
#pragma once

#include "websocket/WebSocketCapture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct WebSocketMessage {
    bool fromClient = false;
    std::int64_t time = 0; // its first frame, microseconds since 1970
    std::uint8_t opcode = 0;
    bool compressed = false;
    // Every frame of it was kept (false: the capture stopped keeping, or the
    // connection ended, in the middle of it).
    bool complete = false;
    std::uint64_t wireSize = 0; // payload bytes as they travelled
    std::uint64_t size = 0;     // payload bytes after decompression
    // The payload, decompressed; at most the assembler's payload limit.
    std::string payload;
    bool payloadCut = false; // longer than the limit
    // Compressed but could not be decompressed (payload then holds the bytes as
    // they travelled).
    bool undecodable = false;
    int closeCode = -1; // a close frame's status code, -1 when it has none
    std::string closeReason;
};

// Whether a Sec-WebSocket-Extensions value of the 101 answer agrees on
// permessage-deflate.
bool negotiatesPerMessageDeflate(std::string_view extensions);

class WebSocketMessageAssembler {
public:
    // Payloads are kept up to `payloadLimit` bytes each; decompression stops
    // for a direction once it has produced `inflateBudget` bytes (a message
    // that inflates without end must not take the program's memory or time).
    explicit WebSocketMessageAssembler(bool perMessageDeflate,
                                       std::size_t payloadLimit = std::size_t(16) << 20,
                                       std::uint64_t inflateBudget = std::uint64_t(1) << 30);
    ~WebSocketMessageAssembler();
    WebSocketMessageAssembler(const WebSocketMessageAssembler&) = delete;
    WebSocketMessageAssembler& operator=(const WebSocketMessageAssembler&) = delete;

    void piece(const WebSocketFramePiece& piece, std::string_view payload);

    // In the order their first frames arrived.
    std::vector<WebSocketMessage> messages;

private:
    struct Direction;
    std::unique_ptr<Direction> client_;
    std::unique_ptr<Direction> server_;
    bool deflate_;
    std::size_t payloadLimit_;
    std::uint64_t inflateBudget_;

    void append(WebSocketMessage& message, std::string_view bytes);
    void inflate(Direction& direction, WebSocketMessage& message, std::string_view bytes, bool end);
    void finishMessage(Direction& direction, WebSocketMessage& message);
};

// "text", "binary", "close", "ping", "pong", "continuation", or "opcode N".
std::string webSocketOpcodeName(std::uint8_t opcode);
