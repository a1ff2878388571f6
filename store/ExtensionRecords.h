// Records a cache image carries after the response body (after the tunnel
// record of a tunnel): each a four-byte tag, a 32-bit little-endian length and
// that many bytes. Builds skip the tags they do not know, and builds that
// know no records at all never look past the body, so a file stays readable
// both ways between builds. A record cut short (the process ended while it
// was written) ends the list.
#pragma once

#include "engine/ExchangeTimings.h"
#include "websocket/WebSocketCapture.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class InputStream;

namespace records {

constexpr std::size_t kHeaderSize = 8;

// The exchange's timings: eight signed 64-bit values (start, dns, connect,
// tls, connected, sent, first byte, end).
constexpr char kTimings[4] = {'T', 'W', 'C', '1'};
constexpr std::size_t kTimingsSize = kHeaderSize + 64;
// What a WebSocket connection carried in all (WebSocketTotals).
constexpr char kWebSocketTotals[4] = {'T', 'W', 'S', '1'};
constexpr std::size_t kWebSocketTotalsSize = kHeaderSize + 68;
// One piece of a WebSocket frame: a byte of flags (1 from the client, 2 the
// frame starts, 4 it ends), the frame's first byte, its time (signed 64-bit
// microseconds since 1970), then the payload piece, unmasked.
constexpr char kWebSocketPiece[4] = {'T', 'W', 'F', '1'};
constexpr std::size_t kPieceHeaderSize = kHeaderSize + 10;

void appendTimings(std::string& out, const ExchangeTimings& timings);
void appendWebSocketTotals(std::string& out, const WebSocketTotals& totals);
void appendWebSocketPiece(std::string& out, const WebSocketFramePiece& piece,
                          std::string_view payload);

bool decodeTimings(std::string_view payload, ExchangeTimings& timings);
bool decodeWebSocketTotals(std::string_view payload, WebSocketTotals& totals);
bool decodeWebSocketPiece(std::string_view payload, WebSocketFramePiece& piece,
                          std::string_view& bytes);

// Calls `visit` with each record's tag and payload, from `from` up to `end`
// of `source`, until it returns false or the records end. A payload longer
// than `maxPayload` stops the walk too (it is not a record of ours). False
// when reading failed.
bool walk(InputStream& source, std::int64_t from, std::int64_t end,
          const std::function<bool(std::string_view tag, std::string_view payload)>& visit,
          std::size_t maxPayload = std::size_t(64) << 20);

} // namespace records
