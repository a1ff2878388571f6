#include "store/HttpResource.h"

#include "engine/FileStream.h"
#include "engine/HttpPushDecoder.h"
#include "engine/HttpReader.h"
#include "engine/Platform.h"
#include "engine/Text.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/MemoryImage.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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
    const std::uint64_t values[3] = {std::uint64_t(counts.end), std::uint64_t(counts.toServer),
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

} // namespace

HttpResource::HttpResource(CacheFolder* folder) : folder(folder) {}

HttpResource::~HttpResource() = default;

MemoryImage* HttpResource::memoryImage() const {
    return inMemory ? static_cast<MemoryImage*>(stream.get()) : nullptr;
}

bool HttpResource::begin(std::uint32_t sequenceNumber) {
    id = sequenceNumber;
    requestTime = wallClockMicros();
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
    if (equalsIgnoreCase(header.method, "CONNECT")) {
        // The target is the authority (host:port): there is no path, and no
        // Host field is needed.
        url = Url();
        url.authority = header.target;
        url.flags = Url::HasAuthority;
        name = header.target;
        directory = header.target;
        referrer = Url();
        tunnel = std::make_unique<TunnelCounts>(); // unless the answer refuses it
        return true;
    }
    const HttpHeaderField* host = header.get("Host");
    if (!host)
        return fail(kErrorHostUnknown);
    method = requestMethodOf(header.method);
    url.parse(header.target);
    completeFromHost(url, host->value);

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
        completeFromHost(referrer, host->value, url.scheme);
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

bool HttpResource::writeRequestHeader(const HttpRequestHeader& header) {
    if (!deriveRequest(header))
        return false;
    HttpWriter writer(stream.get(), kCaptureHeadBuffer, 4096);
    const bool written = writer.writeRequestHeader(header);
    const std::int64_t position = stream->position();
    if (!written || position < 0 || position >= 0xFFFFFFFF)
        return false;
    requestBodyOffset = static_cast<std::uint32_t>(position);
    return true;
}

bool HttpResource::writeData(const void* data, std::uint32_t length) {
    if (MemoryImage* image = memoryImage()) {
        if (std::int64_t(image->length()) + length > kMemoryLimit) {
            auto file = std::make_unique<FileStream>();
            if (folder->openCacheFile(id, false, *file) < 0 ||
                !file->write(image->data(), image->length())) {
                const std::uint32_t error = lastError();
                file.reset();
                folder->deleteCacheFile(id);
                return fail(error);
            }
            stream = std::move(file);
            inMemory = false;
        }
    }
    auto bytes = static_cast<const char*>(data);
    while (length > 0) {
        const std::uint32_t piece = std::min<std::uint32_t>(length, INT32_MAX);
        if (!stream->write(bytes, static_cast<std::int32_t>(piece)))
            return false;
        bytes += piece;
        length -= piece;
    }
    return true;
}

bool HttpResource::writeResponseHeader(const HttpResponseHeader& header) {
    responseTime = wallClockMicros();
    deriveResponse(header);
    responseHeaderOffset = stream->position();
    if (responseHeaderOffset < 0)
        return false;
    HttpWriter writer(stream.get(), kCaptureHeadBuffer, 4096);
    const bool written = writer.writeResponseHeader(header);
    responseBodyOffset = stream->position();
    return written && responseBodyOffset >= 0;
}

bool HttpResource::finish() {
    const bool first = !(flags & Ended);
    flags |= Ended;
    endTime = wallClockMicros();
    if (stream && tunnel && first && responseBodyOffset > 0) {
        unsigned char bytes[kTunnelRecordSize];
        encodeTunnel(*tunnel, bytes);
        if (!writeData(bytes, kTunnelRecordSize))
            return false;
    }
    if (stream) {
        RecordHeader record;
        record.version = kFormatVersion;
        record.id = id;
        record.result = result;
        record.requestBodyOffset = requestBodyOffset;
        record.responseHeaderOffset = responseHeaderOffset;
        record.responseBodyOffset = responseBodyOffset;
        record.receivedSize = receivedSize;
        unsigned char bytes[kRecordHeaderSize];
        record.encode(bytes);
        const std::int64_t end = stream->position();
        if (!stream->seek(0) || !stream->write(bytes, kRecordHeaderSize))
            return false;
        if (end >= 0)
            stream->seek(end);
        if (MemoryImage* image = memoryImage())
            image->shrinkToFit(); // nothing is appended any more
        else
            stream.reset();
    }
    flags &= ~Loading;
    return true;
}

bool HttpResource::load(const std::string& path) {
    FileStream file;
    if (!file.open(path, FileStream::OpenRead | FileStream::OpenPlainFile))
        return false;
    unsigned char bytes[kRecordHeaderSize];
    std::int32_t got = 0;
    while (got < kRecordHeaderSize) {
        const std::int32_t n = file.read(bytes + got, kRecordHeaderSize - got);
        if (n < 0)
            return false;
        if (n == 0)
            return fail(kErrorDataIncomplete);
        got += n;
    }
    RecordHeader record;
    record.decode(bytes);
    if (record.version != kFormatVersion)
        return fail(kErrorInvalidData);

    HttpReader reader(&file, kHeadBuffer, 4096);
    HttpRequestHeader request;
    if (!reader.readRequestHeader(request) || !deriveRequest(request))
        return false;
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

    if (tunnel) {
        unsigned char bytes[kTunnelRecordSize];
        std::int32_t got = 0;
        if (file.seek(record.responseBodyOffset + record.receivedSize)) {
            while (got < kTunnelRecordSize) {
                const std::int32_t n = file.read(bytes + got, kTunnelRecordSize - got);
                if (n <= 0)
                    break;
                got += n;
            }
        }
        if (got < kTunnelRecordSize || !decodeTunnel(bytes, *tunnel))
            *tunnel = TunnelCounts(); // not known
    }

    id = record.id;
    result = record.result;
    requestBodyOffset = record.requestBodyOffset;
    responseHeaderOffset = record.responseHeaderOffset;
    responseBodyOffset = record.responseBodyOffset;
    receivedSize = record.receivedSize;
    stream.reset();
    inMemory = false;
    fromDisk = true;
    return true;
}

bool HttpResource::saveToCacheFile() {
    MemoryImage* image = memoryImage();
    if (!image)
        return true;
    bool ok;
    {
        FileStream file;
        ok = folder->openCacheFile(id, false, file) >= 0 &&
             file.write(image->data(), image->length());
    }
    if (!ok) {
        const std::uint32_t error = lastError();
        folder->deleteCacheFile(id);
        return fail(error);
    }
    return true;
}

template <typename Header> bool HttpResource::readHeader(std::int64_t offset, Header& out) {
    auto readFrom = [&out](InputStream* source) {
        HttpReader reader(source, kHeadBuffer, 4096);
        if constexpr (std::is_same_v<Header, HttpRequestHeader>)
            return reader.readRequestHeader(out);
        else
            return reader.readResponseHeader(out);
    };
    if (MemoryImage* image = memoryImage()) {
        const std::int64_t position = image->position();
        if (!image->seek(offset))
            return fail(kErrorResourceNotReady);
        const bool ok = readFrom(image);
        const std::uint32_t error = lastError();
        image->seek(position);
        setLastError(error);
        return ok;
    }
    // A file being captured is open for writing only; read through a handle
    // of our own so the writer's position is never disturbed.
    FileStream file;
    if (folder->openCacheFile(id, true, file) < 0)
        return false;
    if (!file.seek(offset))
        return false;
    return readFrom(&file);
}

bool HttpResource::readRequestHeader(HttpRequestHeader& out) {
    return readHeader(kRecordHeaderSize, out);
}

bool HttpResource::readResponseHeader(HttpResponseHeader& out) {
    if (responseBodyOffset == 0)
        return fail(kErrorResourceNotReady); // not stored yet
    return readHeader(responseHeaderOffset, out);
}

bool HttpResource::copyBody(OutputStream& out, bool decode) {
    std::unique_ptr<Stream> source;
    {
        CaptureLocker lock(captureLock());
        if (flags & Loading)
            return fail(kErrorResourceNotReady);
        if (MemoryImage* image = memoryImage()) {
            // A private copy (at most kMemoryLimit bytes): the decoding runs
            // without the lock.
            auto snapshot = std::make_unique<MemoryStream>();
            snapshot->write(image->data(), image->length());
            source = std::move(snapshot);
        } else {
            auto file = std::make_unique<FileStream>();
            if (folder->openCacheFile(id, true, *file) < 0)
                return false;
            source = std::move(file);
        }
    }
    if (!source->seek(responseHeaderOffset))
        return false;
    HttpReader reader(source.get(), kHeadBuffer, 4096);
    HttpResponseHeader header;
    if (!reader.readResponseHeader(header))
        return false;
    const std::int64_t length = header.contentLength();
    if (!(length > 0 || (length == -1 && header.isChunked())))
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
    std::vector<std::unique_ptr<HttpPushDecoder>> chain;
    OutputStream* sink = &out;
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
    if (!(length >= 0 ? reader.copyBody(*sink, length) : reader.copyChunkedBody(*sink)))
        return false;
    for (const auto& decoder : chain)
        if (!decoder->complete())
            return fail(kErrorDataIncomplete);
    return true;
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
        ok = file.open(temporary, FileStream::OpenWrite | FileStream::OpenCreate) &&
             copyBody(file, decode) && file.flush();
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

std::string HttpResource::suggestedFileName() const {
    std::string safe = name;
    for (char& c : safe)
        if (std::strchr("\"*/:<>?\\|", c) && c != '\0')
            c = '_';
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
