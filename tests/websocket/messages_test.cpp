// What a capture keeps of a WebSocket conversation and the messages read
// back from it: fragments joined, compression undone across messages,
// control frames in their place, and the bounds past which only counts go on.
#include "support/WebSocketPeer.h"
#include "websocket/WebSocketCapture.h"
#include "websocket/WebSocketMessages.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

std::string frame(std::uint8_t b0, const std::string& payload, std::uint32_t mask = 0) {
    return WebSocketPeer::frame(b0, payload, mask);
}

// Keeps the pieces as the cache image would; `failAfter` refuses from then on.
struct PieceStore : WebSocketCapture::Sink {
    struct Kept {
        WebSocketFramePiece piece;
        std::string payload;
    };
    std::vector<Kept> kept;
    std::size_t failAfter = SIZE_MAX;
    bool piece(const WebSocketFramePiece& piece, std::string_view payload) override {
        if (kept.size() >= failAfter)
            return false;
        kept.push_back({piece, std::string(payload)});
        return true;
    }
    std::vector<WebSocketMessage> messages(bool deflate) const {
        WebSocketMessageAssembler assembler(deflate);
        for (const Kept& k : kept)
            assembler.piece(k.piece, k.payload);
        return std::move(assembler.messages);
    }
};

std::vector<std::string> describe(const std::vector<WebSocketMessage>& messages) {
    return describeMessages(messages);
}

// Both directions fed in turns of `step` bytes, as a relay would hand them on.
void interleave(WebSocketCapture& capture, const std::string& up, const std::string& down,
                std::size_t step) {
    std::int64_t time = 1700000000000000;
    for (std::size_t at = 0; at < std::max(up.size(), down.size()); at += step) {
        if (at < up.size())
            capture.data(true, up.data() + at, std::min(step, up.size() - at), ++time);
        if (at < down.size())
            capture.data(false, down.data() + at, std::min(step, down.size() - at), ++time);
    }
}

} // namespace

TEST(WebSocketMessages, ConversationComesBackWholeHoweverTheBytesArrived) {
    WebSocketPeer::Deflater clientZ, serverZ;
    const std::string json = R"({"op":"subscribe","channel":"prices","ids":[1,2,3]})";
    const std::string large(100000, 'L');
    // The client masks and compresses with context carried over: its second
    // message refers back into the first.
    const std::string firstJson = clientZ(json);
    const std::string secondJson = clientZ(json); // shorter: it refers back into the first
    EXPECT_LT(secondJson.size(), firstJson.size());
    const std::string up = frame(0xC1, firstJson, 0x11223344) +
                           frame(0xC1, secondJson, 0x55667788) + frame(0x02, "bin", 0x01010101) +
                           frame(0x89, "ping!", 0x0a0b0c0d) + frame(0x80, "ary", 0x02020202) +
                           frame(0x88,
                                 "\x03\xe8"
                                 "bye",
                                 7);
    const std::string serverJson = serverZ(json); // first: the context follows the order
    const std::string compressedLarge = serverZ(large);
    const std::pair<std::uint8_t, std::string> downFrames[] = {
        {0xC1, serverJson},
        {0x8A, "ping!"},
        {0x41, compressedLarge.substr(0, 100)},
        {0x80, compressedLarge.substr(100)},
        {0x81, "plain"},
        {0x88, "\x03\xe8"},
    };
    std::string down;
    std::uint64_t downPayload = 0;
    for (const auto& [b0, payload] : downFrames) {
        down += frame(b0, payload);
        downPayload += payload.size();
    }
    const std::vector<std::string> expected = {
        "> text z " + json, "> text z " + json, "< text z " + json,        "> binary binary",
        "> ping ping!",     "< pong ping!",     "< text z <100000 bytes>", "> close 1000 bye",
        "< text plain",     "< close 1000 ",
    };
    for (std::size_t step :
         {std::size_t(1), std::size_t(7), std::size_t(4096), std::size_t(1) << 20}) {
        PieceStore store;
        WebSocketCapture capture(store);
        interleave(capture, up, down, step);
        auto messages = store.messages(true);
        // Messages of the two directions may interleave in any order; within
        // one direction the order is kept.
        for (bool client : {true, false}) {
            std::vector<std::string> got, want;
            for (const std::string& line : describe(messages))
                if ((line[0] == '>') == client)
                    got.push_back(line);
            for (const std::string& line : expected)
                if ((line[0] == '>') == client)
                    want.push_back(line);
            EXPECT_EQ(got, want) << "step " << step;
        }
        const WebSocketTotals& totals = capture.totals();
        EXPECT_EQ(totals.fromClient.messages, 5u);
        EXPECT_EQ(totals.fromClient.frames, 6u);
        EXPECT_EQ(totals.fromServer.messages, 5u);
        EXPECT_EQ(totals.fromServer.payloadBytes, downPayload);
        EXPECT_EQ(totals.closedBy, 1);
        EXPECT_FALSE(totals.cut);
        // Each message's time is when its first byte came.
        const auto firstUp = std::find_if(messages.begin(), messages.end(),
                                          [](const WebSocketMessage& m) { return m.fromClient; });
        ASSERT_NE(firstUp, messages.end());
        EXPECT_EQ(firstUp->time, 1700000000000001);
        for (const WebSocketMessage& m : messages) {
            if (m.payload == large) {
                EXPECT_EQ(m.wireSize, compressedLarge.size());
                EXPECT_EQ(m.size, large.size());
            }
        }
    }
}

