#include "store/HttpResource.h"

#include "engine/FileStream.h"
#include "engine/HttpPushDecoder.h"
#include "engine/HttpReader.h"
#include "engine/Platform.h"
#include "engine/Text.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/ExtensionRecords.h"
#include "store/JsonWriter.h"
#include "store/MemoryImage.h"
#include "store/WebSocketRecorder.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <list>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

const char* const kMediaMajorTypes[HttpResource::kOtherCategory] = {
    "application", "audio", "image", "message", "model", "multipart", "text", "video",
};

namespace {

constexpr std::int32_t kHeadBuffer = 65536;
// Heads written while capturing are small; the writer grows for a large one.
// A fresh 64 KiB buffer per head written, on every connection thread, costs
// the allocator far more than the head itself.
constexpr std::int32_t kCaptureHeadBuffer = 4096;

// The cache record header, little-endian whatever the host.
struct RecordHeader {
    std::uint32_t version = 0;
    std::uint32_t id = 0;
    std::uint32_t result = 0;
    std::uint32_t requestBodyOffset = 0;
    std::int64_t responseHeaderOffset = 0;
    std::int64_t responseBodyOffset = 0;
    std::int64_t receivedSize = 0;

    void encode(unsigned char* out) const {
        put(out, 0, version, 4);
        put(out, 4, id, 4);
        put(out, 8, result, 4);
        put(out, 12, requestBodyOffset, 4);
        put(out, 16, std::uint64_t(responseHeaderOffset), 8);
        put(out, 24, std::uint64_t(responseBodyOffset), 8);
        put(out, 32, std::uint64_t(receivedSize), 8);
    }
    void decode(const unsigned char* in) {
        version = std::uint32_t(get(in, 0, 4));
        id = std::uint32_t(get(in, 4, 4));
        result = std::uint32_t(get(in, 8, 4));
        requestBodyOffset = std::uint32_t(get(in, 12, 4));
        responseHeaderOffset = std::int64_t(get(in, 16, 8));
        responseBodyOffset = std::int64_t(get(in, 24, 8));
        receivedSize = std::int64_t(get(in, 32, 8));
    }

private:
    static void put(unsigned char* out, int at, std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i)
            out[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
    static std::uint64_t get(const unsigned char* in, int at, int size) {
        std::uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = (value << 8) | in[at + i];
        return value;
    }
};

// The record of `resource` as it stands, with the given outcome.
RecordHeader recordOf(const HttpResource& resource, std::uint32_t result,
                      std::int64_t receivedSize) {
    RecordHeader record;
    record.version = HttpResource::kFormatVersion;
    record.id = resource.id;
    record.result = result;
    record.requestBodyOffset = resource.requestBodyOffset;
    record.responseHeaderOffset = resource.responseHeaderOffset;
    record.responseBodyOffset = resource.responseBodyOffset;
    record.receivedSize = receivedSize;
    return record;
}

std::int64_t wallClockMicros() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// After a tunnel's response head: "TWT1", how it ended (32 bits), the bytes
// to the server and to the client (64 bits each), little-endian.
constexpr char kTunnelMagic[4] = {'T', 'W', 'T', '1'};

void encodeTunnel(const HttpResource::TunnelCounts& counts, unsigned char* out) {
    std::memcpy(out, kTunnelMagic, 4);
    const std::uint64_t values[3] = {std::uint64_t(counts.end.load()),
                                     std::uint64_t(counts.toServer),
                                     std::uint64_t(counts.toClient)};
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<unsigned char>(values[0] >> (8 * i));
    for (int v = 1; v < 3; ++v)
        for (int i = 0; i < 8; ++i)
            out[8 * v + i] = static_cast<unsigned char>(values[v] >> (8 * i));
}

// False when the bytes are no tunnel record (a capture cut short keeps none).
bool decodeTunnel(const unsigned char* in, HttpResource::TunnelCounts& counts) {
    if (std::memcmp(in, kTunnelMagic, 4) != 0)
        return false;
    std::uint64_t values[3] = {0, 0, 0};
    for (int i = 3; i >= 0; --i)
        values[0] = (values[0] << 8) | in[4 + i];
    for (int v = 1; v < 3; ++v)
        for (int i = 7; i >= 0; --i)
            values[v] = (values[v] << 8) | in[8 * v + i];
    if (values[0] > std::uint64_t(TunnelEnd::Stopped) || std::int64_t(values[1]) < 0 ||
        std::int64_t(values[2]) < 0)
        return false;
    counts.end = TunnelEnd(values[0]);
    counts.toServer = std::int64_t(values[1]);
    counts.toClient = std::int64_t(values[2]);
    return true;
}

bool fail(std::uint32_t code) {
    setLastError(code);
    return false;
}

// The authority of a URL without one: the request's scheme ("http" unless
// it named another) and its Host value.
void completeFromHost(Url& url, const std::string& host, const std::string& scheme = "http") {
    if (url.flags & Url::HasAuthority)
        return;
    url.scheme = scheme;
    url.authority = host;
    url.flags |= Url::HasScheme;
    if (!url.authority.empty())
        url.flags |= Url::HasAuthority;
}

// Splits the last path component at its last "." (the dot goes with the
// extension).
void splitExtension(const std::string& path, std::string& stem, std::string& extension) {
    const std::size_t slash = path.rfind('/');
    const std::size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < componentStart) {
        stem = path;
        extension.clear();
    } else {
        stem = path.substr(0, dot);
        extension = path.substr(dot);
    }
}

struct ExtensionRow {
    const char* mediaType;
    const char* extension;
};

constexpr ExtensionRow kExtensions[] = {
    {"application/gzip", ".gzip"},
    {"application/json", ".json"},
    {"application/mp4", ".mp4"},
    {"application/ogg", ".ogg"},
    {"application/pdf", ".pdf"},
    {"application/sql", ".sql"},
    {"application/zip", ".zip"},
    {"application/x-javascript", ".js"},
    {"application/x-shockwave-flash", ".swf"},
    {"image/jpeg", ".jpeg"},
    {"image/jpg", ".jpg"},
    {"image/png", ".png"},
    {"image/gif", ".gif"},
    {"image/tiff", ".tiff"},
    {"text/html", ".html"},
    {"text/css", ".css"},
    {"text/javascript", ".js"},
    {"text/xml", ".xml"},
    {"video/3gp", ".3gp"},
    {"video/mp4", ".mp4"},
    {"video/ogg", ".ogg"},
};

bool pathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Readers and the capturing thread meet on a few locks, shared by resources
// whose numbers fall alike: a reader waits at most for the copy of an
// in-memory image, never for a file operation, and no resource carries a
// mutex of its own.
std::mutex imageLocks[64];

// The heads of the resources read last (the panes ask for them again and
// again as the user moves between rows), bounded in count and size.
class HeadCache {
public:
    bool get(const HttpResource* resource, bool response, std::string& bytes) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->resource == resource && it->response == response) {
                entries_.splice(entries_.begin(), entries_, it);
                bytes = it->bytes;
                return true;
            }
        }
        return false;
    }
    void put(const HttpResource* resource, bool response, std::string bytes) {
        if (bytes.size() > kMaxHead)
            return;
        std::lock_guard lock(mutex_);
        entries_.push_front({resource, response, std::move(bytes)});
        if (entries_.size() > kEntries)
            entries_.pop_back();
    }
    void forget(const HttpResource* resource) {
        std::lock_guard lock(mutex_);
        entries_.remove_if([resource](const Entry& e) { return e.resource == resource; });
    }

