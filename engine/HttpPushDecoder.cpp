#include "engine/HttpPushDecoder.h"

#include "engine/Text.h"

#include <brotli/decode.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <cstring>
#include <limits>

namespace {

constexpr std::int32_t kWindowSize = 65536;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A chunk-size line read as a signed hexadecimal number: optional white space,
// sign and "0x", digits up to the first other byte (a chunk extension's ";" or
// the CR). No digits reads as 0; a value beyond the 32-bit range saturates.
std::int64_t parseChunkSize(const char* p, const char* end) {
    while (p < end && isSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
        negative = *p++ == '-';
    if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexDigitValue(p[2]) >= 0)
        p += 2;
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    for (; p < end && hexDigitValue(*p) >= 0; ++p)
        value = std::min(limit + 1, value * 16 + hexDigitValue(*p));
    value = std::min(value, limit);
    return negative ? -value : value;
}

bool fail(std::uint32_t code) {
    setLastError(code);
    return false;
}

// Finds CR LF in bytes [from, end) of `data`; -1 when absent.
std::int32_t findLineEnd(const char* data, std::int32_t from, std::int32_t end) {
    for (std::int32_t i = from; i + 1 < end; ++i)
        if (data[i] == '\r' && data[i + 1] == '\n')
            return i;
    return -1;
}

} // namespace

bool HttpPushDecoder::flush() {
    return downstream->flush();
}

bool HttpPushDecoder::setParameters(const std::string&) {
    return false;
}

// ---------------------------------------------------------------------------

ChunkedPushDecoder::ChunkedPushDecoder(OutputStream* downstream)
    : HttpPushDecoder(downstream), pending(4096, 4096) {}

bool ChunkedPushDecoder::write(const void* data, std::int32_t count) {
    if (phase == Phase::Done || count <= 0)
        return true;
    if (!pending.append(static_cast<const char*>(data), count))
        return false;
    // Consumed bytes are dropped once per write, not per chunk: a body of
    // many small chunks would otherwise move the rest of the buffer each time.
    std::int32_t head = 0;
    bool ok = true;
    for (;;) {
        if (phase == Phase::Trailer) {
            // Trailer fields after the last chunk, up to the empty line; they
            // describe the message, not the body, so they are dropped.
            const std::int32_t lineEnd =
                findLineEnd(pending.data, head + scanPosition, pending.length);
            if (lineEnd < 0) {
                scanPosition = std::max(0, pending.length - head - 1);
                if (scanPosition > kMaxSizeLine)
                    ok = fail(kErrorBadChunk);
                break;
            }
            if (lineEnd == head) {
                phase = Phase::Done;
                head = pending.length;
                break;
            }
            if (!std::memchr(pending.data + head, ':', std::size_t(lineEnd - head))) {
                ok = fail(kErrorBadChunk);
                break;
            }
            head = lineEnd + 2;
            scanPosition = 0;
            continue;
        }
        if (chunkSize == -1) {
            const std::int32_t lineEnd =
                findLineEnd(pending.data, head + scanPosition, pending.length);
            if (lineEnd < 0) {
                // Resume where this search got to; the last byte may be the CR.
                scanPosition = std::max(0, pending.length - head - 1);
                if (scanPosition > kMaxSizeLine)
                    ok = fail(kErrorBadChunk);
                break;
            }
            const std::int64_t size = parseChunkSize(pending.data + head, pending.data + lineEnd);
            if (size < 0) {
                // A negative size could never complete and would hold every
                // later byte.
                ok = fail(kErrorBadChunk);
                break;
            }
            head = lineEnd + 2;
            scanPosition = 0;
            delivered = 0;
            if (size == 0) {
                phase = Phase::Trailer;
                continue;
            }
            chunkSize = static_cast<std::int32_t>(size);
        }
        const std::int32_t piece = std::min(pending.length - head, chunkSize - delivered);
        if (piece > 0) {
            if (!downstream->write(pending.data + head, piece)) {
                ok = false;
                break;
            }
            delivered += piece;
            head += piece;
        }
        if (delivered != chunkSize || pending.length - head < 2)
            break;
        if (pending.data[head] != '\r' || pending.data[head + 1] != '\n') {
            ok = fail(kErrorBadChunk);
            break;
        }
        head += 2;
        chunkSize = -1;
    }
    pending.consume(head);
    return ok;
}

// ---------------------------------------------------------------------------

ZlibPushDecoder::ZlibPushDecoder(OutputStream* downstream)
    : HttpPushDecoder(downstream), window(kWindowSize, 4096) {
    // 15 + 32: a 32 KiB window and automatic recognition of a zlib or gzip
    // wrapper.
    initResult = inflateInit2(&inflateState, 47);
}

ZlibPushDecoder::~ZlibPushDecoder() {
    if (initResult == Z_OK)
        inflateEnd(&inflateState);
}

