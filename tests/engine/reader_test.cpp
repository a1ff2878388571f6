#include "engine/HttpReader.h"
#include "engine/SocketStream.h"
#include "support/RecordingFilter.h"
#include "support/ScriptedStreams.h"
#include "support/SocketPair.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::string_literals;

namespace {

std::string rest(const HttpReader& r) {
    return std::string(r.buffer.data, std::size_t(r.buffer.length));
}

std::string chunked(const std::vector<std::string>& chunks, const std::string& trailer = "") {
    std::string out;
    char size[32];
    for (const std::string& c : chunks) {
        std::snprintf(size, sizeof size, "%zx\r\n", c.size());
        out += size + c + "\r\n";
    }
    return out + "0\r\n" + trailer + "\r\n";
}

} // namespace

TEST(HttpReader, ReadsPipelinedRequestsHoweverTheBytesArrive) {
    const std::string input = "POST /up HTTP/1.1\r\nHost: a.test\r\nContent-Length: 5\r\n\r\nhello"
                              "GET /next?x HTTP/1.0\r\nHost: b.test:81\r\nX:\r\n\r\nleftover";
    grind(input, [&](InputStream& source, const std::string& label) {
        HttpReader r(&source, 16, 16);
        HttpRequestHeader first;
        ASSERT_TRUE(r.readRequestHeader(first)) << label;
        EXPECT_EQ(first.method, "POST") << label;
        ASSERT_EQ(first.contentLength(), 5) << label;
        CollectingOutputStream body;
        ASSERT_TRUE(r.copyBody(body, first.contentLength())) << label;
        EXPECT_EQ(body.text, "hello") << label;
        HttpRequestHeader second;
        ASSERT_TRUE(r.readRequestHeader(second)) << label;
        EXPECT_EQ(second.target, "/next?x") << label;
        EXPECT_EQ(second.fields.size(), 2u) << label;
        EXPECT_EQ(second.version, "HTTP/1.0") << label;
        // Whatever was read beyond the second head stays for the next message.
        EXPECT_EQ(rest(r), "leftover"s.substr(0, rest(r).size())) << label;
    });
}

TEST(HttpReader, SecondPipelinedHeadNeedsNoFurtherRead) {
    ScriptedInputStream source({"GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n"});
    HttpReader r(&source);
    HttpRequestHeader a, b;
    ASSERT_TRUE(r.readRequestHeader(a));
    EXPECT_EQ(source.readCalls(), 1);
    ASSERT_TRUE(r.readRequestHeader(b));
    EXPECT_EQ(source.readCalls(), 1);
    EXPECT_EQ(b.target, "/2");
}

TEST(HttpReader, HeadFailures) {
    struct Case {
        const char* name;
        std::string input;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"end before the empty line", "GET / HTTP/1.1\r\nHost: a\r\n", kErrorDataIncomplete},
        {"end before anything", "", kErrorDataIncomplete},
        {"head does not parse", "HTTP/1.1 2x0 OK\r\n\r\nbody", kErrorInvalidData},
        // Lines ended by bare LFs: refused at once, not after a timeout.
        {"bare LF lines", "HTTP/1.1 200 OK\nServer: a\n\n", kErrorInvalidData},
        {"bare LF empty line", "HTTP/1.1 200 OK\r\nServer: a\r\n\n", kErrorInvalidData},
        {"head beyond the limit",
         "HTTP/1.1 200 OK\r\nX: " + std::string(HttpReader::kMaxHeadLength, 'a') + "\r\n\r\n",
         kErrorHeadTooLong},
    };
    for (const Case& c : cases) {
        ScriptedInputStream source = ScriptedInputStream::inPiecesOf(c.input, 70000);
        HttpReader r(&source);
        HttpResponseHeader h;
        setLastError(0);
        EXPECT_FALSE(r.readResponseHeader(h)) << c.name;
        EXPECT_EQ(lastError(), c.error) << c.name;
        EXPECT_LE(r.buffer.length, HttpReader::kMaxHeadLength + HttpReader::kReadSize) << c.name;
    }
    // An unparsable head is not consumed.
    ScriptedInputStream source({"HTTP/1.1 2x0 OK\r\n\r\nbody"});
    HttpReader r(&source);
    HttpResponseHeader h;
    EXPECT_FALSE(r.readResponseHeader(h));
    EXPECT_EQ(rest(r), "HTTP/1.1 2x0 OK\r\n\r\nbody");
    // A read error keeps the source's code.
    ScriptedInputStream broken({"HTTP/1.1 200"}, ECONNRESET);
    HttpReader rb(&broken);
    EXPECT_FALSE(rb.readResponseHeader(h));
    EXPECT_EQ(lastError(), std::uint32_t(ECONNRESET));
}