private:
    static constexpr std::size_t kEntries = 16;
    static constexpr std::size_t kMaxHead = 64 * 1024;
    struct Entry {
        const HttpResource* resource;
        bool response;
        std::string bytes;
    };
    std::mutex mutex_;
    std::list<Entry> entries_;
};

HeadCache& headCache() {
    static auto* cache = new HeadCache; // resources may outlive static teardown
    return *cache;
}

// Passes bytes on and leaves flushing to the end: a body of many chunks must
// not reach the disk once per chunk.
class UnflushedOutput : public OutputStream {
public:
    explicit UnflushedOutput(OutputStream& sink) : sink_(sink) {}
    bool write(const void* data, std::int32_t count) override { return sink_.write(data, count); }
    bool flush() override { return true; }

private:
    OutputStream& sink_;
};

// The first `limit` bytes of a stream: what lies past a stored body (a write
// cut short by a full disk) is never taken for body bytes.
class LimitedInput : public InputStream {
public:
    LimitedInput(InputStream& source, std::int64_t limit) : source_(source), limit_(limit) {}
    std::int32_t read(void* buffer, std::int32_t count) override {
        const std::int64_t position = source_.position();
        if (position < 0)
            return -1;
        const std::int64_t room = std::max<std::int64_t>(0, limit_ - position);
        if (room == 0)
            return 0;
        return source_.read(buffer, std::int32_t(std::min<std::int64_t>(count, room)));
    }
    bool seek(std::int64_t position) override { return source_.seek(position); }
    std::int64_t position() override { return source_.position(); }

private:
    InputStream& source_;
    std::int64_t limit_;
};

struct NullOutput : OutputStream {
    bool write(const void*, std::int32_t) override { return true; }
};

bool readExactly(InputStream& source, void* buffer, std::int32_t count) {
    auto* bytes = static_cast<char*>(buffer);
    std::int32_t got = 0;
    while (got < count) {
        const std::int32_t n = source.read(bytes + got, count - got);
        if (n < 0)
            return false;
        if (n == 0)
            return fail(kErrorDataIncomplete);
        got += n;
    }
    return true;
}

} // namespace

HttpResource::TunnelCounts::TunnelCounts() = default;
HttpResource::TunnelCounts::~TunnelCounts() = default;

HttpResource::HttpResource(CacheFolder* folder) : folder(folder) {}

HttpResource::~HttpResource() {
    if (flags & HeadsCached)
        headCache().forget(this);
}

