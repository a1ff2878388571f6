// One captured HTTP exchange and its cache image.
#pragma once

#include "engine/HttpFilter.h"
#include "engine/HttpMessageHeader.h"
#include "engine/Stream.h"
#include "engine/Url.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CacheFolder;
class MemoryImage;

// The request method in one byte, as the resource list filters by it: the
// usual ones by name, any other as Other.
enum class RequestMethod : std::uint8_t {
    Other,
    Get,
    Post,
    Head,
    Put,
    Delete,
    Options,
    Patch,
    Connect,
    Trace,
};
// Methods are compared with ASCII letters folded.
RequestMethod requestMethodOf(std::string_view name);

// All bytes of a resource live in one cache image: a 40-byte record header
// (version 1, id, result, request body offset, response header offset,
// response body offset, received size; little-endian), the request head, the
// request body, the response head and the response body, bodies exactly as
// they travelled. The image is held in memory up to kMemoryLimit bytes and in
// the resource's cache file beyond.
//
// A tunnel (a CONNECT answered 2xx, or an upgrade answered 101) stores both
// heads and no body; what it carried is counted in `tunnel`, which finish
// appends after the response head as a tunnel record. Readers that do not
// know the record never look past the (empty) body.
//
// Threads: until the document lists it, only its capturing connection thread
// touches a resource. Afterwards every access, on any thread, holds the
// capture lock.
class HttpResource {
public:
    enum Flag : std::uint32_t {
        Loading = 0x1,  // capture in progress, cache record header not final
        Detached = 0x2, // removed from the document while loading; the capturing thread frees it
        // The exchange is over (finish ran). Loading stays set when finish
        // failed, so the body is never read from a half-written image; this bit
        // tells that nobody will come back to free a detached resource.
        Ended = 0x4,
    };

    // `folder` names, opens and deletes the cache file; it outlives the
    // resource.
    explicit HttpResource(CacheFolder* folder);
    virtual ~HttpResource();
    HttpResource(const HttpResource&) = delete;
    HttpResource& operator=(const HttpResource&) = delete;

    // Capture, in this order; each false with the reason in lastError().
    bool begin(std::uint32_t sequenceNumber);
    bool writeRequestHeader(const HttpRequestHeader& header);
    bool writeData(const void* data, std::uint32_t length);
    bool writeResponseHeader(const HttpResponseHeader& header);
    // Rewrites the record header with the final values (the caller set
    // `result` first) and closes a cache file.
    bool finish();

    // Fills the resource from a cache file written by an earlier run. Fails
    // with kErrorResourceNotReady only when the response head's offset cannot
    // be reached (the document then deletes the file).
    bool load(const std::string& path);
    // Writes an in-memory image to the cache file (keeping it in memory).
    bool saveToCacheFile();

    // Parse the stored heads again; a capture in progress keeps appending at
    // the end afterwards.
    bool readRequestHeader(HttpRequestHeader& out);
    bool readResponseHeader(HttpResponseHeader& out);

    // The response body into `out`, raw or with its codings undone. Refused
    // while loading (kErrorResourceNotReady), and without a body
    // (kErrorNoResponseData). Takes the capture lock only to reach the image.
    bool copyBody(OutputStream& out, bool decode);
    // The response body into a new file at `path`. On failure nothing is
    // left behind and an existing file at `path` is untouched.
    bool exportBody(const std::string& path, bool decode);
    // `name` made safe for a file name, its extension following the media
    // type.
    std::string suggestedFileName() const;
    // folder/suggested name, with "(n)" before the extension until the path is
    // free.
    std::string uniqueExportPath(const std::string& folder) const;

    // The in-memory image, or null when the image is on disk.
    MemoryImage* memoryImage() const;

    static constexpr std::uint32_t kFormatVersion = 1;
    static constexpr std::int32_t kRecordHeaderSize = 40;
    static constexpr std::int64_t kMemoryLimit = 16384;
    static constexpr std::int32_t kOtherCategory = 8;
    static constexpr std::int32_t kTunnelRecordSize = 24;

    std::uint32_t id = 0xFFFFFFFF;
    Url url;
    std::string name;      // last path segment (or host), percent-decoded
    std::string directory; // "http://" host and path up to its last "/", decoded
    Url referrer;
    std::int64_t receivedSize = 0;
    std::int64_t contentLength = -1;
    std::string contentType; // without parameters
    std::int32_t category = kOtherCategory;
    std::int32_t statusCode = 200;
    RequestMethod method = RequestMethod::Other;
    std::uint32_t result = 0; // 0 completed, else the error that ended the exchange
    std::uint32_t flags = 0;
    void* listItem = nullptr; // the list view's row; cleared when detached
    std::unique_ptr<Stream> stream;
    bool inMemory = true;
    std::uint32_t requestBodyOffset = 0;
    // Set for a tunnel; bytes it carried each way and how it ended.
    struct TunnelCounts {
        std::int64_t toServer = 0;
        std::int64_t toClient = 0;
        TunnelEnd end = TunnelEnd::Open;
    };
    std::unique_ptr<TunnelCounts> tunnel;
    std::int64_t responseHeaderOffset = 0;
    std::int64_t responseBodyOffset = 0;
    bool fromDisk = false;
    // Wall-clock times of this run's capture, in microseconds since 1970; 0
    // when unknown (a capture loaded from its cache file): request head
    // stored, response head stored, exchange over.
    std::int64_t requestTime = 0;
    std::int64_t responseTime = 0;
    std::int64_t endTime = 0;
    HttpResource* next = nullptr;
    HttpResource* prev = nullptr;

    CacheFolder* const folder;

private:
    bool deriveRequest(const HttpRequestHeader& header);
    void deriveResponse(const HttpResponseHeader& header);
    template <typename Header> bool readHeader(std::int64_t offset, Header& out);
};

// The media major types in `category` order; the display name of a category
// is string 146 + category.
extern const char* const kMediaMajorTypes[HttpResource::kOtherCategory];
