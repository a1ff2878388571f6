// Push decoders: output streams that undo one transfer or content coding and
// write the result on into the next stream of a chain.
#pragma once

#include "engine/Buffer.h"
#include "engine/Stream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <zlib.h>

struct BrotliDecoderStateStruct;
struct ZSTD_DCtx_s;

// Nothing pulls: bytes written in are decoded and written into `downstream` as
// soon as possible. A decoder never owns its downstream; whoever builds a
// chain deletes every decoder of it. After a failed write a decoder is not
// used again.
class HttpPushDecoder : public OutputStream {
public:
    explicit HttpPushDecoder(OutputStream* downstream) : downstream(downstream) {}
    HttpPushDecoder(const HttpPushDecoder&) = delete;
    HttpPushDecoder& operator=(const HttpPushDecoder&) = delete;

    bool flush() override;
    // Receives the text after ";" of the coding name. No coding we know takes
    // parameters, so every decoder ignores it and returns false.
    virtual bool setParameters(const std::string& parameters);
    // After the last byte was written: whether the coded data came to its
    // proper end. A body cut short inside the coding decodes without any
    // error on the way, so callers ask before calling the result whole.
    virtual bool complete() const { return true; }

    OutputStream* downstream;
};

// Chunked transfer coding.
class ChunkedPushDecoder : public HttpPushDecoder {
public:
    explicit ChunkedPushDecoder(OutputStream* downstream);

    bool write(const void* data, std::int32_t count) override;
    bool complete() const override { return phase == Phase::Done; }

    // A size line (with its extensions) longer than this is not chunk framing.
    static constexpr std::int32_t kMaxSizeLine = 16384;

private:
    bool readSizeLine();
    bool readTrailer();

    std::int32_t chunkSize = -1; // -1 while the next chunk-size line is awaited
    std::int32_t delivered = 0;  // bytes of the current chunk written downstream
    Buffer<char> pending;        // received and not yet consumed
    std::int32_t scanPosition = 0;
    // After the last chunk: trailer fields up to the empty line, then nothing.
    enum class Phase { Chunks, Trailer, Done } phase = Phase::Chunks;
};

// gzip, x-gzip and deflate (zlib-wrapped) content codings.
class ZlibPushDecoder : public HttpPushDecoder {
public:
    explicit ZlibPushDecoder(OutputStream* downstream);
    ~ZlibPushDecoder() override;

    bool write(const void* data, std::int32_t count) override;
    bool complete() const override { return ended; }

private:
    z_stream inflateState{};
    int initResult;
    bool ended = false;
    Buffer<unsigned char> window;
};

// br content coding.
class BrotliPushDecoder : public HttpPushDecoder {
public:
    explicit BrotliPushDecoder(OutputStream* downstream);
    ~BrotliPushDecoder() override;

    bool write(const void* data, std::int32_t count) override;

    bool complete() const override { return ended; }

private:
    BrotliDecoderStateStruct* state;
    bool ended = false;
    Buffer<unsigned char> window;
};

// zstd content coding.
class ZstdPushDecoder : public HttpPushDecoder {
public:
    explicit ZstdPushDecoder(OutputStream* downstream);
    ~ZstdPushDecoder() override;

    bool write(const void* data, std::int32_t count) override;

    bool complete() const override { return frameEnded; }

    // Largest window accepted (8 MiB), as web clients limit it, so that a
    // hostile frame header cannot make us allocate without bound.
    static constexpr int kMaxWindowLog = 23;

private:
    ZSTD_DCtx_s* context;
    Buffer<unsigned char> window;
    bool frameEnded = false; // the last call finished a frame and flushed it
};

// The "compress" coding is recognised but cannot be decoded.
class CompressPushDecoder : public HttpPushDecoder {
public:
    using HttpPushDecoder::HttpPushDecoder;

    bool write(const void* data, std::int32_t count) override;
};

// The decoder for a coding name (without parameters, compared ignoring ASCII
// case), writing into `downstream`; null with kErrorCodingUnsupported for a
// name we do not know, the empty name included.
std::unique_ptr<HttpPushDecoder> createPushDecoder(std::string_view codingName,
                                                   OutputStream* downstream);