std::mutex& HttpResource::imageLock() const {
    return imageLocks[id % std::size(imageLocks)];
}

MemoryImage* HttpResource::memoryImage() const {
    return inMemory ? static_cast<MemoryImage*>(stream.get()) : nullptr;
}

bool HttpResource::notStored() const {
    if (storeError != 0)
        return true;
    // Loaded from its file, the record's result is all there is to go by;
    // the relay never ends an exchange with these.
    if (!fromDisk)
        return false;
    switch (result) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EIO:
    case EROFS:
    case ENFILE:
    case EMFILE:
        return true;
    default:
        return false;
    }
}

bool HttpResource::storeFailed(std::uint32_t error) {
    if (error == 0)
        error = EIO;
    if (!storeError)
        storeError = error;
    return fail(storeError);
}

bool HttpResource::begin(std::uint32_t sequenceNumber) {
    id = sequenceNumber;
    // The relay tells the real start; a filter driven by other code has this.
    timings = ExchangeTimings();
    timings.start = wallClockMicros();
    stream = std::make_unique<MemoryImage>();
    inMemory = true;
    RecordHeader record;
    record.version = kFormatVersion;
    record.id = id;
    unsigned char bytes[kRecordHeaderSize];
    record.encode(bytes);
    if (!stream->write(bytes, kRecordHeaderSize))
        return false;
    flags |= Loading;
    return true;
}

RequestMethod requestMethodOf(std::string_view name) {
    static constexpr std::pair<const char*, RequestMethod> kNames[] = {
        {"GET", RequestMethod::Get},       {"POST", RequestMethod::Post},
        {"HEAD", RequestMethod::Head},     {"PUT", RequestMethod::Put},
        {"DELETE", RequestMethod::Delete}, {"OPTIONS", RequestMethod::Options},
        {"PATCH", RequestMethod::Patch},   {"CONNECT", RequestMethod::Connect},
        {"TRACE", RequestMethod::Trace},
    };
    for (const auto& [text, method] : kNames) {
        if (equalsIgnoreCase(name, text))
            return method;
    }
    return RequestMethod::Other;
}

bool HttpResource::deriveRequest(const HttpRequestHeader& header) {
    tunnel.reset();
    flags &= ~std::uint32_t(WebSocket);
    if (equalsIgnoreCase(header.method, "CONNECT")) {
        // The target is the authority (host:port): there is no path, and no
        // Host field is needed.
        method = RequestMethod::Connect;
        url = Url();
        url.authority = header.target;
        url.flags = Url::HasAuthority;
        name = header.target;
        directory = header.target;
        referrer = Url();
        tunnel = std::make_unique<TunnelCounts>(); // unless the answer refuses it
        return true;
    }
    // An HTTP/1.0 client may leave out Host when its target is absolute.
    url.parse(header.target);
    const HttpHeaderField* hostField = header.get("Host");
    if (!hostField && !(url.flags & Url::HasAuthority))
        return fail(kErrorHostUnknown);
    const std::string host = hostField ? hostField->value : url.authority;
    method = requestMethodOf(header.method);
    completeFromHost(url, host);
    for (const HttpHeaderField& field : header.fields) {
        if (!equalsIgnoreCase(field.name, "Upgrade"))
            continue;
        for (const std::string& token : splitList(field.value, ','))
            if (equalsIgnoreCase(token, "websocket"))
                flags |= WebSocket;
    }

    // Decrypted exchanges carry "https://" in their target, so a capture
    // reloaded later still says how it travelled.
    std::string scheme = url.scheme;
    for (char& c : scheme)
        c = asciiToLower(c);
    directory = scheme + "://" + url.authority;
    const std::size_t slash = url.path.rfind('/');
    if (slash != std::string::npos) {
        directory.append(url.path, 0, slash + 1);
        name = url.path.substr(slash + 1);
    } else {
        directory += url.path;
        name.clear();
    }
    name = percentDecode(name.empty() ? url.authority : name);
    directory = percentDecode(directory);

    referrer = Url();
    if (const HttpHeaderField* referer = header.get("Referer")) {
        referrer.parse(referer->value);
        completeFromHost(referrer, host, url.scheme);
    }
    return true;
}

void HttpResource::deriveResponse(const HttpResponseHeader& header) {
    statusCode = header.statusCode;
    if (statusCode == 101 && !tunnel)
        tunnel = std::make_unique<TunnelCounts>();
    else if (tunnel && statusCode != 101 && (statusCode < 200 || statusCode > 299))
        tunnel.reset();
    if (const HttpHeaderField* length = header.get("Content-Length")) {
        std::int64_t value = 0;
        const std::size_t end = parseInteger(length->value, 10, INT64_MIN, INT64_MAX, value);
        // Anything after the number (or no number before other text) makes
        // the length unknown.
        contentLength = end == length->value.size() ? (end == 0 ? 0 : value) : -1;
    }
    if (const HttpHeaderField* type = header.get("Content-Type")) {
        contentType = type->value;
        if (const std::size_t semicolon = contentType.find(';'); semicolon != std::string::npos)
            contentType = trim(std::string_view(contentType).substr(0, semicolon));
        const std::string_view major =
            std::string_view(contentType).substr(0, contentType.find('/'));
        category = kOtherCategory;
        for (std::int32_t i = 0; i < kOtherCategory; ++i) {
            if (equalsIgnoreCase(major, kMediaMajorTypes[i])) {
                category = i;
                break;
            }
        }
    }
}