TEST(WebSocketMessages, BoundsKeepTheFirstPartAndCountTheRest) {
    std::string up;
    for (int i = 0; i < 6; ++i)
        up += frame(0x81, "m" + std::to_string(i), 0x01000001u + std::uint32_t(i));
    struct Case {
        const char* label;
        std::uint64_t maxMessages;
        std::uint64_t maxBytes;
        std::size_t failAfter;
        std::vector<std::string> kept;
    };
    const Case cases[] = {
        {"message bound", 3, 1 << 20, SIZE_MAX, {"> text m0", "> text m1", "> text m2"}},
        // m2 would pass the byte bound: neither it nor anything after is kept.
        {"byte bound", 100, 5, SIZE_MAX, {"> text m0", "> text m1"}},
        {"the store failing",
         100,
         1 << 20,
         4,
         {"> text m0", "> text m1", "> text m2", "> text m3"}},
    };
    for (const Case& c : cases) {
        PieceStore store;
        store.failAfter = c.failAfter;
        WebSocketCapture capture(store, c.maxMessages, c.maxBytes);
        interleave(capture, up, {}, 1 << 20);
        EXPECT_EQ(describe(store.messages(false)), c.kept) << c.label;
        EXPECT_TRUE(capture.totals().cut) << c.label;
        EXPECT_EQ(capture.totals().fromClient.messages, 6u) << c.label;
        EXPECT_EQ(capture.totals().fromClient.payloadBytes, 12u) << c.label;
    }
    // A message cut by the bound between its frames reads back as cut.
    PieceStore store;
    WebSocketCapture capture(store, 100, 6);
    const std::string fragmented = frame(0x01, "abcd", 9) + frame(0x80, "efgh", 9);
    capture.data(true, fragmented.data(), fragmented.size(), 1);
    EXPECT_EQ(describe(store.messages(false)), std::vector<std::string>{"> text cut abcd"});
}

TEST(WebSocketMessages, CompressionThatCannotBeUndoneIsShownAsItTravelled) {
    WebSocketPeer::Deflater z;
    const std::string good = z("fine");
    const std::string garbage = "\xff\xff\xff\xff";
    PieceStore store;
    WebSocketCapture capture(store);
    const std::string down = frame(0xC1, garbage) + frame(0xC1, good) + frame(0x81, "plain");
    const std::string up = frame(0xC1, good, 3);
    capture.data(false, down.data(), down.size(), 1);
    capture.data(true, up.data(), up.size(), 2);
    // Once a direction's compression context is lost, its later compressed
    // messages cannot be read either; the other direction is unaffected.
    EXPECT_EQ(
        describe(store.messages(true)),
        (std::vector<std::string>{"< text z undecodable " + garbage, "< text z undecodable " + good,
                                  "< text plain", "> text z fine"}));
    // Without permessage-deflate agreed, the bit means nothing we know.
    EXPECT_EQ(describe(store.messages(false))[1], "< text " + good);

    // A message that inflates without end stops at the budget.
    WebSocketPeer::Deflater bombZ;
    const std::string bomb = frame(0xC2, bombZ(std::string(8 << 20, '\0')));
    WebSocketMessageAssembler assembler(true, 1024, 1 << 20);
    PieceStore bombStore;
    WebSocketCapture bombCapture(bombStore);
    bombCapture.data(false, bomb.data(), bomb.size(), 1);
    for (const auto& k : bombStore.kept)
        assembler.piece(k.piece, k.payload);
    ASSERT_EQ(assembler.messages.size(), 1u);
    EXPECT_TRUE(assembler.messages[0].undecodable);
    EXPECT_LE(assembler.messages[0].payload.size(), 1024u);
}

TEST(WebSocketMessages, PerMessageDeflateIsFoundAmongTheAgreedExtensions) {
    const std::pair<const char*, bool> cases[] = {
        {"permessage-deflate", true},
        {"permessage-deflate; server_no_context_takeover; client_max_window_bits=10", true},
        {"x-webkit-deflate-frame, PerMessage-Deflate", true},
        {" permessage-deflate ;client_max_window_bits", true},
        {"permessage-deflate-x", false},
        {"", false},
        {"foo; permessage-deflate", false},
    };
    for (const auto& [value, agreed] : cases)
        EXPECT_EQ(negotiatesPerMessageDeflate(value), agreed) << value;
}
