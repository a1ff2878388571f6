// One captured HTTP exchange and its cache image.
#pragma once

#include "engine/ExchangeTimings.h"
#include "engine/HttpFilter.h"
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "engine/Stream.h"
#include "engine/Url.h"
#include "store/SharedValue.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class CacheFolder;
class FileStream;
struct CaptureRun;
class HttpReader;
class MemoryImage;
class WebSocketRecorder;

// A capture cut off before it finished (the process ended, or it was loaded
// from a cache file whose record was never completed).
constexpr std::uint32_t kErrorCaptureInterrupted = customError(463);

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
// they travelled. While the exchange runs the image is held in memory up to
// kMemoryLimit bytes and in the resource's cache file beyond; when it ends an
// image still in memory is appended whole to the capture log of the run
// (CaptureRuns), with one write, so that a crash loses no finished capture,
// and the resource keeps only its facts in memory and where its image is.
//
// A cache file being written carries a provisional record: the offsets known
// so far, result kErrorCaptureInterrupted and no received size. Should the
// process end before the record is final, the next load finds that record and
// lists the capture as interrupted, with the bytes that arrived.
//
// A tunnel (a CONNECT answered 2xx, or an upgrade answered 101) stores both
// heads and no body; what it carried is counted in `tunnel`, kept in the
// tunnel record right after the response head. Readers that do not know the
// record never look past the (empty) body.
//
// Extension records follow (ExtensionRecords.h): the exchange's timings, and
// for a WebSocket its totals and the frames kept. A tunnel's records are laid
// down with its response head and completed in place when it ends, so that
// the frames can be appended while it runs; any other exchange's follow its
// body when it ends.
//
// Threads: until the document lists it, only its capturing connection thread
// touches a resource. Its facts are then fixed; `receivedSize`, `result` and
// `flags` change while others read them; the list and `currentResource`
// belong to the capture lock. The reading operations (the heads, the body
// copy, HttpResourceData) may run on any thread without the capture lock:
// each reads a private copy of an in-memory image or the cache file through a
// descriptor of its own, and waits for a capturing thread at most for the
// copy of a few kilobytes, never for a file operation. A listed resource is
// destroyed only on the user-interface thread.
class HttpResource {
public:
    enum Flag : std::uint32_t {
        Loading = 0x1,  // capture in progress, cache record header not final
        Detached = 0x2, // removed from the document while loading; the capturing thread frees it
        // The exchange is over. Set under the capture lock together with the
        // end of Loading, so that whoever clears the document knows whether
        // the capturing thread will still come back for the resource.
        Ended = 0x4,
        // Nothing of the image could be stored: only the facts remain, and
        // `result` says why.
        Unstored = 0x8,
        // Its heads may be in the cache of recently read heads.
        HeadsCached = 0x10,
        // The request asked to upgrade to WebSocket.
        WebSocket = 0x20,
    };

    // `folder` names, opens and deletes the cache file; it outlives the
    // resource.
    explicit HttpResource(CacheFolder* folder);
    virtual ~HttpResource();
    HttpResource(const HttpResource&) = delete;
    HttpResource& operator=(const HttpResource&) = delete;

    // Capture, in this order; each false with the reason in lastError(). The
    // first failure to store (a full disk, an I/O error, no descriptor left)
    // stays in storeError, and nothing more is stored after it: the image
    // never has a hole. writeResponseHeader derives the response's facts even
    // then.
    bool begin(std::uint32_t sequenceNumber);
    bool writeRequestHeader(const HttpRequestHeader& header);
    bool writeData(const void* data, std::uint32_t length);
    bool writeResponseHeader(const HttpResponseHeader& header);
    // finishImage, then markEnded under the capture lock.
    bool finish();
    // Writes the final record (the caller set `result` first) and puts the
    // whole image in the cache file. After a storage failure `result` becomes
    // that failure: a capture whose heads were stored keeps the bytes stored
    // before it, any other keeps nothing (Unstored). False when the image
    // could not be stored whole. File work only, no lock: call it on the
    // capturing thread before markEnded.
    bool finishImage();
    // Notes the time the exchange ended, once; finishImage does it too.
    void stampEnd();
    // When the exchange ended, in microseconds since 1970; 0 when not known.
    std::int64_t endTime() const;
    // Where the extension records start in the image.
    std::int64_t extensionOffset() const;
    // The exchange is over (Ended; Loading cleared). Under the capture lock.
    void markEnded();

    // Fills the resource from a cache file, which it only reads. A record
    // that was never finished is completed from the file itself: an
    // interrupted capture, with the bytes that arrived (without a status when
    // no response head had arrived). Fails (lastError()) when the file holds
    // no complete request head or its record does not describe it.
    bool load(const std::string& path);
    // Fills the resource from the image at `offset` of `run`'s log, whose
    // bytes are `image`.
    bool loadLogged(const CaptureRun* run, std::int64_t offset, const char* image,
                    std::uint32_t length);
    // Writes an image still in memory to the capture log (keeping it in
    // memory); true at once for an image already stored.
    bool saveToCacheFile();
    // Deletes what this resource stored in a file of its own; an image in a
    // log goes with its run.
    void deleteStored();
    // The path of the file that holds the image (a cache file, or the log of
    // its run).
    std::string storedPath() const;
    // When the stored image was last written, in microseconds since 1970; 0
    // when unknown.
    std::int64_t storedTime() const;