// One write of the serialised head at the end of the image.
template <typename Header, typename Append>
static bool appendHead(HttpResource& resource, const Header& header, Append append,
                       std::int64_t& start, std::int64_t& end) {
    Buffer<char> bytes(kCaptureHeadBuffer, 4096);
    if (!append(bytes, header))
        return false;
    MemoryImage* image = resource.memoryImage();
    Stream& target = *resource.stream;
    start = target.position();
    if (start < 0)
        return false;
    bool written;
    if (image) {
        std::lock_guard lock(imageLocks[resource.id % std::size(imageLocks)]);
        written = target.write(bytes.data, bytes.length);
    } else {
        written = target.write(bytes.data, bytes.length);
    }
    end = target.position();
    return written && end >= 0;
}

bool HttpResource::writeRequestHeader(const HttpRequestHeader& header) {
    if (!deriveRequest(header))
        return false;
    if (storeError)
        return fail(storeError);
    std::int64_t start = 0, end = 0;
    if (!appendHead(*this, header, appendRequestHeader, start, end))
        return storeFailed(lastError());
    if (end >= 0xFFFFFFFF)
        return storeFailed(kErrorHeadTooLong);
    requestBodyOffset = static_cast<std::uint32_t>(end);
    return true;
}

bool HttpResource::writeResponseHeader(const HttpResponseHeader& header) {
    responseTime = wallClockMicros();
    deriveResponse(header);
    if (storeError)
        return fail(storeError);
    std::int64_t start = 0, end = 0;
    if (!appendHead(*this, header, appendResponseHeader, start, end))
        return storeFailed(lastError());
    responseHeaderOffset = start;
    responseBodyOffset = end;
    // A file being written learns where its response starts, for a reader
    // after a crash.
    if (!inMemory && !writeProvisionalRecord())
        return storeFailed(lastError());
    // A tunnel's records go first, so that its frames can follow them.
    if (tunnel) {
        const std::string bytes = tunnelRecords();
        return writeData(bytes.data(), std::uint32_t(bytes.size()));
    }
    return true;
}

std::string HttpResource::tunnelRecords() const {
    std::string bytes(kTunnelRecordSize, '\0');
    encodeTunnel(*tunnel, reinterpret_cast<unsigned char*>(bytes.data()));
    ExchangeTimings recorded = timings;
    recorded.end = duration;
    records::appendTimings(bytes, recorded);
    if (flags & WebSocket)
        records::appendWebSocketTotals(bytes, tunnel->webSocket ? tunnel->webSocket->totals()
                                                                : WebSocketTotals());
    return bytes;
}

std::int64_t HttpResource::extensionOffset() const {
    return responseBodyOffset + receivedSize + (tunnel ? kTunnelRecordSize : 0);
}

bool HttpResource::rewriteAt(std::int64_t offset, const std::string& bytes) {
    auto put = [&] {
        const std::int64_t end = stream->position();
        return end >= 0 && stream->seek(offset) &&
               stream->write(bytes.data(), std::int32_t(bytes.size())) && stream->seek(end);
    };
    if (memoryImage()) {
        std::lock_guard lock(imageLock());
        return put();
    }
    return put();
}

void HttpResource::readExtensions(InputStream& source, std::int64_t end) {
    bool haveTimings = false;
    records::walk(source, extensionOffset(), end,
                  [&](std::string_view tag, std::string_view payload) {
                      if (tag == std::string_view(records::kTimings, 4)) {
                          ExchangeTimings read;
                          if (records::decodeTimings(payload, read)) {
                              timings = read;
                              duration = read.end;
                              haveTimings = true;
                          }
                      }
                      // The frames come after what is wanted here.
                      return !haveTimings && tag != std::string_view(records::kWebSocketPiece, 4);
                  });
}

void HttpResource::encodeProvisionalRecord(unsigned char* bytes) const {
    recordOf(*this, kErrorCaptureInterrupted, 0).encode(bytes);
}

bool HttpResource::writeProvisionalRecord() {
    unsigned char bytes[kRecordHeaderSize];
    encodeProvisionalRecord(bytes);
    const std::int64_t end = stream->position();
    return end >= 0 && stream->seek(0) && stream->write(bytes, kRecordHeaderSize) &&
           stream->seek(end);
}

