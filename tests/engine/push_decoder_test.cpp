#include "engine/HttpPushDecoder.h"
#include "support/Compression.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct StringSink : OutputStream {
    std::string bytes;
    int flushes = 0;
    bool write(const void* data, std::int32_t count) override {
        bytes.append(static_cast<const char*>(data), std::size_t(count));
        return true;
    }
    bool flush() override {
        ++flushes;
        return true;
    }
};

struct FailingSink : OutputStream {
    bool write(const void*, std::int32_t) override {
        setLastError(ENOSPC);
        return false;
    }
};

using DecoderFactory = std::function<std::unique_ptr<HttpPushDecoder>(OutputStream*)>;

struct Outcome {
    bool ok = true;
    std::uint32_t error = 0;
    std::string output;
    bool complete = false;
};

// Feeds `input` in the pieces given by `cuts` (ascending offsets), stopping at
// the first refused write, as the body copy does.
Outcome feed(const DecoderFactory& make, const std::string& input,
             const std::vector<std::size_t>& cuts) {
    StringSink sink;
    auto decoder = make(&sink);
    Outcome outcome;
    std::size_t from = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(input.size());
    for (std::size_t to : ends) {
        setLastError(0);
        if (!decoder->write(input.data() + from, static_cast<std::int32_t>(to - from))) {
            outcome.ok = false;
            outcome.error = lastError();
            break;
        }
        from = to;
    }
    outcome.output = sink.bytes;
    outcome.complete = decoder->complete();
    return outcome;
}

// Decodes `input` whole, then split at every offset, then one byte per write,
// and expects the same outcome every time.
void expectGrind(const DecoderFactory& make, const std::string& input, const Outcome& expected,
                 const std::string& label) {
    auto check = [&](const Outcome& got, const std::string& how) {
        EXPECT_EQ(got.ok, expected.ok) << label << " " << how;
        EXPECT_EQ(got.error, expected.error) << label << " " << how;
        EXPECT_EQ(got.output, expected.output) << label << " " << how;
    };
    check(feed(make, input, {}), "whole");
    for (std::size_t cut = 1; cut < input.size(); ++cut)
        check(feed(make, input, {cut}), "split at " + std::to_string(cut));
    std::vector<std::size_t> bytewise;
    for (std::size_t i = 1; i < input.size(); ++i)
        bytewise.push_back(i);
    check(feed(make, input, bytewise), "byte by byte");
}

template <typename T> DecoderFactory factory() {
    return [](OutputStream* out) { return std::make_unique<T>(out); };
}

// One row of a decoder table: coded input and the decoder to feed it to.
struct CodedCase {
    const char* label;
    DecoderFactory make;
    std::string input;
};

// Text that compresses well but is not trivially repetitive.
std::string sampleText(std::size_t size) {
    std::string text;
    for (unsigned i = 0; text.size() < size; ++i)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the sample body\n";
    text.resize(size);
    return text;
}

} // namespace

TEST(ChunkedPushDecoder, DecodesFramingInEveryPieceSize) {
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
    struct Case {
        const char* label;
        std::string input;
        Outcome expected;
    };
    const Case cases[] = {
        {"one chunk", "1a\r\n" + alphabet + "\r\n0\r\n\r\n", {true, 0, alphabet}},
        {"several chunks, upper-case hex",
         "3\r\nabc\r\nA\r\n0123456789\r\n0\r\n\r\n",
         {true, 0, "abc0123456789"}},
        {"chunk extension", "5;name=value\r\nhello\r\n0;last\r\n\r\n", {true, 0, "hello"}},
        {"0x prefix and white space", " 0x5\r\nhello\r\n0\r\n\r\n", {true, 0, "hello"}},
        {"trailer fields are dropped",
         "5\r\nhello\r\n0\r\nX-Sum: 1\r\nX-B: 2\r\n\r\n",
         {true, 0, "hello"}},
        {"bytes after the end are ignored", "2\r\nhi\r\n0\r\n\r\n5\r\nlater\r\n", {true, 0, "hi"}},
        {"cut short in a chunk", "5\r\nhel", {true, 0, "hel"}},
        {"data not followed by CR LF",
         "5\r\nhelloXY3\r\nabc\r\n",
         {false, kErrorBadChunk, "hello"}},
        {"negative size", "2\r\nok\r\n-5\r\nhello\r\n", {false, kErrorBadChunk, "ok"}},
        {"trailer line that is no field",
         "1\r\nx\r\n0\r\nnot a field\r\n\r\n",
         {false, kErrorBadChunk, "x"}},
    };
    for (const Case& c : cases)
        expectGrind(factory<ChunkedPushDecoder>(), c.input, c.expected, c.label);
}