TEST(HttpReader, HeadJustWithinTheLimitIsRead) {
    const std::string head = "HTTP/1.1 200 OK\r\nX: ";
    const std::string input =
        head + std::string(HttpReader::kMaxHeadLength - head.size() - 4, 'v') + "\r\n\r\n";
    ASSERT_EQ(input.size(), std::size_t(HttpReader::kMaxHeadLength));
    ScriptedInputStream source = ScriptedInputStream::inPiecesOf(input + "body", 1000);
    HttpReader r(&source);
    HttpResponseHeader h;
    ASSERT_TRUE(r.readResponseHeader(h));
    EXPECT_EQ(h.fields.at(0).value.size(), input.size() - head.size() - 4);
}

TEST(HttpReader, FindDelimiterFindsOccurrencesStraddlingReads) {
    grind("abc\r\n\r\nxyz", [](InputStream& source, const std::string& label) {
        HttpReader r(&source, 4, 4);
        EXPECT_EQ(r.findDelimiter("\r\n\r\n"), 7) << label;
        EXPECT_EQ(r.findDelimiter("c\r"), 4) << label; // no read needed
        EXPECT_EQ(r.findDelimiter("yz"), 10) << label;
        EXPECT_EQ(r.findDelimiter("?"), -1) << label;
        EXPECT_EQ(lastError(), kErrorDataIncomplete) << label;
    });
}

TEST(HttpReader, CopyBodyMovesExactlyTheCount) {
    const std::string data(200000, 'q');
    ScriptedInputStream source = ScriptedInputStream::inPiecesOf(data + "NEXT", 70000);
    HttpReader r(&source);
    CollectingOutputStream sink;
    ASSERT_TRUE(r.copyBody(sink, std::int64_t(data.size())));
    EXPECT_EQ(sink.text, data);
    EXPECT_EQ(sink.flushes, 1);
    EXPECT_EQ(rest(r), "NEXT"); // read beyond the count, kept
    for (std::int64_t count : {0, -5}) {
        const int reads = source.readCalls();
        ASSERT_TRUE(r.copyBody(sink, count));
        EXPECT_EQ(source.readCalls(), reads);
        EXPECT_EQ(sink.flushes, count == 0 ? 2 : 3);
    }
    EXPECT_EQ(rest(r), "NEXT");
}

TEST(HttpReader, CopyBodyFailures) {
    {
        ScriptedInputStream source({"short"});
        HttpReader r(&source);
        CollectingOutputStream sink;
        setLastError(0);
        EXPECT_FALSE(r.copyBody(sink, 10));
        EXPECT_EQ(lastError(), kErrorDataIncomplete);
        EXPECT_EQ(sink.text, "short"); // delivered before the end was seen
    }
    {
        ScriptedInputStream source({"abc"}, ETIMEDOUT);
        HttpReader r(&source);
        CollectingOutputStream sink;
        EXPECT_FALSE(r.copyBody(sink, 10));
        EXPECT_EQ(lastError(), std::uint32_t(ETIMEDOUT));
    }
    {
        ScriptedInputStream source({"0123456789"});
        HttpReader r(&source);
        CollectingOutputStream sink(4, ECONNRESET);
        EXPECT_FALSE(r.copyBody(sink, 10));
        EXPECT_EQ(lastError(), std::uint32_t(ECONNRESET));
    }
}