    // Parse the stored heads again; a capture in progress keeps appending at
    // the end afterwards.
    bool readRequestHeader(HttpRequestHeader& out);
    bool readResponseHeader(HttpResponseHeader& out);

    // The response body into `out`, raw or with its codings undone, flushing
    // `out` once at the end. Refused while loading (kErrorResourceNotReady),
    // and without a body (kErrorNoResponseData). A body framed neither by a
    // length nor by chunks is the `receivedSize` bytes stored.
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

    // A readable copy of the image as it is now: a private memory copy while
    // the image is in memory, else the cache file opened for reading. Null
    // (lastError()) when it cannot be reached or nothing was stored.
    std::unique_ptr<Stream> openImage();

    // The in-memory image, or null when the image is on disk (capturing
    // thread, or once the capture is over).
    MemoryImage* memoryImage() const;

    // The capture could not be stored whole (a full disk, a quota, no
    // descriptor left), as opposed to the exchange itself failing. Any
    // thread.
    bool notStored() const;

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
    SharedValue<std::int64_t> receivedSize{0};
    std::int64_t contentLength = -1;
    std::string contentType; // without parameters
    std::int32_t category = kOtherCategory;
    std::int32_t statusCode = 200;
    RequestMethod method = RequestMethod::Other;
    SharedValue<std::uint32_t> result{0}; // 0 completed, else the error that ended the exchange
    SharedValue<std::uint32_t> flags{0};
    void* listItem = nullptr; // the list view's row; cleared when detached
    std::unique_ptr<Stream> stream;
    bool inMemory = true;
    std::uint32_t requestBodyOffset = 0;
    // Where the image is stored: the run whose folder holds its cache file or
    // log (null: the cache folder itself, as older builds wrote), and the
    // image's offset in that log (-1: a cache file of its own). Set before
    // `inMemory` is cleared, and fixed from then on.
    const CaptureRun* run = nullptr;
    std::int64_t logOffset = -1;
    // Set for a tunnel (before it is listed); bytes it carried each way and
    // how it ended, counted by its connection while the list reads them.
    struct TunnelCounts {
        SharedValue<std::int64_t> toServer{0};
        SharedValue<std::int64_t> toClient{0};
        SharedValue<TunnelEnd> end{TunnelEnd::Open};
        // A WebSocket whose frames are kept: the capturing thread's, until it
        // ends.
        std::unique_ptr<WebSocketRecorder> webSocket;
        // Frames stopped being kept (the bound was reached or storing failed).
        SharedValue<bool> webSocketCut{false};
        TunnelCounts();
        ~TunnelCounts();
    };
    std::unique_ptr<TunnelCounts> tunnel;
    std::int64_t responseHeaderOffset = 0;
    std::int64_t responseBodyOffset = 0;
    bool fromDisk = false;
    // The first failure to store, 0 while none; written by the capturing
    // thread, read by the list while the capture goes on.
    SharedValue<std::uint32_t> storeError{0};
    // When the phases of the exchange happened, fixed once it is listed but
    // for its end, which is `duration` (-1 while it runs, or when a cache
    // file from an older build did not say). A capture loaded from such a
    // file has no start either (timings.known() is false).
    ExchangeTimings timings;
    SharedValue<std::int64_t> duration{-1};
    // When the response head was stored in this run, in microseconds since
    // 1970; 0 when none was (or the capture was loaded from its cache file).
    std::int64_t responseTime = 0;
    HttpResource* next = nullptr;
    HttpResource* prev = nullptr;

    CacheFolder* const folder;

private:
    bool deriveRequest(const HttpRequestHeader& header);
    void deriveResponse(const HttpResponseHeader& header);
    template <typename Header> bool readHeader(bool response, Header& out);
    bool storeFailed(std::uint32_t error);
    bool spill();
    bool writeHead(const HttpMessageHeader& header, bool response);
    // The record a file carries while its capture is still being written.
    void encodeProvisionalRecord(unsigned char* bytes) const;
    bool writeProvisionalRecord();
    // The records a tunnel lays down with its response head and completes
    // when it ends.
    std::string tunnelRecords() const;
    bool rewriteAt(std::int64_t offset, const std::string& bytes);
    void readExtensions(InputStream& source, std::int64_t end);
    void dropImage();
    bool loadFrom(InputStream& file);
    bool completeInterrupted(InputStream& file, HttpReader& reader,
                             const HttpRequestHeader& request, std::int64_t recordedHeadOffset);
    bool noResponse();
    // Guards `stream` and `inMemory` between the capturing thread and readers.
    std::mutex& imageLock() const;
};

// `text` as part of a file name: the nine characters file names may not hold
// become "_", and the characters nobody sees or that turn the text shown
// around them (C0 and C1 controls, bidirectional controls) are left out.
std::string exportNameOf(std::string_view text);

// The media major types in `category` order; the display name of a category
// is string 146 + category.
extern const char* const kMediaMajorTypes[HttpResource::kOtherCategory];
