#include "support/WebSocketPeer.h"

#include "engine/SocketStream.h"
#include "engine/Stream.h"
#include "support/TestBytes.h"
#include "websocket/WebSocketMessages.h"

#include <openssl/evp.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <algorithm>

namespace {

std::string headerValue(const std::string& head, const std::string& name) {
    std::string lower = head;
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    std::string key = "\r\n" + name + ":";
    for (char& c : key)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t at = lower.find(key);
    if (at == std::string::npos)
        return {};
    std::size_t start = at + key.size();
    const std::size_t end = head.find("\r\n", start);
    while (start < end && head[start] == ' ')
        ++start;
    return head.substr(start, end - start);
}

} // namespace

struct WebSocketPeer::Deflater::State {
    z_stream zs{};
    State() { deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY); }
    ~State() { deflateEnd(&zs); }
};

WebSocketPeer::Deflater::Deflater(bool contextTakeover)
    : state_(std::make_unique<State>()), contextTakeover_(contextTakeover) {}
WebSocketPeer::Deflater::~Deflater() = default;

std::string WebSocketPeer::Deflater::operator()(std::string_view payload) {
    z_stream& zs = state_->zs;
    std::string out;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
    zs.avail_in = uInt(payload.size());
    char chunk[16384];
    do {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        deflate(&zs, Z_SYNC_FLUSH);
        out.append(chunk, sizeof chunk - zs.avail_out);
    } while (zs.avail_out == 0);
    // The empty block a sync flush ends with is left off (RFC 7692, 7.2.1).
    if (out.size() >= 4 && out.compare(out.size() - 4, 4, std::string("\0\0\xff\xff", 4)) == 0)
        out.resize(out.size() - 4);
    if (!contextTakeover_)
        deflateReset(&zs);
    return out;
}

struct WebSocketPeer::Inflater {
    z_stream zs{};
    Inflater() { inflateInit2(&zs, -15); }
    ~Inflater() { inflateEnd(&zs); }
    bool operator()(std::string compressed, std::string& out) {
        compressed.append("\0\0\xff\xff", 4);
        zs.next_in = reinterpret_cast<Bytef*>(compressed.data());
        zs.avail_in = uInt(compressed.size());
        char chunk[16384];
        do {
            zs.next_out = reinterpret_cast<Bytef*>(chunk);
            zs.avail_out = sizeof chunk;
            const int status = inflate(&zs, Z_SYNC_FLUSH);
            if (status != Z_OK && status != Z_BUF_ERROR && status != Z_STREAM_END)
                return false;
            out.append(chunk, sizeof chunk - zs.avail_out);
        } while (zs.avail_in > 0 || zs.avail_out == 0);
        return true;
    }
};

WebSocketPeer::WebSocketPeer(Stream& stream, bool client, bool deflate, bool contextTakeover,
                             std::string early)
    : stream_(stream), client_(client), deflate_(deflate), buffer_(std::move(early)),
      deflater_(contextTakeover), inflater_(std::make_unique<Inflater>()) {}

WebSocketPeer::~WebSocketPeer() = default;

std::string WebSocketPeer::frame(std::uint8_t firstByte, std::string_view payload,
                                 std::uint32_t mask) {
    std::string out(1, char(firstByte));
    const std::uint8_t maskBit = mask ? 0x80 : 0;
    if (payload.size() < 126) {
        out += char(maskBit | payload.size());
    } else if (payload.size() < 65536) {
        out += char(maskBit | 126);
        out += char(payload.size() >> 8);
        out += char(payload.size());
    } else {
        out += char(maskBit | 127);
        for (int i = 7; i >= 0; --i)
            out += char(std::uint64_t(payload.size()) >> (8 * i));
    }
    if (!mask)
        return out.append(payload);
    const char key[4] = {char(mask >> 24), char(mask >> 16), char(mask >> 8), char(mask)};
    out.append(key, 4);
    for (std::size_t i = 0; i < payload.size(); ++i)
        out += char(payload[i] ^ key[i & 3]);
    return out;
}