TEST(HttpReader, ChunkedBodiesMoveWholeAndVerbatim) {
    struct Case {
        const char* name;
        std::string body;
    };
    const Case cases[] = {
        {"one chunk of 26", "1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n"},
        {"extensions and trailer", "5;name=value\r\nhello\r\n3 ; x\r\nabc\r\n0;end\r\n"
                                   "Expires: never\r\nX-Sum: 1\r\n\r\n"},
        {"upper-case hex, padded size", "0000A\r\n0123456789\r\n0\r\n\r\n"},
        {"only the last chunk", "0\r\n\r\n"},
        {"many small chunks", chunked(std::vector<std::string>(300, "xy"))},
        {"chunks holding CR LF", chunked({"\r\n\r\n", "0\r\n\r\n"})},
        {"large chunk", chunked({std::string(150000, 'L'), "tail"}, "T: 1\r\n")},
        {"size line that is no number ends the body", "zz\r\n\r\n"},
        {"negative size ends the body", "-5\r\nX: y\r\n\r\n"},
    };
    for (const Case& c : cases) {
        // Grinding a 150 kB body at every offset would take long; large
        // bodies go in fixed pieces instead.
        auto check = [&](InputStream& source, const std::string& label) {
            HttpReader r(&source, 64, 64);
            CollectingOutputStream sink;
            ASSERT_TRUE(r.copyChunkedBody(sink)) << c.name << ", " << label;
            EXPECT_EQ(sink.text, c.body) << c.name << ", " << label;
            EXPECT_EQ(rest(r), "NEXT"s.substr(0, rest(r).size())) << c.name << ", " << label;
        };
        if (c.body.size() < 2000) {
            grind(c.body + "NEXT", check);
        } else {
            ScriptedInputStream source = ScriptedInputStream::inPiecesOf(c.body + "NEXT", 1000);
            check(source, "pieces of 1000");
        }
    }
}

TEST(HttpReader, ChunkSizeIsReadFromItsOwnLineOnly) {
    // An empty size line is no positive number: the body ends at the next
    // empty line, and the hex digits after it are not taken as its size.
    ScriptedInputStream source({"\r\n\r\nab"});
    HttpReader r(&source);
    CollectingOutputStream sink;
    ASSERT_TRUE(r.copyChunkedBody(sink));
    EXPECT_EQ(sink.text, "\r\n\r\n");
    EXPECT_EQ(rest(r), "ab");
}

TEST(HttpReader, ChunkedBodyFailures) {
    struct Case {
        const char* name;
        std::string input;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"closes inside a chunk", "a\r\n01234", kErrorDataIncomplete},
        {"closes inside the trailer", "0\r\nX: 1\r\n", kErrorDataIncomplete},
        {"closes before a size line", "", kErrorDataIncomplete},
        {"size beyond 64 bits", "1ffffffffffffffff\r\n", kErrorBadChunk},
        {"size at the 64-bit limit", "7fffffffffffffff\r\nxx", kErrorBadChunk},
        {"endless size line", std::string(HttpReader::kMaxHeadLength + 10, '1'), kErrorHeadTooLong},
        {"endless trailer", "0\r\n" + std::string(HttpReader::kMaxHeadLength, 'T'),
         kErrorHeadTooLong},
    };
    for (const Case& c : cases) {
        ScriptedInputStream source = ScriptedInputStream::inPiecesOf(c.input, 65536);
        HttpReader r(&source);
        CollectingOutputStream sink;
        setLastError(0);
        EXPECT_FALSE(r.copyChunkedBody(sink)) << c.name;
        EXPECT_EQ(lastError(), c.error) << c.name;
    }
}