bool HttpResource::spill() {
    MemoryImage* image = memoryImage();
    const CaptureRun* fileRun = nullptr;
    std::unique_ptr<FileStream> file = folder->runs.createFile(id, fileRun);
    if (!file)
        return storeFailed(lastError());
    unsigned char bytes[kRecordHeaderSize];
    encodeProvisionalRecord(bytes);
    if (!file->write(bytes, kRecordHeaderSize) ||
        !file->write(image->data() + kRecordHeaderSize, image->length() - kRecordHeaderSize)) {
        const std::uint32_t error = lastError();
        file.reset();
        folder->runs.deleteFile(fileRun, id);
        return storeFailed(error);
    }
    run = fileRun;
    std::unique_ptr<Stream> old;
    {
        std::lock_guard lock(imageLock());
        old = std::exchange(stream, std::move(file));
        inMemory = false;
    }
    return true;
}

bool HttpResource::writeData(const void* data, std::uint32_t length) {
    if (storeError)
        return fail(storeError);
    if (length == 0)
        return true;
    if (MemoryImage* image = memoryImage()) {
        if (std::int64_t(image->length()) + length <= kMemoryLimit) {
            std::lock_guard lock(imageLock());
            if (image->write(data, static_cast<std::int32_t>(length)))
                return true;
            return storeFailed(lastError());
        }
        if (!spill())
            return false;
    }
    auto bytes = static_cast<const char*>(data);
    while (length > 0) {
        const std::uint32_t piece = std::min<std::uint32_t>(length, INT32_MAX);
        if (!stream->write(bytes, static_cast<std::int32_t>(piece)))
            return storeFailed(lastError());
        bytes += piece;
        length -= piece;
    }
    return true;
}

void HttpResource::dropImage() {
    std::unique_ptr<Stream> old;
    {
        std::lock_guard lock(imageLock());
        old = std::move(stream);
        inMemory = false;
        flags |= Unstored;
    }
    old.reset();
    deleteStored();
}

void HttpResource::stampEnd() {
    if (duration < 0 && timings.known())
        duration = timings.end >= 0 ? timings.end
                                    : std::max<std::int64_t>(0, wallClockMicros() - timings.start);
}

std::int64_t HttpResource::endTime() const {
    const std::int64_t took = duration;
    return timings.known() && took >= 0 ? timings.start + took : 0;
}

bool HttpResource::finishImage() {
    stampEnd();
    if (!stream)
        return storeError == 0;
    // A tunnel's records are completed where they were laid down; any other
    // exchange's follow its body. Once.
    if (responseBodyOffset > 0 && !storeError && !(flags & Ended)) {
        if (tunnel) {
            if (!rewriteAt(responseBodyOffset + receivedSize, tunnelRecords()))
                storeFailed(lastError());
        } else {
            ExchangeTimings recorded = timings;
            recorded.end = duration;
            std::string bytes;
            records::appendTimings(bytes, recorded);
            writeData(bytes.data(), std::uint32_t(bytes.size())); // a failure is storeError
        }
    }
    if (tunnel)
        tunnel->webSocket.reset();
    RecordHeader record = recordOf(*this, 0, receivedSize);
    unsigned char bytes[kRecordHeaderSize];

    if (storeError) {
        result = storeError.load();
        // Heads and the body up to the failure are in the file: they stay,
        // as a failed capture. Anything less is not worth a cache file.
        if (!inMemory && responseBodyOffset > 0) {
            record.result = storeError.load();
            record.encode(bytes);
            if (stream->seek(0))
                stream->write(bytes, kRecordHeaderSize);
            stream.reset();
        } else {
            dropImage();
        }
        return false;
    }

    // The log takes images up to its frame limit; anything larger (records
    // added at the end) gets a file of its own.
    if (MemoryImage* image = memoryImage();
        image && image->length() > std::int64_t(CaptureLog::kMaxImage) && !spill()) {
        result = storeError.load();
        dropImage();
        return false;
    }
    record.result = result;
    record.encode(bytes);
    if (MemoryImage* image = memoryImage()) {
        {
            std::lock_guard lock(imageLock());
            const std::int64_t end = image->position();
            image->seek(0);
            image->write(bytes, kRecordHeaderSize); // within the image: cannot fail
            image->seek(end);
        }
        // The whole image in one write: the log never holds part of one.
        // A capture cleared meanwhile is not written at all.
        const CaptureRun* logRun = nullptr;
        const std::int64_t ended = endTime();
        const std::int64_t offset = folder->runs.append(
            id, image->data(), std::uint32_t(image->length()), ended ? ended : wallClockMicros(),
            [this] { return !(flags & Detached); }, logRun);
        if (offset < 0) {
            storeFailed(lastError());
            result = storeError.load();
            dropImage();
            return false;
        }
        if (offset == 0)
            return true; // cleared: the capturing thread frees it
        std::unique_ptr<Stream> old;
        {
            std::lock_guard lock(imageLock());
            run = logRun;
            logOffset = offset;
            old = std::move(stream);
            inMemory = false;
        }
        return true;
    }
    if (!stream->seek(0) || !stream->write(bytes, kRecordHeaderSize)) {
        // The bytes are all there; the record stays provisional and a later
        // load lists the capture as interrupted.
        storeFailed(lastError());
        result = storeError.load();
        stream.reset();
        return false;
    }
    stream.reset();
    return true;
}

