// The frame parser as a table: each row a byte stream and the frames it must
// yield (or the error it must stop at), fed whole, split at every offset and
// byte by byte.
#include "support/ScriptedStreams.h"
#include "support/WebSocketPeer.h"
#include "websocket/WebSocketFrameParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "81 5 hello" per frame: first byte in hex, length, payload (pieces joined).
struct Recorder : WebSocketFrameParser::Handler {
    std::vector<std::string> frames;
    bool open = false;
    void frameBegin(const WebSocketFrameHead& head) override {
        EXPECT_FALSE(open);
        char text[32];
        std::snprintf(text, sizeof text, "%02x %llu ", head.bits.byte,
                      static_cast<unsigned long long>(head.length));
        frames.emplace_back(text);
        open = true;
    }
    void framePayload(const char* bytes, std::size_t count) override {
        EXPECT_TRUE(open);
        frames.back().append(bytes, count);
    }
    void frameEnd() override {
        EXPECT_TRUE(open);
        open = false;
    }
};

struct Outcome {
    std::vector<std::string> frames;
    WebSocketFrameParser::Error error;
    bool inFrame;
};

// Everything `source` delivers, fed to a parser read by read.
Outcome parse(InputStream& source) {
    WebSocketFrameParser parser;
    Recorder recorder;
    char buffer[65536];
    for (std::int32_t n; (n = source.read(buffer, sizeof buffer)) > 0;)
        parser.feed(buffer, std::size_t(n), recorder);
    return {recorder.frames, parser.error(), parser.inFrame()};
}

std::string frame(std::uint8_t b0, const std::string& payload, std::uint32_t mask = 0) {
    return WebSocketPeer::frame(b0, payload, mask);
}

using Error = WebSocketFrameParser::Error;

} // namespace

TEST(WebSocketFrameParser, FramesInEveryPieceSize) {
    const std::string big(70000, 'b');
    const std::string medium(300, 'm');
    struct Case {
        const char* label;
        std::string input;
        std::vector<std::string> frames;
        Error error;
        bool inFrame;
    };
    const Case cases[] = {
        {"text, unmasked", frame(0x81, "hello"), {"81 5 hello"}, Error::None, false},
        {"text, masked", frame(0x81, "hello", 0x37fa213d), {"81 5 hello"}, Error::None, false},
        {"empty binary", frame(0x82, ""), {"82 0 "}, Error::None, false},
        {"16-bit length",
         frame(0x82, medium, 0x01020304),
         {"82 300 " + medium},
         Error::None,
         false},
        {"64-bit length", frame(0x82, big), {"82 70000 " + big}, Error::None, false},
        {"fragments with a ping between",
         frame(0x01, "frag") + frame(0x89, "p", 5) + frame(0x00, "men") + frame(0x80, "ted"),
         {"01 4 frag", "89 1 p", "00 3 men", "80 3 ted"},
         Error::None,
         false},
        {"compressed bit kept",
         frame(0xC1, std::string("\x4a\x4c\x02\x00", 4)),
         {std::string("c1 4 \x4a\x4c\x02\x00", 9)},
         Error::None,
         false},
        {"close with code and reason",
         frame(0x88,
               "\x03\xe8"
               "bye",
               9),
         {"88 5 \x03\xe8"
          "bye"},
         Error::None,
         false},
        {"cut in the payload", frame(0x81, "hello").substr(0, 4), {"81 5 he"}, Error::None, true},
        {"cut in the head", frame(0x82, medium).substr(0, 3), {}, Error::None, true},
        {"reserved opcode",
         frame(0x83, "x") + frame(0x81, "later"),
         {},
         Error::ReservedOpcode,
         false},
        {"reserved control opcode", frame(0x8B, ""), {}, Error::ReservedOpcode, false},
        {"length with its top bit",
         std::string("\x82\x7f\x80\0\0\0\0\0\0\0", 10),
         {},
         Error::LengthTooLarge,
         false},
        {"long ping", frame(0x89, std::string(126, 'p')), {}, Error::ControlTooLong, false},
        {"fragmented close", frame(0x08, ""), {}, Error::ControlFragmented, false},
        {"continuation first", frame(0x80, "x"), {}, Error::UnexpectedContinuation, false},
        {"new message inside one",
         frame(0x01, "a") + frame(0x81, "b"),
         {"01 1 a"},
         Error::UnfinishedMessage,
         false},
    };
    for (const Case& c : cases) {
        auto check = [&](InputStream& source, const std::string& how) {
            const Outcome got = parse(source);
            EXPECT_EQ(got.frames, c.frames) << c.label << " " << how;
            EXPECT_EQ(got.error, c.error) << c.label << " " << how;
            EXPECT_EQ(got.inFrame, c.inFrame) << c.label << " " << how;
        };
        if (c.input.size() < 2000) {
            grind(c.input, check);
        } else {
            // Too long to split at every offset: whole, and in small pieces.
            ScriptedInputStream whole({c.input});
            check(whole, "whole");
            ScriptedInputStream pieces = ScriptedInputStream::inPiecesOf(c.input, 7);
            check(pieces, "in pieces of 7");
        }
    }
}
