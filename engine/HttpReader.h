// Moves HTTP heads and bodies between streams: the reader finds and parses
// heads and copies bodies verbatim (chunk framing included); the writer sends
// a serialised head in one write.
#pragma once

#include "engine/Buffer.h"
#include "engine/HttpMessageHeader.h"
#include "engine/Stream.h"

#include <chrono>
#include <cstdint>
#include <string_view>

class HttpReader {
public:
    explicit HttpReader(InputStream* source = nullptr, std::int32_t capacity = 65536,
                        std::int32_t increment = 4096);

    // Offset just past the first occurrence of `delimiter` in the buffered
    // bytes, reading from the source as needed; -1 on failure (end of source:
    // kErrorDataIncomplete; not within kMaxHeadLength: kErrorHeadTooLong).
    std::int32_t findDelimiter(std::string_view delimiter);
    // Read and parse one head, consuming it; bytes after it stay buffered. A
    // head that does not parse is left in the buffer (kErrorInvalidData).
    bool readRequestHeader(HttpRequestHeader& header);
    bool readResponseHeader(HttpResponseHeader& header);
    // Moves exactly `count` bytes (none when count <= 0), then flushes sink.
    bool copyBody(OutputStream& sink, std::int64_t count);
    // Moves one chunked body, framing and trailer included, chunk by chunk.
    bool copyChunkedBody(OutputStream& sink);

    // Where bytes come from; whoever points it at another stream also
    // empties the buffer (buffer.length = 0).
    InputStream* source;
    // Bytes read and not yet consumed, from the front; `length` is the count.
    Buffer<char> buffer;
    // When bytes first came from the source after it was last cleared (the
    // relay's first response byte); cleared by whoever wants the next one.
    std::chrono::steady_clock::time_point arrival{};

    // A head, a chunk-size line or a trailer section longer than this fails
    // instead of buffering a peer's bytes without limit.
    static constexpr std::int32_t kMaxHeadLength = 1 << 20;
    static constexpr std::int32_t kReadSize = 65536;

private:
    // Within one operation consumed bytes are only counted, so that a body of
    // many small chunks is not moved to the front after every chunk; every
    // public operation ends with the unconsumed bytes at the front again.
    std::int32_t buffered() const { return buffer.length - start_; }
    const char* begin() const { return buffer.data + start_; }
    void consume(std::int32_t count) { start_ += count; }
    void compact();
    bool fill();
    // Fails with kErrorInvalidData when `malformed` comes first.
    std::int32_t find(std::string_view delimiter, std::string_view malformed = {});
    std::int32_t findHeadEnd();
    bool move(OutputStream& sink, std::int64_t count);
    bool chunks(OutputStream& sink);

    std::int32_t start_ = 0;
};

class HttpWriter {
public:
    explicit HttpWriter(OutputStream* sink = nullptr, std::int32_t capacity = 65536,
                        std::int32_t increment = 4096);

    bool writeRequestHeader(const HttpRequestHeader& header);
    bool writeResponseHeader(const HttpResponseHeader& header);
    // The proxy's own short answer: status line, "Connection:close", empty
    // line; no length and no body.
    bool writeErrorResponse(int statusCode, std::string_view reason, std::string_view version);
    // One write of everything buffered; the buffer empties on success and
    // keeps the bytes on failure.
    bool flush();

    OutputStream* sink; // set before each write
    Buffer<char> buffer;
};