TEST(ChunkedPushDecoder, RefusesASizeLineWithoutEnd) {
    StringSink sink;
    ChunkedPushDecoder decoder(&sink);
    const std::string junk(4096, '7');
    bool ok = true;
    for (int i = 0; ok && i * 4096 <= ChunkedPushDecoder::kMaxSizeLine + 4096; ++i)
        ok = decoder.write(junk.data(), std::int32_t(junk.size()));
    EXPECT_FALSE(ok);
    EXPECT_EQ(lastError(), kErrorBadChunk);
}

TEST(ChunkedPushDecoder, ManySmallChunksInOneWrite) {
    std::string body, expected;
    for (int i = 0; i < 20000; ++i) {
        body += chunkOf(std::string(1, char('a' + i % 26)));
        expected += char('a' + i % 26);
    }
    body += "0\r\n\r\n";
    StringSink sink;
    ChunkedPushDecoder decoder(&sink);
    ASSERT_TRUE(decoder.write(body.data(), std::int32_t(body.size())));
    EXPECT_EQ(sink.bytes, expected);
}

TEST(ContentDecoders, DecodeInEveryPieceSize) {
    const std::string plain = sampleText(3000);
    const CodedCase cases[] = {
        {"gzip", factory<ZlibPushDecoder>(), gzipOf(plain)},
        {"zlib-wrapped deflate", factory<ZlibPushDecoder>(), deflated(plain, 15)},
        {"br", factory<BrotliPushDecoder>(), brotliOf(plain)},
        {"zstd", factory<ZstdPushDecoder>(), zstdOf(plain)},
    };
    for (const CodedCase& c : cases) {
        expectGrind(c.make, c.input, {true, 0, plain}, c.label);
        EXPECT_TRUE(feed(c.make, c.input, {}).complete) << c.label;
    }
}

TEST(ContentDecoders, ABodyCutInsideTheCodingIsNotComplete) {
    // Every write succeeds, so only complete() tells a cut body from a whole one.
    const std::string plain = sampleText(3000);
    const CodedCase cases[] = {
        {"gzip", factory<ZlibPushDecoder>(), gzipOf(plain)},
        {"br", factory<BrotliPushDecoder>(), brotliOf(plain)},
        {"zstd", factory<ZstdPushDecoder>(), zstdOf(plain)},
        {"chunked", factory<ChunkedPushDecoder>(), "5\r\nhello\r\n0\r\n\r\n"},
    };
    for (const CodedCase& c : cases) {
        EXPECT_TRUE(feed(c.make, c.input, {}).complete) << c.label;
        for (std::size_t keep : {std::size_t(1), c.input.size() / 2, c.input.size() - 1}) {
            const Outcome got = feed(c.make, c.input.substr(0, keep), {});
            EXPECT_TRUE(got.ok) << c.label << " " << keep;
            EXPECT_FALSE(got.complete) << c.label << " " << keep;
        }
    }
}

TEST(ContentDecoders, RejectCorruptData) {
    const std::string plain = sampleText(3000);
    auto corrupt = [](std::string coded) {
        for (std::size_t i = coded.size() / 3; i < coded.size() * 2 / 3; ++i)
            coded[i] = char(coded[i] ^ 0x5A);
        return coded;
    };
    // Window descriptor asking for a 1 GiB window: refused before any allocation.
    const std::string hugeWindow("\x28\xB5\x2F\xFD\x00\xA0", 6);
    const CodedCase cases[] = {
        {"raw deflate has no wrapper", factory<ZlibPushDecoder>(), deflated(plain, -15)},
        {"gzip", factory<ZlibPushDecoder>(), corrupt(gzipOf(plain))},
        {"not compressed at all", factory<ZlibPushDecoder>(), plain},
        {"br with a reserved header", factory<BrotliPushDecoder>(), std::string(4, '\xff')},
        {"zstd", factory<ZstdPushDecoder>(), corrupt(zstdOf(plain))},
        {"zstd window too large", factory<ZstdPushDecoder>(), hugeWindow},
    };
    for (const CodedCase& c : cases) {
        const Outcome got = feed(c.make, c.input, {});
        EXPECT_FALSE(got.ok) << c.label;
        EXPECT_EQ(got.error, kErrorInvalidData) << c.label;
        EXPECT_NE(got.output, plain) << c.label;
    }
}