bool WebSocketPeer::sendRaw(std::string_view bytes) {
    return stream_.write(bytes.data(), std::int32_t(bytes.size())) && stream_.flush();
}

bool WebSocketPeer::send(std::uint8_t opcode, std::string_view payload, std::size_t fragment,
                         bool compress, std::string_view pingBetween) {
    const bool data = opcode == 1 || opcode == 2;
    const bool compressed = deflate_ && compress && data;
    const std::string body = compressed ? deflater_(payload) : std::string(payload);
    const std::size_t step = fragment && data ? fragment : std::max<std::size_t>(body.size(), 1);
    std::string bytes;
    std::size_t at = 0;
    do {
        const std::string_view part = std::string_view(body).substr(at, step);
        const bool first = at == 0;
        at += part.size();
        const bool last = at >= body.size();
        std::uint8_t head = std::uint8_t((first ? opcode : 0) | (last ? 0x80 : 0));
        if (first && compressed)
            head |= 0x40;
        bytes += frame(head, part, client_ ? nextMask_ : 0);
        nextMask_ = nextMask_ * 1103515245u + 12345u;
        if (!nextMask_)
            nextMask_ = 1;
        if (first && !pingBetween.empty())
            bytes += frame(0x89, pingBetween, client_ ? nextMask_ : 0);
    } while (at < body.size());
    return sendRaw(bytes);
}

bool WebSocketPeer::fill() {
    char chunk[16384];
    const std::int32_t n = stream_.read(chunk, sizeof chunk);
    if (n <= 0)
        return false;
    buffer_.append(chunk, std::size_t(n));
    return true;
}

bool WebSocketPeer::receive(std::uint8_t& opcode, std::string& payload) {
    payload.clear();
    for (;;) {
        while (buffer_.size() < 2)
            if (!fill())
                return false;
        const auto b0 = std::uint8_t(buffer_[0]);
        const auto b1 = std::uint8_t(buffer_[1]);
        std::size_t length = b1 & 0x7F;
        std::size_t head = 2;
        if (length >= 126) {
            const std::size_t extra = length == 126 ? 2 : 8;
            while (buffer_.size() < 2 + extra)
                if (!fill())
                    return false;
            length = 0;
            for (std::size_t i = 0; i < extra; ++i)
                length = length << 8 | std::uint8_t(buffer_[2 + i]);
            head += extra;
        }
        const bool masked = b1 & 0x80;
        const std::size_t maskAt = head;
        if (masked)
            head += 4;
        while (buffer_.size() < head + length)
            if (!fill())
                return false;
        std::string part = buffer_.substr(head, length);
        if (masked)
            for (std::size_t i = 0; i < part.size(); ++i)
                part[i] = char(part[i] ^ buffer_[maskAt + (i & 3)]);
        buffer_.erase(0, head + length);
        const std::uint8_t code = b0 & 0x0F;
        if (code >= 8) { // a control frame, also between fragments
            opcode = code;
            payload = part;
            return true;
        }
        if (!partialStarted_) {
            partialStarted_ = true;
            partialOpcode_ = code;
            partialCompressed_ = b0 & 0x40;
        }
        partial_ += part;
        if (b0 & 0x80)
            break;
    }
    std::string message = std::move(partial_);
    partial_.clear();
    partialStarted_ = false;
    opcode = partialOpcode_;
    const bool compressed = partialCompressed_;
    if (!compressed || !deflate_) {
        payload = message;
        return true;
    }
    return (*inflater_)(message, payload);
}

std::string webSocketRequest(const std::string& target, const std::string& host,
                             bool offerDeflate) {
    return "GET " + target + " HTTP/1.1\r\nHost: " + host +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
           (offerDeflate ? "Sec-WebSocket-Extensions: permessage-deflate; "
                           "client_max_window_bits\r\n"
                         : "") +
           "\r\n";
}