void HttpResource::markEnded() {
    flags |= Ended;
    flags &= ~std::uint32_t(Loading);
}

bool HttpResource::finish() {
    const bool ok = finishImage();
    CaptureLocker lock(captureLock());
    markEnded();
    return ok;
}

bool HttpResource::completeInterrupted(InputStream& file, HttpReader& reader,
                                       const HttpRequestHeader& request,
                                       std::int64_t recordedHeadOffset) {
    result = kErrorCaptureInterrupted;
    // Where the response head starts: recorded when the capture had got that
    // far, else past the request body as its head frames it.
    std::int64_t headOffset = recordedHeadOffset;
    if (headOffset <= 0) {
        const std::int64_t length = request.contentLength();
        NullOutput skip;
        bool framed = true;
        if (length > 0)
            framed = reader.copyBody(skip, length);
        else if (length == -1 && request.isChunked())
            framed = reader.copyChunkedBody(skip);
        const std::int64_t position = file.position();
        if (position < 0)
            return false;
        if (!framed)
            return noResponse(); // cut off in the middle of the request body
        headOffset = position - reader.buffer.length;
    }
    if (headOffset < std::int64_t(requestBodyOffset) || !file.seek(headOffset))
        return fail(kErrorInvalidData);
    reader.buffer.length = 0;
    HttpResponseHeader response;
    if (!reader.readResponseHeader(response)) {
        // A recorded head that is not there is damage, not an interruption.
        if (recordedHeadOffset > 0)
            return fail(kErrorInvalidData);
        return noResponse();
    }
    deriveResponse(response);
    const std::int64_t bodyOffset = file.position() - reader.buffer.length;
    const std::int64_t fileSize = file.size();
    if (bodyOffset < headOffset || fileSize < bodyOffset)
        return fail(kErrorInvalidData);
    responseHeaderOffset = headOffset;
    responseBodyOffset = bodyOffset;
    // A tunnel has no body: what follows its head are its records.
    receivedSize = tunnel ? 0 : fileSize - bodyOffset;
    return true;
}

bool HttpResource::noResponse() {
    // Listed as an exchange that got no answer: the request and as much of
    // its body as arrived, no status.
    statusCode = 0;
    responseHeaderOffset = 0;
    responseBodyOffset = 0;
    receivedSize = 0;
    return true;
}

bool HttpResource::load(const std::string& path) {
    // Only reads: the file may be a writer's, on a read-only file system, or
    // damaged, and is left exactly as it is found.
    FileStream file;
    if (!file.open(path, FileStream::OpenRead | FileStream::OpenPlainFile))
        return false;
    return loadFrom(file);
}

bool HttpResource::loadLogged(const CaptureRun* logRun, std::int64_t offset, const char* image,
                              std::uint32_t length) {
    if (length > std::uint32_t(INT32_MAX))
        return fail(kErrorInvalidData);
    BufferInputStream bytes(image, std::int32_t(length));
    if (!loadFrom(bytes))
        return false;
    run = logRun;
    logOffset = offset;
    return true;
}

bool HttpResource::loadFrom(InputStream& file) {
    unsigned char bytes[kRecordHeaderSize];
    if (!readExactly(file, bytes, kRecordHeaderSize))
        return false;
    RecordHeader record;
    record.decode(bytes);
    if (record.version != kFormatVersion)
        return fail(kErrorInvalidData);
    // A record never finished: written by a capture that did not end (all
    // zeros from older builds, provisional values from ours).
    const bool interrupted =
        record.responseHeaderOffset == 0 ||
        (record.result == kErrorCaptureInterrupted && record.receivedSize == 0);

    HttpReader reader(&file, kHeadBuffer, 4096);
    HttpRequestHeader request;
    if (!reader.readRequestHeader(request) || !deriveRequest(request))
        return false;
    id = record.id;

    if (interrupted) {
        const std::int64_t position = file.position();
        if (position < 0)
            return false;
        const std::int64_t headEnd = position - reader.buffer.length;
        if (headEnd < kRecordHeaderSize || headEnd >= 0xFFFFFFFF)
            return fail(kErrorInvalidData);
        requestBodyOffset = std::uint32_t(headEnd);
        if (!completeInterrupted(file, reader, request, record.responseHeaderOffset))
            return false;
    } else {
        if (!file.seek(record.responseHeaderOffset))
            return fail(kErrorResourceNotReady);
        reader.buffer.length = 0;
        HttpResponseHeader response;
        if (!reader.readResponseHeader(response))
            return false;
        deriveResponse(response);

        // Offsets that do not describe this file would send readers outside it.
        const std::int64_t fileSize = file.size();
        if (record.requestBodyOffset < std::uint32_t(kRecordHeaderSize) ||
            record.responseHeaderOffset < std::int64_t(record.requestBodyOffset) ||
            record.responseBodyOffset < record.responseHeaderOffset || record.receivedSize < 0 ||
            fileSize < 0 || record.responseBodyOffset > fileSize ||
            record.receivedSize > fileSize - record.responseBodyOffset)
            return fail(kErrorInvalidData);
        result = record.result;
        requestBodyOffset = record.requestBodyOffset;
        responseHeaderOffset = record.responseHeaderOffset;
        responseBodyOffset = record.responseBodyOffset;
        receivedSize = record.receivedSize;
    }
    if (tunnel) {
        unsigned char counts[kTunnelRecordSize];
        if (!file.seek(responseBodyOffset + receivedSize) ||
            !readExactly(file, counts, kTunnelRecordSize) || !decodeTunnel(counts, *tunnel))
            tunnel = std::make_unique<TunnelCounts>(); // not known
    }
    // Files from builds before the timings have none: the start is not known.
    timings = ExchangeTimings();
    timings.start = 0;
    duration = -1;
    if (const std::int64_t size = file.size(); size > 0)
        readExtensions(file, size);
    stream.reset();
    inMemory = false;
    fromDisk = true;
    return true;
}

