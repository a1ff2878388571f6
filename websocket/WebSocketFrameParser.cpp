#include "websocket/WebSocketFrameParser.h"

#include <algorithm>

std::size_t WebSocketFrameParser::headSize() const {
    const std::uint8_t lengthCode = head_[1] & 0x7F;
    const std::size_t extended = lengthCode == 126 ? 2 : lengthCode == 127 ? 8 : 0;
    return 2 + extended + ((head_[1] & 0x80) ? 4 : 0);
}

bool WebSocketFrameParser::startFrame(Handler& handler) {
    frame_ = WebSocketFrameHead();
    frame_.bits.byte = head_[0];
    frame_.masked = head_[1] & 0x80;
    const std::uint8_t lengthCode = head_[1] & 0x7F;
    std::size_t at = 2;
    if (lengthCode == 126) {
        frame_.length = std::uint64_t(head_[2]) << 8 | head_[3];
        at = 4;
    } else if (lengthCode == 127) {
        for (int i = 0; i < 8; ++i)
            frame_.length = frame_.length << 8 | head_[2 + i];
        at = 10;
        if (frame_.length >> 63) {
            error_ = Error::LengthTooLarge;
            return false;
        }
    } else {
        frame_.length = lengthCode;
    }
    if (frame_.masked)
        std::copy(head_ + at, head_ + at + 4, frame_.mask);

    const std::uint8_t opcode = frame_.bits.opcode();
    if (frame_.bits.isControl()) {
        if (opcode > 0xA)
            error_ = Error::ReservedOpcode;
        else if (!frame_.bits.fin())
            error_ = Error::ControlFragmented;
        else if (frame_.length > 125)
            error_ = Error::ControlTooLong;
    } else if (opcode > 0x2) {
        error_ = Error::ReservedOpcode;
    } else if (opcode == 0 && !messageOpen_) {
        error_ = Error::UnexpectedContinuation;
    } else if (opcode != 0 && messageOpen_) {
        error_ = Error::UnfinishedMessage;
    }
    if (error_ != Error::None)
        return false;
    if (!frame_.bits.isControl())
        messageOpen_ = !frame_.bits.fin();
    payloadLeft_ = frame_.length;
    maskOffset_ = 0;
    headHave_ = 0;
    handler.frameBegin(frame_);
    if (payloadLeft_ == 0)
        handler.frameEnd();
    return true;
}

void WebSocketFrameParser::feed(const char* bytes, std::size_t count, Handler& handler) {
    const auto* in = reinterpret_cast<const std::uint8_t*>(bytes);
    while (count > 0 && error_ == Error::None) {
        if (payloadLeft_ == 0) {
            // Two bytes tell how long the head is; then the rest of it.
            const std::size_t want = headHave_ < 2 ? 2 : headSize();
            const std::size_t take = std::min(want - headHave_, count);
            std::copy(in, in + take, head_ + headHave_);
            headHave_ += take;
            in += take;
            count -= take;
            if (headHave_ == 2 && headSize() > 2)
                continue;
            if (headHave_ == want && !startFrame(handler))
                return;
            continue;
        }
        const std::size_t take = std::size_t(std::min<std::uint64_t>(payloadLeft_, count));
        if (!frame_.masked) {
            handler.framePayload(reinterpret_cast<const char*>(in), take);
        } else {
            char clear[4096];
            for (std::size_t done = 0; done < take;) {
                const std::size_t piece = std::min(sizeof clear, take - done);
                for (std::size_t i = 0; i < piece; ++i)
                    clear[i] = char(in[done + i] ^ frame_.mask[(maskOffset_ + i) & 3]);
                maskOffset_ += piece;
                handler.framePayload(clear, piece);
                done += piece;
            }
        }
        in += take;
        count -= take;
        payloadLeft_ -= take;
        if (payloadLeft_ == 0)
            handler.frameEnd();
    }
}

const char* webSocketErrorName(WebSocketFrameParser::Error error) {
    using E = WebSocketFrameParser::Error;
    switch (error) {
    case E::None:
        return "";
    case E::ReservedOpcode:
        return "reserved opcode";
    case E::LengthTooLarge:
        return "length too large";
    case E::ControlTooLong:
        return "control frame too long";
    case E::ControlFragmented:
        return "control frame fragmented";
    case E::UnexpectedContinuation:
        return "unexpected continuation";
    case E::UnfinishedMessage:
        return "unfinished message";
    }
    return "";
}