TEST(HttpReader, ChunkBeyondThirtyTwoBitsIsCountedInSixtyFourBits) {
    // A 4 GiB + 1 chunk: the reader must ask for the whole chunk, not a
    // wrapped or saturated count. The source ends early, so the copy fails
    // only after everything offered went through.
    const std::string input = "100000001\r\n" + std::string(300000, 'c');
    ScriptedInputStream source = ScriptedInputStream::inPiecesOf(input, 65536);
    HttpReader r(&source);
    CollectingOutputStream sink;
    EXPECT_FALSE(r.copyChunkedBody(sink));
    EXPECT_EQ(lastError(), kErrorDataIncomplete);
    EXPECT_EQ(sink.text, input);
}

TEST(HttpReader, ChunkedBodyOverSocketReportsEveryDeliveredPiece) {
    SocketPair in(true), out(true);
    const std::string body = chunked({std::string(100000, 'a'), "bc"}, "X: y\r\n");
    std::thread feeder([&] {
        writeAll(in.first, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + body);
    });
    SocketStream source(in.second);
    HttpReader r(&source);
    HttpResponseHeader h;
    ASSERT_TRUE(r.readResponseHeader(h));
    ASSERT_TRUE(h.isChunked());
    RecordingFilter filter;
    HttpResponseDataOutputStream sink(out.first, &filter, 3);
    std::string received;
    std::thread drain([&] { received = readAll(out.second); });
    EXPECT_TRUE(r.copyChunkedBody(sink));
    out.closeFirst();
    drain.join();
    feeder.join();
    EXPECT_EQ(received, body);
    EXPECT_EQ(filter.responseBody(3), body);
}

TEST(HttpWriter, WritesEachHeadInOneWrite) {
    CollectingOutputStream sink;
    HttpWriter w(&sink, 8, 8);
    HttpRequestHeader req;
    req.method = "POST";
    req.target = "/x";
    req.set("Host", "a", false);
    req.set("Accept", "*/*", false);
    ASSERT_TRUE(w.writeRequestHeader(req));
    EXPECT_EQ(sink.text, "POST /x HTTP/1.1\r\nHost:a\r\nAccept:*/*\r\n\r\n");
    EXPECT_EQ(sink.writes, 1);
    EXPECT_EQ(w.buffer.length, 0);

    HttpResponseHeader resp;
    resp.version = "HTTP/1.0";
    resp.statusCode = 404;
    resp.reason = "Not Found";
    sink.text.clear();
    ASSERT_TRUE(w.writeResponseHeader(resp));
    EXPECT_EQ(sink.text, "HTTP/1.0 404 Not Found\r\n\r\n");
    EXPECT_EQ(sink.writes, 2);
}

TEST(HttpWriter, ErrorResponsesAreExactlyStatusConnectionCloseAndEmptyLine) {
    CollectingOutputStream sink;
    HttpWriter w(&sink);
    ASSERT_TRUE(w.writeErrorResponse(400, "Bad Request", "HTTP/1.1"));
    EXPECT_EQ(sink.text, "HTTP/1.1 400 Bad Request\r\nConnection:close\r\n\r\n");
    EXPECT_EQ(sink.text.size(), 46u);
    EXPECT_EQ(sink.writes, 1);
}

TEST(HttpWriter, FailedFlushKeepsBytesButTheNextMessageStartsClean) {
    CollectingOutputStream server(0, EPIPE);
    CollectingOutputStream client;
    HttpWriter w(&server);
    HttpRequestHeader req;
    req.target = "/secret";
    setLastError(0);
    EXPECT_FALSE(w.writeRequestHeader(req));
    EXPECT_EQ(lastError(), std::uint32_t(EPIPE));
    EXPECT_GT(w.buffer.length, 0);
    // The request head was meant for the server: the client gets only the
    // proxy's answer.
    w.sink = &client;
    ASSERT_TRUE(w.writeErrorResponse(504, "Gateway Timeout", "HTTP/1.1"));
    EXPECT_EQ(client.text, "HTTP/1.1 504 Gateway Timeout\r\nConnection:close\r\n\r\n");
}