bool HttpResource::saveToCacheFile() {
    if (flags & Unstored)
        return fail(result);
    MemoryImage* image = memoryImage();
    if (!image || logOffset >= 0)
        return true;
    const CaptureRun* logRun = nullptr;
    const std::int64_t stamped = endTime();
    const std::int64_t offset = folder->runs.append(
        id, image->data(), std::uint32_t(image->length()), stamped ? stamped : wallClockMicros(),
        [] { return true; }, logRun);
    if (offset < 0)
        return false;
    std::lock_guard lock(imageLock());
    run = logRun;
    logOffset = offset;
    return true;
}

void HttpResource::deleteStored() {
    if (run) {
        if (logOffset < 0)
            folder->runs.deleteFile(run, id);
    } else if (fromDisk) {
        folder->deleteCacheFile(id);
    }
}

std::string HttpResource::storedPath() const {
    if (!run)
        return folder->fileName(id);
    return logOffset >= 0 ? run->logPath() : run->fileName(id);
}

std::int64_t HttpResource::storedTime() const {
    if (run && logOffset >= 0)
        return CaptureLog::frameTime(run->logPath(), logOffset);
    struct stat st {};
    if (::stat(storedPath().c_str(), &st) != 0)
        return 0;
    return std::int64_t(st.st_mtim.tv_sec) * 1000000 + st.st_mtim.tv_nsec / 1000;
}

std::unique_ptr<Stream> HttpResource::openImage() {
    {
        std::lock_guard lock(imageLock());
        if (flags & Unstored) {
            setLastError(result);
            return nullptr;
        }
        if (const MemoryImage* image = memoryImage()) {
            auto copy = std::make_unique<MemoryStream>();
            if (!copy->write(image->data(), image->length()) || !copy->seek(0))
                return nullptr;
            return copy;
        }
    }
    // Fixed once the image left memory.
    if (logOffset >= 0)
        return CaptureLogImage::open(run->logPath(), logOffset);
    auto file = std::make_unique<FileStream>();
    if (!file->open(storedPath(), FileStream::OpenRead | FileStream::OpenPlainFile))
        return nullptr;
    return file;
}

template <typename Header> bool HttpResource::readHeader(bool response, Header& out) {
    const std::int64_t start = response ? responseHeaderOffset : kRecordHeaderSize;
    const std::int64_t end = response ? responseBodyOffset : std::int64_t(requestBodyOffset);
    if (end <= start || end - start > HttpReader::kMaxHeadLength + 4)
        return fail(kErrorResourceNotReady); // not stored (yet)
    auto parse = [&out](const std::string& bytes) {
        // The block ends with the empty line; the parser wants the lines.
        const auto length = static_cast<std::int32_t>(bytes.size()) - 2;
        bool ok;
        if constexpr (std::is_same_v<Header, HttpRequestHeader>)
            ok = parseRequestHeader(bytes.data(), length, out);
        else
            ok = parseResponseHeader(bytes.data(), length, out);
        return ok || fail(kErrorInvalidData);
    };
    const bool complete = !(flags & Loading);
    std::string bytes;
    if (complete && (flags & HeadsCached) && headCache().get(this, response, bytes))
        return parse(bytes);
    std::unique_ptr<Stream> source = openImage();
    if (!source || !source->seek(start))
        return false;
    bytes.resize(std::size_t(end - start));
    if (!readExactly(*source, bytes.data(), std::int32_t(bytes.size())))
        return false;
    if (bytes.size() < 4 || bytes.compare(bytes.size() - 4, 4, "\r\n\r\n") != 0)
        return fail(kErrorInvalidData);
    if (complete) {
        flags |= HeadsCached;
        headCache().put(this, response, bytes);
    }
    return parse(bytes);
}

bool HttpResource::readRequestHeader(HttpRequestHeader& out) {
    return readHeader(false, out);
}

bool HttpResource::readResponseHeader(HttpResponseHeader& out) {
    if (responseBodyOffset == 0)
        return fail(kErrorResourceNotReady); // not stored yet
    return readHeader(true, out);
}

