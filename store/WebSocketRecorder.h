// Keeps the frames of a WebSocket connection in its resource's cache image as
// they pass the relay.
#pragma once

#include "websocket/WebSocketCapture.h"

#include <string>

class HttpResource;

class WebSocketRecorder : public WebSocketCapture::Sink {
public:
    explicit WebSocketRecorder(HttpResource& resource) : resource_(resource), capture_(*this) {}

    void data(bool fromClient, const char* bytes, std::size_t count, std::int64_t time) {
        capture_.data(fromClient, bytes, count, time);
    }
    const WebSocketTotals& totals() const { return capture_.totals(); }

    bool piece(const WebSocketFramePiece& piece, std::string_view payload) override;

private:
    HttpResource& resource_;
    WebSocketCapture capture_;
    std::string record_; // reused from piece to piece
};
