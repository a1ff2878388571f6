#include "store/ExtensionRecords.h"

#include "engine/Stream.h"

#include <algorithm>
#include <cstring>

namespace records {

namespace {

void putLe(std::string& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
        out += char(value >> (8 * i));
}

std::uint64_t getLe(std::string_view in, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | std::uint8_t(in[at + std::size_t(i)]);
    return value;
}

void putHeader(std::string& out, const char tag[4], std::size_t length) {
    out.append(tag, 4);
    putLe(out, length, 4);
}

void putDirection(std::string& out, const WebSocketDirectionTotals& d) {
    putLe(out, d.messages, 8);
    putLe(out, d.frames, 8);
    putLe(out, d.payloadBytes, 8);
    out += char(d.error);
}

bool getDirection(std::string_view in, std::size_t at, WebSocketDirectionTotals& d) {
    d.messages = getLe(in, at, 8);
    d.frames = getLe(in, at + 8, 8);
    d.payloadBytes = getLe(in, at + 16, 8);
    const auto error = std::uint8_t(in[at + 24]);
    if (error > std::uint8_t(WebSocketFrameParser::Error::UnfinishedMessage))
        return false;
    d.error = WebSocketFrameParser::Error(error);
    return true;
}

} // namespace

void appendTimings(std::string& out, const ExchangeTimings& t) {
    putHeader(out, kTimings, kTimingsSize - kHeaderSize);
    for (std::int64_t value :
         {t.start, t.dns, t.connect, t.tls, t.connected, t.sent, t.firstByte, t.end})
        putLe(out, std::uint64_t(value), 8);
}

bool decodeTimings(std::string_view payload, ExchangeTimings& t) {
    if (payload.size() < kTimingsSize - kHeaderSize)
        return false;
    std::int64_t* fields[] = {&t.start,     &t.dns,  &t.connect,   &t.tls,
                              &t.connected, &t.sent, &t.firstByte, &t.end};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        *fields[i] = std::int64_t(getLe(payload, 8 * i, 8));
        if (i > 0 && *fields[i] < -1)
            return false;
    }
    return t.start >= 0;
}

void appendWebSocketTotals(std::string& out, const WebSocketTotals& totals) {
    putHeader(out, kWebSocketTotals, kWebSocketTotalsSize - kHeaderSize);
    putDirection(out, totals.fromClient);
    putDirection(out, totals.fromServer);
    putLe(out, totals.storedMessages, 8);
    putLe(out, totals.storedBytes, 8);
    out += char(totals.cut ? 1 : 0);
    out += char(totals.closedBy);
}

bool decodeWebSocketTotals(std::string_view payload, WebSocketTotals& totals) {
    if (payload.size() < kWebSocketTotalsSize - kHeaderSize)
        return false;
    WebSocketTotals t;
    if (!getDirection(payload, 0, t.fromClient) || !getDirection(payload, 25, t.fromServer))
        return false;
    t.storedMessages = getLe(payload, 50, 8);
    t.storedBytes = getLe(payload, 58, 8);
    t.cut = payload[66] != 0;
    t.closedBy = std::uint8_t(payload[67]);
    if (t.closedBy > 2)
        return false;
    totals = t;
    return true;
}

void appendWebSocketPiece(std::string& out, const WebSocketFramePiece& piece,
                          std::string_view payload) {
    putHeader(out, kWebSocketPiece, kPieceHeaderSize - kHeaderSize + payload.size());
    out += char((piece.fromClient ? 1 : 0) | (piece.first ? 2 : 0) | (piece.last ? 4 : 0));
    out += char(piece.bits.byte);
    putLe(out, std::uint64_t(piece.time), 8);
    out.append(payload);
}

bool decodeWebSocketPiece(std::string_view payload, WebSocketFramePiece& piece,
                          std::string_view& bytes) {
    if (payload.size() < kPieceHeaderSize - kHeaderSize)
        return false;
    const auto flags = std::uint8_t(payload[0]);
    piece.fromClient = flags & 1;
    piece.first = flags & 2;
    piece.last = flags & 4;
    piece.bits.byte = std::uint8_t(payload[1]);
    piece.time = std::int64_t(getLe(payload, 2, 8));
    bytes = payload.substr(kPieceHeaderSize - kHeaderSize);
    return true;
}

bool walk(InputStream& source, std::int64_t from, std::int64_t end,
          const std::function<bool(std::string_view tag, std::string_view payload)>& visit,
          std::size_t maxPayload) {
    if (!source.seek(from))
        return false;
    // Read in blocks: a WebSocket's records are many and small.
    std::string buffer;
    std::size_t at = 0;
    std::int64_t position = from;
    auto have = [&](std::size_t count) {
        if (buffer.size() - at >= count)
            return 1;
        buffer.erase(0, at);
        at = 0;
        while (buffer.size() < count) {
            const std::int64_t left = end - position;
            if (left <= 0)
                return 0;
            const std::size_t want = std::size_t(
                std::min<std::int64_t>(left, std::max<std::int64_t>(65536, std::int64_t(count))));
            const std::size_t old = buffer.size();
            buffer.resize(old + want);
            const std::int32_t n = source.read(buffer.data() + old, std::int32_t(want));
            if (n < 0)
                return -1;
            buffer.resize(old + std::size_t(n));
            if (n == 0)
                return 0;
            position += n;
        }
        return 1;
    };
    for (;;) {
        int got = have(kHeaderSize);
        if (got <= 0)
            return got == 0;
        const std::size_t length = std::size_t(getLe(buffer, at + 4, 4));
        if (length > maxPayload)
            return true;
        got = have(kHeaderSize + length);
        if (got <= 0)
            return got == 0;
        const std::string_view tag(buffer.data() + at, 4);
        const std::string_view payload(buffer.data() + at + kHeaderSize, length);
        at += kHeaderSize + length;
        if (!visit(tag, payload))
            return true;
    }
}

} // namespace records
