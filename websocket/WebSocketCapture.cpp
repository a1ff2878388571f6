#include "websocket/WebSocketCapture.h"

WebSocketCapture::WebSocketCapture(Sink& sink, std::uint64_t maxMessages, std::uint64_t maxBytes)
    : sink_(sink), maxMessages_(maxMessages), maxBytes_(maxBytes) {
    client_.totals = &totals_.fromClient;
    server_.totals = &totals_.fromServer;
}

void WebSocketCapture::data(bool fromClient, const char* bytes, std::size_t count,
                            std::int64_t time) {
    (fromClient ? client_ : server_).feed(bytes, count, time);
}

void WebSocketCapture::Direction::feed(const char* bytes, std::size_t count, std::int64_t time) {
    now_ = time;
    if (!parser.inFrame())
        frameStart_ = time;
    parser.feed(bytes, count, *this);
    totals->error = parser.error();
    // What arrived of a frame still under way is kept now: the pieces of the
    // other direction must not wait behind it.
    if (keeping_ && (piece_.first || !payload_.empty()))
        flush();
}

void WebSocketCapture::Direction::frameBegin(const WebSocketFrameHead& head) {
    WebSocketTotals& all = owner_.totals_;
    ++totals->frames;
    const bool startsMessage = head.bits.opcode() != 0;
    if (startsMessage)
        ++totals->messages;
    if (head.bits.opcode() == std::uint8_t(WebSocketOpcode::Close) && all.closedBy == 0)
        all.closedBy = piece_.fromClient ? 1 : 2;
    // Once one frame is not kept, none after it is: what is kept stays the
    // first part of the conversation, whole.
    keeping_ = !all.cut && !(startsMessage && all.storedMessages >= owner_.maxMessages_) &&
               head.length <= owner_.maxBytes_ - all.storedBytes;
    if (!keeping_) {
        all.cut = true;
        return;
    }
    if (startsMessage)
        ++all.storedMessages;
    all.storedBytes += head.length;
    piece_.bits = head.bits;
    piece_.first = true;
    piece_.last = false;
    piece_.time = frameStart_;
    payload_.clear();
}

void WebSocketCapture::Direction::framePayload(const char* bytes, std::size_t count) {
    totals->payloadBytes += count;
    if (keeping_)
        payload_.append(bytes, count);
}

void WebSocketCapture::Direction::frameEnd() {
    frameStart_ = now_; // the next frame starts in these bytes, if anywhere
    if (!keeping_)
        return;
    piece_.last = true;
    flush();
    keeping_ = false;
}

void WebSocketCapture::Direction::flush() {
    if (!owner_.sink_.piece(piece_, payload_)) {
        owner_.totals_.cut = true;
        keeping_ = false;
    }
    piece_.first = false;
    payload_.clear();
}
