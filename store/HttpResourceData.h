// An input stream over one region of a resource's cache image: the raw
// request body or the raw response body.
#pragma once

#include "engine/Stream.h"

#include <cstdint>
#include <memory>

class CacheFolder;
class HttpResource;
class MemoryImage;

// Reading needs no lock: a memory region is a private snapshot, and a file
// region is read through a handle of its own, sharing the file with a capture
// still appending to it.
class HttpResourceData : public InputStream {
public:
    // A copy of `length` bytes at `offset` of an in-memory image (clamped to
    // the image); later captured bytes do not change it.
    static std::unique_ptr<HttpResourceData> fromMemory(const MemoryImage& image,
                                                        std::uint32_t offset, std::uint32_t length);
    // The region of the cache file of `id`; null (lastError()) when the file
    // cannot be opened or positioned.
    static std::unique_ptr<HttpResourceData>
    fromCacheFile(CacheFolder& folder, std::uint32_t id, std::int64_t offset, std::int64_t length);
    // The request or response body of `resource` as it is now (a capture in
    // progress goes on without it), from any thread and without the capture
    // lock. Null (lastError()) when the image cannot be reached.
    static std::unique_ptr<HttpResourceData> requestBody(HttpResource& resource);
    static std::unique_ptr<HttpResourceData> responseBody(HttpResource& resource);
    // The region [base, base + length) of `source`, which is positioned at
    // base already.
    static std::unique_ptr<HttpResourceData> over(std::unique_ptr<Stream> source, std::int64_t base,
                                                  std::int64_t length);

    // The whole region, from its start, into `sink`; with `dechunk` its
    // chunked framing is undone (a framing that does not end properly fails
    // with kErrorBadChunk). The sink is not flushed.
    bool copyTo(OutputStream& sink, bool dechunk);

    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int64_t skip(std::int64_t count) override;
    std::int64_t available() override;
    bool seek(std::int64_t position) override;
    std::int64_t size() override;
    std::int64_t position() override;

    std::unique_ptr<Stream> source;
    std::int64_t position_ = 0; // within the region
    std::int64_t base = 0;      // of the region in source
    std::int64_t length = 0;

private:
    HttpResourceData() = default;
};
