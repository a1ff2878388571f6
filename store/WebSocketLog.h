// The WebSocket conversation a capture kept, read back from its cache image.
#pragma once

#include "websocket/WebSocketMessages.h"

#include <cstddef>
#include <vector>

class HttpResource;

struct WebSocketLog {
    std::vector<WebSocketMessage> messages;
    // What the connection carried in all; known once the capture has ended
    // (haveTotals).
    WebSocketTotals totals;
    bool haveTotals = false;
    // Frames stopped being kept at some point: `messages` is the first part.
    bool cut = false;
    bool perMessageDeflate = false;
};

// The messages of a WebSocket resource as far as they were kept (while it
// runs: so far), each payload up to `payloadLimit` bytes. False (lastError())
// when the image cannot be read.
bool readWebSocketLog(HttpResource& resource, WebSocketLog& log,
                      std::size_t payloadLimit = std::size_t(16) << 20);
