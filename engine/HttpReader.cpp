#include "engine/HttpReader.h"

#include "engine/Platform.h"
#include "engine/Text.h"

#include <algorithm>
#include <cstring>
#include <limits>

HttpReader::HttpReader(InputStream* source, std::int32_t capacity, std::int32_t increment)
    : source(source), buffer(capacity, increment) {}

void HttpReader::compact() {
    // A user may have emptied the buffer (length 0) behind our back.
    if (start_ >= buffer.length) {
        buffer.length = 0;
    } else if (start_ > 0) {
        std::memmove(buffer.data, buffer.data + start_, std::size_t(buffer.length - start_));
        buffer.length -= start_;
    }
    start_ = 0;
}

bool HttpReader::fill() {
    if (!source) {
        setLastError(EINVAL);
        return false;
    }
    compact();
    if (!buffer.makeRoom(buffer.length, kReadSize))
        return false;
    const std::int32_t n = source->read(buffer.data + buffer.length, kReadSize);
    if (n == 0) {
        setLastError(kErrorDataIncomplete);
        return false;
    }
    if (n < 0)
        return false;
    if (arrival == std::chrono::steady_clock::time_point{})
        arrival = std::chrono::steady_clock::now();
    buffer.length += n;
    return true;
}

std::int32_t HttpReader::find(std::string_view delimiter, std::string_view malformed) {
    const auto n = static_cast<std::int32_t>(delimiter.size());
    if (n == 0)
        return 0;
    std::int32_t searchStart = 0;
    for (;;) {
        const std::string_view bytes(begin(), std::size_t(buffered()));
        const std::size_t at = bytes.find(delimiter, std::size_t(searchStart));
        // Bytes that can never lead to the delimiter fail at once instead of
        // waiting for more that will not come.
        if (!malformed.empty()) {
            const std::size_t bad = bytes.find(malformed, std::size_t(searchStart));
            if (bad != std::string_view::npos && bad < at) {
                setLastError(kErrorInvalidData);
                return -1;
            }
        }
        if (at != std::string_view::npos) {
            const auto end = static_cast<std::int32_t>(at) + n;
            if (end > kMaxHeadLength) {
                setLastError(kErrorHeadTooLong);
                return -1;
            }
            return end;
        }
        // Every offset whose match would end within the limit has been
        // searched.
        if (buffered() >= kMaxHeadLength) {
            setLastError(kErrorHeadTooLong);
            return -1;
        }
        if (buffered() >= n)
            searchStart = buffered() - n + 1;
        if (!fill())
            return -1;
    }
}

std::int32_t HttpReader::findDelimiter(std::string_view delimiter) {
    const std::int32_t end = find(delimiter);
    compact();
    return end;
}

std::int32_t HttpReader::findHeadEnd() {
    // A line ended by a bare LF gets no CR LF CR LF after it: such a head
    // is refused rather than left waiting for the peer's timeout.
    const std::int32_t end = find("\r\n\r\n", "\n\n");
    compact();
    return end;
}

bool HttpReader::readRequestHeader(HttpRequestHeader& header) {
    const std::int32_t end = findHeadEnd();
    if (end < 0)
        return false;
    if (!parseRequestHeader(begin(), end - 2, header)) {
        setLastError(kErrorInvalidData);
        return false;
    }
    buffer.consume(end);
    return true;
}

bool HttpReader::readResponseHeader(HttpResponseHeader& header) {
    const std::int32_t end = findHeadEnd();
    if (end < 0)
        return false;
    if (!parseResponseHeader(begin(), end - 2, header)) {
        setLastError(kErrorInvalidData);
        return false;
    }
    buffer.consume(end);
    return true;
}

bool HttpReader::move(OutputStream& sink, std::int64_t count) {
    std::int64_t copied = 0;
    while (copied < count) {
        if (buffered() <= 0 && !fill())
            return false;
        const auto piece =
            static_cast<std::int32_t>(std::min<std::int64_t>(buffered(), count - copied));
        if (!sink.write(begin(), piece))
            return false;
        consume(piece);
        copied += piece;
    }
    return sink.flush();
}

bool HttpReader::copyBody(OutputStream& sink, std::int64_t count) {
    const bool ok = move(sink, count);
    compact();
    return ok;
}

bool HttpReader::chunks(OutputStream& sink) {
    for (;;) {
        const std::int32_t lineEnd = find("\r\n");
        if (lineEnd < 0)
            return false;
        // The size is read from the size line only: white space must not
        // carry the conversion into the next line.
        std::int64_t size = 0;
        parseInteger(std::string_view(begin(), std::size_t(lineEnd - 2)), 16,
                     std::numeric_limits<std::int64_t>::min(),
                     std::numeric_limits<std::int64_t>::max(), size);
        if (size <= 0)
            break;
        // A size whose chunk cannot even be counted is not a body to relay.
        if (size > std::numeric_limits<std::int64_t>::max() - lineEnd - 2) {
            setLastError(kErrorBadChunk);
            return false;
        }
        if (!move(sink, lineEnd + size + 2))
            return false;
    }
    // The last chunk (or a size line that is no positive number): move it with
    // the trailer fields and the empty line that ends the body.
    const std::int32_t end = find("\r\n\r\n");
    if (end < 0)
        return false;
    return move(sink, end);
}

bool HttpReader::copyChunkedBody(OutputStream& sink) {
    const bool ok = chunks(sink);
    compact();
    return ok;
}

HttpWriter::HttpWriter(OutputStream* sink, std::int32_t capacity, std::int32_t increment)
    : sink(sink), buffer(capacity, increment) {}

namespace {

// Each message starts afresh: what a failed flush left behind was meant for
// another peer (a request head must never reach the client ahead of the
// proxy's error answer).
template <typename Append> bool writeMessage(HttpWriter& writer, Append&& append) {
    writer.buffer.length = 0;
    if (!append(writer.buffer)) {
        writer.buffer.length = 0;
        return false;
    }
    return writer.flush();
}

bool appendBytes(Buffer<char>& b, std::string_view text) {
    if (text.size() > std::size_t(Buffer<char>::kMaxLength)) {
        setLastError(kErrorOutOfMemory);
        return false;
    }
    return b.append(text.data(), static_cast<std::int32_t>(text.size()));
}

} // namespace

bool HttpWriter::writeRequestHeader(const HttpRequestHeader& header) {
    return writeMessage(*this, [&](Buffer<char>& b) { return appendRequestHeader(b, header); });
}

bool HttpWriter::writeResponseHeader(const HttpResponseHeader& header) {
    return writeMessage(*this, [&](Buffer<char>& b) { return appendResponseHeader(b, header); });
}

bool HttpWriter::writeErrorResponse(int statusCode, std::string_view reason,
                                    std::string_view version) {
    return writeMessage(*this, [&](Buffer<char>& b) {
        return appendBytes(b, version) && appendBytes(b, " ") &&
               appendBytes(b, formatInt(statusCode)) && appendBytes(b, " ") &&
               appendBytes(b, reason) && appendBytes(b, "\r\nConnection:close\r\n\r\n");
    });
}

bool HttpWriter::flush() {
    if (!sink) {
        setLastError(EINVAL);
        return false;
    }
    if (!sink->write(buffer.data, buffer.length))
        return false;
    buffer.length = 0;
    return true;
}