TEST(ZlibPushDecoder, DeliversMoreThanOneWindowFromTheLastWrite) {
    const std::string plain = sampleText(300000);
    const std::string coded = gzipOf(plain);
    // All but the last 10 bytes first; the rest must still release everything.
    const Outcome got = feed(factory<ZlibPushDecoder>(), coded, {coded.size() - 10});
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.output, plain);
}

TEST(ZlibPushDecoder, IgnoresBytesAfterTheStream) {
    const std::string plain = "the body";
    const Outcome got = feed(factory<ZlibPushDecoder>(), gzipOf(plain) + "trailing junk", {});
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.output, plain);
    const Outcome later =
        feed(factory<ZlibPushDecoder>(), gzipOf(plain) + "trailing junk", {gzipOf(plain).size()});
    EXPECT_TRUE(later.ok);
    EXPECT_EQ(later.output, plain);
}

TEST(PushDecoderChain, ChunkedGzipDecodesThroughBothDecoders) {
    const std::string plain = sampleText(100000);
    const std::string coded = gzipOf(plain);
    std::string framed;
    for (std::size_t at = 0; at < coded.size(); at += 777)
        framed += chunkOf(coded.substr(at, 777));
    framed += "0\r\n\r\n";

    StringSink sink;
    auto gzip = createPushDecoder("GZip", &sink);
    auto chunked = createPushDecoder("chunked", gzip.get());
    ASSERT_TRUE(gzip && chunked);
    for (std::size_t at = 0; at < framed.size(); at += 1000)
        ASSERT_TRUE(chunked->write(framed.data() + at,
                                   std::int32_t(std::min<std::size_t>(1000, framed.size() - at))));
    ASSERT_TRUE(chunked->flush());
    EXPECT_EQ(sink.bytes, plain);
    EXPECT_EQ(sink.flushes, 1);
}

TEST(PushDecoderChain, CodingNames) {
    StringSink sink;
    for (const char* name : {"gzip", "X-GZIP", "deflate", "chunked", "br", "ZSTD", "compress"}) {
        auto decoder = createPushDecoder(name, &sink);
        ASSERT_TRUE(decoder) << name;
        EXPECT_FALSE(decoder->setParameters("q=1")) << name;
    }
    for (const char* name : {"identity", "", "lzma", "gzip;q=1", "brotli"}) {
        setLastError(0);
        EXPECT_FALSE(createPushDecoder(name, &sink)) << name;
        EXPECT_EQ(lastError(), kErrorCodingUnsupported) << name;
    }
    // "compress" is known but cannot be decoded.
    auto compress = createPushDecoder("compress", &sink);
    EXPECT_FALSE(compress->write("\x1f\x9d", 2));
}

TEST(PushDecoderChain, DownstreamFailureKeepsItsError) {
    FailingSink failing;
    const std::string plain = "body";
    struct Case {
        const char* label;
        std::unique_ptr<HttpPushDecoder> decoder;
        std::string input;
    };
    Case cases[] = {
        {"chunked", std::make_unique<ChunkedPushDecoder>(&failing), chunkOf(plain)},
        {"gzip", std::make_unique<ZlibPushDecoder>(&failing), gzipOf(plain)},
        {"br", std::make_unique<BrotliPushDecoder>(&failing), brotliOf(plain)},
        {"zstd", std::make_unique<ZstdPushDecoder>(&failing), zstdOf(plain)},
    };
    for (Case& c : cases) {
        setLastError(0);
        EXPECT_FALSE(c.decoder->write(c.input.data(), std::int32_t(c.input.size()))) << c.label;
        EXPECT_EQ(lastError(), std::uint32_t(ENOSPC)) << c.label;
    }
}