bool HttpResource::copyBody(OutputStream& out, bool decode) {
    if (flags & Loading)
        return fail(kErrorResourceNotReady);
    if (responseBodyOffset == 0)
        return fail(kErrorNoResponseData); // no response was stored
    std::unique_ptr<Stream> source = openImage();
    if (!source)
        return false;
    const std::int64_t stored = receivedSize;
    LimitedInput body(*source, responseBodyOffset + stored);
    if (!body.seek(responseHeaderOffset))
        return false;
    HttpReader reader(&body, kHeadBuffer, 4096);
    HttpResponseHeader header;
    if (!reader.readResponseHeader(header))
        return false;
    std::int64_t length = header.contentLength();
    const bool chunked = length == -1 && header.isChunked();
    // Framed neither way, the body ended when the origin closed: it is what
    // was stored.
    if (length == -1 && !chunked)
        length = stored;
    if (!(length > 0 || chunked))
        return fail(kErrorNoResponseData);

    // Codings in the order they were applied; each decoder writes into the
    // one built before it, so the stored bytes are undone in reverse order.
    std::vector<std::string> codings;
    if (decode) {
        for (const char* field : {"Content-Encoding", "Transfer-Encoding"})
            if (const HttpHeaderField* f = header.get(field))
                for (std::string& token : splitList(f->value, ','))
                    codings.push_back(std::move(token));
    }
    UnflushedOutput unflushed(out);
    std::vector<std::unique_ptr<HttpPushDecoder>> chain;
    OutputStream* sink = &unflushed;
    for (const std::string& coding : codings) {
        const std::size_t semicolon = coding.find(';');
        const std::string codingName = trim(std::string_view(coding).substr(0, semicolon));
        auto decoder = createPushDecoder(codingName, sink);
        if (!decoder)
            return false;
        decoder->setParameters(semicolon == std::string::npos ? std::string()
                                                              : coding.substr(semicolon + 1));
        sink = decoder.get();
        chain.push_back(std::move(decoder));
    }
    if (!(chunked ? reader.copyChunkedBody(*sink) : reader.copyBody(*sink, length)))
        return false;
    for (const auto& decoder : chain)
        if (!decoder->complete())
            return fail(kErrorDataIncomplete);
    return out.flush();
}

bool HttpResource::exportBody(const std::string& path, bool decode) {
    // Written beside the target and renamed over it only when complete, so a
    // failed export neither leaves a partial file nor destroys one that was
    // there. The temporary name is short so that a target name near the
    // file system's limit can still be written.
    const std::size_t slash = path.rfind('/');
    std::string temporary =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
        ".tidewell-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    ::close(fd);
    bool ok;
    {
        FileStream file;
        // copyBody flushes once at its end.
        ok = file.open(temporary, FileStream::OpenWrite | FileStream::OpenCreate) &&
             copyBody(file, decode);
    }
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        setLastErrorFromErrno();
        ok = false;
    }
    if (!ok) {
        const std::uint32_t error = lastError();
        for (int attempt = 0; attempt < 5; ++attempt)
            if (unlink(temporary.c_str()) == 0 || errno == ENOENT)
                break;
        setLastError(error);
    }
    return ok;
}

std::string exportNameOf(std::string_view text) {
    // Characters nobody sees, or that turn what is shown around them (a name
    // "\u202Etxt.html" reads as "lmth.txt"), are left out.
    std::string safe;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 0;
        if (hiddenControl(text.substr(i), length) >= 0) {
            i += length;
            continue;
        }
        const char c = text[i++];
        safe += std::strchr("\"*/:<>?\\|", c) ? '_' : c;
    }
    return safe;
}

std::string HttpResource::suggestedFileName() const {
    std::string safe = exportNameOf(name);
    if (safe.empty() && !name.empty())
        safe = "_";
    std::string stem, extension;
    splitExtension(safe, stem, extension);
    for (const ExtensionRow& row : kExtensions) {
        if (equalsIgnoreCase(contentType, row.mediaType)) {
            extension = row.extension;
            break;
        }
    }
    // Names come from addresses and can be far longer than a file name may
    // be; keep room for a " (n)" style suffix and cut at a character boundary.
    constexpr std::size_t kMaxName = 200;
    if (stem.size() + extension.size() > kMaxName) {
        if (extension.size() > 32) { // no real extension is that long
            stem += extension;
            extension.clear();
        }
        std::size_t keep = kMaxName - extension.size();
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
            --keep;
        stem.resize(keep);
    }
    return stem + extension;
}

std::string HttpResource::uniqueExportPath(const std::string& folderPath) const {
    std::string path = folderPath;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += suggestedFileName();
    std::string stem, extension;
    splitExtension(path, stem, extension);
    std::string candidate = path;
    for (unsigned counter = 1; pathExists(candidate); ++counter)
        candidate = stem + "(" + std::to_string(counter) + ")" + extension;
    return candidate;
}
