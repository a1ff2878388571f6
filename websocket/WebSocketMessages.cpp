#include "websocket/WebSocketMessages.h"

#include "engine/Text.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

} // namespace

bool negotiatesPerMessageDeflate(std::string_view extensions) {
    while (!extensions.empty()) {
        const std::size_t comma = extensions.find(',');
        const std::string_view extension = extensions.substr(0, comma);
        if (equalsIgnoreCase(trimView(extension.substr(0, extension.find(';'))),
                             "permessage-deflate"))
            return true;
        if (comma == std::string_view::npos)
            break;
        extensions.remove_prefix(comma + 1);
    }
    return false;
}

std::string webSocketOpcodeName(std::uint8_t opcode) {
    switch (WebSocketOpcode(opcode)) {
    case WebSocketOpcode::Continuation:
        return "continuation";
    case WebSocketOpcode::Text:
        return "text";
    case WebSocketOpcode::Binary:
        return "binary";
    case WebSocketOpcode::Close:
        return "close";
    case WebSocketOpcode::Ping:
        return "ping";
    case WebSocketOpcode::Pong:
        return "pong";
    }
    return "opcode " + std::to_string(opcode);
}

struct WebSocketMessageAssembler::Direction {
    std::size_t open = kNone;    // the fragmented data message awaiting its last frame
    std::size_t current = kNone; // the message of the frame under way
    z_stream zs{};
    bool inflating = false; // zs initialised
    bool broken = false;    // decompression failed or ran out of budget
    std::uint64_t inflated = 0;
    std::string raw; // the compressed bytes of the message under way

    ~Direction() {
        if (inflating)
            inflateEnd(&zs);
    }
};

WebSocketMessageAssembler::WebSocketMessageAssembler(bool perMessageDeflate,
                                                     std::size_t payloadLimit,
                                                     std::uint64_t inflateBudget)
    : client_(std::make_unique<Direction>()), server_(std::make_unique<Direction>()),
      deflate_(perMessageDeflate), payloadLimit_(payloadLimit), inflateBudget_(inflateBudget) {}

WebSocketMessageAssembler::~WebSocketMessageAssembler() = default;

void WebSocketMessageAssembler::append(WebSocketMessage& message, std::string_view bytes) {
    message.size += bytes.size();
    const std::size_t room = payloadLimit_ - std::min(payloadLimit_, message.payload.size());
    if (bytes.size() > room)
        message.payloadCut = true;
    message.payload.append(bytes.substr(0, room));
}

void WebSocketMessageAssembler::inflate(Direction& direction, WebSocketMessage& message,
                                        std::string_view bytes, bool end) {
    if (direction.raw.size() < payloadLimit_)
        direction.raw.append(bytes.substr(0, payloadLimit_ - direction.raw.size()));
    if (direction.broken)
        message.undecodable = true;
    if (message.undecodable)
        return;
    if (!direction.inflating) {
        if (inflateInit2(&direction.zs, -15) != Z_OK) {
            direction.broken = true;
            message.undecodable = true;
            return;
        }
        direction.inflating = true;
    }
    // The sender removed the empty block that ends each message (RFC 7692,
    // 7.2.1); it goes back in before the last bytes are taken.
    static const char kTail[4] = {0x00, 0x00, char(0xFF), char(0xFF)};
    const std::string_view parts[2] = {bytes,
                                       end ? std::string_view(kTail, 4) : std::string_view()};
    z_stream& zs = direction.zs;
    char out[65536];
    for (std::string_view part : parts) {
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
        zs.avail_in = uInt(part.size());
        // Until the input is used and zlib has nothing more to give.
        for (bool more = true; more;) {
            zs.next_out = reinterpret_cast<Bytef*>(out);
            zs.avail_out = sizeof out;
            const int status = ::inflate(&zs, Z_SYNC_FLUSH);
            const std::size_t produced = sizeof out - zs.avail_out;
            append(message, std::string_view(out, produced));
            direction.inflated += produced;
            const bool stalled = status == Z_BUF_ERROR && produced == 0;
            if (direction.inflated > inflateBudget_ ||
                (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) ||
                (stalled && zs.avail_in > 0)) {
                direction.broken = true;
                message.undecodable = true;
                return;
            }
            // A sender may close its deflate stream at the end of a message
            // (BFINAL); the next message starts a new one.
            if (status == Z_STREAM_END)
                inflateReset(&zs);
            more = !stalled && (zs.avail_in > 0 || zs.avail_out == 0);
        }
    }
}

void WebSocketMessageAssembler::finishMessage(Direction& direction, WebSocketMessage& message) {
    message.complete = true;
    if (message.compressed) {
        inflate(direction, message, {}, true);
        if (message.undecodable) {
            // Shown as it travelled, since it cannot be shown otherwise.
            message.payload = direction.raw;
            message.size = message.wireSize;
            message.payloadCut = message.wireSize > message.payload.size();
        }
        direction.raw.clear();
    }
    if (message.opcode == std::uint8_t(WebSocketOpcode::Close) && message.payload.size() >= 2) {
        message.closeCode =
            (std::uint8_t(message.payload[0]) << 8) | std::uint8_t(message.payload[1]);
        message.closeReason = message.payload.substr(2);
    }
}

void WebSocketMessageAssembler::piece(const WebSocketFramePiece& piece, std::string_view payload) {
    Direction& direction = piece.fromClient ? *client_ : *server_;
    if (piece.first) {
        const std::uint8_t opcode = piece.bits.opcode();
        if (opcode == 0 && direction.open != kNone) {
            direction.current = direction.open;
        } else {
            if (opcode != 0 && !piece.bits.isControl()) {
                // A message left unfinished (its last frame was not kept) ends
                // where the next begins.
                if (direction.open != kNone)
                    direction.raw.clear();
                direction.open = kNone;
            }
            WebSocketMessage message;
            message.fromClient = piece.fromClient;
            message.time = piece.time;
            message.opcode = opcode;
            message.compressed = deflate_ && piece.bits.rsv1() && !piece.bits.isControl();
            messages.push_back(std::move(message));
            direction.current = messages.size() - 1;
            if (opcode != 0 && !piece.bits.isControl())
                direction.open = direction.current;
        }
    }
    if (direction.current == kNone)
        return; // the first piece of this frame was not kept
    WebSocketMessage& message = messages[direction.current];
    message.wireSize += payload.size();
    if (message.compressed)
        inflate(direction, message, payload, false);
    else
        append(message, payload);
    if (!piece.last)
        return;
    const bool ends = piece.bits.isControl() || piece.bits.fin();
    if (ends) {
        finishMessage(direction, message);
        if (direction.current == direction.open)
            direction.open = kNone;
    }
    direction.current = kNone;
}