std::string webSocketAnswer(const std::string& requestHead, bool deflate) {
    const std::string key =
        headerValue(requestHead, "Sec-WebSocket-Key") + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(key.data()), key.size(), digest);
    unsigned char accept[64] = {};
    EVP_EncodeBlock(accept, digest, SHA_DIGEST_LENGTH);
    const bool agreed =
        deflate &&
        headerValue(requestHead, "Sec-WebSocket-Extensions").find("permessage-deflate") !=
            std::string::npos;
    return std::string("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                       "Connection: Upgrade\r\nSec-WebSocket-Accept: ") +
           reinterpret_cast<const char*>(accept) + "\r\n" +
           (agreed ? "Sec-WebSocket-Extensions: permessage-deflate\r\n" : "") + "\r\n";
}

OriginServer::Handler webSocketEcho(bool deflate) {
    return [deflate](int socket, const OriginRequest& request) {
        const std::string answer = webSocketAnswer(request.head, deflate);
        if (!sendAllBytes(socket, answer))
            return false;
        const bool agreed = answer.find("permessage-deflate") != std::string::npos;
        SocketStream stream(socket);
        WebSocketPeer peer(stream, false, agreed);
        std::uint8_t opcode = 0;
        std::string payload;
        while (peer.receive(opcode, payload)) {
            if (opcode == 9) {
                peer.send(10, payload);
            } else if (opcode == 8) {
                peer.send(8, payload);
                break;
            } else if (opcode == 1 || opcode == 2) {
                peer.send(opcode, payload);
            }
        }
        return false;
    };
}

std::vector<std::string> describeMessages(const std::vector<WebSocketMessage>& messages) {
    std::vector<std::string> out;
    for (const WebSocketMessage& m : messages) {
        std::string line = std::string(m.fromClient ? "> " : "< ") + webSocketOpcodeName(m.opcode) +
                           (m.compressed ? " z" : "") + (m.complete ? "" : " cut") +
                           (m.undecodable ? " undecodable" : "");
        if (m.closeCode >= 0)
            line += " " + std::to_string(m.closeCode) + " " + m.closeReason;
        else if (m.payload.size() > 200)
            line += " <" + std::to_string(m.payload.size()) + " bytes>";
        else
            line += " " + m.payload;
        out.push_back(line);
    }
    return out;
}

bool holdEchoConversation(WebSocketPeer& client, bool compressed,
                          std::vector<std::string>& expected) {
    const std::string z = compressed ? " z" : "";
    const std::string json = R"({"op":"subscribe","channel":"tides","ids":[1,2,3]})";
    const std::string binary("\x00\x01\x02\xff", 4);
    std::string large;
    while (large.size() < 200000)
        large += "the tide comes in " + std::to_string(large.size()) + "\n";
    std::uint8_t opcode = 0;
    std::string answer;
    auto echoed = [&](std::uint8_t sentOpcode, const std::string& sent) {
        return client.receive(opcode, answer) && opcode == sentOpcode && answer == sent;
    };
    if (!client.send(1, json) || !echoed(1, json))
        return false;
    if (!client.send(2, binary) || !echoed(2, binary))
        return false;
    if (!client.send(1, "fragmented message", 7, true, "are you there") ||
        !echoed(10, "are you there") || !echoed(1, "fragmented message"))
        return false;
    if (!client.send(1, large) || !echoed(1, large))
        return false;
    if (!client.send(8, "\x03\xe8"
                        "done") ||
        !echoed(8, "\x03\xe8"
                   "done"))
        return false;
    expected = {"> text" + z + " " + json,
                "< text" + z + " " + json,
                "> binary" + z + " " + binary,
                "< binary" + z + " " + binary,
                "> text" + z + " fragmented message",
                "> ping are you there",
                "< pong are you there",
                "< text" + z + " fragmented message",
                "> text" + z + " <" + std::to_string(large.size()) + " bytes>",
                "< text" + z + " <" + std::to_string(large.size()) + " bytes>",
                "> close 1000 done",
                "< close 1000 done"};
    return true;
}