bool ZlibPushDecoder::write(const void* data, std::int32_t count) {
    if (count <= 0 || ended)
        return true;
    if (initResult != Z_OK)
        return fail(initResult == Z_MEM_ERROR ? kErrorOutOfMemory : kErrorInvalidData);
    inflateState.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    inflateState.avail_in = static_cast<uInt>(count);
    for (;;) {
        inflateState.next_out = window.data;
        inflateState.avail_out = static_cast<uInt>(window.capacity);
        const int result = inflate(&inflateState, Z_SYNC_FLUSH);
        const auto produced = static_cast<std::int32_t>(window.capacity - inflateState.avail_out);
        if (produced > 0 && !downstream->write(window.data, produced))
            return false;
        if (result == Z_STREAM_END) {
            // Whatever follows the compressed stream is ignored, now and later.
            ended = true;
            return true;
        }
        if (result == Z_OK) {
            if (inflateState.avail_in > 0 || inflateState.avail_out == 0)
                continue;
            return true;
        }
        if (result == Z_BUF_ERROR && inflateState.avail_in == 0)
            return true;
        return fail(result == Z_MEM_ERROR ? kErrorOutOfMemory : kErrorInvalidData);
    }
}

// ---------------------------------------------------------------------------

BrotliPushDecoder::BrotliPushDecoder(OutputStream* downstream)
    : HttpPushDecoder(downstream), state(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)),
      window(kWindowSize, 4096) {}

BrotliPushDecoder::~BrotliPushDecoder() {
    if (state)
        BrotliDecoderDestroyInstance(state);
}

bool BrotliPushDecoder::write(const void* data, std::int32_t count) {
    if (count <= 0 || ended)
        return true;
    if (!state)
        return fail(kErrorOutOfMemory);
    std::size_t availableIn = std::size_t(count);
    auto nextIn = static_cast<const std::uint8_t*>(data);
    for (;;) {
        std::size_t availableOut = std::size_t(window.capacity);
        std::uint8_t* nextOut = window.data;
        const BrotliDecoderResult result = BrotliDecoderDecompressStream(
            state, &availableIn, &nextIn, &availableOut, &nextOut, nullptr);
        const auto produced = static_cast<std::int32_t>(window.capacity - availableOut);
        if (produced > 0 && !downstream->write(window.data, produced))
            return false;
        switch (result) {
        case BROTLI_DECODER_RESULT_SUCCESS:
            ended = true;
            return true;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
            return true;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
            continue;
        default: {
            const int code = BrotliDecoderGetErrorCode(state);
            const bool memory = code <= BROTLI_DECODER_ERROR_ALLOC_CONTEXT_MODES &&
                                code >= BROTLI_DECODER_ERROR_ALLOC_BLOCK_TYPE_TREES;
            return fail(memory ? kErrorOutOfMemory : kErrorInvalidData);
        }
        }
    }
}

// ---------------------------------------------------------------------------

ZstdPushDecoder::ZstdPushDecoder(OutputStream* downstream)
    : HttpPushDecoder(downstream), context(ZSTD_createDCtx()), window(kWindowSize, 4096) {
    if (context)
        ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kMaxWindowLog);
}

ZstdPushDecoder::~ZstdPushDecoder() {
    ZSTD_freeDCtx(context);
}

bool ZstdPushDecoder::write(const void* data, std::int32_t count) {
    if (count <= 0)
        return true;
    if (!context)
        return fail(kErrorOutOfMemory);
    ZSTD_inBuffer in{data, std::size_t(count), 0};
    for (;;) {
        ZSTD_outBuffer out{window.data, std::size_t(window.capacity), 0};
        const std::size_t result = ZSTD_decompressStream(context, &out, &in);
        if (ZSTD_isError(result))
            return fail(ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation
                            ? kErrorOutOfMemory
                            : kErrorInvalidData);
        frameEnded = result == 0;
        if (out.pos > 0 && !downstream->write(window.data, static_cast<std::int32_t>(out.pos)))
            return false;
        if (in.pos < in.size || out.pos == out.size)
            continue;
        return true;
    }
}

// ---------------------------------------------------------------------------

bool CompressPushDecoder::write(const void*, std::int32_t) {
    return false;
}

std::unique_ptr<HttpPushDecoder> createPushDecoder(std::string_view name,
                                                   OutputStream* downstream) {
    if (equalsIgnoringCase(name, "gzip") || equalsIgnoringCase(name, "x-gzip") ||
        equalsIgnoringCase(name, "deflate"))
        return std::make_unique<ZlibPushDecoder>(downstream);
    if (equalsIgnoringCase(name, "chunked"))
        return std::make_unique<ChunkedPushDecoder>(downstream);
    if (equalsIgnoringCase(name, "br"))
        return std::make_unique<BrotliPushDecoder>(downstream);
    if (equalsIgnoringCase(name, "zstd"))
        return std::make_unique<ZstdPushDecoder>(downstream);
    if (equalsIgnoringCase(name, "compress"))
        return std::make_unique<CompressPushDecoder>(downstream);
    setLastError(kErrorCodingUnsupported);
    return nullptr;
}
